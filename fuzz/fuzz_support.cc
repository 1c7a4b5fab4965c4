#include "fuzz_support.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zl::fuzz {
namespace {

// Takes every formatted record and drops it: the formatting code still runs
// under the sanitizers, the fuzzer's output stays readable and fast.
class DiscardBackend : public ACE_Log_Msg_Backend {
 public:
  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record&) override { return 0; }
};

std::string g_work_dir;  // fixed after Setup

}  // namespace

void Setup() {
  if (!g_work_dir.empty()) return;
  static DiscardBackend backend;
  ACE_Log_Msg::msg_backend(&backend);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
  // Every priority, so that every logging statement formats its record.
  ACE_LOG_MSG->priority_mask(~0ul, ACE_Log_Msg::PROCESS);

  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zl-fuzz-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr || chdir(buf.data()) != 0) {
    std::perror("zl fuzz: cannot make a working directory");
    std::abort();
  }
  g_work_dir = buf.data();
  // The directory goes when the process ends normally.
  std::atexit([] {
    ClearWorkDir();
    rmdir(g_work_dir.c_str());
  });
}

void ClearWorkDir() {
  if (g_work_dir.empty()) return;
  DIR* dir = opendir(g_work_dir.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.push_back(g_work_dir + "/" + e->d_name);
    }
  }
  closedir(dir);
  for (const std::string& n : names) {
    if (unlink(n.c_str()) != 0) rmdir(n.c_str());
  }
}

std::string ConfinedText(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& c : text) {
    if (c == '/') c = '_';
  }
  return text;
}

std::vector<std::string> SplitLines(const std::string& text, size_t max_lines) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size() && lines.size() + 1 < max_lines) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) break;
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace zl::fuzz
