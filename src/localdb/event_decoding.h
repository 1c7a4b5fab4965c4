// Decoding of the values that suppliers put on the server's channels: the
// `any` of a message event and the body of a structured tag-change event.
//
// Any supplier connected to a channel can send these, so they are read as
// untrusted input. The stubs' own `>>=` extraction is not used: when a value
// cannot be read (an enumerator outside its enumeration, a truncated
// string) it raises MARSHAL after it has allocated the half-read value, and
// that value is never freed. Here the type code is checked first and the
// value is read field by field, in place from the `any`'s own buffer, into
// storage owned by the caller, so a value that cannot be read is refused
// and nothing is left behind.
//
// Thread-safe: the functions keep no state.
#ifndef ZL_LOCALDB_EVENT_DECODING_H_
#define ZL_LOCALDB_EVENT_DECODING_H_

#include <omniORB4/CORBA.h>

#include <cstddef>
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

class TagFilter;

// One change of a tag-change event as the event holds it: nothing is
// copied. `tagname` points into the body's buffer (its characters up to the
// first NUL, NUL-terminated there, `tagname_length` long, in the bytes the
// server sent): valid while the body lives and is not changed.
struct TagChangeView {
  CORBA::ULong timeSecs;
  CORBA::ULong timeuS;
  const char* tagname;
  std::size_t tagname_length;
  CORBA::Double newEUValue;
  CORBA::Double newPVValue;
  ZEMR::ZLModeType currentMode;  // a mode outside ZLModeType is NullMode
};

// Reads the ZLTagValueSeq of a tag-change event's body, in the order sent,
// into `out`: the changes whose tag `filter` matches (every change when
// `filter` is null). Every change is read and checked, also those left out.
// False (and `out` unspecified) when the body holds another type or a value
// that cannot be read whole.
bool DecodeTagChanges(const CORBA::Any& body, const TagFilter* filter,
                      std::vector<TagChangeView>& out);

// The same, every change, as owned ZLTagValueEvent values.
bool DecodeTagChanges(const CORBA::Any& body, std::vector<ZEMR::ZLTagValueEvent>& out);

}  // namespace zl

#endif  // ZL_LOCALDB_EVENT_DECODING_H_
