// Integrity checks at the close of a level: the stored "#$CHECK:" checksum of
// each scenario file against the one computed when it was opened, and at the
// end of a run the database-change check and the version lines. Both only
// when SAFETY turned them on. Runs on the worker.
#include <cstdlib>

#include "common/version.h"
#include "scenario/scenario.h"

namespace zl {

void CZLScenario::ValidateChecksum(int level) {
  if (!ctx_.options().safety_valid || !ctx_.test_log().is_open()) return;
  const std::string& stored = stored_checksums_[level];
  const char* name = level_names_[level].c_str();
  if (stored.empty()) {
    ctx_.StatementError("%s\t__No stored checksum for scenario: %s\n", ctx_.Stamp().c_str(), name);
  } else if (stored == computed_checksums_[level]) {
    ctx_.Log("%s\t  Stored checksum, %s, validates scenario: %s\n", ctx_.Stamp().c_str(),
             stored.c_str(), name);
  } else {
    ctx_.StatementError("%s\t__Stored checksum, %s, is invalid for scenario: %s\n",
                        ctx_.Stamp().c_str(), stored.c_str(), name);
  }
}

// Server exceptions escape to the worker.
void CZLScenario::ReportVersions() {
  if (!ctx_.options().safety_version || !ctx_.test_log().is_open()) return;
  CORBA::String_var changes = ctx_.server()->HelloZL("$KERNEL.DBCHANGES");
  if (static_cast<unsigned>(std::strtoul(changes.in(), nullptr, 10)) == db_changes_at_start_) {
    ctx_.Log("%s\t  Server Database is the same since start of scenario\n", ctx_.Stamp().c_str());
  } else {
    ctx_.Log("%s\t**Server Database has changed since scenario started\n", ctx_.Stamp().c_str());
  }
  ctx_.Log("%s\t# ZL Client version: %s\n", ctx_.Stamp().c_str(), kClientVersion);
  CORBA::String_var version = ctx_.server()->HelloZL("$KERNEL.VERSION");
  ctx_.Log("%s\t# ZL Server version: %s\n", ctx_.Stamp().c_str(), version.in());
}

}  // namespace zl
