#include "foundation/CrashGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Reported {
    std::string title;
    std::string text;
    bool hasText;
};
std::vector<Reported> g_reports;

void recordReport(const char* title, const char* text) {
    g_reports.push_back({title ? title : "", text ? text : "", text != nullptr});
}

class CrashGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_reports.clear();
        setCrashGuardReporter(recordReport);
    }
    void TearDown() override { setCrashGuardReporter(nullptr); }
};

TEST_F(CrashGuardTest, InnermostTitleOfTheCallingThreadOnly) {
    EXPECT_EQ(currentCrashGuardTitle(), nullptr);
    {
        CrashGuard outer(kGuardMainLoop);
        EXPECT_STREQ(currentCrashGuardTitle(), "Exception at main loop");
        {
            CrashGuard inner(kGuardLoadScene);
            EXPECT_STREQ(currentCrashGuardTitle(), "Exception at load scene");
            const char* other = "unset";
            std::thread([&] { other = currentCrashGuardTitle(); }).join();
            EXPECT_EQ(other, nullptr);
        }
        EXPECT_STREQ(currentCrashGuardTitle(), "Exception at main loop");
    }
    EXPECT_EQ(currentCrashGuardTitle(), nullptr);
    EXPECT_TRUE(g_reports.empty());
}

TEST_F(CrashGuardTest, ExceptionLeavingAGuardIsReportedOnceWithItsTitle) {
    // Through runGuarded: with the exception's text, and passed on.
    EXPECT_THROW(runGuarded(kGuardGameInitialize, []() -> int { throw std::runtime_error("bad data"); }),
                 std::runtime_error);
    ASSERT_EQ(g_reports.size(), 1u);
    EXPECT_EQ(g_reports[0].title, "Exception at game initialize");
    EXPECT_EQ(g_reports[0].text, "bad data");

    // A plain scope: the innermost guard reports, without a text.
    g_reports.clear();
    try {
        CrashGuard outer(kGuardMainLoop);
        CrashGuard inner(kGuardGameState);
        throw 7;
    } catch (int) {
    }
    ASSERT_EQ(g_reports.size(), 2u);  // each guard the exception leaves
    EXPECT_EQ(g_reports[0].title, "Exception at game state processing");
    EXPECT_FALSE(g_reports[0].hasText);

    // Caught inside the guard: nothing leaves it.
    g_reports.clear();
    EXPECT_EQ(runGuarded(kGuardMainLoop,
                         [] {
                             try {
                                 throw std::runtime_error("handled");
                             } catch (const std::exception&) {
                             }
                             return 5;
                         }),
              5);
    EXPECT_TRUE(g_reports.empty());
    EXPECT_EQ(currentCrashGuardTitle(), nullptr);
}

}  // namespace
