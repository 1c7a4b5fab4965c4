#include "broker/multi_tag.h"

#include <algorithm>

namespace zl {

int CopyMultiTagStatus(const ZEMR::ZLTagStatusPayload& status, int count, double* values,
                       int* types, int* modes) {
  if (count <= 0) return 0;
  const CORBA::ULong n = std::min(status.length(), static_cast<CORBA::ULong>(count));
  for (CORBA::ULong i = 0; i < n; ++i) {
    values[i] = status[i].pve;
    types[i] = static_cast<int>(status[i].ttype);
    modes[i] = static_cast<int>(status[i].mode);
  }
  return static_cast<int>(n);
}

}  // namespace zl
