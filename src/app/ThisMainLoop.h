// The main loop of the game: the message loop that runs until the run state
// of the game core leaves the negative range, and the frame step, which
// fixes the order in which the subsystems advance and draw within a frame.
//
// The loop has no worker thread and no events (their handles stay 0); the
// operations on them act only on handles that exist. Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

class IniFile;

// The steps of one frame, in their order (fixed values).
enum class FrameStep : std::int32_t {
    Settings = 1,     // the setup file's pending save or reload
    Clocks,           // TimeCore::step
    TimeSample,       // the frame's CurrentTime
    Input,
    Timers,           // the named timers fire their script events
    SceneTimers,
    Sound,            // the listener and the global sounds
    StillFrames,
    WaypointRefresh,  // models linked to waypoints
    SceneUpdate,
    Simulation,       // once per fixed sub-step
    RenderResources,
    Drawing,
    Quests,
};

class MainLoop {
public:
    virtual ~MainLoop() = default;
    virtual bool begin() = 0;
    virtual void step() = 0;
    virtual void preStep() = 0;
    virtual void releaseRenderData() = 0;

    // Signals the stop event and waits for the worker (at most 250 ms), then
    // closes the events; nothing when they do not exist.
    void stopThread();

    std::uintptr_t workerThread = 0;
    std::thread::id mainThread;
    std::uintptr_t stopEvent = 0;
    std::uintptr_t frameDoneEvent = 0;
    std::uintptr_t startedEvent = 0;
};

class ThisMainLoop final : public MainLoop {
public:
    // Records the constructing thread as the main thread.
    ThisMainLoop();
    ThisMainLoop(const ThisMainLoop&) = delete;
    ThisMainLoop& operator=(const ThisMainLoop&) = delete;

    bool isMainThread() const { return std::this_thread::get_id() == mainThread; }

    bool begin() override { return true; }
    // One frame: every step of FrameStep in order.
    void step() override;
    void preStep() override {}
    // Releases the render device data and the device, when there is one.
    void releaseRenderData() override;

    // Called at every step (the simulation once per sub-step, with its
    // index; the drawing with 0 when nothing was drawn, 1 when drawn, 2 when
    // drawn and presented). For diagnostics and tests; empty by default.
    std::function<void(FrameStep, std::int32_t)> trace;
};

// Runs window messages, frames and the queued script events until the run
// state is 0 or more; a stop signal that ends the game (below) sets it to
// kRunStateStopSignal.
void messageLoop(ThisMainLoop& loop);

// The time between two presentations that the active video record's vSync
// asks for, in seconds: 0 for "None" (presented at once), else one to four
// refresh periods of the display ("Default" and "one" are one). The message
// loop keeps its frames that far apart, sleeping until each is due, whether
// or not the device's present waits for the display (a virtual X display's
// does not), so a game costs no more than its frames at the display's rate.
double presentationInterval();

// Keeps the message loop's frames an interval apart on a steady schedule.
// A frame that comes before its time waits for it, however little early it
// is. A frame that comes late by less than an interval is taken at once and
// the schedule kept, so that the late frames are made up by the next ones;
// one later than that starts the schedule anew instead of rushing the next
// ones.
class FramePacer {
public:
    using Clock = std::chrono::steady_clock;
    // The time to wait until before the next frame (now: no wait), and the
    // schedule moved on; an interval of 0 or less never waits.
    Clock::time_point schedule(Clock::time_point now, double interval);
    void wait(double interval);

private:
    bool started_ = false;
    Clock::time_point next_;
};

// The run state of a game ended by the stop signals.
constexpr std::int32_t kRunStateStopSignal = 3;
// True when SIGTERM or SIGINT asks for the end of the game: a second one, or
// the first while the script cannot take it as a window close yet (before
// the message loop runs). The first true answer logs it. The game then ends
// through its release.
bool stopSignalEndsGame();

// Reads "min_simulation_fps" of section "game" (created when missing):
// 20 without a value, at least 1.
void readSimulationSettings(IniFile& settings);
float minSimulationFps();
void setMinSimulationFps(float fps);

// Per-mode tables, indexed by the camera-mode index (the game state, or 11
// while a camera stack plays). The waypoint-model refresh runs in states 0
// to 23 except 6 and 18.
bool refreshesWaypointModels(std::int32_t modeIndex);
bool skipsDrawingWithoutScene(std::int32_t modeIndex);
