#include "localdb/event_decoding.h"

#include <omniORB4/anyStream.h>
#include <omniORB4/cdrStream.h>

#include <algorithm>
#include <cstring>

#include "localdb/tag_filter.h"

namespace zl {
namespace {

// Hands `read` a stream over the value of `any`, when the type of `any` is
// `type`. The stream reads the `any`'s own marshalled buffer in place (a
// read-only view, as the stubs' extraction reads it): nothing is copied.
// False for another type, or when `read` ran past the value's end or met a
// malformed string (MARSHAL).
template <class Read>
bool ReadValue(const CORBA::Any& any, CORBA::TypeCode_ptr type, Read&& read) {
  try {
    if (!any.NP_type()->equivalent(type)) return false;
    cdrAnyMemoryStream stream(any.PR_streamToRead(), true);
    stream.rewindInputPtr();
    read(stream);
    return true;
  } catch (const CORBA::SystemException&) {
    return false;
  }
}

template <class Enum>
Enum EnumOr(CORBA::ULong value, Enum last, Enum fallback) {
  return value <= static_cast<CORBA::ULong>(last) ? static_cast<Enum>(value) : fallback;
}

// A string member read from the stream; the member owns it at once.
void ReadString(cdrStream& s, _CORBA_String_member& member) { member = s.unmarshalString(0); }

// A string read in place: its characters up to the first NUL; `length`
// gets their number. Its bytes are taken as they are on the stream.
const char* ReadStringInPlace(cdrStream& s, std::size_t& length) {
  CORBA::ULong size = 0;
  size <<= s;
  const char* text = size != 0 ? static_cast<const char*>(s.inData(size)) : nullptr;
  if (text == nullptr || text[size - 1] != '\0') throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
  length = std::strlen(text);
  return text;
}

}  // namespace

bool DecodeServerMessage(const CORBA::Any& event, ServerMessage& out) {
  return ReadValue(event, ZEMR::_tc_ZLMessage, [&](cdrStream& s) {
    out.type <<= s;
    out.fields.msgType = EnumOr(out.type, ZEMR::DebugMsg, ZEMR::InfoMsg);
    out.fields.utime1 <<= s;
    out.fields.utime2 <<= s;
    ReadString(s, out.fields.sourceRoutine);
    ReadString(s, out.fields.msgText);
  });
}

bool DecodeTagChanges(const CORBA::Any& body, const TagFilter* filter,
                      std::vector<TagChangeView>& out) {
  out.clear();
  return ReadValue(body, ZEMR::_tc_ZLTagValueSeq, [&](cdrStream& s) {
    CORBA::ULong count = 0;
    count <<= s;
    // A count beyond what the stream can hold is refused before anything
    // is reserved for it.
    if (!s.checkInputOverrun(1, count)) {
      throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
    }
    if (filter == nullptr) out.reserve(std::min<CORBA::ULong>(count, 1u << 16));
    for (CORBA::ULong i = 0; i < count; ++i) {
      TagChangeView v;
      v.timeSecs <<= s;
      v.timeuS <<= s;
      v.tagname = ReadStringInPlace(s, v.tagname_length);
      v.newEUValue <<= s;
      v.newPVValue <<= s;
      CORBA::ULong mode = 0;
      mode <<= s;
      v.currentMode = EnumOr(mode, ZEMR::NullMode, ZEMR::NullMode);
      if (filter == nullptr || filter->Matches({v.tagname, v.tagname_length})) out.push_back(v);
    }
  });
}

bool DecodeTagChanges(const CORBA::Any& body, std::vector<ZEMR::ZLTagValueEvent>& out) {
  out.clear();
  std::vector<TagChangeView> views;
  if (!DecodeTagChanges(body, nullptr, views)) return false;
  out.resize(views.size());
  for (std::size_t i = 0; i < views.size(); ++i) {
    ZEMR::ZLTagValueEvent& e = out[i];
    e.timeSecs = views[i].timeSecs;
    e.timeuS = views[i].timeuS;
    e.tagname = views[i].tagname;  // copies
    e.newEUValue = views[i].newEUValue;
    e.newPVValue = views[i].newPVValue;
    e.currentMode = views[i].currentMode;
  }
  return true;
}

}  // namespace zl
