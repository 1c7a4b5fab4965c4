// The answer of GetMultiTag copied into the caller's arrays. The server's
// payload may hold any number of elements, whatever was asked: only the
// first `count` are used, and slots it does not answer keep what the caller
// put there.
#ifndef ZL_BROKER_MULTI_TAG_H_
#define ZL_BROKER_MULTI_TAG_H_

#include "zemr.hh"

namespace zl {

// Copies element i of `status` (i below `count` and the payload's length)
// into values[i] (its EU value), types[i] (its ZLTagType ordinal) and
// modes[i] (its ZLModeType ordinal). Gives the number of slots written.
// The arrays hold at least `count` elements.
int CopyMultiTagStatus(const ZEMR::ZLTagStatusPayload& status, int count, double* values,
                       int* types, int* modes);

}  // namespace zl

#endif  // ZL_BROKER_MULTI_TAG_H_
