// The Linux browser launch with the launcher's wait given, so that tests can
// shorten it.
#pragma once

#include <cstdint>
#include <string>

namespace zelvor {

// Without a desktop to hand the address to, xdg-open runs a browser itself
// and returns only when that browser closes. A launcher still running after
// this long has launched: the page is open, and the job must not wait on.
inline constexpr std::uint32_t launcherWaitMs = 5000;

// openInBrowser with `waitMs` in place of launcherWaitMs.
bool openInBrowserWaiting(const std::string& address, std::uint32_t waitMs);

}  // namespace zelvor
