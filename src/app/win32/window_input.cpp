#include "app/win32/window_input.hpp"

#include "app/string_ids.hpp"

namespace zelvor {

Command sysCharCommand(WPARAM character) noexcept {
  switch (character) {
    case 'G':
    case 'g':
      return Command::go;
    case 'X':
    case 'x':
      return Command::exit;
    default:
      return Command::none;
  }
}

std::uint32_t hintTextId(Control control) noexcept {
  switch (control) {
    case Control::go:
      return text::goHint;
    case Control::classList:
      return text::listHint;
    case Control::exit:
      return text::exitHint;
    case Control::none:
      break;
  }
  return 0;
}

bool HoverTracker::moveTo(HWND window) noexcept {
  if (window == last_) return false;
  last_ = window;
  return true;
}

}  // namespace zelvor
