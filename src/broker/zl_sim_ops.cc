// ZLSim: the tag, simulation, batch and local-database operations. Each is
// one call through the catch ladder (call_ladder.h); the comment in zl_sim.h
// beside each operation gives its result when not connected or failed.
#include "broker/zl_sim.h"

#include "broker/multi_tag.h"

namespace zl {
namespace {

// A text argument as the stubs take it: an absent text is sent as "".
const char* Arg(const char* text) { return text != nullptr ? text : ""; }

// Copies a CORBA string received from a call and frees it.
std::string Owned(char* text) {
  CORBA::String_var holder(text);
  return holder.in() != nullptr ? std::string(holder.in()) : std::string();
}

}  // namespace

void ZLSim::NoteNotConnected(Operation op) {
  // Connected, but to a server without ZelvikDatabase2: the server cannot
  // do what the operation asks.
  last_failure_ =
      connected() ? MakeFailure(FailureKind::kServerError, op.name, op.tag,
                                std::string("the server offers no ZelvikDatabase2, which ") +
                                    op.name + " needs")
                  : MakeFailure(FailureKind::kNotConnected, op.name, op.tag, "not connected");
}

template <class R, class Call>
R ZLSim::Guarded(CORBA::Object_ptr target, Operation op, R fallback, Call&& call) {
  if (CORBA::is_nil(target)) {
    NoteNotConnected(op);
    return fallback;
  }
  R result = fallback;
  if (!CallLadder(op, last_error_, [&] { result = call(); }, &last_failure_)) return fallback;
  return result;
}

template <class Call>
bool ZLSim::Act(CORBA::Object_ptr target, Operation op, Call&& call) {
  if (CORBA::is_nil(target)) {
    NoteNotConnected(op);
    return false;
  }
  return CallLadder(op, last_error_, call, &last_failure_);
}

void ZLSim::NoteBadArguments(const char* operation, const char* why) {
  last_failure_ = MakeFailure(FailureKind::kOther, operation, nullptr, why);
}

// --- Tag operations ---------------------------------------------------------

double ZLSim::PVE(const char* tag) {
  return Guarded(db_.in(), {"PVE", tag}, 0.0, [&] { return db_->PVE(Arg(tag)); });
}

int ZLSim::SetPVE(const char* tag, double value) {
  return Guarded(db_.in(), {"SetPVE", tag}, 0, [&] { return db_->SetPVE(Arg(tag), value); });
}

double ZLSim::PV(const char* tag) {
  return Guarded(db_.in(), {"PV", tag}, 0.0, [&] { return db_->PV(Arg(tag)); });
}

int ZLSim::SetPV(const char* tag, double value) {
  return Guarded(db_.in(), {"SetPV", tag}, 0, [&] { return db_->SetPV(Arg(tag), value); });
}

std::string ZLSim::PVEStr(const char* tag) {
  return Guarded(db_.in(), {"PVEStr", tag}, std::string(),
                 [&] { return Owned(db_->PVEStr(Arg(tag))); });
}

double ZLSim::EUHi(const char* tag) {
  return Guarded(db_.in(), {"EUHi", tag}, 0.0, [&] { return db_->EUHi(Arg(tag)); });
}

double ZLSim::EULo(const char* tag) {
  return Guarded(db_.in(), {"EULo", tag}, 0.0, [&] { return db_->EULo(Arg(tag)); });
}

std::string ZLSim::TagMode(const char* tag) {
  return Guarded(db_.in(), {"TagMode", tag}, std::string(),
                 [&] { return Owned(db_->TagMode(Arg(tag))); });
}

std::string ZLSim::TagType(const char* tag) {
  return Guarded(db_.in(), {"TagType", tag}, std::string(),
                 [&] { return Owned(db_->TagType(Arg(tag))); });
}

bool ZLSim::TagExists(const char* tag) {
  return Guarded(db_.in(), {"TagExists", tag}, false,
                 [&] { return db_->TagExists(Arg(tag)) != 0; });
}

bool ZLSim::IsForced(const char* tag) {
  return Guarded(db_.in(), {"IsForced", tag}, false, [&] { return db_->IsForced(Arg(tag)) != 0; });
}

bool ZLSim::SetForced(const char* tag, int flag) {
  return Act(db_.in(), {"SetForced", tag}, [&] { db_->SetForce(Arg(tag), flag != 0); });
}

bool ZLSim::SetAuto(const char* tag) {
  return Act(db_.in(), {"SetAuto", tag}, [&] { db_->SetAuto(Arg(tag)); });
}

bool ZLSim::SetMan(const char* tag) {
  return Act(db_.in(), {"SetMan", tag}, [&] { db_->SetMan(Arg(tag)); });
}

bool ZLSim::DeleteTag(const char* tag) {
  // The answer's codes are the server's own: one server's "deleted" is
  // another's 0. Only the call's outcome is read.
  return Act(db_.in(), {"DeleteTag", tag}, [&] { db_->DeleteTag(Arg(tag)); });
}

int ZLSim::InitPV(const char* tag) {
  return Guarded(db_.in(), {"InitPV", tag}, -1, [&] { return db_->InitPV(Arg(tag)); });
}

std::string ZLSim::Upload(const char* tag) {
  return Guarded(db_.in(), {"Upload", tag}, std::string(),
                 [&] { return Owned(db_->Upload(Arg(tag))); });
}

int ZLSim::Download(const char* definitions) {
  return Guarded(db_.in(), "Download", 0, [&] { return db_->Download(Arg(definitions)); });
}

int ZLSim::TagCount() {
  return Guarded(db_.in(), "TagCount", 0, [&] { return db_->TagCount(); });
}

std::string ZLSim::SearchTags(const char* pattern, const char* field) {
  return Guarded(db_.in(), "SearchTags", std::string(),
                 [&] { return Owned(db_->SearchTags(Arg(pattern), Arg(field))); });
}

std::string ZLSim::TagStats(const char* selector) {
  return Guarded(db_.in(), "TagStats", std::string(),
                 [&] { return Owned(db_->TagStats(Arg(selector))); });
}

std::string ZLSim::HelloZL(const char* selector) {
  return Guarded(db_.in(), "HelloZL", std::string(),
                 [&] { return Owned(db_->HelloZL(Arg(selector))); });
}

double ZLSim::ZLExpr(const char* expression) {
  if (!connected()) last_error_ = {-1, "not connected"};
  return Guarded(db_.in(), "ZLExpr", 0.0, [&] { return db_->ZLExpr(Arg(expression)); });
}

// --- Simulation control -------------------------------------------------------

int ZLSim::SimInit(const char* options) {
  return Guarded(db_.in(), "SimInit", -1, [&] { return db_->SimInit(Arg(options)); });
}

int ZLSim::Shutdown(int how, int delay) {
  return Guarded(db_.in(), "Shutdown", -1, [&] { return db_->Shutdown(how, delay); });
}

bool ZLSim::AlgsRunning() {
  return Guarded(db_.in(), "AlgsRunning", false, [&] { return db_->AlgsAreRunning() != 0; });
}

void ZLSim::AlgsRunning(int flag) {
  Act(db_.in(), "AlgsRunning", [&] { db_->EnableAlgs(flag != 0); });
}

bool ZLSim::IOEnabled() {
  return Guarded(db_.in(), "IOEnabled", false, [&] { return db_->IOIsEnabled() != 0; });
}

void ZLSim::IOEnabled(int flag) {
  Act(db_.in(), "IOEnabled", [&] { db_->EnableIO(flag != 0); });
}

double ZLSim::CycleTime() {
  return Guarded(db_.in(), "CycleTime", 0.0, [&] { return db_->DoCalcsEvery(0.0); });
}

void ZLSim::CycleTime(double seconds) {
  Act(db_.in(), "CycleTime", [&] { db_->DoCalcsEvery(seconds); });
}

double ZLSim::WarpFactor() {
  return Guarded(db_.in(), "WarpFactor", 0.0, [&] { return db_->WarpFactor(0.0); });
}

void ZLSim::WarpFactor(double factor) {
  Act(db_.in(), "WarpFactor", [&] { db_->WarpFactor(factor); });
}

int ZLSim::DoASingleCalcCycle(double step) {
  if (!(step >= 0.0)) {  // also a step that is not a number
    NoteBadArguments("DoASingleCalcCycle", "the time step must be 0 or more");
    return -1;
  }
  return Guarded(db2_.in(), "DoASingleCalcCycle", -1,
                 [&] { return db2_->DoASingleCalcCycle(step); });
}

// --- Batches ----------------------------------------------------------------

int ZLSim::GetMultiPVE(const char* const* names, int count, double* values, int* types,
                       int* modes) {
  if (count < 0 || (count > 0 && (names == nullptr || values == nullptr || types == nullptr ||
                                  modes == nullptr))) {
    NoteBadArguments("GetMultiPVE", "a negative count or a missing array");
    return -1;
  }
  ZEMR::ZLTagList list(static_cast<CORBA::ULong>(count));
  list.length(static_cast<CORBA::ULong>(count));
  for (int i = 0; i < count; ++i) list[i] = Arg(names[i]);
  return Guarded(db_.in(), "GetMultiPVE", -1, [&] {
    ZEMR::ZLTagStatusPayload_var status;
    const CORBA::Long result = db_->GetMultiTag(list, status.out());
    // The answer is in the order of the request; the arrays hold `count`.
    CopyMultiTagStatus(status.in(), count, values, types, modes);
    return static_cast<int>(result);
  });
}

int ZLSim::SetMultiPVE(const char* const* names, int count, const double* values) {
  if (names == nullptr || values == nullptr || count < 0) {
    NoteBadArguments("SetMultiPVE", "a negative count or a missing array");
    return -1;
  }
  ZEMR::ZLTagCommands commands(static_cast<CORBA::ULong>(count));
  commands.length(static_cast<CORBA::ULong>(count));
  for (int i = 0; i < count; ++i) {
    commands[i].tagname = Arg(names[i]);
    commands[i].mode = ZEMR::NullMode;
    commands[i].pve = values[i];
  }
  return Guarded(db2_.in(), "SetMultiPVE", -1, [&] {
    ZEMR::ZLErrorCodeList_var codes;  // released unread
    return static_cast<int>(db2_->SetMultiPVE(commands, codes.out()));
  });
}

// --- Local database -----------------------------------------------------------

int ZLSim::StartScenario(const char* file, const char* options) {
  return Guarded(db_.in(), "StartScenario", 0, [&] {
    return static_cast<int>(local_db_.StartScenario(Arg(file), Arg(options)));
  });
}

int ZLSim::StopScenario(int id) {
  return Guarded(db_.in(), "StopScenario", 0,
                 [&] { return static_cast<int>(local_db_.StopScenario(id)); });
}

std::string ZLSim::ListScenarios() {
  return Guarded(db_.in(), "ListScenarios", std::string(),
                 [&] { return Owned(local_db_.ListScenarios()); });
}

std::string ZLSim::ScenarioInfo(int id) {
  return Guarded(db_.in(), "ScenarioInfo", std::string(),
                 [&] { return Owned(local_db_.ScenarioInfo(id)); });
}

// The local operation reports its own failures (a file that cannot be
// opened, a transfer that failed) in its log and by its result, which is
// then recorded as a failure without an exception.
int ZLSim::SaveTags(const char* file) {
  if (!connected()) {
    NoteNotConnected("SaveTags");
    return -1;
  }
  return Guarded(db_.in(), "SaveTags", 0, [&] {
    CORBA::ULong count = 0;
    if (local_db_.SaveTags(Arg(file), count) == 0) return static_cast<int>(count);
    last_failure_ = MakeFailure(FailureKind::kOther, "SaveTags", nullptr,
                                      "the tag file could not be written (the log says why)");
    return 0;
  });
}

int ZLSim::ReadTags(const char* file) {
  if (!connected()) {
    NoteNotConnected("ReadTags");
    return -1;
  }
  return Guarded(db_.in(), "ReadTags", 0, [&] {
    CORBA::ULong count = 0;
    if (local_db_.ReadTags(Arg(file), count) == 0) return static_cast<int>(count);
    last_failure_ = MakeFailure(FailureKind::kOther, "ReadTags", nullptr,
                                      "the tag file could not be read (the log says why)");
    return 0;
  });
}

bool ZLSim::MessagesExist(unsigned type) {
  return Guarded(db_.in(), "MessagesExist", false,
                 [&] { return local_db_.MessagesExist(type) != 0; });
}

std::string ZLSim::GetNextZLMessage(unsigned type) {
  return Guarded(db_.in(), "GetNextZLMessage", std::string(),
                 [&] { return Owned(local_db_.GetNextZLMessage(type)); });
}

bool ZLSim::ZLFind(const char* text, const char* pattern) {
  return Guarded(db_.in(), "ZLFind", false,
                 [&] { return local_db_.ZLFind(Arg(text), Arg(pattern)) != 0; });
}

long ZLSim::EnableEvents(bool enable) { return local_db_.EnableEvents(enable); }

}  // namespace zl
