#include "scenario/label_table.h"

#include <cstring>
#include <mutex>

#include "common/text_utils.h"

namespace zl {

bool LabelOfLine(const char* piece, std::string* label) {
  if (piece[0] != ':') return false;
  *label = ToUpperCopy(std::string(piece, std::strcspn(piece, " \t\n")).c_str());
  return true;
}

void LabelTable::Scan(std::FILE* file) {
  std::unique_lock<std::shared_mutex> lock(mu_);
  positions_.clear();
  if (file == nullptr) return;
  char buf[2048];
  unsigned line = 0;
  while (std::fgets(buf, sizeof buf, file) != nullptr) {
    ++line;
    std::string label;
    if (LabelOfLine(buf, &label)) positions_[label] = Target{std::ftell(file), line};
  }
  std::rewind(file);
}

bool LabelTable::Jump(const char* label, FileCursor cursor) const {
  if (label == nullptr) return false;
  std::shared_lock<std::shared_mutex> lock(mu_);
  const auto it = positions_.find(ToUpperCopy(label));
  if (it == positions_.end() || cursor.file == nullptr) return false;
  std::fseek(cursor.file, it->second.offset, SEEK_SET);
  *cursor.line = it->second.line;
  return true;
}

}  // namespace zl
