// The database object: ZelvikDatabase (DatabaseServant, all that a legacy
// server offers) and ZelvikDatabase2 (Database2Servant, which adds single
// cycles, batched writes and the value-notifier channel). Each operation
// applies armed faults, then calls the database; core errors become the
// operation's user exceptions. Safe from any ORB thread.
#ifndef ZL_SIM_DATABASE_SERVANT_H_
#define ZL_SIM_DATABASE_SERVANT_H_

#include "zemr.hh"

namespace zl::sim {

class DatabaseHost;

class DatabaseServant : public virtual POA_ZEMR::ZelvikDatabase {
 public:
  explicit DatabaseServant(DatabaseHost* host) : host_(host) {}

  CORBA::Long Download(const char* definitions) override;
  ZEMR::ZelvikTag_ptr FindTag(const char* tagname) override;
  CORBA::Long SimInit(const char* options) override;
  char* Upload(const char* tagname) override;
  CORBA::Long DeleteTag(const char* tagname) override;
  CORBA::Double PV(const char* tagname) override;
  CORBA::Double PVE(const char* tagname) override;
  CORBA::Long SetPV(const char* tagname, CORBA::Double value) override;
  CORBA::Long SetPVE(const char* tagname, CORBA::Double value) override;
  void SetAuto(const char* tagname) override;
  void SetMan(const char* tagname) override;
  CORBA::Double EUHi(const char* tagname) override;
  CORBA::Double EULo(const char* tagname) override;
  CORBA::Double RawHi(const char* tagname) override;
  CORBA::Double RawLo(const char* tagname) override;
  CORBA::Long InitPV(const char* tagname) override;
  CORBA::Long TagCount() override;
  void get_tagfile_iterator(ZEMR::FileChunk_Iterator_out iterator) override;
  void IOStart() override;
  void IOStop() override;
  CORBA::Double DoCalcsEvery(CORBA::Double cycle_time) override;
  void EnableIO(CORBA::Boolean on) override;
  CORBA::Boolean IOIsEnabled() override;
  void EnableAlgs(CORBA::Boolean on) override;
  CORBA::Boolean AlgsAreRunning() override;
  char* TagStats(const char* selector) override;
  char* SearchTags(const char* pattern, const char* field) override;
  CORBA::Boolean TagExists(const char* tagname) override;
  char* TagType(const char* tagname) override;
  char* TagMode(const char* tagname) override;
  char* PVEStr(const char* tagname) override;
  char* HelloDriver() override;
  char* TagWithOffset(CORBA::Long offset) override;
  char* HelloZL(const char* selector) override;
  CORBA::Short SetRawHi(const char* tagname, CORBA::Double value) override;
  CORBA::Short SetRawLo(const char* tagname, CORBA::Double value) override;
  CORBA::Long GetMultiTag(const ZEMR::ZLTagList& tagnames,
                          ZEMR::ZLTagStatusPayload_out status) override;
  void AcquireLoop() override;
  void ReleaseLoop() override;
  CORBA::Double WarpFactor(CORBA::Double factor) override;
  char* GetIORAdmin() override;
  char* GetIORMessageChannel() override;
  char* GetIORValueChannel() override;
  CORBA::Long Shutdown(CORBA::Long how, CORBA::Long delay) override;
  CORBA::Double ZLExpr(const char* expression) override;
  CORBA::Boolean IsForced(const char* tagname) override;
  void SetForce(const char* tagname, CORBA::Boolean force) override;
  CORBA::Long SetZLClientInfo(ZEMR::ZelvikClientInfo_ptr info) override;

 protected:
  // Counts the call and applies faults armed for `operation`.
  void Enter(const char* operation);

  DatabaseHost* const host_;
};

class Database2Servant : public virtual POA_ZEMR::ZelvikDatabase2, public DatabaseServant {
 public:
  explicit Database2Servant(DatabaseHost* host) : DatabaseServant(host) {}

  CORBA::Long DoASingleCalcCycle(CORBA::Double time_step) override;
  CORBA::Long SetMultiPVE(const ZEMR::ZLTagCommands& commands,
                          ZEMR::ZLErrorCodeList_out codes) override;
  char* GetIORValueNotifierChannel() override;
  char* GetIORInternalObject(const char* name, const char* kind) override;
};

}  // namespace zl::sim

#endif  // ZL_SIM_DATABASE_SERVANT_H_
