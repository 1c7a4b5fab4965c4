// Integrity checks at the close of a level (integrity.h). Runs on the worker.
#include "scenario/integrity.h"

#include <cstdlib>

#include "common/version.h"
#include "scenario/outside_text.h"
#include "scenario/statement_errors.h"

namespace zl {

void ValidateChecksum(StatementContext& ctx, const std::string& stored, const std::string& computed,
                      const char* name) {
  if (!ctx.options().safety_valid || !ctx.test_log().is_open()) return;
  if (stored.empty()) {
    ctx.StatementError("%s\t__%s\n", ctx.Stamp().c_str(), NoStoredChecksumText(name).c_str());
  } else if (stored == computed) {
    ctx.Log("%s\t  Stored checksum, %s, validates scenario: %s\n", ctx.Stamp().c_str(),
            stored.c_str(), name);
  } else {
    ctx.StatementError("%s\t__%s\n", ctx.Stamp().c_str(),
                       InvalidChecksumText(stored.c_str(), name).c_str());
  }
}

void ReportVersions(StatementContext& ctx, unsigned changes_at_start) {
  if (!ctx.options().safety_version || !ctx.test_log().is_open()) return;
  CORBA::String_var changes = ctx.server()->HelloZL("$KERNEL.DBCHANGES");
  if (static_cast<unsigned>(std::strtoul(changes.in(), nullptr, 10)) == changes_at_start) {
    ctx.Log("%s\t  Server Database is the same since start of scenario\n", ctx.Stamp().c_str());
  } else {
    ctx.Log("%s\t**Server Database has changed since scenario started\n", ctx.Stamp().c_str());
  }
  ctx.Log("%s\t# ZL Client version: %s\n", ctx.Stamp().c_str(), kClientVersion);
  CORBA::String_var version = ctx.server()->HelloZL("$KERNEL.VERSION");
  ctx.Log("%s\t# ZL Server version: %s\n", ctx.Stamp().c_str(),
          EscapeOutsideText(version.in()).c_str());
}

}  // namespace zl
