// The client's connection to the server's message channel: a pull consumer
// on the server's Event Service channel, and the listener thread that pulls
// messages into the client's MessageQueues.
//
// Threads: Enable and Disable run on the host thread (through the local
// database). The listener thread and host readers both call PullOne.
// `mu_` guards the proxy and consumer references; nobody holds it across a
// remote call. `pull_mu_` is held across one try_pull and the queueing of
// its message, so that two pullers queue messages in the channel's order;
// it is taken before `mu_` and never by Enable or Disable. `connected_` is
// cleared by the channel's upcall on an ORB thread.
#ifndef ZL_LOCALDB_MESSAGE_CHANNEL_H_
#define ZL_LOCALDB_MESSAGE_CHANNEL_H_

#include <COS/CosEventChannelAdmin.hh>
#include <COS/CosEventComm.hh>
#include <ace/Thread.h>
#include <omniORB4/CORBA.h>

#include <atomic>
#include <mutex>

#include "broker/peer_servants.h"
#include "localdb/message_queues.h"
#include "zemr.hh"

namespace zl {

// The pull consumer servant; the channel calls it only to disconnect. It is
// activated among the peer servants (peer_servants.h) under a random id.
class PullConsumer_i : public POA_CosEventComm::PullConsumer {
 public:
  explicit PullConsumer_i(std::atomic<bool>& connected) : connected_(connected) {}
  void disconnect_pull_consumer() override { connected_ = false; }
  PortableServer::POA_ptr _default_POA() override { return PeerPoa(); }

 private:
  std::atomic<bool>& connected_;
};

class MessageChannel {
 public:
  explicit MessageChannel(MessageQueues& queues);
  ~MessageChannel();
  MessageChannel(const MessageChannel&) = delete;
  MessageChannel& operator=(const MessageChannel&) = delete;

  // Connects to the message channel of `db` and starts the listener.
  // 0 enabled; 1 already enabled, or the server has no channel; -1 without
  // a database, with a server that does not answer, or when the channel
  // could not be joined. A consumer that the channel (or anybody holding
  // its reference) disconnected does not count as enabled: it is taken
  // down and the channel joined again under a new consumer reference.
  long Enable(ZEMR::ZelvikDatabase_ptr db, CORBA::ORB_ptr orb);
  // Stops the listener, leaves the channel, deactivates the consumer. Gives 0.
  long Disable();

  // Takes one message from the channel into the queues: 1 taken (or an
  // event that holds no readable message, discarded; a severity outside the
  // enumeration is queued as information), 0 none waiting or not
  // connected, -1 the channel failed.
  long PullOne();
  // Takes every waiting message; gives how many.
  long GetServerMessages();

  // The consumer's reference as handed to the channel (a duplicate); nil
  // while events are off.
  CosEventComm::PullConsumer_ptr consumer_reference();

  // Whether the listener is meant to run: the events-enabled state. Stays
  // true when the listener ended by itself after a failed pull.
  bool listener_running() const { return listener_running_; }

 private:
  static ACE_THR_FUNC_RETURN Listen(void* self);

  MessageQueues& queues_;
  std::atomic<bool> connected_{false};
  PullConsumer_i consumer_servant_{connected_};

  std::mutex pull_mu_;  // one pull and its Offer at a time
  std::mutex mu_;
  CosEventChannelAdmin::ProxyPullSupplier_var proxy_;  // guarded by mu_
  CosEventComm::PullConsumer_var consumer_;            // guarded by mu_

  // Written by the host thread only.
  std::atomic<bool> listener_running_{false};
  ACE_thread_t listener_id_{};
  ACE_hthread_t listener_handle_{};
  std::atomic<bool> listener_done_{true};  // set by the listener on its way out
};

}  // namespace zl

#endif  // ZL_LOCALDB_MESSAGE_CHANNEL_H_
