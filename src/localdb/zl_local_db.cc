#include "localdb/zl_local_db.h"

#include <ace/Log_Msg.h>
#include <ace/Reactor.h>

#include "broker/orb_holder.h"
#include "common/exception_text.h"
#include "common/log.h"
#include "localdb/tag_files.h"

namespace zl {

ZEMR_ZLLocalDB_i::ZEMR_ZLLocalDB_i()
    : tbm_evaluate_(RegisterWindowMessage("TBM_EVALUATE")),
      tbm_execute_(RegisterWindowMessage("TBM_EXECUTE")) {}

ZEMR_ZLLocalDB_i::~ZEMR_ZLLocalDB_i() {
  SetDatabase(ZEMR::ZelvikDatabase::_nil());
  SetORB(CORBA::ORB::_nil());
  SetClientInterface(nullptr, false);
}

void ZEMR_ZLLocalDB_i::AskQuestion(CORBA::Long id, CORBA::ULong number, const char* file,
                                   const char* question) {
  const bool asked = WithClientInterface([&](ZLClientInterface* iface) {
    if (iface == nullptr) return false;
    iface->AskQuestion(id, number, file, question);
    return true;
  });
  if (!asked) AnswerQuestion(id, number, "No questions handled by client");
}

CORBA::Long ZEMR_ZLLocalDB_i::StartScenario(const char* file, const char* options) {
  return scenarios_.Start(file, options);
}
CORBA::Long ZEMR_ZLLocalDB_i::StopScenario(CORBA::Long id) { return scenarios_.Stop(id); }
char* ZEMR_ZLLocalDB_i::ListScenarios() { return CORBA::string_dup(scenarios_.List().c_str()); }
char* ZEMR_ZLLocalDB_i::ScenarioInfo(CORBA::Long id) {
  return CORBA::string_dup(scenarios_.Info(id).c_str());
}
CORBA::Long ZEMR_ZLLocalDB_i::AnswerQuestion(CORBA::Long id, CORBA::ULong question,
                                             const char* answer) {
  return scenarios_.AnswerQuestion(id, question, answer);
}

char* ZEMR_ZLLocalDB_i::LSCmd(const char* command) {
  if (command == nullptr) {
    ACE_DEBUG((LM_ERROR, "Exported LSCmd() was passed a null pointer.\n"));
    return CORBA::string_dup("**Error");
  }
  return CORBA::string_dup(log_sets_.Command(command).c_str());
}

// Without a database there is nobody to transfer to: -1 (the simulator
// client never gets here then; other callers might).
CORBA::Long ZEMR_ZLLocalDB_i::SaveTags(const char* path, CORBA::ULong& count) {
  count = 0;
  return CORBA::is_nil(db_) ? -1 : SaveTagFile(db_.in(), path, count);
}
CORBA::Long ZEMR_ZLLocalDB_i::ReadTags(const char* path, CORBA::ULong& count) {
  count = 0;
  return CORBA::is_nil(db_) ? -1 : ReadTagFile(db_.in(), path, count);
}

long ZEMR_ZLLocalDB_i::SetupNotifications(CosNotifyComm::StructuredPushConsumer_ptr consumer) {
  return notifications_.Setup(db_.in(), orb_.in(), naming_.in(), consumer);
}

// While the listener runs it keeps the queues current, so a read that the
// queues can answer skips the round trip to the channel: what waits there is
// newer than what is queued and goes behind it anyway.
CORBA::Boolean ZEMR_ZLLocalDB_i::MessagesExist(CORBA::ULong msg_type) {
  if (!channel_.listener_running()) return false;
  if (queues_.Exists(msg_type)) return true;
  channel_.GetServerMessages();
  return queues_.Exists(msg_type);
}

char* ZEMR_ZLLocalDB_i::GetNextZLMessage(CORBA::ULong msg_type) {
  std::string result;
  try {
    if (channel_.listener_running()) result = queues_.TakeNext(msg_type);
    if (result.empty()) {
      channel_.GetServerMessages();
      result = queues_.TakeNext(msg_type);
    }
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "**Caught exception while getting next message!\n"));
  }
  return CORBA::string_dup(result.c_str());
}

char* ZEMR_ZLLocalDB_i::ListZLDatabases() {
  if (CORBA::is_nil(naming_)) return CORBA::string_dup("!Error: No naming context!");
  std::string names;
  try {
    CosNaming::BindingList_var bindings;
    CosNaming::BindingIterator_var rest;
    naming_->list(1000, bindings.out(), rest.out());
    if (!CORBA::is_nil(rest)) {
      try {
        rest->destroy();
      } catch (...) {
        // Only the first batch is used; a leftover iterator expires by itself.
      }
    }
    for (CORBA::ULong i = 0; i < bindings->length(); ++i) {
      const CosNaming::Name& name = bindings[i].binding_name;
      if (name.length() == 0 || std::string(name[0].kind.in()) != "ZelvikDatabase") continue;
      if (!names.empty()) names += ',';
      names += name[0].id.in();
    }
  } catch (const CORBA::Exception& e) {
    ZL_LOG_CORBA(LM_ERROR, e);
    names = "!Error: " + ExceptionText(e);
    naming_ = CosNaming::NamingContext::_nil();
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "**Caught exception while getting server names!\n"));
    names = "!Error: Unresolved error";
  }
  return CORBA::string_dup(names.c_str());
}

CORBA::Boolean ZEMR_ZLLocalDB_i::ZLFind(const char* text, const char* pattern) {
  return match_.Find(text, pattern);
}

char* ZEMR_ZLLocalDB_i::PatPaste(const char* tmpl) {
  return CORBA::string_dup(match_.Paste(tmpl).c_str());
}

CORBA::Long ZEMR_ZLLocalDB_i::SetOption(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return -2;
  if (std::string(name) != "ToolbookHWND") return -1;
  toolbook_window_ = FindWindowByTitle(value);
  return 0;
}

long ZEMR_ZLLocalDB_i::SetDatabase(ZEMR::ZelvikDatabase_ptr db) {
  long result = -1;
  if (!CORBA::is_nil(db_)) {
    CleanUp();
    db_ = ZEMR::ZelvikDatabase::_nil();
    result = 0;
  }
  if (CORBA::is_nil(db)) return result;
  try {
    CORBA::String_var probe = db->HelloZL("$KERNEL.NAME");
    db_ = ZEMR::ZelvikDatabase::_duplicate(db);
    StartClientTimer();
    return 0;
  } catch (const CORBA::SystemException& e) {
    const std::string text = ExceptionText(e);
    ACE_DEBUG((LM_ERROR, "ZelvikDatabase is bogus, %s\n", text.c_str()));
  } catch (...) {
    ACE_DEBUG((LM_ERROR, "ZelvikDatabase passed to SetDatabase() was bogus\n"));
  }
  return result;
}

void ZEMR_ZLLocalDB_i::SetORB(CORBA::ORB_ptr orb) {
  if (!CORBA::is_nil(orb_)) CleanUp();
  orb_ = CORBA::ORB::_duplicate(orb);
}

void ZEMR_ZLLocalDB_i::SetNamingContext(CosNaming::NamingContext_ptr context) {
  naming_ = CosNaming::NamingContext::_duplicate(context);
}

void ZEMR_ZLLocalDB_i::SetClientInterface(ZLClientInterface* iface, bool owned) {
  std::lock_guard<std::recursive_mutex> lock(client_mu_);
  if (iface == client_interface_) return;
  if (owns_client_interface_) delete client_interface_;
  client_interface_ = iface;
  owns_client_interface_ = owned;
}

std::string ZEMR_ZLLocalDB_i::ClientInterfaceName() const {
  std::lock_guard<std::recursive_mutex> lock(client_mu_);
  return client_interface_ != nullptr ? client_interface_->name() : "none";
}

long ZEMR_ZLLocalDB_i::EnableEvents(bool enable) {
  return enable ? channel_.Enable(db_.in(), orb_.in()) : channel_.Disable();
}

long ZEMR_ZLLocalDB_i::StartClientTimer() {
  ACE_Reactor* reactor = OrbHolder::instance()->reactor();
  if (timer_id_ != -1) {
    ACE_DEBUG((LM_INFO, "Avoiding multiple StartClientTimer() calls\n"));
    return 0;
  }
  auto* timer = new ClientOrbTimer(this);
  const ACE_Time_Value second(1);
  timer_id_ = reactor->schedule_timer(timer, nullptr, second, second);
  if (timer_id_ == -1) {
    ACE_DEBUG((LM_ERROR, "Could not schedule ClientOrbTimer, err = %d\n", -1));
    delete timer;
    return -1;
  }
  return 0;
}

long ZEMR_ZLLocalDB_i::CancelClientTimer() {
  if (timer_id_ == -1) return 0;
  // Waits for a tick in progress; the handler deletes itself in handle_close.
  const int cancelled = OrbHolder::instance()->reactor()->cancel_timer(timer_id_, nullptr, 0);
  if (cancelled != 1) {
    ACE_DEBUG((LM_ERROR, "Cancel_timer(%d) = %d\n", static_cast<int>(timer_id_), cancelled));
  }
  timer_id_ = -1;
  return cancelled == 1 ? 0 : -1;
}

void ZEMR_ZLLocalDB_i::OnClientTimer() { log_sets_.RunAll(); }

long ZEMR_ZLLocalDB_i::CleanUp() {
  long first = 0;
  auto step = [&first](long result) {
    if (first == 0) first = result;
  };
  step(EndAllScenarios(true));
  step(CancelClientTimer());
  step(DeleteAllLogSets() == 1 ? 0 : -1);
  step(TearDownNotifications());
  step(EnableEvents(false));
  return first;
}

}  // namespace zl
