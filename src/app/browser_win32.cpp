// The browser through the shell's "open" verb, which hands an http address
// to whatever the user chose as default browser.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "app/browser.hpp"

namespace zelvor {

// ShellExecuteA answers with a pseudo-handle whose value above 32 means the
// launch went through; 32 and below are its error codes.
bool openInBrowser(const std::string& address) {
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<std::intptr_t>(result) > 32;
}

}  // namespace zelvor
