#include "foundation/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "foundation/AppPaths.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;
using testing_support::TempDir;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        core.paths().setPath(PathAppData, dir.path());
        core.paths().setPath(PathExeName, "run");
        core.paths().setPath(PathGameName, "game");
    }
    std::string logPath() const { return dir.file("Games/game/log/run.log"); }
    std::string text() const { return testing_support::readFile(logPath()); }

    ScopedGameCore core{true};
    TempDir dir;
};

TEST_F(LogTest, CollectsBeforeOutputThenWritesHeaderAndLines) {
    Log& log = core.log();
    log.info("early %d", 1);
    EXPECT_FALSE(testing_support::exists(logPath()));
    log.setOutput(true);
    const std::string t = text();
    ASSERT_EQ(t.rfind("Source from [", 0), 0u);
    EXPECT_NE(t.find("]\r\n\r\n\r\n"), std::string::npos);
    EXPECT_NE(t.find("  Info     | early 1\r\n"), std::string::npos);
}

TEST_F(LogTest, PathsAreShownAsTheHostNamesThem) {
    // The engine keeps its paths lower-cased and joined with '\': the log
    // shows the path a user can open.
    ASSERT_TRUE(testing_support::makeFolders(dir.file("User Data")));
    core.paths().setPath(PathAppData, dir.file("User Data"));
    core.log().setOutput(true);
    core.log().message("first line");
    const std::string shown = dir.file("User Data/Games/game/log/run.log");
    const std::string t = testing_support::readFile(shown);
    EXPECT_EQ(t.rfind("Source from [" + shown + "]\r\n", 0), 0u) << t.substr(0, 200);
    // A missing tail keeps the engine's names; an empty path stays empty.
    EXPECT_EQ(::logPath(core.paths().get(PathUserFolder) + "\\save\\a.sav"),
              dir.file("User Data/Games/game/save/a.sav"));
    EXPECT_EQ(::logPath(""), "");
}

TEST_F(LogTest, LevelsAndChannelsShareTheOneFile) {
    Log& log = core.log();
    log.setOutput(true);
    struct Case {
        std::function<void()> write;
        const char* expected;
    } cases[] = {
        {[&] { log.message("m"); }, " Info     | m\r\n"},
        {[&] { log.warning("w"); }, " Warning  | w\r\n"},
        {[&] { EXPECT_FALSE(log.systemError("s")); }, " SysError | s\r\n"},
        {[&] { EXPECT_FALSE(log.resourceError("r")); }, " SysError | r\r\n"},
        {[&] { EXPECT_FALSE(log.error("e %s", "x")); }, " Error    | e x\r\n"},
        {[&] { EXPECT_FALSE(log.questError("q")); }, " Error    | q\r\n"},
        {[&] { EXPECT_FALSE(log.dialogInfo("d")); }, " Info     | d\r\n"},
        {[&] { EXPECT_FALSE(log.scriptPrint("p")); }, " Info     | p\r\n"},
        {[&] { log.message("%s", ""); }, " Info     | INVALID MESSAGE (EXCEPTION)\r\n"},
    };
    std::size_t last = 0;
    for (const auto& c : cases) {
        c.write();
        // Written at once, and in the order added.
        const std::string t = text();
        const std::size_t at = t.find(c.expected, last);
        ASSERT_NE(at, std::string::npos) << c.expected;
        EXPECT_EQ(t[at - 1], ' ');  // two blanks between the 19-character time stamp and the level
        EXPECT_EQ(t[at - 21], '\n');
        last = at;
    }
    const auto records = log.records();
    EXPECT_EQ(records.back().hasText, false);
    EXPECT_EQ(records[4].channel, LogErrors);
}

TEST_F(LogTest, ReplacesThePreviousRunsFileAndAppendsAfterClosing) {
    testing_support::writeFile(logPath(), "old run\n");
    Log& log = core.log();
    log.setOutput(true);
    log.info("first");
    log.closeFiles();
    log.info("late");
    const std::string t = text();
    EXPECT_EQ(t.find("old run"), std::string::npos);
    EXPECT_EQ(t.rfind("Source from ["), 0u);
    EXPECT_LT(t.find("first"), t.find("late"));
}

TEST_F(LogTest, CutsLongMessagesToItsBuffer) {
    Log& log = core.log();
    log.setOutput(true);
    const std::string huge(50000, 'h');
    log.error("%s", huge.c_str());
    const auto records = log.records();
    EXPECT_EQ(records.back().text.size(), Log::kBufferSize - 1);
    const std::string t = text();
    EXPECT_LT(t.size(), Log::kBufferSize + 200);
    // The cut line still ends the record with CR LF.
    const std::size_t start = t.rfind("\r\n", t.size() - 3) + 2;
    EXPECT_EQ(t.size() - start, Log::kBufferSize - 1);
    EXPECT_EQ(t.substr(t.size() - 3), "h\r\n");
}

TEST_F(LogTest, TwoThreadsLoseNoRecord) {
    Log& log = core.log();
    log.setOutput(true);
    auto writer = [&](const char* who) {
        for (int i = 0; i < 500; ++i) log.info("%s %d", who, i);
    };
    std::thread a(writer, "main"), b(writer, "sound");
    a.join();
    b.join();
    EXPECT_EQ(log.recordCount(), 1000u);
    const std::string t = text();
    EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 1000 + 3);
}

TEST_F(LogTest, CrashReportWritesAroundALockHeldElsewhere) {
    Log& log = core.log();
    log.setOutput(true);
    log.info("before");
    std::atomic<bool> held{false}, done{false};
    std::thread holder([&] {
        std::lock_guard lock(log.mutex());
        held = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!held) std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    log.beginCrashReport(20);
    log.systemError("report %d", 1);
    log.flush();
    log.endCrashReport();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // Written at the end of the file, never added to the half-changed list.
    const std::string t = text();
    EXPECT_NE(t.find(" SysError | report 1\r\n"), std::string::npos) << t;
    EXPECT_LT(t.find("before"), t.find("report 1"));
    done = true;
    holder.join();
    EXPECT_FALSE(log.contains("report 1"));
    log.info("after");
    EXPECT_TRUE(log.contains("after"));
    EXPECT_NE(text().find("| after\r\n"), std::string::npos);
}

TEST_F(LogTest, CrashReportHoldsAFreeLockUntilItEnds) {
    Log& log = core.log();
    log.setOutput(true);
    log.beginCrashReport(20);
    log.systemError("report");
    bool otherGotIt = true;
    std::thread([&] {
        otherGotIt = log.mutex().try_lock();
        if (otherGotIt) log.mutex().unlock();
    }).join();
    EXPECT_FALSE(otherGotIt);
    log.endCrashReport();
    EXPECT_TRUE(log.contains("report"));
    EXPECT_NE(text().find(" SysError | report\r\n"), std::string::npos);
    std::thread([&] {
        otherGotIt = log.mutex().try_lock();
        if (otherGotIt) log.mutex().unlock();
    }).join();
    EXPECT_TRUE(otherGotIt);
}

TEST(Log, WithoutAFolderKeepsRecordsInMemory) {
    ScopedGameCore core;  // no paths: no file
    core.log().setOutput(true);
    core.log().info("kept");
    EXPECT_TRUE(core.log().contains("kept"));
    EXPECT_EQ(core.log().filePath(), "");
}

}  // namespace
