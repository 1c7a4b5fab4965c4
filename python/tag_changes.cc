#include "tag_changes.h"

#include <structmember.h>

#include <cstddef>

namespace zl {
namespace py {
namespace {

PyObject* TagChangesNew(PyTypeObject* type, PyObject*, PyObject*) {
  auto* self = reinterpret_cast<TagChangesObject*>(type->tp_alloc(type, 0));
  if (self == nullptr) return nullptr;
  Py_INCREF(Py_None);
  self->tag = Py_None;  // the numbers are zero from the allocator
  return reinterpret_cast<PyObject*>(self);
}

// Arguments are ignored: the delivery fills the members after creation.
int TagChangesInit(PyObject* object, PyObject*, PyObject*) {
  auto* self = reinterpret_cast<TagChangesObject*>(object);
  PyObject* empty = PyUnicode_FromString("");
  if (empty == nullptr) return -1;
  Py_XSETREF(self->tag, empty);
  return 0;
}

void TagChangesDealloc(PyObject* object) {
  auto* self = reinterpret_cast<TagChangesObject*>(object);
  Py_CLEAR(self->tag);
  Py_TYPE(object)->tp_free(object);
}

PyMemberDef tag_changes_members[] = {
    {"tag", T_OBJECT_EX, offsetof(TagChangesObject, tag), 0, "tag name"},
    {"pve", T_DOUBLE, offsetof(TagChangesObject, pve), 0, "EU Value"},
    {"pv", T_DOUBLE, offsetof(TagChangesObject, pv), 0, "PV Value"},
    {"tagmode", T_INT, offsetof(TagChangesObject, tagmode), 0, "Tag Mode"},
    {"secs", T_UINT, offsetof(TagChangesObject, secs), 0, "Chage time secs"},
    {"usecs", T_UINT, offsetof(TagChangesObject, usecs), 0, "Change time usecs"},
    {nullptr, 0, 0, 0, nullptr},
};

}  // namespace

PyObject* NewTagChanges(const TagChangeView& change) {
  PyObject* tag = PyUnicode_DecodeUTF8(change.tagname,
                                       static_cast<Py_ssize_t>(change.tagname_length), "replace");
  if (tag == nullptr) return nullptr;
  auto* self = reinterpret_cast<TagChangesObject*>(TagChangesType.tp_alloc(&TagChangesType, 0));
  if (self == nullptr) {
    Py_DECREF(tag);
    return nullptr;
  }
  self->tag = tag;
  self->pve = change.newEUValue;
  self->pv = change.newPVValue;
  self->tagmode = change.currentMode == ZEMR::Auto ? 0 : 1;
  self->secs = change.timeSecs;
  self->usecs = change.timeuS;
  return reinterpret_cast<PyObject*>(self);
}

// Filled in by ReadyTagChangesType: value-initialised here, so every slot not set
// there is empty.
PyTypeObject TagChangesType{};

int ReadyTagChangesType() {
  if (PyType_HasFeature(&TagChangesType, Py_TPFLAGS_READY)) return 0;
  Py_SET_REFCNT(&TagChangesType, 1);  // a static type object is never freed
  TagChangesType.tp_name = "zl.ZLTagChanges";
  TagChangesType.tp_doc = "A type that conveys tag values changes from the Zelvik database";
  TagChangesType.tp_basicsize = sizeof(TagChangesObject);
  TagChangesType.tp_flags = Py_TPFLAGS_DEFAULT;
  TagChangesType.tp_new = TagChangesNew;
  TagChangesType.tp_init = TagChangesInit;
  TagChangesType.tp_dealloc = TagChangesDealloc;
  TagChangesType.tp_members = tag_changes_members;
  return PyType_Ready(&TagChangesType);
}

}  // namespace py
}  // namespace zl
