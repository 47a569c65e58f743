#include "foundation/TimerCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"

namespace {

TimerScriptHooks gHooks;
std::uint32_t gNextTimerId = 1;

// Names of the event slots, for messages.
const char* const kEventNames[kTimerEventSlots] = {
    "onMouseOver", "onMouseOut", "onMouseDown", "onMouseUp", "onMouse1Down", "onMouse1Up",
    "onAction", "onActionOver", "onActionOut", "onActionLayerOver", "onActionLayerOut", "onPickerOver",
    "onPickerOut", "onPlay", "onStop", "onRelease", "onScrollXShow", "onScrollXHide",
    "onScrollYShow", "onScrollYHide", "onScrollXLimitEnter", "onScrollXLimitLeave", "onScrollYLimitEnter",
    "onScrollYLimitLeave"};

constexpr const char* kTypeName = "TimerItem";
// Smallest stored timer record: name length, two f64, three flags and 24
// empty event names.
constexpr std::int32_t kMinTimerRecord = 2 + 8 + 8 + 3 + 2 * kTimerEventSlots;
// Whole periods a stored looping timer may still owe; one update fires them
// all, so a bound keeps a damaged record from stalling the game.
constexpr double kMaxOwedPeriods = 1000.0;

bool validEvent(std::int32_t event) { return event >= 0 && event < kTimerEventSlots; }

void logCallPosition() {
    if (gHooks.logCallPosition) gHooks.logCallPosition();
}

std::int32_t writeText16(DataStream& s, const std::string& text) {
    std::int32_t total = 0;
    const std::size_t n = std::min<std::size_t>(text.size(), 0xFFFF);
    if (!addField(total, writeU16(s, static_cast<std::uint16_t>(n)))) return total;
    if (n) addField(total, s.write(text.data(), static_cast<std::int32_t>(n)));
    return total;
}

std::int32_t readText16(DataStream& s, std::string& text) {
    std::int32_t total = 0;
    std::uint16_t n = 0;
    if (!addField(total, readU16(s, n))) return total;
    text.assign(n, '\0');
    if (n && !addField(total, readExact(s, text.data(), n))) return total;
    text.resize(std::strlen(text.c_str()));
    return total;
}

}  // namespace

void setTimerScriptHooks(const TimerScriptHooks& hooks) { gHooks = hooks; }
const TimerScriptHooks& timerScriptHooks() { return gHooks; }

// ---- TimerItem ----

TimerItem::TimerItem(const char* name, double period, bool system)
    : system_(system), id_(gNextTimerId++), life_(std::make_shared<TimerItem*>(this)) {
    if (!name) {
        engineLog().scriptError("Can't create timer with NULL name!!!");
        name = "ERROR TIMER!!!";
    }
    std::strncpy(name_, name, kNameSize - 1);
    set(period);
}

TimerItem::~TimerItem() { *life_ = nullptr; }

std::weak_ptr<TimerItem*> TimerItem::lifeToken() { return life_; }

void TimerItem::set(double period) {
    armed_ = true;
    elapsed_ = 0.0;
    period_ = period;
    // Written so that NaN is refused too: it would never fire nor end.
    if (!(period >= kTimerMinPeriod)) {
        engineLog().scriptError("Try to launch infinite timer loop [%s] wrong period = %f", name_, period);
        period_ = 1.0;
        loop_ = false;
        elapsed_ = 2.0;
    }
}

void TimerItem::stop() {
    if (!raise(kTimerEventRelease)) return;
    loop_ = false;
    period_ = -1.0;
}

bool TimerItem::setEvent(std::int32_t event, const char* function) {
    const char* eventName = validEvent(event) ? kEventNames[event] : "";
    if (!validEvent(event) || !function || !function[0]) {
        return engineLog().scriptError("Can't set event %s::[%s].%s to [%s]", kTypeName, name_, eventName,
                                       function ? function : "NULL");
    }
    std::string& slot = events_[event];
    if (!slot.empty()) {
        return engineLog().scriptError("Can't set event %s::[%s].%s = [%s]: Already assigned to [%s]", kTypeName,
                                       name_, eventName, function, slot.c_str());
    }
    slot = function;
    return true;
}

const char* TimerItem::getEvent(std::int32_t event) const {
    return validEvent(event) ? events_[event].c_str() : "";
}

bool TimerItem::raise(std::int32_t event) {
    if (!validEvent(event) || events_[event].empty()) return true;
    const bool wasInHandler = inHandler_;
    inHandler_ = true;
    std::weak_ptr<TimerItem*> alive = life_;
    // The handler may rename nothing but may end this timer: keep the name.
    const std::string function = events_[event];
    if (gHooks.raise) gHooks.raise(*this, function.c_str());
    if (alive.expired()) return false;
    if (!wasInHandler) inHandler_ = false;
    return true;
}

bool TimerItem::update(double gameStep, double realStep) {
    if (period_ < 0.0) return true;
    elapsed_ += system_ ? realStep : gameStep;
    if (elapsed_ < period_) return true;
    if (!loop_) return raise(kTimerEventAction);
    while (elapsed_ >= period_) {
        const double elapsed = elapsed_;
        const double period = period_;
        if (!raise(kTimerEventAction)) return false;
        // A handler that stopped the timer, turned looping off or restarted
        // it ends the repeats; a stopped timer would otherwise never leave.
        if (period_ < 0.0 || !loop_ || elapsed_ != elapsed || period_ != period) break;
        elapsed_ -= period_;
    }
    return true;
}

std::int32_t TimerItem::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeText16(stream, name_))) return total;
    if (!addField(total, writeF64(stream, elapsed_))) return total;
    if (!addField(total, writeF64(stream, period_))) return total;
    if (!addField(total, writeU8(stream, loop_ ? 1 : 0))) return total;
    if (!addField(total, writeU8(stream, inHandler_ ? 1 : 0))) return total;
    if (!addField(total, writeU8(stream, system_ ? 1 : 0))) return total;
    for (const std::string& event : events_)
        if (!addField(total, writeText16(stream, event))) return total;
    return total;
}

std::int32_t TimerItem::read(DataStream& stream) {
    std::int32_t total = 0;
    std::string name;
    if (!addField(total, readText16(stream, name))) return total;
    if (name.size() > kNameSize - 1) {
        engineLog().error("Can't read timer [%.127s...]: name longer than %zu characters", name.c_str(),
                          kNameSize - 1);
        return -1;
    }
    std::memset(name_, 0, kNameSize);
    std::memcpy(name_, name.data(), name.size());
    std::uint8_t loop = 0, inHandler = 0, system = 0;
    if (!addField(total, readF64(stream, elapsed_))) return total;
    if (!addField(total, readF64(stream, period_))) return total;
    if (!addField(total, readU8(stream, loop))) return total;
    if (!addField(total, readU8(stream, inHandler))) return total;
    if (!addField(total, readU8(stream, system))) return total;
    loop_ = loop != 0;
    // A running timer needs a period that set() accepts: a looping one of
    // period 0 or NaN would fire for ever in one update.
    const bool stopped = period_ < 0.0;
    if (!std::isfinite(elapsed_) || std::isnan(period_) || (!stopped && period_ < kTimerMinPeriod) ||
        (loop_ && !stopped && elapsed_ > kMaxOwedPeriods * period_)) {
        engineLog().error("Can't read timer [%s]: period %f with elapsed %f is broken", name_, period_, elapsed_);
        return -1;
    }
    // No handler runs while a game loads: a stored "in handler" mark would
    // only make the timer impossible to delete.
    inHandler_ = false;
    system_ = system != 0;
    for (std::string& event : events_)
        if (!addField(total, readText16(stream, event))) return total;
    return total;
}

// ---- TimerCore ----

TimerCore::TimerCore() : life_(std::make_shared<TimerCore*>(this)) {}

TimerCore::~TimerCore() {
    release();
    *life_ = nullptr;
}

std::weak_ptr<TimerCore*> TimerCore::lifeToken() { return life_; }

TimerItem* TimerCore::find(const char* name, std::int32_t* index) const {
    if (!name) {
        engineLog().scriptError("Can't find timer with NULL name.");
        return nullptr;
    }
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        if (std::strcmp(timers_[i]->name(), name) == 0) {
            if (index) *index = static_cast<std::int32_t>(i);
            return timers_[i].get();
        }
    }
    return nullptr;
}

TimerItem* TimerCore::get(const char* name) const {
    TimerItem* timer = find(name);
    if (!timer && name) {
        logCallPosition();
        engineLog().scriptError(" Cannot find timer [%s]", name);
    }
    return timer;
}

TimerItem* TimerCore::add(const char* name, double period, bool system) {
    if (find(name)) {
        logCallPosition();
        engineLog().scriptError("Cannot create timer [%s]. This identifier already in use", name);
        return nullptr;
    }
    timers_.push_back(std::make_unique<TimerItem>(name, period, system));
    return timers_.back().get();
}

TimerItem* TimerCore::create(const char* name, double period) { return add(name, period, false); }

TimerItem* TimerCore::createSystem(const char* name, double period) { return add(name, period, true); }

bool TimerCore::remove(const char* name) {
    TimerItem* timer = find(name);
    if (!timer) {
        logCallPosition();
        return engineLog().scriptError(" Cannot delete timer [%s]. Timer with requested name not found",
                                       name ? name : "NULL");
    }
    if (timer->inHandler()) {
        logCallPosition();
        return engineLog().scriptError(
            "Timer Core remove_element(): Timer '%s' CAN'T delete inside self event handler [%s]", timer->name(),
            timer->getEvent(kTimerEventAction));
    }
    timer->stop();
    return true;
}

bool TimerCore::removeAt(std::size_t index) {
    std::unique_ptr<TimerItem> timer = std::move(timers_[index]);
    timers_[index] = std::move(timers_.back());
    timers_.pop_back();
    if (timer->inHandler()) {
        engineLog().scriptError(
            "Timer Core remove(): Timer '%s' CAN'T delete inside self event handler: \r\n\r\nSCRIPT RECURSION????",
            timer->name());
    }
    std::weak_ptr<TimerCore*> alive = life_;
    timer->raise(kTimerEventRelease);
    return !alive.expired();
}

bool TimerCore::update(const CurrentTime& sample) { return update(sample.game.step, sample.real.step); }

bool TimerCore::update(double gameStep, double realStep) {
    std::weak_ptr<TimerCore*> alive = life_;
    // A timer that a handler makes or restarts during this pass waits for
    // the next one: with a period not longer than the step it would
    // otherwise fire again at once, and a handler that re-arms its timer
    // would never let the frame end.
    for (const std::unique_ptr<TimerItem>& timer : timers_) timer->clearArmed();
    for (std::size_t i = 0; i < timers_.size(); ++i) {
        if (timers_[i]->armed()) continue;
        timers_[i]->update(gameStep, realStep);
        if (alive.expired()) return true;
    }
    for (std::size_t i = 0; i < timers_.size();) {
        TimerItem* timer = timers_[i].get();
        if (!timer->armed() && timer->elapsed() >= timer->period()) {
            if (!removeAt(i)) return true;
        } else {
            ++i;
        }
    }
    return true;
}

void TimerCore::deleteAll() {
    if (debug) engineLog().scriptInfo("Timer Core: All timers DELETED");
    std::vector<std::unique_ptr<TimerItem>> doomed;
    doomed.swap(timers_);
}

void TimerCore::release() {
    if (!timers_.empty()) {
        engineLog().error("Found unreleased timers:");
        for (std::size_t i = 0; i < timers_.size(); ++i)
            engineLog().error("\t%i: [%s]", static_cast<int>(i), timers_[i]->name());
    }
    deleteAll();
    timers_.shrink_to_fit();
}

std::int32_t TimerCore::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(timers_.size())))) return total;
    for (const auto& timer : timers_)
        if (!addField(total, timer->write(stream))) return total;
    return total;
}

std::int32_t TimerCore::read(DataStream& stream) {
    deleteAll();
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream) / kMinTimerRecord)) {
        engineLog().error("Can't read timers: %u records are more than the data holds", count);
        return -1;
    }
    timers_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        auto timer = std::make_unique<TimerItem>("", 1.0, false);
        if (!addField(total, timer->read(stream))) return total;
        timers_.push_back(std::move(timer));
    }
    return total;
}
