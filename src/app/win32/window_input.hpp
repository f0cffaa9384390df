// What the main window makes of the user's keys and mouse: the Alt keys it
// acts on, the hint of each control, and which control the mouse last met.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zelvor {

// The controls whose hints the status bar shows; none is the background.
enum class Control { none, classList, go, exit };

// What a key or a button asks of the program.
enum class Command { none, go, exit };

// Alt with G or X, in either case; any other Alt key asks for nothing (and
// is swallowed, so that Alt+Space opens no system menu either).
Command sysCharCommand(WPARAM character) noexcept;

// The string-table id of the control's hint; 0 for the background, which
// clears the hint.
std::uint32_t hintTextId(Control control) noexcept;

// The window the mouse was last seen over, so that moving within one window
// sets its hint once.
class HoverTracker {
 public:
  // True when `window` is not the one last seen; it is then remembered.
  bool moveTo(HWND window) noexcept;

 private:
  HWND last_ = nullptr;
};

}  // namespace zelvor
