// Starting outside programs, the calling thread's priority, and the heap's
// thresholds.
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

// Fixes the heap's thresholds for the rest of the process: a block of 1 MiB
// or more is mapped on its own and given back when freed, and more than
// 2 MiB free at the heap's top goes back to the host. Left to itself the
// allocator raises its mapping threshold to the largest mapped block freed
// so far; a driver that allocates and frees blocks of a few MiB each frame
// (a software rasteriser giving a dynamic vertex buffer a new store at each
// discard) then takes them from the heap, which grows without bound.
void fixHeapThresholds();

// Gives the heap's free pages back to the host, wherever they lie: loads and
// the GL driver's shader compiles free blocks between ones still in use,
// whose pages the heap's top trimming never reaches.
void returnFreeHeapPages();

}  // namespace platform
