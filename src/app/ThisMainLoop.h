// The main loop of the game: it knows the main thread and runs the frame
// step from the message loop.
#pragma once

#include <cstdint>
#include <thread>

class ThisMainLoop {
public:
    // Records the constructing thread as the main thread.
    ThisMainLoop();
    ThisMainLoop(const ThisMainLoop&) = delete;
    ThisMainLoop& operator=(const ThisMainLoop&) = delete;

    bool isMainThread() const { return std::this_thread::get_id() == mainThread; }

    // No worker thread and no events until the loop starts.
    std::uintptr_t workerThread = 0;
    std::thread::id mainThread;
    std::uintptr_t stopEvent = 0;
    std::uintptr_t frameDoneEvent = 0;
    std::uintptr_t startedEvent = 0;
};
