// One logged item of a log set: a tag of the server database, or a constant.
//
// Owned by its log set and used only under the log set's lock.
#ifndef ZL_LOGSET_LOG_ITEM_H_
#define ZL_LOGSET_LOG_ITEM_H_

#include <cstdint>
#include <functional>
#include <string>

#include "zemr.hh"

namespace zl {

// Item modes written in "_TA_" records.
constexpr uint32_t kItemModeAuto = 1;
constexpr uint32_t kItemModeConstant = 0x10000;
constexpr uint32_t kItemModeNotFound = 0x80000000u;
constexpr uint32_t kItemModeReadFailed = 0x40000000u;

class CZelvikTo {
 public:
  enum Kind : int32_t { kTag = 0, kConstant = 1 };
  enum Status : int32_t { kOk = 0, kNotFound = 2, kFailed = -1 };

  // Made from `text`: a tag named by the whole text when it holds a letter or
  // an underscore, otherwise a constant whose value is the text read as a
  // decimal number. `database` gives the server database to read tags from
  // (nil while detached).
  CZelvikTo(const std::string& text, std::function<ZEMR::ZelvikDatabase_ptr()> database);
  virtual ~CZelvikTo();

  // Reads the item's current value and mode (see kItemMode*); a tag that is
  // not found gives 0 and kItemModeNotFound, any other failure 0 and
  // kItemModeReadFailed. Sets status.
  void Read(double* value, uint32_t* mode);

  const std::string& name() const { return name_; }
  int32_t kind() const { return kind_; }
  int32_t status() const { return status_; }

  // What was last written for this item, and whether it ever was.
  double last_value = 0.0;
  uint32_t last_mode = 0;
  bool written = false;

 private:
  const std::string name_;  // empty for a constant
  const int32_t kind_;
  const std::function<ZEMR::ZelvikDatabase_ptr()> database_;
  const double value_;  // the constant's value
  int32_t status_ = kOk;
};

}  // namespace zl

#endif  // ZL_LOGSET_LOG_ITEM_H_
