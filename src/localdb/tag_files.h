// Tag files: the server's tags saved to a file and restored from one.
#ifndef ZL_LOCALDB_TAG_FILES_H_
#define ZL_LOCALDB_TAG_FILES_H_

#include <omniORB4/CORBA.h>

#include "zemr.hh"

namespace zl {

// Saves the tags of `db` to `path`; 0 with the number of tags in `count`,
// or -1.
inline CORBA::Long SaveTagFile(ZEMR::ZelvikDatabase_ptr db, const char* path, CORBA::ULong& count) {
  count = 0;
  return -1;
}

// Restores the tags in `path` into `db`; 0 with the number restored in
// `count`, or -1.
inline CORBA::Long ReadTagFile(ZEMR::ZelvikDatabase_ptr db, const char* path, CORBA::ULong& count) {
  count = 0;
  return -1;
}

}  // namespace zl

#endif  // ZL_LOCALDB_TAG_FILES_H_
