// Decoding of the values that suppliers put on the server's channels: the
// `any` of a message event and the body of a structured tag-change event.
//
// Any supplier connected to a channel can send these, so they are read as
// untrusted input. The stubs' own `>>=` extraction is not used: when a value
// cannot be read (an enumerator outside its enumeration, a truncated
// string) it raises MARSHAL after it has allocated the half-read value, and
// that value is never freed. Here the type code is checked first and the
// value is read field by field, in place from the `any`'s own buffer (or
// the request's stream), into storage owned by the caller, so a value that
// cannot be read is refused and nothing is left behind.
//
// Thread-safe: the functions keep no state.
#ifndef ZL_LOCALDB_EVENT_DECODING_H_
#define ZL_LOCALDB_EVENT_DECODING_H_

#include <omniORB4/CORBA.h>
#include <omniORB4/cdrStream.h>

#include <cstddef>
#include <string>
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

// One change of a tag-change event. `tagname` holds the name's characters
// up to the first NUL (in the bytes the server sent), NUL-terminated, and
// `tagname_length` their number; it points into the TagChanges that holds
// the view.
struct TagChangeView {
  CORBA::ULong timeSecs;
  CORBA::ULong timeuS;
  const char* tagname;
  std::size_t tagname_length;
  CORBA::Double newEUValue;
  CORBA::Double newPVValue;
  ZEMR::ZLModeType currentMode;  // a mode outside ZLModeType is NullMode
};

// The changes of one tag-change event that a filter chose, in the order
// sent, with the storage of their names: valid while it lives and is not
// read into again. Only the chosen names are copied.
struct TagChanges {
  std::vector<TagChangeView> changes;
  std::string names;  // the chosen names, each followed by a NUL
};

// Reads the ZLTagValueSeq of a tag-change event's body into `out`: the
// changes whose tag `filter` matches (every change when `filter` is null).
// Every change is read and checked, also those left out. False (and `out`
// unspecified) when the body holds another type or a value that cannot be
// read whole.
bool DecodeTagChanges(const CORBA::Any& body, const TagFilter* filter, TagChanges& out);

// The same for a body read straight from a request's stream, positioned at
// the `any`: its type code, then its value, which is read in place (nothing
// is copied into an `any` of its own) when its type code lays it out as a
// ZLTagValueSeq, else through an `any` as above. The stream is left after
// the body either way. False when the body is another type or a
// ZLTagValueSeq look-alike that cannot be read as one. Throws what reading
// the stream throws (MARSHAL for a value cut short): the request cannot be
// read on then.
bool ReadTagChanges(cdrStream& s, const TagFilter* filter, TagChanges& out);

// Every change of `body`, as owned ZLTagValueEvent values.
bool DecodeTagChanges(const CORBA::Any& body, std::vector<ZEMR::ZLTagValueEvent>& out);

}  // namespace zl

#endif  // ZL_LOCALDB_EVENT_DECODING_H_
