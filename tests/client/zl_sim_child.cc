// A process whose first client is made with the options given, for the
// behaviour that only the first client of a process shows (the ORB options,
// "-nsior", a missing or unreachable Naming Service, an ORB that cannot be
// initialised).
//
//   zl_sim_child OPTIONS [NAME]
//
// Makes one client with OPTIONS (LM_DEBUG and LM_INFO on for this thread),
// shows the log masks, lists the databases, connects to NAME when given and reads FIC101, and
// prints one line per step followed by the log lines ("LOG PRIORITY TEXT",
// the text without its line end). Exits 0 unless it could not run.
#include <ace/Log_Msg.h>

#include <cstdio>
#include <memory>
#include <string>

#include "broker/zl_sim.h"
#include "support/log_capture.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zl_sim_child OPTIONS [NAME]\n");
    return 2;
  }
  ACE_LOG_MSG->priority_mask(LM_DEBUG | LM_INFO, ACE_Log_Msg::THREAD);
  auto log = std::make_unique<zl::testing::LogCapture>();
  {
    zl::ZLSim sim(argv[1]);
    std::printf("construct status=%d text=%s\n", static_cast<int>(sim.lastErrorStatus()),
                sim.lastErrorText().c_str());
    std::printf("masks process=%lu thread=%lu\n",
                static_cast<unsigned long>(ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS)),
                static_cast<unsigned long>(ACE_LOG_MSG->priority_mask(ACE_Log_Msg::THREAD)));
    const std::string list = sim.ListZLDatabases();
    std::printf("list=%s text=%s\n", list.c_str(), sim.lastErrorText().c_str());
    if (argc > 2) {
      std::printf("connect=%d\n", sim.Connect(argv[2]));
      std::printf("connect failure=%s\n", sim.lastFailure().reason.c_str());
      std::printf("pve=%g\n", sim.PVE("FIC101"));
    }
  }
  for (const zl::testing::LogLine& line : log->Lines()) {
    std::string text = line.text;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::printf("LOG %d %s\n", static_cast<int>(line.priority), text.c_str());
  }
  log.reset();
  std::fflush(stdout);
  return 0;
}
