// The local database object of a client, for tests and benchmarks that drive
// it directly (log set commands, scenarios, the client interface, the naming
// context). A host reaches it only through ZLSim's own operations.
#ifndef ZL_TESTS_SUPPORT_LOCAL_DB_ACCESS_H_
#define ZL_TESTS_SUPPORT_LOCAL_DB_ACCESS_H_

#include "broker/zl_sim.h"

namespace zl {
namespace testing {

class LocalDbAccess {
 public:
  static ZLLocalDB_1& Of(ZLSim& sim) { return sim.local_db_; }
};

// Borrowed; lives as long as `sim`.
inline ZLLocalDB_1& LocalDb(ZLSim& sim) { return LocalDbAccess::Of(sim); }

}  // namespace testing
}  // namespace zl

#endif  // ZL_TESTS_SUPPORT_LOCAL_DB_ACCESS_H_
