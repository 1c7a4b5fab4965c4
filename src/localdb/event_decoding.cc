#include "localdb/event_decoding.h"

#include <omniORB4/cdrStream.h>

#include <algorithm>

namespace zl {
namespace {

// Copies the value of `any` into a memory stream and hands the stream to
// `read` when the type of `any` is `type`. False for another type, or when
// `read` ran past the value's end or met a malformed string (MARSHAL).
template <class Read>
bool ReadValue(const CORBA::Any& any, CORBA::TypeCode_ptr type, Read&& read) {
  CORBA::TypeCode_var held = any.type();
  try {
    if (!held->equivalent(type)) return false;
    cdrMemoryStream stream;
    any.NP_marshalDataOnly(stream);
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

bool DecodeTagChanges(const CORBA::Any& body, std::vector<ZEMR::ZLTagValueEvent>& out) {
  out.clear();
  return ReadValue(body, ZEMR::_tc_ZLTagValueSeq, [&](cdrStream& s) {
    CORBA::ULong count = 0;
    count <<= s;
    // A count beyond what the stream can hold is refused before anything
    // is reserved for it.
    if (!s.checkInputOverrun(1, count)) {
      throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
    }
    out.reserve(std::min<CORBA::ULong>(count, 1u << 16));
    for (CORBA::ULong i = 0; i < count; ++i) {
      ZEMR::ZLTagValueEvent e;
      e.timeSecs <<= s;
      e.timeuS <<= s;
      ReadString(s, e.tagname);
      e.newEUValue <<= s;
      e.newPVValue <<= s;
      CORBA::ULong mode = 0;
      mode <<= s;
      e.currentMode = EnumOr(mode, ZEMR::NullMode, ZEMR::NullMode);
      out.push_back(e);
    }
  });
}

}  // namespace zl
