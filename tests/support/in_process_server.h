// zelvik-sim's own database, served inside the test program: the stand-in's
// servants (the library zelvik_sim_servants: database, tags, admin, tag-file
// iterators, value-notifier channel, fault table) for one database "SIM",
// reached through a collocated reference. A scenario, a log set or a
// tag-file transfer makes its real calls on the real servant without
// sockets, child processes, a Naming Service or an Event Service (the
// database's messages go nowhere). The statement tests and the fuzz targets
// run against it.
//
// The calculation loop has no thread here: the plant moves only when a test
// advances it, usually through a PlantClock, so a simulation-time wait takes
// no real time and every run of a row is the same.
//
// Threads: Instance() makes the process's ORB once (listening on 127.0.0.1
// only; nothing connects to it). The servants run on the calling thread.
// Reset runs while nothing else calls the server.
#ifndef ZL_TESTS_SUPPORT_IN_PROCESS_SERVER_H_
#define ZL_TESTS_SUPPORT_IN_PROCESS_SERVER_H_

#include <ace/Time_Value.h>

#include "fault_table.h"
#include "support/virtual_clock.h"
#include "tag_database.h"
#include "tagfile_iterator.h"
#include "zemr.hh"

namespace zl::testing {

// The plant Reset loads: T1 (Analog 0..100, raw 4..20, Auto, 50; driver
// PLC1, which has no address), T2 (Analog -10..10, Auto, 0, ramping up by 1
// per simulation second), D1 (Digital, Auto, 1; driver PLC1), M1 (Analog
// 0..10, Manual, 5), then the test plant's tags (support/test_tags.h:
// FIC101, TIC200, XV300, SPARE).
class InProcessServer {
 public:
  // The one server of the process, made at the first call.
  static InProcessServer& Instance();

  // The database object, a ZelvikDatabase2 (borrowed; lives as long as the
  // process).
  ZEMR::ZelvikDatabase_ptr database() const;

  // The state every test and every fuzz input starts from: the plant with
  // its initial values, simulation time 0, cycle time and warp factor 1, no
  // loop hold, calculations and I/O on, no armed fault and no scripted
  // iterator. Driver addresses set since stay.
  void Reset();

  // The database's tag database, for what no ZEMR operation sets (a
  // driver's address, say).
  sim::TagDatabase& db();
  // Faults for the next calls of named operations, as zelvik-sim's control
  // endpoint arms them ("fail", "delay"): an exception, or a real delay.
  sim::FaultTable& faults();
  // The next tag-file iterator answers next_chunk from `source` instead of
  // the plant's tag file; null disarms.
  void ArmChunkSource(sim::ChunkSource source);

  // Runs the calculation cycles that `elapsed` of real time runs in
  // zelvik-sim at the database's cycle time and warp factor.
  void Advance(const ACE_Time_Value& elapsed);

 private:
  InProcessServer();
  struct Impl;
  Impl* impl_;  // never freed: the ORB and its servants live until exit
};

// A virtual clock that the in-process plant follows: each sleep or advance
// of the clock also runs the plant for that time (InProcessServer::Advance).
class PlantClock : public VirtualClock {
 public:
  explicit PlantClock(double budget_seconds = 0);

 protected:
  void Moved(const ACE_Time_Value& moved) const override;
};

}  // namespace zl::testing

#endif  // ZL_TESTS_SUPPORT_IN_PROCESS_SERVER_H_
