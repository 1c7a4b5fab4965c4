#include "localdb/event_decoding.h"

#include <omniORB4/anyStream.h>
#include <omniORB4/cdrStream.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

// A string read without a copy of its own where the stream holds it whole
// (else copied into `scratch`): its characters up to the first NUL, valid
// only until the next read from `s` (a request's stream reuses its
// buffers); `length` gets their number. Its bytes are taken as they are on
// the stream.
const char* ReadName(cdrStream& s, std::string& scratch, std::size_t& length) {
  CORBA::ULong size = 0;
  size <<= s;
  if (size == 0 || !s.checkInputOverrun(1, size)) throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
  const char* text = static_cast<const char*>(s.inData(size));
  if (text == nullptr) {  // across two of the stream's buffers
    scratch.resize(size);
    s.get_octet_array(reinterpret_cast<CORBA::Octet*>(&scratch[0]), static_cast<int>(size));
    text = scratch.data();
  }
  if (text[size - 1] != '\0') throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
  length = std::strlen(text);
  return text;
}

// Reads a ZLTagValueSeq's value from `s` into `out`, keeping the changes
// `filter` matches (all when null). Throws MARSHAL for a value that cannot
// be read whole.
void ReadChangeSeq(cdrStream& s, const TagFilter* filter, TagChanges& out) {
  out.changes.clear();
  out.names.clear();
  CORBA::ULong count = 0;
  count <<= s;
  // A count beyond what the stream can hold is refused before anything
  // is reserved for it.
  if (!s.checkInputOverrun(1, count)) throw CORBA::MARSHAL(0, CORBA::COMPLETED_NO);
  if (filter == nullptr) out.changes.reserve(std::min<CORBA::ULong>(count, 1u << 16));
  std::vector<std::size_t> offsets;  // of each kept name in out.names
  std::string scratch;
  for (CORBA::ULong i = 0; i < count; ++i) {
    TagChangeView v;
    v.timeSecs <<= s;
    v.timeuS <<= s;
    // The name is matched and kept before the next read, which may reuse
    // the stream's buffer that it lies in.
    const char* name = ReadName(s, scratch, v.tagname_length);
    const bool chosen = filter == nullptr || filter->Matches({name, v.tagname_length});
    if (chosen) {
      offsets.push_back(out.names.size());
      out.names.append(name, v.tagname_length);
      out.names.push_back('\0');
    }
    v.newEUValue <<= s;
    v.newPVValue <<= s;
    CORBA::ULong mode = 0;
    mode <<= s;
    v.currentMode = EnumOr(mode, ZEMR::NullMode, ZEMR::NullMode);
    if (chosen) out.changes.push_back(v);
  }
  // out.names no longer grows: the views may point into it now.
  for (std::size_t i = 0; i < out.changes.size(); ++i) {
    out.changes[i].tagname = out.names.data() + offsets[i];
  }
}

// `tc` with its aliases taken off.
CORBA::TypeCode_ptr Unaliased(CORBA::TypeCode_ptr tc) {
  CORBA::TypeCode_var t = CORBA::TypeCode::_duplicate(tc);
  while (t->kind() == CORBA::tk_alias) t = t->content_type();
  return t._retn();
}

// Whether a value of type `tc` is a ZLTagValueSeq and lies on the wire as
// one: a type code with the same repository ids may still describe other
// members, which only an `any` of its own reads correctly.
bool HasChangeSeqLayout(CORBA::TypeCode_ptr tc) {
  if (!tc->equivalent(ZEMR::_tc_ZLTagValueSeq)) return false;
  CORBA::TypeCode_var seq = Unaliased(tc);
  if (seq->kind() != CORBA::tk_sequence) return false;
  CORBA::TypeCode_var content = seq->content_type();
  CORBA::TypeCode_var change = Unaliased(content.in());
  const CORBA::TCKind kinds[] = {CORBA::tk_ulong,  CORBA::tk_ulong,  CORBA::tk_string,
                                 CORBA::tk_double, CORBA::tk_double, CORBA::tk_enum};
  if (change->kind() != CORBA::tk_struct || change->member_count() != 6) return false;
  for (CORBA::ULong i = 0; i < 6; ++i) {
    CORBA::TypeCode_var member_tc = change->member_type(i);
    CORBA::TypeCode_var member = Unaliased(member_tc.in());
    if (member->kind() != kinds[i]) return false;
  }
  return true;
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

bool DecodeTagChanges(const CORBA::Any& body, const TagFilter* filter, TagChanges& out) {
  return ReadValue(body, ZEMR::_tc_ZLTagValueSeq,
                   [&](cdrStream& s) { ReadChangeSeq(s, filter, out); });
}

bool ReadTagChanges(cdrStream& s, const TagFilter* filter, TagChanges& out) {
  CORBA::TypeCode_var tc = CORBA::TypeCode::unmarshalTypeCode(s);
  if (HasChangeSeqLayout(tc.in())) {
    ReadChangeSeq(s, filter, out);
    return true;
  }
  CORBA::Any body(tc.in(), nullptr, false);
  body.NP_unmarshalDataOnly(s);
  return DecodeTagChanges(body, filter, out);
}

bool DecodeTagChanges(const CORBA::Any& body, std::vector<ZEMR::ZLTagValueEvent>& out) {
  out.clear();
  TagChanges read;
  if (!DecodeTagChanges(body, nullptr, read)) return false;
  out.resize(read.changes.size());
  for (std::size_t i = 0; i < read.changes.size(); ++i) {
    const TagChangeView& v = read.changes[i];
    ZEMR::ZLTagValueEvent& e = out[i];
    e.timeSecs = v.timeSecs;
    e.timeuS = v.timeuS;
    e.tagname = v.tagname;  // copies
    e.newEUValue = v.newEUValue;
    e.newPVValue = v.newPVValue;
    e.currentMode = v.currentMode;
  }
  return true;
}

}  // namespace zl
