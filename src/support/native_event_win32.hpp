// The kernel event under a kelvo::Event, for waits on several objects at
// once (MsgWaitForMultipleObjects, WaitForMultipleObjects). Windows only.
#pragma once

#include <windows.h>

#include "support/sync.hpp"

namespace kelvo {

// Borrowed: the event keeps it and closes it when destroyed.
HANDLE nativeHandle(Event& event) noexcept;

}  // namespace kelvo
