// Fuzz target: what any supplier on the server's channels can send. The
// input's first byte chooses
//   bit 0     a message event (0) or the body of a tag-change event (1);
//   bits 1-2  the type code the value comes with: the one the client
//             expects (0), the other channel's (1), an impostor with the
//             expected repository id but one unsigned long member (2), a
//             string (3).
// The rest is the value, as a supplier encodes it. The `any` is made as the
// ORB makes it from a request (what the ORB itself refuses ends the input);
// then the client decodes it: a message is formatted and queued as the
// listener does, tag changes are read from the `any`. Tag changes are also
// read as the callback consumer reads a request: the type code and the
// value's bytes straight from the stream, which no one has checked before,
// with a filter. A value that is refused must leave nothing allocated (the
// leak checker runs after every input).
//
// The type code itself is not taken from the input: reading one is the
// ORB's work, done first by the event service, which refuses a malformed
// one before it could reach the client.
#include <omniORB4/CORBA.h>
#include <omniORB4/cdrStream.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "localdb/event_decoding.h"
#include "localdb/message_queues.h"
#include "localdb/tag_filter.h"
#include "support/in_process_server.h"

namespace {

// A struct type code with `id` and a single unsigned long member.
CORBA::TypeCode_ptr Impostor(const char* id) {
  CORBA::StructMemberSeq members;
  members.length(1);
  members[0].name = "value";
  members[0].type = CORBA::TypeCode::_duplicate(CORBA::_tc_ulong);
  const char* argv[] = {"zl-fuzz"};
  int argc = 1;
  CORBA::ORB_var orb = CORBA::ORB_init(argc, const_cast<char**>(argv), "omniORB4");  // the one made already
  return orb->create_struct_tc(id, "Impostor", members);
}

CORBA::TypeCode_ptr TypeFor(uint8_t mode) {
  static CORBA::TypeCode_ptr const kMessageImpostor = Impostor("IDL:ZEMR/ZLMessage:1.0");
  static CORBA::TypeCode_ptr const kChangesImpostor = Impostor("IDL:ZEMR/ZLTagValueSeq:1.0");
  const bool changes = (mode & 1) != 0;
  switch ((mode >> 1) & 3) {
    case 0: return changes ? ZEMR::_tc_ZLTagValueSeq : ZEMR::_tc_ZLMessage;
    case 1: return changes ? ZEMR::_tc_ZLMessage : ZEMR::_tc_ZLTagValueSeq;
    case 2: return changes ? kChangesImpostor : kMessageImpostor;
    default: return CORBA::_tc_string;
  }
}

// The `any` the ORB would make from a request that holds `data` behind the
// type code `type`, or false when it refuses it.
bool MakeAny(const uint8_t* data, size_t size, CORBA::TypeCode_ptr type, CORBA::Any* any) {
  try {
    cdrMemoryStream s;
    CORBA::TypeCode::marshalTypeCode(type, s);
    s.put_octet_array(data, static_cast<int>(size));
    s.rewindInputPtr();
    *any <<= s;
    return true;
  } catch (const CORBA::SystemException&) {
    return false;
  }
}

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// Reads the body as the consumer reads a request's: what it keeps must be
// chosen, whole and within its storage; anything else is refused by an
// exception the ORB would turn into the request's failure.
void ReadAsTheConsumerDoes(const uint8_t* data, size_t size, CORBA::TypeCode_ptr type) {
  static const zl::TagFilter kFilter({"T*", "a?"});
  cdrMemoryStream s;
  CORBA::TypeCode::marshalTypeCode(type, s);
  s.put_octet_array(data, static_cast<int>(size));
  s.rewindInputPtr();
  zl::TagChanges read;
  try {
    if (!zl::ReadTagChanges(s, &kFilter, read)) return;
  } catch (const CORBA::SystemException&) {
    return;
  }
  for (const zl::TagChangeView& v : read.changes) {
    const char* begin = read.names.data();
    if (v.tagname < begin || v.tagname + v.tagname_length >= begin + read.names.size()) {
      Fail("a kept name outside its storage");
    }
    if (std::strlen(v.tagname) != v.tagname_length) Fail("a kept name of the wrong length");
    if (!kFilter.Matches({v.tagname, v.tagname_length})) Fail("a change the filter does not choose");
    if (v.currentMode > ZEMR::NullMode) Fail("a mode outside the enumeration");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zl::fuzz::Setup();
  zl::testing::InProcessServer::Instance();  // the ORB: code sets, type codes
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const bool tag_changes = (mode & 1) != 0;
  if (tag_changes) ReadAsTheConsumerDoes(data + 1, size - 1, TypeFor(mode));
  CORBA::Any any;
  if (!MakeAny(data + 1, size - 1, TypeFor(mode), &any)) return 0;
  if (!tag_changes) {
    zl::ServerMessage m;
    if (!zl::DecodeServerMessage(any, m)) return 0;
    if (m.fields.sourceRoutine.in() == nullptr || m.fields.msgText.in() == nullptr) {
      Fail("a decoded message without its texts");
    }
    const std::string text = zl::FormatServerMessage(m.fields);
    if (text.find(m.fields.msgText.in()) == std::string::npos) Fail("the message text was cut");
    zl::MessageQueues queues;
    queues.Offer(m.type, text);
    if (queues.TakeNext(0) != text) Fail("the queued text differs");
    return 0;
  }
  std::vector<ZEMR::ZLTagValueEvent> changes;
  if (!zl::DecodeTagChanges(any, changes)) return 0;
  for (const ZEMR::ZLTagValueEvent& e : changes) {
    if (e.tagname.in() == nullptr) Fail("a decoded change without its tag name");
    if (e.currentMode > ZEMR::NullMode) Fail("a mode outside the enumeration");
    (void)std::strlen(e.tagname.in());
  }
  return 0;
}
