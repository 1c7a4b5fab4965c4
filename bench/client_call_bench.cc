// The simulator client's calls against the same calls on the raw stub.
//
// BM_PVEStubAndClient reads one tag's value through the same object
// reference (so the same connection) in two ways, one right after the
// other: the raw stub call, and ZLSim::PVE with its connection test,
// argument check and catch ladder. Each call is timed on its own and the
// order alternates, so that both ways see the same load of the machine
// (benchmarks run one after the other differ by more than the few percent
// measured here). Counters: the median call of each way, in microseconds,
// and their ratio (client / stub).
//
// BM_ClientPVEEach reads every benchmark tag with one PVE call each;
// BM_ClientGetMultiPVE reads the same tags with one GetMultiPVE. Their ratio
// is what batching saves. BM_StubGetMultiTag makes the same batch call on
// the raw stub with a tag list built once, to show the client's share.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "bench_client.h"

namespace zl::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The median of `samples` (reordered); 0 for none.
double Median(std::vector<double>& samples) {
  if (samples.empty()) return 0.0;
  const auto middle = samples.begin() + static_cast<std::ptrdiff_t>(samples.size() / 2);
  std::nth_element(samples.begin(), middle, samples.end());
  return *middle;
}

void BM_PVEStubAndClient(benchmark::State& state) {
  ZLSim& sim = BenchClient::Get().sim();
  ZEMR::ZelvikDatabase_ptr db = sim.database();
  const char* tag = BenchClient::Get().tags()[kBenchTagCount / 2].c_str();
  std::vector<double> stub_us, client_us;
  bool client_first = false;
  try {
    for (auto _ : state) {
      client_first = !client_first;
      for (int turn = 0; turn < 2; ++turn) {
        const bool client = (turn == 0) == client_first;
        const auto start = Clock::now();
        if (client) {
          benchmark::DoNotOptimize(sim.PVE(tag));
        } else {
          benchmark::DoNotOptimize(db->PVE(tag));
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        (client ? client_us : stub_us).push_back(us);
      }
    }
  } catch (const CORBA::Exception& e) {
    state.SkipWithError((std::string("PVE: ") + e._name()).c_str());
    return;
  }
  if (sim.lastErrorStatus() != 0) {
    state.SkipWithError(sim.lastErrorText().c_str());
    return;
  }
  const double stub = Median(stub_us);
  const double client = Median(client_us);
  state.counters["stub_us"] = stub;
  state.counters["client_us"] = client;
  state.counters["ratio"] = stub > 0 ? client / stub : 0.0;
}
BENCHMARK(BM_PVEStubAndClient)->UseRealTime();

// The server's share of a PVE: the raw stub's PVE against its TagCount (an
// operation that does next to nothing), alternated and timed call by call
// like BM_PVEStubAndClient. Counters: both medians and their ratio.
void BM_PVEAgainstTagCount(benchmark::State& state) {
  ZEMR::ZelvikDatabase_ptr db = BenchClient::Get().sim().database();
  const char* tag = BenchClient::Get().tags()[kBenchTagCount / 2].c_str();
  std::vector<double> pve_us, count_us;
  bool pve_first = false;
  try {
    for (auto _ : state) {
      pve_first = !pve_first;
      for (int turn = 0; turn < 2; ++turn) {
        const bool pve = (turn == 0) == pve_first;
        const auto start = Clock::now();
        if (pve) {
          benchmark::DoNotOptimize(db->PVE(tag));
        } else {
          benchmark::DoNotOptimize(db->TagCount());
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        (pve ? pve_us : count_us).push_back(us);
      }
    }
  } catch (const CORBA::Exception& e) {
    state.SkipWithError((std::string("PVE/TagCount: ") + e._name()).c_str());
    return;
  }
  const double pve = Median(pve_us);
  const double count = Median(count_us);
  state.counters["pve_us"] = pve;
  state.counters["tagcount_us"] = count;
  state.counters["ratio"] = count > 0 ? pve / count : 0.0;
}
BENCHMARK(BM_PVEAgainstTagCount)->UseRealTime();

void BM_ClientPVEEach(benchmark::State& state) {
  ZLSim& sim = BenchClient::Get().sim();
  const std::vector<std::string>& tags = BenchClient::Get().tags();
  for (auto _ : state) {
    for (const std::string& tag : tags) benchmark::DoNotOptimize(sim.PVE(tag.c_str()));
  }
  if (sim.lastErrorStatus() != 0) state.SkipWithError(sim.lastErrorText().c_str());
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(tags.size()));
}
BENCHMARK(BM_ClientPVEEach)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ClientGetMultiPVE(benchmark::State& state) {
  ZLSim& sim = BenchClient::Get().sim();
  const std::vector<std::string>& tags = BenchClient::Get().tags();
  std::vector<const char*> names;
  for (const std::string& tag : tags) names.push_back(tag.c_str());
  const int count = static_cast<int>(names.size());
  std::vector<double> values(names.size());
  std::vector<int> types(names.size()), modes(names.size());
  for (auto _ : state) {
    const int found = sim.GetMultiPVE(names.data(), count, values.data(), types.data(),
                                      modes.data());
    if (found != count) {
      state.SkipWithError(("GetMultiPVE gave " + std::to_string(found) + " of " +
                           std::to_string(count) + " tags " + sim.lastErrorText()).c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ClientGetMultiPVE)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_StubGetMultiTag(benchmark::State& state) {
  ZEMR::ZelvikDatabase_ptr db = BenchClient::Get().sim().database();
  const std::vector<std::string>& tags = BenchClient::Get().tags();
  ZEMR::ZLTagList list(static_cast<CORBA::ULong>(tags.size()));
  list.length(static_cast<CORBA::ULong>(tags.size()));
  for (CORBA::ULong i = 0; i < list.length(); ++i) list[i] = tags[i].c_str();
  try {
    for (auto _ : state) {
      ZEMR::ZLTagStatusPayload_var status;
      benchmark::DoNotOptimize(db->GetMultiTag(list, status.out()));
    }
  } catch (const CORBA::Exception& e) {
    state.SkipWithError((std::string("GetMultiTag: ") + e._name()).c_str());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(tags.size()));
}
BENCHMARK(BM_StubGetMultiTag)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zl::bench
