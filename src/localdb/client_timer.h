// ClientOrbTimer: the one-second tick of a client, run on the ORB holder's
// reactor (the OrbRunner thread). Each tick runs the owner's periodic work
// (every log set takes its sample).
//
// The reactor owns a scheduled handler: the handler deletes itself in
// handle_close, which the reactor calls when the timer is cancelled or when
// handle_timeout asks to stop. `busy_` and `stop_` are touched only on the
// reactor's thread.
#ifndef ZL_LOCALDB_CLIENT_TIMER_H_
#define ZL_LOCALDB_CLIENT_TIMER_H_

#include <ace/Event_Handler.h>

namespace zl {

// What a client timer runs on each tick.
class ClientTimerOwner {
 public:
  virtual void OnClientTimer() = 0;

 protected:
  ~ClientTimerOwner() = default;
};

class ClientOrbTimer : public ACE_Event_Handler {
 public:
  // `owner` may be null: the first tick then stops the timer.
  explicit ClientOrbTimer(ClientTimerOwner* owner) : owner_(owner) {}

  int handle_timeout(const ACE_Time_Value& now, const void* arg) override;
  int handle_close(ACE_HANDLE handle, ACE_Reactor_Mask mask) override;

 private:
  ClientTimerOwner* const owner_;
  int busy_ = 0;
  int stop_ = 0;
};

}  // namespace zl

#endif  // ZL_LOCALDB_CLIENT_TIMER_H_
