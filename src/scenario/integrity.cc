// Integrity checks at the close of a level: the stored "#$CHECK:" checksum of
// each scenario file against the one computed when it was opened, and at the
// end of a run the database-change check and the version lines. Both only
// when SAFETY turned them on. Runs on the worker.
#include <cstdlib>

#include "common/version.h"
#include "scenario/scenario.h"

namespace zl {

void CZLScenario::ValidateChecksum(int level) {
  if (!safety_valid_ || !test_log_.is_open()) return;
  const std::string& stored = stored_checksums_[level];
  const char* name = level_names_[level].c_str();
  if (stored.empty()) {
    ++sceErrors_;
    Log("%s\t__No stored checksum for scenario: %s\n", Stamp().c_str(), name);
  } else if (stored == computed_checksums_[level]) {
    Log("%s\t  Stored checksum, %s, validates scenario: %s\n", Stamp().c_str(), stored.c_str(),
        name);
  } else {
    ++sceErrors_;
    Log("%s\t__Stored checksum, %s, is invalid for scenario: %s\n", Stamp().c_str(),
        stored.c_str(), name);
  }
}

// Server exceptions escape to the worker.
void CZLScenario::ReportVersions() {
  if (!safety_version_ || !test_log_.is_open()) return;
  CORBA::String_var changes = db_->HelloZL("$KERNEL.DBCHANGES");
  if (static_cast<unsigned>(std::strtoul(changes.in(), nullptr, 10)) == db_changes_at_start_) {
    Log("%s\t  Server Database is the same since start of scenario\n", Stamp().c_str());
  } else {
    Log("%s\t**Server Database has changed since scenario started\n", Stamp().c_str());
  }
  Log("%s\t# ZL Client version: %s\n", Stamp().c_str(), kClientVersion);
  CORBA::String_var version = db_->HelloZL("$KERNEL.VERSION");
  Log("%s\t# ZL Server version: %s\n", Stamp().c_str(), version.in());
}

}  // namespace zl
