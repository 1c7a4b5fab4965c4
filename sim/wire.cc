#include "wire.h"

#include <omniORB4/cdrStream.h>
#include <sys/time.h>

namespace zl::sim {
namespace {

// The fields of a ZLMessage with the type as a plain number.
struct RawMessage {
  CORBA::ULong type;
  CORBA::ULong secs;
  CORBA::ULong usecs;
  const char* routine;
  const char* text;
};

// Writes the CDR of a ZLMessage field by field; an enumerator travels as
// its unsigned 32-bit ordinal, so any number can be written.
void MarshalRawMessage(cdrStream& s, void* data) {
  const RawMessage* m = static_cast<const RawMessage*>(data);
  m->type >>= s;
  m->secs >>= s;
  m->usecs >>= s;
  s.marshalString(m->routine);
  s.marshalString(m->text);
}

}  // namespace

ZEMR::ZLTagType ToWire(TagType type) { return static_cast<ZEMR::ZLTagType>(static_cast<int>(type)); }

ZEMR::ZLModeType ToWire(TagMode mode) { return static_cast<ZEMR::ZLModeType>(static_cast<int>(mode)); }

TagMode FromWire(ZEMR::ZLModeType mode) {
  switch (mode) {
    case ZEMR::Manual: return TagMode::kManual;
    case ZEMR::Auto: return TagMode::kAuto;
    default: return TagMode::kNullMode;
  }
}

void AppendChanges(const std::vector<TagChange>& changes, ZEMR::ZLTagValueSeq* seq) {
  CORBA::ULong n = seq->length();
  seq->length(n + static_cast<CORBA::ULong>(changes.size()));
  for (const TagChange& c : changes) {
    ZEMR::ZLTagValueEvent& e = (*seq)[n++];
    e.timeSecs = c.secs;
    e.timeuS = c.usecs;
    e.tagname = c.name.c_str();
    e.newEUValue = c.eu;
    e.newPVValue = c.pv;
    e.currentMode = ToWire(c.mode);
  }
}

void InsertMessage(CORBA::Any* any, uint32_t type, uint32_t secs, uint32_t usecs,
                   const std::string& routine, const std::string& text) {
  if (type <= static_cast<uint32_t>(ZEMR::DebugMsg)) {
    ZEMR::ZLMessage m;
    m.msgType = static_cast<ZEMR::ZLMessageType>(type);
    m.utime1 = secs;
    m.utime2 = usecs;
    m.sourceRoutine = routine.c_str();
    m.msgText = text.c_str();
    *any <<= m;
    return;
  }
  RawMessage raw{type, secs, usecs, routine.c_str(), text.c_str()};
  // The three-argument form marshals into the any's own buffer at once.
  any->PR_insert(ZEMR::_tc_ZLMessage, MarshalRawMessage, &raw);
}

CosNotification::StructuredEvent* MakeTagEvent(const ZEMR::ZLTagValueSeq& seq) {
  auto* event = new CosNotification::StructuredEvent;
  event->header.fixed_header.event_type.domain_name = "ZEMR";
  event->header.fixed_header.event_type.type_name = "ZLTagValueSeq";
  event->header.fixed_header.event_name = "TagChanges";
  event->remainder_of_body <<= seq;
  return event;
}

std::unique_ptr<CosNotification::StructuredEvent> IndependentCopy(
    const CosNotification::StructuredEvent& event) {
  cdrMemoryStream stream;
  event >>= stream;
  stream.rewindInputPtr();
  auto copy = std::make_unique<CosNotification::StructuredEvent>();
  *copy <<= stream;
  return copy;
}

void WallClock(uint32_t* secs, uint32_t* usecs) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  *secs = static_cast<uint32_t>(now.tv_sec);
  *usecs = static_cast<uint32_t>(now.tv_usec);
}

}  // namespace zl::sim
