// Decoding what a supplier puts on the server's channels: values built byte
// by byte as they arrive on the wire, including those the stubs' extraction
// refuses after allocating them. Run under a leak checker, this shows that
// a refused value leaves nothing behind.
#include "localdb/event_decoding.h"

#include <gtest/gtest.h>
#include <omniORB4/cdrStream.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "localdb/tag_filter.h"

namespace zl {
namespace {

using Writer = std::function<void(cdrStream&)>;

// The process's ORB, made once: the streams need its code sets.
CORBA::ORB_ptr Orb() {
  static CORBA::ORB_ptr const orb = [] {
    const char* argv[] = {"event_decoding_test", "-ORBendPoint", "giop:tcp:127.0.0.1:"};
    int argc = 3;
    return CORBA::ORB_init(argc, const_cast<char**>(argv), "omniORB4");
  }();
  return orb;
}

// An `any` as the ORB makes it from a request: the type code `tc`, then
// the value as `write` puts it on the stream.
CORBA::Any WireAny(CORBA::TypeCode_ptr tc, const Writer& write) {
  cdrMemoryStream s;
  CORBA::TypeCode::marshalTypeCode(tc, s);
  write(s);
  s.rewindInputPtr();
  CORBA::Any any;
  any <<= s;
  return any;
}

void PutString(cdrStream& s, const char* text) { s.marshalString(text); }

Writer Message(CORBA::ULong type, const char* routine, const char* text) {
  return [=](cdrStream& s) {
    type >>= s;
    CORBA::ULong(1772874303) >>= s;
    CORBA::ULong(250000) >>= s;
    PutString(s, routine);
    PutString(s, text);
  };
}

// A struct type code with the message's repository id but one member only:
// equivalent by id, shorter on the wire.
CORBA::TypeCode_ptr ImpostorMessageType() {
  CORBA::StructMemberSeq members;
  members.length(1);
  members[0].name = "msgType";
  members[0].type = CORBA::TypeCode::_duplicate(CORBA::_tc_ulong);
  return Orb()->create_struct_tc("IDL:ZEMR/ZLMessage:1.0", "ZLMessage", members);
}

TEST(DecodeServerMessageTest, Cases) {
  Orb();
  struct Case {
    int line;
    CORBA::Any any;
    bool ok;
    CORBA::ULong type;          // as sent
    ZEMR::ZLMessageType field;  // the enumerated type kept with it
    const char* text;
  };
  CORBA::Any text_any;
  text_any <<= "not a message";
  CORBA::TypeCode_var impostor = ImpostorMessageType();
  const Case kCases[] = {
      {__LINE__, WireAny(ZEMR::_tc_ZLMessage, Message(2, "R", "level high")), true, 2,
       ZEMR::WarningMsg, "level high"},
      // The stubs raise MARSHAL for these and leak the half-read message.
      {__LINE__, WireAny(ZEMR::_tc_ZLMessage, Message(7, "R", "seven")), true, 7, ZEMR::InfoMsg,
       "seven"},
      {__LINE__, WireAny(ZEMR::_tc_ZLMessage, Message(0xFFFFFFFFu, "", "")), true, 0xFFFFFFFFu,
       ZEMR::InfoMsg, ""},
      // Another type: refused, not misread.
      {__LINE__, text_any, false, 0, ZEMR::AllMsgs, ""},
      {__LINE__, CORBA::Any(), false, 0, ZEMR::AllMsgs, ""},
      // Same repository id, fewer fields than a message: refused, not read
      // past its end.
      {__LINE__, WireAny(impostor.in(), [](cdrStream& s) { CORBA::ULong(3) >>= s; }), false, 0,
       ZEMR::AllMsgs, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    ServerMessage m;
    ASSERT_EQ(c.ok, DecodeServerMessage(c.any, m));
    if (!c.ok) continue;
    EXPECT_EQ(c.type, m.type);
    EXPECT_EQ(c.field, m.fields.msgType);
    EXPECT_EQ(1772874303u, m.fields.utime1);
    EXPECT_EQ(250000u, m.fields.utime2);
    EXPECT_STREQ(c.text, m.fields.msgText.in());
  }
}

Writer Changes(std::vector<std::pair<const char*, CORBA::ULong>> tags) {
  return [=](cdrStream& s) {
    CORBA::ULong(tags.size()) >>= s;
    for (const auto& t : tags) {
      CORBA::ULong(10) >>= s;
      CORBA::ULong(20) >>= s;
      PutString(s, t.first);
      CORBA::Double(1.5) >>= s;
      CORBA::Double(2.5) >>= s;
      t.second >>= s;
    }
  };
}

TEST(DecodeTagChangesTest, Cases) {
  Orb();
  struct Case {
    int line;
    CORBA::Any body;
    bool ok;
    std::vector<std::pair<std::string, ZEMR::ZLModeType>> want;
  };
  CORBA::Any long_any;
  long_any <<= CORBA::Long(42);
  const Case kCases[] = {
      {__LINE__, WireAny(ZEMR::_tc_ZLTagValueSeq, Changes({})), true, {}},
      {__LINE__, WireAny(ZEMR::_tc_ZLTagValueSeq, Changes({{"A", 1}, {"B", 0}, {"C", 2}})), true,
       {{"A", ZEMR::Auto}, {"B", ZEMR::Manual}, {"C", ZEMR::NullMode}}},
      // A mode outside the enumeration: the stubs raise MARSHAL and leak the
      // whole sequence.
      {__LINE__, WireAny(ZEMR::_tc_ZLTagValueSeq, Changes({{"A", 1}, {"B", 9}})), true,
       {{"A", ZEMR::Auto}, {"B", ZEMR::NullMode}}},
      {__LINE__, long_any, false, {}},
      {__LINE__, CORBA::Any(), false, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    std::vector<ZEMR::ZLTagValueEvent> changes;
    ASSERT_EQ(c.ok, DecodeTagChanges(c.body, changes));
    if (!c.ok) continue;
    ASSERT_EQ(c.want.size(), changes.size());
    for (size_t i = 0; i < changes.size(); ++i) {
      EXPECT_EQ(c.want[i].first, changes[i].tagname.in());
      EXPECT_EQ(c.want[i].second, changes[i].currentMode);
      EXPECT_EQ(10u, changes[i].timeSecs);
      EXPECT_EQ(2.5, changes[i].newPVValue);
    }
  }
}

// A change type with the repository ids of the real one, so equivalent to
// it, but with the tag name as a sequence of octets (the wire shape of a
// string, without the check of its terminating NUL) and, unless `whole`,
// nothing after the name: what a faulty supplier could send.
CORBA::TypeCode_ptr ImpostorChangesType(bool whole) {
  CORBA::TypeCode_var octets = Orb()->create_sequence_tc(0, CORBA::_tc_octet);
  CORBA::StructMemberSeq members;
  members.length(whole ? 6 : 3);
  const char* const names[] = {"timeSecs", "timeuS", "tagname", "newEUValue", "newPVValue",
                               "currentMode"};
  CORBA::TypeCode_ptr const types[] = {CORBA::_tc_ulong, CORBA::_tc_ulong, octets.in(),
                                       CORBA::_tc_double, CORBA::_tc_double, CORBA::_tc_ulong};
  for (CORBA::ULong i = 0; i < members.length(); ++i) {
    members[i].name = names[i];
    members[i].type = CORBA::TypeCode::_duplicate(types[i]);
  }
  CORBA::TypeCode_var change =
      Orb()->create_struct_tc("IDL:ZEMR/ZLTagValueEvent:1.0", "ZLTagValueEvent", members);
  CORBA::TypeCode_var seq = Orb()->create_sequence_tc(0, change.in());
  return Orb()->create_alias_tc("IDL:ZEMR/ZLTagValueSeq:1.0", "ZLTagValueSeq", seq.in());
}

// Changes whose names are given as raw bytes, each `size` as sent then
// `bytes`; unless `whole`, nothing after the name.
Writer RawNameChanges(std::vector<std::pair<CORBA::ULong, std::string>> names, bool whole) {
  return [=](cdrStream& s) {
    CORBA::ULong(names.size()) >>= s;
    for (const auto& n : names) {
      CORBA::ULong(10) >>= s;
      CORBA::ULong(20) >>= s;
      n.first >>= s;
      s.put_octet_array(reinterpret_cast<const CORBA::Octet*>(n.second.data()),
                        static_cast<int>(n.second.size()));
      if (!whole) continue;
      CORBA::Double(1.5) >>= s;
      CORBA::Double(2.5) >>= s;
      CORBA::ULong(1) >>= s;
    }
  };
}

std::pair<CORBA::ULong, std::string> Name(std::string bytes) {
  return {static_cast<CORBA::ULong>(bytes.size()), bytes};
}

std::vector<std::string> NamesOf(const TagChanges& read) {
  std::vector<std::string> names;
  for (const TagChangeView& v : read.changes) {
    names.emplace_back(v.tagname, v.tagname_length);
    EXPECT_EQ(v.tagname_length, std::strlen(v.tagname));
    EXPECT_EQ(10u, v.timeSecs);
  }
  return names;
}

// The filtered reading of an `any`: only the chosen changes come out, in
// order, read in place; the whole body is still checked.
TEST(DecodeTagChangesTest, Filtered) {
  Orb();
  const TagFilter filter({"B", "T*"});
  CORBA::TypeCode_var short_impostor = ImpostorChangesType(false);
  ZEMR::ZLTagValueSeq typed;
  typed.length(2);
  typed[0].tagname = "T1";
  typed[1].tagname = "A";
  typed[0].timeSecs = typed[1].timeSecs = 10;
  for (CORBA::ULong i = 0; i < 2; ++i) {
    typed[i].timeuS = 0;
    typed[i].newEUValue = typed[i].newPVValue = 0.0;
    typed[i].currentMode = ZEMR::Auto;
  }
  CORBA::Any typed_any;
  typed_any <<= typed;  // made in this process: never marshalled yet
  struct Case {
    int line;
    CORBA::Any body;
    const TagFilter* filter;
    bool ok;
    std::vector<std::string> want;
  };
  const Case kCases[] = {
      {__LINE__, WireAny(ZEMR::_tc_ZLTagValueSeq, Changes({{"A", 1}, {"B", 0}, {"T1", 1},
                                                            {"C", 2}, {"t2", 1}})),
       &filter, true, {"B", "T1", "t2"}},
      // No change chosen: none comes out, and the body is still good.
      {__LINE__, WireAny(ZEMR::_tc_ZLTagValueSeq, Changes({{"A", 1}, {"C", 0}})), &filter, true,
       {}},
      {__LINE__, WireAny(ZEMR::_tc_ZLTagValueSeq, Changes({{"A", 1}, {"C", 0}})), nullptr, true,
       {"A", "C"}},
      // A change that ends after its name, chosen or not: refused.
      {__LINE__, WireAny(short_impostor.in(), RawNameChanges({Name({"T\0", 2})}, false)),
       &filter, false, {}},
      {__LINE__, WireAny(short_impostor.in(), RawNameChanges({Name({"X\0", 2})}, false)),
       &filter, false, {}},
      {__LINE__, typed_any, &filter, true, {"T1"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    for (int pass = 0; pass < 2; ++pass) {  // reading leaves the body as it was
      TagChanges read;
      ASSERT_EQ(c.ok, DecodeTagChanges(c.body, c.filter, read));
      if (c.ok) {
        EXPECT_EQ(c.want, NamesOf(read));
      }
    }
  }
}

// A body read straight from a request's stream: in place when its type
// code lays it out as a ZLTagValueSeq, else through an `any`; the stream is
// left after the body either way (the word after it is read back).
TEST(ReadTagChangesTest, FromTheStream) {
  Orb();
  const TagFilter filter({"B", "T*"});
  CORBA::TypeCode_var impostor = ImpostorChangesType(true);
  struct Case {
    int line;
    CORBA::TypeCode_ptr tc;
    Writer value;
    bool ok;  // false: not taken as tag changes; no value: MARSHAL
    std::vector<std::string> want;
    bool throws = false;
  };
  const Case kCases[] = {
      {__LINE__, ZEMR::_tc_ZLTagValueSeq, Changes({{"A", 1}, {"B", 0}, {"T1", 1}, {"C", 9}}), true,
       {"B", "T1"}},
      {__LINE__, ZEMR::_tc_ZLTagValueSeq, Changes({}), true, {}},
      // Not tag changes: the value is passed over.
      {__LINE__, CORBA::_tc_string, [](cdrStream& s) { PutString(s, "T1 B"); }, false, {}},
      {__LINE__, CORBA::_tc_long, [](cdrStream& s) { CORBA::Long(7) >>= s; }, false, {}},
      {__LINE__, CORBA::_tc_null, [](cdrStream&) {}, false, {}},
      // The look-alike whose names are octets is read through an `any`,
      // which takes them as strings: a NUL inside a name ends it there.
      {__LINE__, impostor.in(), RawNameChanges({Name({"T\0X\0", 4}), Name({"X\0T\0", 4})}, true),
       true, {"T"}},
      // A name without its terminating NUL, or of size 0, in the stream
      // itself: the request cannot be read on.
      {__LINE__, ZEMR::_tc_ZLTagValueSeq, RawNameChanges({Name("TX")}, true), false, {}, true},
      {__LINE__, ZEMR::_tc_ZLTagValueSeq, RawNameChanges({{0, ""}}, true), false, {}, true},
      {__LINE__, ZEMR::_tc_ZLTagValueSeq, RawNameChanges({{1u << 30, "T"}}, true), false, {}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    cdrMemoryStream s;
    CORBA::TypeCode::marshalTypeCode(c.tc, s);
    c.value(s);
    CORBA::ULong(0xC0FFEE) >>= s;  // what follows the body in the request
    s.rewindInputPtr();
    TagChanges read;
    if (c.throws) {
      EXPECT_THROW(ReadTagChanges(s, &filter, read), CORBA::MARSHAL);
      continue;
    }
    ASSERT_EQ(c.ok, ReadTagChanges(s, &filter, read));
    if (c.ok) {
      EXPECT_EQ(c.want, NamesOf(read));
    }
    CORBA::ULong after = 0;
    after <<= s;
    EXPECT_EQ(0xC0FFEEu, after);
  }
}

}  // namespace
}  // namespace zl
