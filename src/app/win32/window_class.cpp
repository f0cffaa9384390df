#include "app/win32/window_class.hpp"

namespace zelvor {

WindowClass::WindowClass(const WNDCLASSA& description)
    : name_(description.lpszClassName),
      module_(description.hInstance),
      registered_(RegisterClassA(&description) != 0) {}

WindowClass::~WindowClass() {
  if (registered_) UnregisterClassA(name_.c_str(), module_);
}

}  // namespace zelvor
