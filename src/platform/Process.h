// Starting outside programs, and the calling thread's priority.
#pragma once

namespace platform {

// Opens an address (a web page, a file) with the desktop's handler
// ("xdg-open"), started without a shell and not waited for. False when the
// program could not be started.
bool openWebPage(const char* address);

// Asks the host for the highest priority for the calling thread (a real-time
// class where permitted, else the lowest nice value granted). False when the
// host grants nothing; the thread runs on at its priority.
bool raiseCurrentThreadPriority();

}  // namespace platform
