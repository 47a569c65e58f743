#include "foundation/TimerCore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

// Records every raised event as "function:timer" and runs an optional
// action for it, standing in for the script host.
struct Recorder {
    std::vector<std::string> calls;
    std::function<void(TimerItem&, const std::string&)> action;
};
Recorder* gRecorder = nullptr;

void recordRaise(TimerItem& timer, const char* function) {
    gRecorder->calls.push_back(std::string(function) + ":" + timer.name());
    if (gRecorder->action) gRecorder->action(timer, function);
}

class TimerCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        gRecorder = &recorder;
        TimerScriptHooks hooks;
        hooks.raise = &recordRaise;
        setTimerScriptHooks(hooks);
    }
    void TearDown() override {
        setTimerScriptHooks(TimerScriptHooks{});
        gRecorder = nullptr;
    }
    static TimerItem* withEvents(TimerItem* timer) {
        timer->setEvent(kTimerEventAction, "act");
        timer->setEvent(kTimerEventRelease, "rel");
        return timer;
    }
    std::size_t countCalls(const std::string& call) const {
        std::size_t n = 0;
        for (const auto& c : recorder.calls) n += c == call;
        return n;
    }

    testing_support::ScopedGameCore core;
    Recorder recorder;
};

}  // namespace

TEST_F(TimerCoreTest, OneShotFiresOnceInTheFrameItsPeriodElapsesAndIsReleased) {
    TimerCore timers;
    withEvents(timers.create("t", 0.5));
    timers.update(0.2, 0.2);
    timers.update(0.2, 0.2);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(timers.count(), 1);
    timers.update(0.2, 0.2);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"act:t", "rel:t"}));
    EXPECT_EQ(timers.count(), 0);
}

TEST_F(TimerCoreTest, LoopingFiresOncePerWholePeriodOfALongFrame) {
    TimerCore timers;
    TimerItem* t = withEvents(timers.create("loop", 0.1));
    t->setLoop(true);
    timers.update(0.35, 0.35);
    EXPECT_EQ(countCalls("act:loop"), 3u);
    EXPECT_NEAR(t->elapsed(), 0.05, 1e-9);
    EXPECT_EQ(timers.count(), 1);
}

TEST_F(TimerCoreTest, TooShortPeriodIsLoggedAndFiresOnceAtTheNextUpdate) {
    for (double period : {0.0, -3.0, 0.00005, std::nan("")}) {
        recorder.calls.clear();
        TimerCore timers;
        TimerItem* t = withEvents(timers.create("zero", period));
        t->setLoop(true);  // set() before this ran; a later set turns looping off again
        t->set(period);
        EXPECT_FALSE(t->loop());
        timers.update(0.0, 0.0);
        EXPECT_EQ(recorder.calls, (std::vector<std::string>{"act:zero", "rel:zero"})) << period;
        EXPECT_EQ(timers.count(), 0);
    }
    EXPECT_TRUE(core.log().contains("Try to launch infinite timer loop [zero] wrong period = 0.000000"));
}

TEST_F(TimerCoreTest, NamesAreUniqueAndLookupsAreExact) {
    TimerCore timers;
    TimerItem* first = timers.create("t1", 1.0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(timers.create("t1", 2.0), nullptr);
    EXPECT_EQ(timers.createSystem("t1", 2.0), nullptr);
    EXPECT_TRUE(core.log().contains("Cannot create timer [t1]. This identifier already in use"));
    EXPECT_EQ(timers.count(), 1);
    EXPECT_EQ(first->period(), 1.0);
    EXPECT_EQ(timers.get("t1"), first);
    EXPECT_FALSE(timers.test("T1"));
    EXPECT_EQ(timers.get("T1"), nullptr);
    EXPECT_TRUE(core.log().contains(" Cannot find timer [T1]"));
    EXPECT_EQ(timers.find(nullptr), nullptr);
    EXPECT_TRUE(core.log().contains("Can't find timer with NULL name."));
    EXPECT_FALSE(timers.remove("none"));
    EXPECT_TRUE(core.log().contains(" Cannot delete timer [none]. Timer with requested name not found"));
}

TEST_F(TimerCoreTest, EventSlotsAreSetOnceAndNeverEmpty) {
    TimerItem t("t", 1.0, false);
    EXPECT_TRUE(t.setEvent(kTimerEventAction, "first"));
    EXPECT_FALSE(t.setEvent(kTimerEventAction, "second"));
    EXPECT_STREQ(t.getEvent(kTimerEventAction), "first");
    EXPECT_TRUE(core.log().contains("Can't set event TimerItem::[t].onAction = [second]: Already assigned to [first]"));
    EXPECT_FALSE(t.setEvent(kTimerEventRelease, ""));
    EXPECT_FALSE(t.setEvent(kTimerEventRelease, nullptr));
    EXPECT_FALSE(t.setEvent(99, "f"));
    EXPECT_STREQ(t.getEvent(kTimerEventRelease), "");
    EXPECT_STREQ(t.getEvent(-1), "");
}

TEST_F(TimerCoreTest, SystemTimersCountRealTimeWhileGameTimeStands) {
    TimerCore timers;
    withEvents(timers.createSystem("sys", 0.3));
    withEvents(timers.create("game", 0.3));
    for (int i = 0; i < 4; ++i) timers.update(0.0, 0.1);  // the game clock is paused
    EXPECT_EQ(countCalls("act:sys"), 1u);
    EXPECT_EQ(countCalls("act:game"), 0u);
    ASSERT_EQ(timers.count(), 1);
    EXPECT_STREQ(timers.at(0)->name(), "game");
}

TEST_F(TimerCoreTest, HandlersThatEndTheirTimerOrTheListNeverLoopOrTouchFreedTimers) {
    struct Case {
        const char* what;
        std::function<void(TimerCore&, TimerItem&)> handler;
        std::size_t actions;
    };
    const Case cases[] = {
        {"stop", [](TimerCore&, TimerItem& t) { t.stop(); }, 1},
        {"loop off", [](TimerCore&, TimerItem& t) { t.setLoop(false); }, 1},
        {"restart", [](TimerCore&, TimerItem& t) { t.set(0.5); }, 1},
        {"delete all", [](TimerCore& c, TimerItem&) { c.deleteAll(); }, 1},
        {"delete self", [](TimerCore& c, TimerItem& t) { EXPECT_FALSE(c.remove(t.name())); }, 4},
    };
    for (const Case& c : cases) {
        recorder.calls.clear();
        TimerCore timers;
        TimerItem* t = withEvents(timers.create("self", 0.125));
        t->setLoop(true);
        recorder.action = [&](TimerItem& timer, const std::string& function) {
            if (function == "act") c.handler(timers, timer);
        };
        timers.update(0.5, 0.5);
        recorder.action = nullptr;
        EXPECT_EQ(countCalls("act:self"), c.actions) << c.what;
    }
    EXPECT_TRUE(core.log().contains("Timer Core remove_element(): Timer 'self' CAN'T delete inside self event handler [act]"));
}

TEST_F(TimerCoreTest, StoppedOrDeletedTimerGetsReleaseTwiceAndIsGoneNextUpdate) {
    TimerCore timers;
    withEvents(timers.create("a", 5.0));
    withEvents(timers.create("b", 5.0));
    ASSERT_TRUE(timers.remove("a"));
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"rel:a"}));
    EXPECT_EQ(timers.count(), 2);
    timers.update(0.0, 0.0);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"rel:a", "rel:a"}));
    ASSERT_EQ(timers.count(), 1);
    EXPECT_STREQ(timers.at(0)->name(), "b");
}

TEST_F(TimerCoreTest, TimersCreatedByAHandlerWaitForTheNextPass) {
    TimerCore timers;
    withEvents(timers.create("first", 0.1));
    recorder.action = [&](TimerItem& timer, const std::string& function) {
        if (function == "act" && std::string(timer.name()) == "first") withEvents(timers.create("second", 0.1));
    };
    timers.update(0.2, 0.2);
    recorder.action = nullptr;
    EXPECT_EQ(countCalls("act:second"), 0u);
    ASSERT_NE(timers.find("second"), nullptr);
    EXPECT_DOUBLE_EQ(timers.find("second")->elapsed(), 0.0);
    timers.update(0.2, 0.2);
    EXPECT_EQ(countCalls("act:second"), 1u);
}

TEST_F(TimerCoreTest, SaveRoundTripsAndBadRecordsAreRefused) {
    TimerCore timers;
    TimerItem* a = withEvents(timers.create("alpha", 0.75));
    a->setLoop(true);
    timers.createSystem("beta", 2.0);
    timers.update(0.25, 0.5);
    MemoryStream stream;
    const std::int32_t written = timers.write(stream);
    // count + per timer: name, two f64, three flags, 24 u16 lengths, names
    EXPECT_EQ(written, 4 + (2 + 5 + 16 + 3 + 48 + 3 + 3) + (2 + 4 + 16 + 3 + 48));

    TimerCore restored;
    stream.setPosition(0);
    ASSERT_EQ(restored.read(stream), written);
    ASSERT_EQ(restored.count(), 2);
    const TimerItem* ra = restored.find("alpha");
    const TimerItem* rb = restored.find("beta");
    ASSERT_TRUE(ra && rb);
    EXPECT_DOUBLE_EQ(ra->elapsed(), 0.25);
    EXPECT_DOUBLE_EQ(ra->period(), 0.75);
    EXPECT_TRUE(ra->loop());
    EXPECT_FALSE(ra->system());
    EXPECT_STREQ(ra->getEvent(kTimerEventRelease), "rel");
    EXPECT_TRUE(rb->system());
    EXPECT_DOUBLE_EQ(rb->elapsed(), 0.5);
    restored.deleteAll();

    // Truncated at every length: a failure, never an overrun.
    for (std::int32_t cut = 0; cut < written; ++cut) {
        MemoryStream part;
        part.write(stream.data(), cut);
        part.setPosition(0);
        TimerCore t;
        EXPECT_LT(t.read(part), 0) << cut;
        t.deleteAll();
    }

    // A name longer than the field, and a count beyond the data.
    MemoryStream longName;
    writeU32(longName, 1);
    const std::string name(200, 'n');
    writeU16(longName, 200);
    longName.write(name.data(), 200);
    for (int i = 0; i < 16 + 3 + 48; ++i) writeU8(longName, 0);
    longName.setPosition(0);
    TimerCore t1;
    EXPECT_LT(t1.read(longName), 0);
    EXPECT_EQ(t1.count(), 0);

    MemoryStream huge;
    writeU32(huge, 0x7FFFFFFF);
    huge.setPosition(0);
    TimerCore t2;
    EXPECT_LT(t2.read(huge), 0);
}

TEST_F(TimerCoreTest, RecordsThatWouldFireForEverAreRefused) {
    // One stored timer: name "t", elapsed, period, loop, in handler, system,
    // no events.
    auto record = [](MemoryStream& s, double elapsed, double period, bool loop) {
        writeU32(s, 1);
        writeU16(s, 1);
        s.write("t", 1);
        writeF64(s, elapsed);
        writeF64(s, period);
        writeU8(s, loop ? 1 : 0);
        writeU8(s, 0);
        writeU8(s, 0);
        for (int i = 0; i < kTimerEventSlots; ++i) writeU16(s, 0);
        s.setPosition(0);
    };
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double elapsed, period;
        bool loop, accepted;
    };
    const Case cases[] = {
        {0.0, 0.0, true, false},    {0.5, 0.0, false, false},  {0.0, nan, true, false},
        {0.0, 1e-9, true, false},   {inf, 1.0, true, false},   {nan, 1.0, false, false},
        {1e300, 0.001, true, false}, {0.2, 0.5, true, true},   {3.0, 0.5, false, true},
        {0.0, -1.0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.elapsed << " " << c.period << " " << c.loop);
        MemoryStream s;
        record(s, c.elapsed, c.period, c.loop);
        TimerCore timers;
        EXPECT_EQ(timers.read(s) >= 0, c.accepted);
        timers.update(0.1, 0.1);  // returns: nothing loops for ever
        timers.deleteAll();
    }
    EXPECT_TRUE(core.log().contains("Can't read timer [t]"));
}

TEST_F(TimerCoreTest, ReleaseListsTheRemainingTimers) {
    {
        TimerCore timers;
        timers.create("left1", 1.0);
        timers.create("left2", 1.0);
    }
    EXPECT_TRUE(core.log().contains("Found unreleased timers:"));
    EXPECT_TRUE(core.log().contains("\t1: [left2]"));
}
