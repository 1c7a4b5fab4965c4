// Reading queued server messages: what a client spends per message on
// ZLSim::GetNextZLMessage once the messages are in its queues.
//
// Each iteration reads 10,000 messages, in batches of 500, so that a batch
// fits the client's 16384-byte queues and the server's publish queue. With
// the timers paused, the server publishes a batch (control command
// "message"): errors, warnings and informations in turn, then one debug
// message as a marker. The Event Service delivers a supplier's events in
// order, so once the debug queue holds a message (MessagesExist(4)) the
// whole batch is queued. Then, timed, the benchmark reads with
// GetNextZLMessage(0) until it has read the marker, which comes last (type 0
// takes the debug queue after the others), and checks that nothing was
// dropped. Every message read counts, also one the server published by
// itself; messages left over (queued only after the marker) are read,
// untimed, before the next batch.
//
// Argument `events`: 1 reads with events enabled, the normal case, in which
// every read first polls the channel (one try_pull round trip that finds it
// empty); 0 disables events once the batch is queued (the queues keep their
// messages), so that the reads are local only and the poll's share shows.
//
// BM_ReadEmptyQueues reads with events enabled while nothing is queued or
// waiting: each read is then the channel poll alone.
//
// The CPU time is the whole client process's (the reader, the message
// listener, the ORB's threads); the server and the Event Service run in
// processes of their own and are not counted.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench_client.h"

namespace zl::bench {
namespace {

constexpr int kMessagesPerIteration = 10000;
constexpr int kBatch = 500;
constexpr const char* kSeverities[] = {"error", "warning", "info"};
constexpr unsigned kDebugType = 4;

// The text of the batch's last message, as it ends in the formatted message.
constexpr const char kMarker[] = " in Bench) last";

bool IsMarker(const std::string& text) {
  const size_t n = sizeof kMarker - 1;
  return text.size() >= n && text.compare(text.size() - n, n, kMarker) == 0;
}

// Empties the client's queues, makes the server publish `count` messages,
// the last one the marker (a debug message), and waits until they are all
// in the client's queues. Events must be enabled. Gives "" or the reason of
// failure.
std::string PublishAndQueue(int count) {
  BenchClient& client = BenchClient::Get();
  ControlLink& control = client.control();
  for (int left = 100000; !client.sim().GetNextZLMessage(0).empty();) {
    if (--left == 0) return "the queues do not empty";
  }
  const int64_t dropped = control.StatusValue("dropped_messages");
  if (dropped < 0) return "no status from the control endpoint";

  std::vector<std::string> commands;
  for (int i = 0; i + 1 < count; ++i) {
    commands.push_back(std::string("message ") + kSeverities[i % 3] + " Bench m" +
                       std::to_string(i));
  }
  commands.push_back("message debug Bench last");
  std::vector<std::string> replies;
  if (!control.Send(commands, &replies)) return "the control endpoint did not answer";
  for (const std::string& reply : replies) {
    if (reply != "OK") return "message command: " + reply;
  }

  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!client.sim().MessagesExist(kDebugType)) {
    if (control.StatusValue("dropped_messages") != dropped) return "the server dropped messages";
    if (std::chrono::steady_clock::now() > limit) return "messages not queued within 30 s";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return "";
}

void BM_ReadQueuedMessages(benchmark::State& state) {
  const bool events_on = state.range(0) != 0;
  ZLSim& sim = BenchClient::Get().sim();
  int64_t read = 0;
  int64_t empty_reads = 0;  // reads that found the queues empty (none expected)
  for (auto _ : state) {
    for (int batch = 0; batch < kMessagesPerIteration / kBatch; ++batch) {
      state.PauseTiming();
      if (sim.EnableEvents(true) < 0) {
        state.SkipWithError("EnableEvents failed");
        return;
      }
      const std::string failure = PublishAndQueue(kBatch);
      if (!failure.empty()) {
        state.SkipWithError(failure.c_str());
        sim.EnableEvents(false);
        return;
      }
      if (!events_on) sim.EnableEvents(false);
      state.ResumeTiming();

      for (bool last = false; !last;) {
        const std::string text = sim.GetNextZLMessage(0);
        if (text.empty()) {
          if (++empty_reads > 1000000) {
            state.SkipWithError("the batch's last message was never read");
            return;
          }
          continue;
        }
        if (text.rfind("More ", 0) == 0) {
          state.SkipWithError(("a queue overflowed: " + text).c_str());
          return;
        }
        ++read;
        last = IsMarker(text);
      }
    }
  }
  sim.EnableEvents(false);
  state.SetItemsProcessed(read);
  state.counters["messages"] = benchmark::Counter(static_cast<double>(read),
                                                  benchmark::Counter::kAvgIterations);
  state.counters["empty_reads"] = benchmark::Counter(static_cast<double>(empty_reads),
                                                     benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ReadQueuedMessages)
    ->ArgName("events")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReadEmptyQueues(benchmark::State& state) {
  ZLSim& sim = BenchClient::Get().sim();
  if (sim.EnableEvents(true) < 0) {
    state.SkipWithError("EnableEvents failed");
    return;
  }
  for (int left = 100000; !sim.GetNextZLMessage(0).empty();) {
    if (--left == 0) {
      state.SkipWithError("the queues do not empty");
      sim.EnableEvents(false);
      return;
    }
  }
  int64_t found = 0;  // messages the server published meanwhile (none expected)
  for (auto _ : state) found += sim.GetNextZLMessage(0).empty() ? 0 : 1;
  sim.EnableEvents(false);
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_ReadEmptyQueues)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
}  // namespace zl::bench
