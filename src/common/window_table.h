// The library's stand-in for the desktop window system: a process-local table
// of top-level window titles and registered window-message ids.
//
// Scenarios post to a companion application's window that the host names by
// title ("ToolbookHWND"). There is no window system here: the table is empty
// unless the host (or a test) registers a window. Thread-safe.
#ifndef ZL_COMMON_WINDOW_TABLE_H_
#define ZL_COMMON_WINDOW_TABLE_H_

#include <cstdint>
#include <string>

namespace zl {

using WindowHandle = std::uintptr_t;  // 0 is the null handle
constexpr WindowHandle kNoWindow = 0;

// Adds a top-level window with this title; gives its handle (never 0).
WindowHandle RegisterWindow(const std::string& title);
// Removes a window; its handle stops being a window.
void DestroyWindow(WindowHandle window);
// The window whose title is exactly `title`; kNoWindow when none has it.
WindowHandle FindWindowByTitle(const char* title);
// Whether `window` names a registered window.
bool IsWindow(WindowHandle window);
// A message id unique to `name` for the life of the process; the same name
// always gives the same id (ids start at 0xC000, as the desktop's do).
unsigned RegisterWindowMessage(const char* name);

}  // namespace zl

#endif  // ZL_COMMON_WINDOW_TABLE_H_
