#include "app/win32/win32_view.hpp"

namespace zelvor {

// PostMessageA neither waits for the window's thread nor delivers anything
// at once.
Win32View::Win32View(HWND window, View& target, kelvo::Event& stop)
    : QueuedView({.target = target,
                  .wake = [window] { return PostMessageA(window, wakeMessage, 0, 0) != 0; },
                  .isWindowThread =
                      [thread = GetCurrentThreadId()] { return GetCurrentThreadId() == thread; },
                  .quitForJob = [&target](int exitCode) { target.hideAndQuit(exitCode); }},
                 stop) {}

}  // namespace zelvor
