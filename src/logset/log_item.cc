#include "logset/log_item.h"

#include <cctype>
#include <cstdlib>

namespace zl {
namespace {

bool NamesTag(const std::string& text) {
  for (unsigned char c : text)
    if (std::isalpha(c) || c == '_') return true;
  return false;
}

}  // namespace

CZelvikTo::CZelvikTo(const std::string& text,
                     std::function<ZEMR::ZelvikDatabase_ptr()> database)
    : name_(NamesTag(text) ? text : std::string()),
      kind_(NamesTag(text) ? kTag : kConstant),
      database_(std::move(database)),
      value_(NamesTag(text) ? 0.0 : std::strtod(text.c_str(), nullptr)) {}

CZelvikTo::~CZelvikTo() = default;

void CZelvikTo::Read(double* value, uint32_t* mode) {
  if (kind_ == kConstant) {
    *value = value_;
    *mode = kItemModeConstant;
    status_ = kOk;
    return;
  }
  *value = 0.0;
  ZEMR::ZelvikDatabase_ptr db = database_ ? database_() : ZEMR::ZelvikDatabase::_nil();
  if (CORBA::is_nil(db)) {
    status_ = kFailed;
    *mode = kItemModeReadFailed;
    return;
  }
  try {
    const double v = db->PVE(name_.c_str());
    CORBA::String_var m = db->TagMode(name_.c_str());
    *value = v;
    *mode = (m.in() != nullptr && m.in()[0] == 'A') ? kItemModeAuto : 0;
    status_ = kOk;
  } catch (const ZEMR::ZLTagNotFound&) {
    *value = 0.0;
    status_ = kNotFound;
    *mode = kItemModeNotFound;
  } catch (...) {
    *value = 0.0;
    status_ = kFailed;
    *mode = kItemModeReadFailed;
  }
}

}  // namespace zl
