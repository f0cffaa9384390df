// The owner of one registered window class, unregistered when the owner
// goes (after every window of the class is gone).
#pragma once

#include <windows.h>

#include <string>

namespace zelvor {

class WindowClass {
 public:
  // Registers `description`. A class that could not be registered (one of
  // that name may already exist) is not an error here: creating the window
  // says whether it can be used.
  explicit WindowClass(const WNDCLASSA& description);
  ~WindowClass();
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

 private:
  std::string name_;
  HINSTANCE module_;
  bool registered_;
};

}  // namespace zelvor
