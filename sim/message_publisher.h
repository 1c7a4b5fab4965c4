// The message channel of one database: an Event Service channel created on
// the omniEvents factory, on which the server pushes its messages
// (ZEMR::ZLMessage in an `any`).
//
// Publish only queues (bounded; a full queue drops the new message and
// counts it); a thread of the publisher pushes, so no server operation
// waits on the event service. A failed push is counted and the supplier
// connection is made anew for the next message, at most once a second.
// Thread-safe: mu_ guards the queue and counters.
#ifndef ZL_SIM_MESSAGE_PUBLISHER_H_
#define ZL_SIM_MESSAGE_PUBLISHER_H_

#include <COS/CosEventChannelAdmin.hh>
#include <COS/CosLifeCycle.hh>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zl::sim {

class MessagePublisher {
 public:
  static constexpr size_t kQueueLimit = 1000;

  // Creates an event channel on `factory` (key {"EventChannel", "object
  // interface"}) and connects a push supplier to it. Gives nullptr, with a
  // reason in `error`, when the event service cannot be reached.
  static std::unique_ptr<MessagePublisher> Create(CORBA::ORB_ptr orb,
                                                  CosLifeCycle::GenericFactory_ptr factory,
                                                  std::string* error);
  ~MessagePublisher();  // Stop
  MessagePublisher(const MessagePublisher&) = delete;
  MessagePublisher& operator=(const MessagePublisher&) = delete;

  // The channel's stringified reference.
  const std::string& ChannelIor() const { return ior_; }

  // Queues one message; `type` is a ZLMessageType ordinal or any other
  // number (sent as it is). Never blocks.
  void Publish(uint32_t type, const std::string& routine, const std::string& text);

  // Ends the thread; with `destroy_channel` also destroys the channel on
  // the event service. Idempotent.
  void Stop(bool destroy_channel);

  uint64_t published() const;
  uint64_t dropped() const;

 private:
  struct Message {
    uint32_t type, secs, usecs;
    std::string routine, text;
  };

  MessagePublisher(CosEventChannelAdmin::EventChannel_ptr channel, std::string ior);
  void Run();
  // Connects a push supplier; false on failure. Called from Run only.
  bool Connect();

  const CosEventChannelAdmin::EventChannel_var channel_;
  const std::string ior_;
  CosEventChannelAdmin::ProxyPushConsumer_var proxy_;  // used by the thread only

  mutable std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_:
  std::deque<Message> queue_;
  bool stop_ = false;
  uint64_t published_ = 0;
  uint64_t dropped_ = 0;

  std::thread thread_;
};

}  // namespace zl::sim

#endif  // ZL_SIM_MESSAGE_PUBLISHER_H_
