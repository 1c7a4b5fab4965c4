// The rate of tag changes the server pushes to a consumer that keeps up:
// bursts of SetMultiPVE writes (each changes `batch` tags, one event per
// write), timed from the first write until the consumer has every change.
#include <benchmark/benchmark.h>

#include <COS/CosNotifyChannelAdmin.hh>
#include <COS/CosNotifyComm.hh>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "bench_server.h"

namespace zl::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Counts the tag changes that arrive. Threads: push_structured_event runs in
// ORB threads, WaitFor in the benchmark thread; mu_ guards changes_.
class CountingConsumer : public POA_CosNotifyComm::StructuredPushConsumer {
 public:
  void push_structured_event(const CosNotification::StructuredEvent& event) override {
    const ZEMR::ZLTagValueSeq* changes = nullptr;
    if (!(event.remainder_of_body >>= changes)) return;
    {
      std::lock_guard<std::mutex> lock(mu_);
      changes_ += changes->length();
    }
    cv_.notify_all();
  }
  void disconnect_structured_push_consumer() override {}
  void offer_change(const CosNotification::EventTypeSeq&,
                    const CosNotification::EventTypeSeq&) override {}

  uint64_t changes() {
    std::lock_guard<std::mutex> lock(mu_);
    return changes_;
  }

  // Waits until at least `count` changes have arrived or `timeout` passed;
  // gives the number that arrived.
  uint64_t WaitFor(uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, timeout, [&] { return changes_ >= count; });
    return changes_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t changes_ = 0;  // guarded by mu_
};

// A consumer connected to the database's value-notifier channel the way a
// client connects (new admin, structured push supplier); disconnected and
// deactivated on destruction.
class Subscription {
 public:
  Subscription() {
    BenchServer& s = BenchServer::Get();
    consumer_ = new CountingConsumer;
    id_ = s.poa()->activate_object(consumer_);
    consumer_->_remove_ref();  // the POA holds it now
    CORBA::Object_var ref = s.poa()->id_to_reference(id_.in());
    CosNotifyComm::StructuredPushConsumer_var consumer =
        CosNotifyComm::StructuredPushConsumer::_narrow(ref);

    CORBA::String_var ior = s.db()->GetIORValueNotifierChannel();
    CORBA::Object_var obj = s.orb()->string_to_object(ior.in());
    CosNotifyChannelAdmin::EventChannel_var channel =
        CosNotifyChannelAdmin::EventChannel::_narrow(obj);
    CosNotifyChannelAdmin::AdminID admin_id;
    admin_ = channel->new_for_consumers(CosNotifyChannelAdmin::OR_OP, admin_id);
    CosNotifyChannelAdmin::ProxyID proxy_id;
    CosNotifyChannelAdmin::ProxySupplier_var proxy = admin_->obtain_notification_push_supplier(
        CosNotifyChannelAdmin::STRUCTURED_EVENT, proxy_id);
    supplier_ = CosNotifyChannelAdmin::StructuredProxyPushSupplier::_narrow(proxy);
    supplier_->connect_structured_push_consumer(consumer);
  }

  ~Subscription() {
    try {
      supplier_->disconnect_structured_push_supplier();
      admin_->destroy();
    } catch (const CORBA::Exception&) {
      // The benchmark is over; a channel that is gone needs no teardown.
    }
    BenchServer::Get().poa()->deactivate_object(id_.in());
  }

  CountingConsumer& consumer() { return *consumer_; }

 private:
  CountingConsumer* consumer_;  // owned by the POA while active
  PortableServer::ObjectId_var id_;
  CosNotifyChannelAdmin::ConsumerAdmin_var admin_;
  CosNotifyChannelAdmin::StructuredProxyPushSupplier_var supplier_;
};

void BM_TagChangePush(benchmark::State& state) {
  const auto batch = static_cast<CORBA::ULong>(state.range(0));
  // About 10,000 changes per timed burst, at most 100 writes.
  const int writes = static_cast<int>(std::clamp<CORBA::ULong>(10000 / batch, 1, 100));
  BenchServer& s = BenchServer::Get();

  try {
    Subscription subscription;
    CountingConsumer& consumer = subscription.consumer();
    ZEMR::ZLTagCommands commands;
    commands.length(batch);
    for (CORBA::ULong i = 0; i < batch; ++i) {
      commands[i].tagname = s.tags()[i].c_str();
      commands[i].mode = ZEMR::Auto;
    }
    double value = 10.0;
    uint64_t expected = consumer.changes();
    uint64_t pushed = 0;
    for (auto _ : state) {
      const auto start = Clock::now();
      for (int w = 0; w < writes; ++w) {
        value = value == 10.0 ? 20.0 : 10.0;  // every write changes every tag
        for (CORBA::ULong i = 0; i < batch; ++i) commands[i].pve = value;
        ZEMR::ZLErrorCodeList_var codes;
        s.db()->SetMultiPVE(commands, codes.out());
      }
      expected += static_cast<uint64_t>(batch) * writes;
      const uint64_t got = consumer.WaitFor(expected, std::chrono::seconds(30));
      if (got < expected) {
        state.SkipWithError(("only " + std::to_string(got) + " of " + std::to_string(expected) +
                             " changes arrived within 30 s").c_str());
        break;
      }
      state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
      pushed += static_cast<uint64_t>(batch) * writes;
    }
    state.counters["changes/s"] =
        benchmark::Counter(static_cast<double>(pushed), benchmark::Counter::kIsRate);
  } catch (const CORBA::Exception& e) {
    state.SkipWithError((std::string("value-notifier channel: ") + e._name()).c_str());
  }
}
BENCHMARK(BM_TagChangePush)->Arg(1)->Arg(100)->Arg(kBenchTagCount)->UseManualTime();

}  // namespace
}  // namespace zl::bench
