// Opening the results page in the user's browser.
#pragma once

#include <string>

namespace zelvor {

// Asks the desktop to open `address` and waits for the launcher to finish;
// true when it reported success. Blocks the calling thread meanwhile, so it
// belongs to a job, never to the window's thread.
bool openInBrowser(const std::string& address);

}  // namespace zelvor
