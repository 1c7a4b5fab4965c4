#include "common/window_table.h"

#include <map>
#include <mutex>

namespace zl {
namespace {

struct Table {
  std::mutex mu;
  std::map<WindowHandle, std::string> windows;  // guarded by mu
  WindowHandle next_window = 0x10;              // guarded by mu
  std::map<std::string, unsigned> messages;     // guarded by mu
};

Table& TheTable() {
  static Table* table = new Table;  // never destroyed: usable during exit
  return *table;
}

}  // namespace

WindowHandle RegisterWindow(const std::string& title) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  const WindowHandle handle = t.next_window++;
  t.windows[handle] = title;
  return handle;
}

void DestroyWindow(WindowHandle window) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  t.windows.erase(window);
}

WindowHandle FindWindowByTitle(const char* title) {
  if (title == nullptr) return kNoWindow;
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  for (const auto& [handle, name] : t.windows) {
    if (name == title) return handle;
  }
  return kNoWindow;
}

bool IsWindow(WindowHandle window) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  return t.windows.count(window) != 0;
}

unsigned RegisterWindowMessage(const char* name) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> lock(t.mu);
  auto [it, added] = t.messages.emplace(name != nullptr ? name : "", 0u);
  if (added) it->second = 0xC000u + static_cast<unsigned>(t.messages.size()) - 1;
  return it->second;
}

}  // namespace zl
