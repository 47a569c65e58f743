// Named timers that call script functions.
//
// A TimerCore is a list of TimerItems in creation order, each with a unique
// name, a period, the time counted so far and the script functions of its
// events ("onAction" when a period elapses, "onRelease" when it ends). A
// timer counts game time, or real time when it is a system timer. The game
// has one global TimerCore (GameCore's timers holder); every scene has its
// own. Events run synchronously inside TimerCore::update; handlers may
// create timers (updated in the same pass) but cannot remove the timer whose
// handler runs. The script host installs the hooks that call Lua.
// Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DataStream;
struct CurrentTime;

// Positions of a timer's events in the stored event table (the script event
// kinds; fixed, they appear in save games).
constexpr std::int32_t kTimerEventSlots = 24;
constexpr std::int32_t kTimerEventAction = 6;    // "onAction"
constexpr std::int32_t kTimerEventRelease = 15;  // "onRelease"
// The shortest period a timer may have, in seconds.
constexpr double kTimerMinPeriod = 0.0001;

class TimerItem;

// What the script host lends the timers.
struct TimerScriptHooks {
    // Calls the script function for a timer's event, the timer as argument.
    void (*raise)(TimerItem& timer, const char* function) = nullptr;
    // Logs the position of the running script call.
    void (*logCallPosition)() = nullptr;
};
void setTimerScriptHooks(const TimerScriptHooks& hooks);
const TimerScriptHooks& timerScriptHooks();

class TimerItem {
public:
    static constexpr std::size_t kNameSize = 128;

    // A null name is logged and becomes "ERROR TIMER!!!"; the name is cut at
    // 127 characters. The period goes through set().
    TimerItem(const char* name, double period, bool system);
    ~TimerItem();
    TimerItem(const TimerItem&) = delete;
    TimerItem& operator=(const TimerItem&) = delete;

    const char* name() const { return name_; }
    double elapsed() const { return elapsed_; }
    double period() const { return period_; }
    bool loop() const { return loop_; }
    void setLoop(bool on) { loop_ = on; }
    bool inHandler() const { return inHandler_; }
    bool system() const { return system_; }
    // Unique among the timers alive (never reused within a run).
    std::uint32_t id() const { return id_; }

    // Restarts: elapsed 0 and the new period. A period below 0.0001 s is
    // logged and makes the timer fire once at its next update, then end.
    // Marks the timer as armed: its core's pass under way leaves it alone.
    void set(double period);
    bool armed() const { return armed_; }
    void clearArmed() { armed_ = false; }
    // Raises "onRelease" and ends the timer; its core removes it next update.
    void stop();
    // Stores the function of an event slot; a slot already set is kept.
    bool setEvent(std::int32_t event, const char* function);
    // The function of an event slot, "" when none.
    const char* getEvent(std::int32_t event) const;

    // Advances by the step of its clock and raises "onAction" for every
    // whole period. False when a handler destroyed the timer.
    bool update(double gameStep, double realStep);
    // Raises an event; false when a handler destroyed the timer.
    bool raise(std::int32_t event);

    // The stored record; reading a name longer than 127 characters fails.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    // Weak reference for script objects: expires when the timer is destroyed.
    std::weak_ptr<TimerItem*> lifeToken();

private:
    char name_[kNameSize] = {};
    double elapsed_ = 0.0;
    double period_ = 0.0;
    bool loop_ = false;
    bool inHandler_ = false;
    bool system_ = false;
    // Made or restarted since its core's last pass began.
    bool armed_ = false;
    std::string events_[kTimerEventSlots];
    std::uint32_t id_ = 0;
    std::shared_ptr<TimerItem*> life_;
};

class TimerCore {
public:
    TimerCore();
    // Lists the timers still present, then deletes them.
    ~TimerCore();
    TimerCore(const TimerCore&) = delete;
    TimerCore& operator=(const TimerCore&) = delete;

    // A new timer, or null when the name is in use.
    TimerItem* create(const char* name, double period);
    TimerItem* createSystem(const char* name, double period);
    // Exact, case-sensitive lookup; index receives its position when given.
    TimerItem* find(const char* name, std::int32_t* index = nullptr) const;
    // As find, with a message when missing.
    TimerItem* get(const char* name) const;
    bool test(const char* name) const { return name && find(name); }
    std::int32_t count() const { return static_cast<std::int32_t>(timers_.size()); }
    TimerItem* at(std::int32_t index) const { return timers_[static_cast<std::size_t>(index)].get(); }
    // Stops the timer (the script's "delete"); refused inside its own handler.
    bool remove(const char* name);

    // Once a frame: updates every timer, then removes those that ended.
    bool update(const CurrentTime& sample);
    bool update(double gameStep, double realStep);

    // Destroys every timer without events.
    void deleteAll();
    // Lists the remaining timers in the error log, then deletes them.
    void release();

    // The timers of a scene save: bytes, or the first negative result.
    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    bool debug = false;

    std::weak_ptr<TimerCore*> lifeToken();

private:
    TimerItem* add(const char* name, double period, bool system);
    // Takes the timer out of the list, raises "onRelease" and destroys it.
    // False when a handler destroyed the core.
    bool removeAt(std::size_t index);

    std::vector<std::unique_ptr<TimerItem>> timers_;
    std::shared_ptr<TimerCore*> life_;
};

// The game's global timer list, a member of the game-core record.
class TimerCoreHolder {
public:
    std::unique_ptr<TimerCore> core = std::make_unique<TimerCore>();
};
