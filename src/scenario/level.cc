#include "scenario/level.h"

#include "common/file_checksum.h"
#include "scenario/tokenizer.h"

namespace zl {

void Level::Open(std::FILE* file, std::string name, std::string shown_name, std::string call_site) {
  Close();
  file_ = file;
  name_ = std::move(name);
  shown_name_ = std::move(shown_name);
  call_site_ = std::move(call_site);
  file_line_ = 0;
  labels_.Scan(file_);
  computed_checksum_ = FileChecksum(file_, 0);
  stored_checksum_.clear();
}

void Level::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool Level::ReadLine(char* buf, int size) {
  // The read that meets the end of the file is not a line: the count keeps
  // the number of the last line read, also while a final timed block runs.
  if (file_ == nullptr || std::fgets(buf, size, file_) == nullptr) return false;
  ++lines_read_;
  ++file_line_;
  return true;
}

void Level::SetArguments(const char* options, bool top_level) {
  SplitArguments(options, top_level, &arguments_);
}

}  // namespace zl
