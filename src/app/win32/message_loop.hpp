// The window's thread's main loop: serves the queue until a quit message,
// and ends on the stop event too.
#pragma once

#include <windows.h>

namespace zelvor {

// Serves the calling thread's queue until it takes a WM_QUIT, and gives that
// message's code. Sleeps until input arrives or `stop` is set; once `stop`
// is set it posts itself a quit with code 0, but serves what is already
// queued first, so a quit posted earlier (the user closing the window posts
// 1) comes out ahead of it. Throws Failure when it cannot wait on `stop`.
int runMessageLoop(HANDLE stop);

}  // namespace zelvor
