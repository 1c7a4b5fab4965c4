// Fuzz target: the log set command language. Each input line is one command
// run against a fresh log set list whose log sets read the in-process fake
// server; afterwards every log set takes a forced sample, so that what the
// commands configured (items, file, format, delimiter) is written out.
#include <cstdint>
#include <memory>
#include <string>

#include "fake_database.h"
#include "fuzz_support.h"
#include "logset/log_obj.h"
#include "logset/log_set_list.h"

namespace {
constexpr size_t kMaxLines = 64;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  zl::fuzz::FakeServer::Instance();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zl::fuzz;
  FakeServer::Instance().Reset();
  {
    zl::LogSetList list([] { return FakeServer::Instance().database(); });
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
