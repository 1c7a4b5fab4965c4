#include "localdb/client_timer.h"

#include <ace/Log_Msg.h>

namespace zl {

int ClientOrbTimer::handle_timeout(const ACE_Time_Value&, const void*) {
  if (busy_ != 0) {
    ACE_DEBUG((LM_WARNING, "[LocalDB](%P/%t) Simultaneous calls to ClientOrbTimer::handle_timeout\n"));
  } else {
    busy_ = 1;
    if (owner_ != nullptr) {
      // A reactor upcall: nothing may escape into the reactor, and busy_
      // must be cleared for the next tick.
      try {
        owner_->OnClientTimer();
      } catch (...) {
        ACE_DEBUG((LM_ERROR, "[LocalDB](%P/%t) Caught ex in ClientOrbTimer::handle_timeout\n"));
      }
    } else {
      stop_ = 1;
    }
    busy_ = 0;
  }
  return stop_ != 0 ? -1 : 0;
}

int ClientOrbTimer::handle_close(ACE_HANDLE, ACE_Reactor_Mask mask) {
  if (mask == ACE_Event_Handler::TIMER_MASK) delete this;
  return 0;
}

}  // namespace zl
