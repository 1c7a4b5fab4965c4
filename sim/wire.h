// Conversions between the simulation core and the ZEMR wire types, and the
// construction of the `any` values the server publishes (server messages and
// tag-change events). Stateless; safe from any thread.
#ifndef ZL_SIM_WIRE_H_
#define ZL_SIM_WIRE_H_

#include <COS/CosNotification.hh>
#include <omniORB4/CORBA.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tag_database.h"
#include "zemr.hh"

namespace zl::sim {

ZEMR::ZLTagType ToWire(TagType type);
ZEMR::ZLModeType ToWire(TagMode mode);
TagMode FromWire(ZEMR::ZLModeType mode);

// Appends one ZLTagValueEvent per change.
void AppendChanges(const std::vector<TagChange>& changes, ZEMR::ZLTagValueSeq* seq);

// Puts a ZLMessage into `any`. A `type` outside ZLMessageType (above 4) is
// encoded by hand with the ZLMessage type code, as a peer with a newer
// enumeration would send it; the stubs' extraction of this IDL refuses it.
void InsertMessage(CORBA::Any* any, uint32_t type, uint32_t secs, uint32_t usecs,
                   const std::string& routine, const std::string& text);

// A structured event of domain "ZEMR", type "ZLTagValueSeq", whose
// remainder_of_body holds `seq`.
CosNotification::StructuredEvent* MakeTagEvent(const ZEMR::ZLTagValueSeq& seq);

// A copy of `event` made through its wire encoding: unlike the copy
// constructor, whose `any` shares the original's marshalled buffer, it
// shares nothing with `event`, so another thread may own it.
std::unique_ptr<CosNotification::StructuredEvent> IndependentCopy(
    const CosNotification::StructuredEvent& event);

// The current wall-clock time as seconds and microseconds since 1970.
void WallClock(uint32_t* secs, uint32_t* usecs);

}  // namespace zl::sim

#endif  // ZL_SIM_WIRE_H_
