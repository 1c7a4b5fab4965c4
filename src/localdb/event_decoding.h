// Decoding of the values that suppliers put on the server's channels: the
// `any` of a message event and the body of a structured tag-change event.
//
// Any supplier connected to a channel can send these, so they are read as
// untrusted input. The stubs' own `>>=` extraction is not used: when a value
// cannot be read (an enumerator outside its enumeration, a truncated
// string) it raises MARSHAL after it has allocated the half-read value, and
// that value is never freed. Here the type code is checked first and the
// value is read field by field into storage owned by the caller, so a value
// that cannot be read is refused and nothing is left behind.
//
// Thread-safe: the functions keep no state.
#ifndef ZL_LOCALDB_EVENT_DECODING_H_
#define ZL_LOCALDB_EVENT_DECODING_H_

#include <omniORB4/CORBA.h>

#include <vector>

#include "zemr.hh"

namespace zl {

// A server message as it came. `type` is the severity as sent, any 32-bit
// number (the queues put values they do not know into Information);
// `fields.msgType` holds it when it is one of ZLMessageType, InfoMsg
// otherwise.
struct ServerMessage {
  CORBA::ULong type = 0;
  ZEMR::ZLMessage fields;
};

// Reads a ZLMessage out of `event`. False (and `out` unspecified) when the
// event holds another type or a value that cannot be read whole.
bool DecodeServerMessage(const CORBA::Any& event, ServerMessage& out);

// Reads the ZLTagValueSeq of a tag-change event's body, one element per
// changed tag in the order sent. A mode outside ZLModeType becomes NullMode.
// False (and `out` unspecified) when the body holds another type or a value
// that cannot be read whole.
bool DecodeTagChanges(const CORBA::Any& body, std::vector<ZEMR::ZLTagValueEvent>& out);

}  // namespace zl

#endif  // ZL_LOCALDB_EVENT_DECODING_H_
