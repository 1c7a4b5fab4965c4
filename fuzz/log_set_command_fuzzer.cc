// Fuzz target: the log set command language. Each input line is one command
// run against a fresh log set list whose log sets read zelvik-sim's
// database servant in-process; afterwards every log set takes a forced sample, so that what the
// commands configured (items, file, format, delimiter) is written out.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "logset/log_obj.h"
#include "logset/log_set_list.h"
#include "support/in_process_server.h"

namespace {
constexpr size_t kMaxLines = 64;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  zl::testing::InProcessServer::Instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zl::fuzz;
  using zl::testing::InProcessServer;
  InProcessServer::Instance().Reset();
  {
    zl::LogSetList list([] { return InProcessServer::Instance().database(); });
    for (const std::string& line : SplitLines(ConfinedText(data, size), kMaxLines)) {
      list.Command(line.c_str());
    }
    for (const std::string& name : list.Names()) {
      if (std::shared_ptr<zl::CZLLogObj> log = list.Find(name)) log->RunLog(true);
    }
    list.DeleteAll();
  }
  ClearWorkDir();
  return 0;
}
