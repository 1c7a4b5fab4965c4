#include "database_servant.h"

#include <cmath>
#include <cstdio>

#include "database_host.h"
#include "expression.h"
#include "fault_table.h"
#include "server_context.h"
#include "tag_file.h"
#include "tag_line.h"
#include "tagfile_iterator.h"
#include "text.h"
#include "wire.h"

namespace zl::sim {
namespace {

// Runs a per-tag operation; an unknown tag raises ZLTagNotFound.
template <class F>
auto TagOp(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const TagNotFound&) {
    throw ZEMR::ZLTagNotFound();
  }
}

std::string Fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

}  // namespace

void DatabaseServant::Enter(const char* operation) {
  host_->CountCall();
  host_->server().faults().Enter("ZelvikDatabase", operation);
}

CORBA::Long DatabaseServant::Download(const char* definitions) {
  Enter("Download");
  try {
    return host_->db().Download(definitions);
  } catch (const DownloadError& e) {
    throw ZEMR::ZLDownloadException(static_cast<CORBA::Long>(e.code()),
                                    static_cast<CORBA::Long>(e.position()));
  }
}

ZEMR::ZelvikTag_ptr DatabaseServant::FindTag(const char* tagname) {
  Enter("FindTag");
  CORBA::Object_var obj = host_->TagReference(tagname);
  if (CORBA::is_nil(obj)) return ZEMR::ZelvikTag::_nil();
  return ZEMR::ZelvikTag::_narrow(obj);
}

CORBA::Long DatabaseServant::SimInit(const char* options) {
  Enter("SimInit");
  host_->db().Clear(options);
  return 0;
}

char* DatabaseServant::Upload(const char* tagname) {
  Enter("Upload");
  return CORBA::string_dup(TagOp([&] { return host_->db().Upload(tagname); }).c_str());
}

CORBA::Long DatabaseServant::DeleteTag(const char* tagname) {
  Enter("DeleteTag");
  return host_->db().Delete(tagname) ? 1 : 0;
}

CORBA::Double DatabaseServant::PV(const char* tagname) {
  Enter("PV");
  return TagOp([&] { return host_->db().Pv(tagname); });
}

CORBA::Double DatabaseServant::PVE(const char* tagname) {
  Enter("PVE");
  return TagOp([&] { return host_->db().Pve(tagname); });
}

CORBA::Long DatabaseServant::SetPV(const char* tagname, CORBA::Double value) {
  Enter("SetPV");
  return TagOp([&] { return host_->db().SetPv(tagname, value, "SetPV"); });
}

CORBA::Long DatabaseServant::SetPVE(const char* tagname, CORBA::Double value) {
  Enter("SetPVE");
  return TagOp([&] { return host_->db().SetPve(tagname, value, "SetPVE"); });
}

void DatabaseServant::SetAuto(const char* tagname) {
  Enter("SetAuto");
  TagOp([&] { host_->db().SetMode(tagname, TagMode::kAuto, "SetAuto"); });
}

void DatabaseServant::SetMan(const char* tagname) {
  Enter("SetMan");
  TagOp([&] { host_->db().SetMode(tagname, TagMode::kManual, "SetMan"); });
}

CORBA::Double DatabaseServant::EUHi(const char* tagname) {
  Enter("EUHi");
  return TagOp([&] { return host_->db().Definition(tagname).eu_hi; });
}

CORBA::Double DatabaseServant::EULo(const char* tagname) {
  Enter("EULo");
  return TagOp([&] { return host_->db().Definition(tagname).eu_lo; });
}

CORBA::Double DatabaseServant::RawHi(const char* tagname) {
  Enter("RawHi");
  return TagOp([&] { return host_->db().Definition(tagname).raw_hi; });
}

CORBA::Double DatabaseServant::RawLo(const char* tagname) {
  Enter("RawLo");
  return TagOp([&] { return host_->db().Definition(tagname).raw_lo; });
}

CORBA::Long DatabaseServant::InitPV(const char* tagname) {
  Enter("InitPV");
  return TagOp([&] { return host_->db().InitPv(tagname) ? 1 : 0; });
}

CORBA::Long DatabaseServant::TagCount() {
  Enter("TagCount");
  return host_->db().Count();
}

void DatabaseServant::get_tagfile_iterator(ZEMR::FileChunk_Iterator_out iterator) {
  Enter("get_tagfile_iterator");
  auto* servant = new TagFileIterator(host_, BuildTagFile(host_->db()),
                                      host_->server().iterators().TakeSource());
  iterator = host_->server().iterators().Add(host_->server().poa(), servant);
}

void DatabaseServant::IOStart() {
  Enter("IOStart");
  host_->db().EnableIo(true, "IOStart");
}

void DatabaseServant::IOStop() {
  Enter("IOStop");
  host_->db().EnableIo(false, "IOStop");
}

CORBA::Double DatabaseServant::DoCalcsEvery(CORBA::Double cycle_time) {
  Enter("DoCalcsEvery");
  const double before = host_->loop().CycleTime();
  if (cycle_time == 0) return before;
  if (host_->loop().SetCycleTime(cycle_time)) {
    host_->Publish(static_cast<uint32_t>(MessageType::kInfo), "DoCalcsEvery",
                   "Cycle time set to " + FormatDouble(cycle_time) + " s");
  } else {
    host_->Publish(static_cast<uint32_t>(MessageType::kWarning), "DoCalcsEvery",
                   "Cycle time " + FormatDouble(cycle_time) + " s refused (" +
                       FormatDouble(SimulationLoop::kMinCycleTime) + " to " +
                       FormatDouble(SimulationLoop::kMaxCycleTime) + " s)");
  }
  return before;
}

void DatabaseServant::EnableIO(CORBA::Boolean on) {
  Enter("EnableIO");
  host_->db().EnableIo(on, "EnableIO");
}

CORBA::Boolean DatabaseServant::IOIsEnabled() {
  Enter("IOIsEnabled");
  return host_->db().IoEnabled();
}

void DatabaseServant::EnableAlgs(CORBA::Boolean on) {
  Enter("EnableAlgs");
  host_->db().EnableAlgorithms(on, "EnableAlgs");
}

CORBA::Boolean DatabaseServant::AlgsAreRunning() {
  Enter("AlgsAreRunning");
  return host_->db().AlgorithmsEnabled();
}

char* DatabaseServant::TagStats(const char* selector) {
  Enter("TagStats");
  return CORBA::string_dup(host_->db().Stats(selector).c_str());
}

char* DatabaseServant::SearchTags(const char* pattern, const char* field) {
  Enter("SearchTags");
  return CORBA::string_dup(host_->db().Search(pattern, field).c_str());
}

CORBA::Boolean DatabaseServant::TagExists(const char* tagname) {
  Enter("TagExists");
  return host_->db().Exists(tagname);
}

char* DatabaseServant::TagType(const char* tagname) {
  Enter("TagType");
  try {
    return CORBA::string_dup(TagTypeName(host_->db().Type(tagname)));
  } catch (const TagNotFound&) {
    return CORBA::string_dup("");
  }
}

char* DatabaseServant::TagMode(const char* tagname) {
  Enter("TagMode");
  return CORBA::string_dup(TagOp([&] { return TagModeName(host_->db().Mode(tagname)); }));
}

char* DatabaseServant::PVEStr(const char* tagname) {
  Enter("PVEStr");
  return CORBA::string_dup(TagOp([&] { return host_->db().ValueText(tagname); }).c_str());
}

char* DatabaseServant::HelloDriver() {
  Enter("HelloDriver");
  const std::string drivers = host_->db().DriverSummary();
  return CORBA::string_dup(("zelvik-sim drivers: " + (drivers.empty() ? "none" : drivers)).c_str());
}

char* DatabaseServant::TagWithOffset(CORBA::Long offset) {
  Enter("TagWithOffset");
  return CORBA::string_dup(TagOp([&] { return host_->db().NameAt(offset); }).c_str());
}

char* DatabaseServant::HelloZL(const char* selector) {
  Enter("HelloZL");
  const std::string s = ToUpper(Trim(selector));
  TagDatabase& db = host_->db();
  std::string answer;
  if (s == "$KERNEL.NAME") {
    answer = db.name();
  } else if (s == "$KERNEL.DBCHANGES") {
    answer = std::to_string(db.ChangeCount());
  } else if (s == "$KERNEL.VERSION") {
    answer = kServerVersion;
  } else if (s == "$KERNEL.ELAPSEDSIMTIME") {
    answer = Fixed(db.SimTime(), 3);
  } else if (s == "$KERNEL.CYCLETIME") {
    answer = FormatDouble(host_->loop().CycleTime());
  } else if (s == "$KERNEL.WARPFACTOR") {
    answer = FormatDouble(host_->loop().Warp());
  } else if (s == "$KERNEL.TAGCOUNT") {
    answer = std::to_string(db.Count());
  } else if (s == "$KERNEL.CYCLES") {
    answer = std::to_string(db.Cycles());
  } else if (s == "$KERNEL.HOST") {
    answer = host_->server().host();
  } else if (s == "$KERNEL.ALGSRUNNING") {
    answer = db.AlgorithmsEnabled() ? "1" : "0";
  } else if (s == "$KERNEL.IOENABLED") {
    answer = db.IoEnabled() ? "1" : "0";
  } else {
    const std::string_view sel = Trim(selector);
    const size_t dot = sel.rfind('.');
    if (dot != std::string_view::npos && EqualsIgnoreCase(sel.substr(dot + 1), "RemoteAddress")) {
      bool known = false;
      answer = db.DriverAddress(sel.substr(0, dot), &known);
    }
  }
  return CORBA::string_dup(answer.c_str());
}

CORBA::Short DatabaseServant::SetRawHi(const char* tagname, CORBA::Double value) {
  Enter("SetRawHi");
  TagOp([&] { host_->db().SetRawHi(tagname, value); });
  return 1;
}

CORBA::Short DatabaseServant::SetRawLo(const char* tagname, CORBA::Double value) {
  Enter("SetRawLo");
  TagOp([&] { host_->db().SetRawLo(tagname, value); });
  return 1;
}

CORBA::Long DatabaseServant::GetMultiTag(const ZEMR::ZLTagList& tagnames,
                                         ZEMR::ZLTagStatusPayload_out status) {
  Enter("GetMultiTag");
  // One row per requested name, in order; an unknown name keeps its place
  // (NullPoint, NullMode, zeros, ""). The result is the number of rows, which
  // clients take as the number of rows to read.
  status = new ZEMR::ZLTagStatusPayload;
  status->length(tagnames.length());
  for (CORBA::ULong i = 0; i < tagnames.length(); ++i) {
    const TagStatus s = host_->db().Status(tagnames[i].in());
    ZEMR::ZLTagStatusPkg& pkg = (*status)[i];
    pkg.ttype = ToWire(s.type);
    pkg.mode = ToWire(s.mode);
    pkg.pve = s.eu;
    pkg.eulo = s.eu_lo;
    pkg.euhi = s.eu_hi;
    pkg.pvestr = s.text.c_str();
  }
  return static_cast<CORBA::Long>(tagnames.length());
}

void DatabaseServant::AcquireLoop() {
  Enter("AcquireLoop");
  host_->loop().Acquire();
}

void DatabaseServant::ReleaseLoop() {
  Enter("ReleaseLoop");
  host_->loop().Release();
}

CORBA::Double DatabaseServant::WarpFactor(CORBA::Double factor) {
  Enter("WarpFactor");
  const double before = host_->loop().Warp();
  if (factor == 0) return before;
  if (host_->loop().SetWarp(factor)) {
    host_->Publish(static_cast<uint32_t>(MessageType::kInfo), "WarpFactor",
                   "Warp factor set to " + FormatDouble(factor));
  } else {
    host_->Publish(static_cast<uint32_t>(MessageType::kWarning), "WarpFactor",
                   "Warp factor " + FormatDouble(factor) + " refused (" +
                       FormatDouble(SimulationLoop::kMinWarp) + " to " +
                       FormatDouble(SimulationLoop::kMaxWarp) + ")");
  }
  return before;
}

char* DatabaseServant::GetIORAdmin() {
  Enter("GetIORAdmin");
  return CORBA::string_dup(host_->AdminIor().c_str());
}

char* DatabaseServant::GetIORMessageChannel() {
  Enter("GetIORMessageChannel");
  return CORBA::string_dup(host_->MessageChannelIor().c_str());
}

char* DatabaseServant::GetIORValueChannel() {
  Enter("GetIORValueChannel");
  return CORBA::string_dup(host_->ChannelIor().c_str());
}

CORBA::Long DatabaseServant::Shutdown(CORBA::Long how, CORBA::Long delay) {
  Enter("Shutdown");
  const CORBA::Long seconds = delay < 0 ? 0 : (delay > 60 ? 60 : delay);
  host_->Publish(static_cast<uint32_t>(MessageType::kInfo), "Shutdown",
                 "Server stopping in " + std::to_string(seconds) + " s (how=" +
                     std::to_string(how) + ")");
  host_->server().RequestStop(seconds);
  return 0;
}

CORBA::Double DatabaseServant::ZLExpr(const char* expression) {
  Enter("ZLExpr");
  try {
    return host_->db().Evaluate(expression);
  } catch (const ExpressionError& e) {
    throw ZEMR::ZLBadExpression(static_cast<CORBA::Long>(e.code()), e.what());
  }
}

CORBA::Boolean DatabaseServant::IsForced(const char* tagname) {
  Enter("IsForced");
  return TagOp([&] { return host_->db().Forced(tagname); });
}

void DatabaseServant::SetForce(const char* tagname, CORBA::Boolean force) {
  Enter("SetForce");
  TagOp([&] { return host_->db().SetForce(tagname, force); });
}

CORBA::Long DatabaseServant::SetZLClientInfo(ZEMR::ZelvikClientInfo_ptr info) {
  Enter("SetZLClientInfo");
  if (CORBA::is_nil(info)) return -1;
  host_->Publish(static_cast<uint32_t>(MessageType::kDebug), "SetZLClientInfo",
                 "Client information received");
  return 0;
}

// --- ZelvikDatabase2 ------------------------------------------------------------

CORBA::Long Database2Servant::DoASingleCalcCycle(CORBA::Double time_step) {
  Enter("DoASingleCalcCycle");
  if (!(time_step >= 0) || !std::isfinite(time_step)) return -1;
  host_->db().RunCycle(time_step, true);
  return 0;
}

CORBA::Long Database2Servant::SetMultiPVE(const ZEMR::ZLTagCommands& commands,
                                          ZEMR::ZLErrorCodeList_out codes) {
  Enter("SetMultiPVE");
  std::vector<TagCommand> batch;
  batch.reserve(commands.length());
  for (CORBA::ULong i = 0; i < commands.length(); ++i) {
    batch.push_back({commands[i].tagname.in(), FromWire(commands[i].mode), commands[i].pve});
  }
  std::vector<CommandResult> results;
  const int written = host_->db().SetMulti(batch, &results);
  codes = new ZEMR::ZLErrorCodeList;
  codes->length(static_cast<CORBA::ULong>(results.size()));
  for (size_t i = 0; i < results.size(); ++i) {
    (*codes)[static_cast<CORBA::ULong>(i)] = static_cast<CORBA::Long>(results[i]);
  }
  return written;
}

char* Database2Servant::GetIORValueNotifierChannel() {
  Enter("GetIORValueNotifierChannel");
  return CORBA::string_dup(host_->ChannelIor().c_str());
}

char* Database2Servant::GetIORInternalObject(const char* name, const char* kind) {
  Enter("GetIORInternalObject");
  const std::string_view n = Trim(name);
  std::string ior;
  if (EqualsIgnoreCase(n, "Admin")) ior = host_->AdminIor();
  else if (EqualsIgnoreCase(n, "MessageChannel")) ior = host_->MessageChannelIor();
  else if (EqualsIgnoreCase(n, "ValueNotifierChannel") || EqualsIgnoreCase(n, "TagNotifier")) ior = host_->ChannelIor();
  else if (EqualsIgnoreCase(n, "Factory")) ior = host_->server().factory_ior();
  else if (EqualsIgnoreCase(n, "Database")) ior = host_->Ior();
  return CORBA::string_dup(ior.c_str());
}

}  // namespace zl::sim
