// zl.ZLTagChanges: the record of one tag change handed to
// zl.Callback.tagschanged. Plain members, readable and writable by scripts.
#ifndef ZL_PYTHON_TAG_CHANGES_H_
#define ZL_PYTHON_TAG_CHANGES_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "localdb/event_decoding.h"

namespace zl {
namespace py {

struct TagChangesObject {
  PyObject_HEAD
  PyObject* tag;        // the tag name as a str; None until initialised
  double pve;           // EU value
  double pv;            // PV value (percent of range)
  int tagmode;          // 0 Auto, 1 any other mode (TagMode_Auto, TagMode_Manual)
  unsigned int secs;    // change time: whole seconds since 1970-01-01 UTC
  unsigned int usecs;   // microseconds within that second
};

extern PyTypeObject TagChangesType;

// Readies TagChangesType: 0, or -1 with a Python error set.
int ReadyTagChangesType();

// A new zl.ZLTagChanges of `change`: what calling the type with no
// arguments and then setting each member makes (the type cannot be
// subclassed, so its own new and init are what would run), made directly.
// The tag name is decoded as UTF-8 (bytes that are not UTF-8 become
// U+FFFD). Null with a Python error set when memory runs out. Needs the interpreter
// lock.
PyObject* NewTagChanges(const TagChangeView& change);

}  // namespace py
}  // namespace zl

#endif  // ZL_PYTHON_TAG_CHANGES_H_
