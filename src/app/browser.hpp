// Opening the results page in the user's browser.
#pragma once

#include <string>

namespace zelvor {

// Asks the desktop to open `address` and waits for the launcher to finish;
// true when it reported success, or when it is still busy after a few
// seconds (it then runs the browser itself). Blocks the calling thread meanwhile, so it
// belongs to a job, never to the window's thread.
bool openInBrowser(const std::string& address);

}  // namespace zelvor
