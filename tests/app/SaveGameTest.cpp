#include "app/SaveGame.h"

#include <gtest/gtest.h>

namespace {

TEST(SaveGame, ProgressIsTheWeightedSumOfTheStages) {
    struct Case {
        std::int32_t stage;
        float fraction;
        float total;
    };
    const Case cases[] = {
        {0, 1.0f, 0.0f}, {1, 0.5f, 0.2f}, {2, 1.0f, 0.44f}, {9, 1.0f, 0.45f},
        {14, 1.0f, 1.0f}, {15, 1.0f, 0.0f}, {16, 1.0f, 0.0f}, {-1, 1.0f, 0.0f},
    };
    for (const Case& c : cases) EXPECT_NEAR(SaveGame::progressTotal(c.stage, c.fraction), c.total, 1e-6) << c.stage;
}

TEST(SaveGame, ProgressOnlyRisesDuringALoad) {
    SaveGame game;
    game.setProgress(1, 1.0f);  // no load open: nothing happens
    EXPECT_EQ(game.progress, 0.0f);

    game.startProgress();
    EXPECT_EQ(game.progress, 0.0f);
    game.setProgress(1, 0.5f);
    EXPECT_NEAR(game.progress, 0.2f, 1e-6);
    game.setProgress(16, 0.0f);  // refresh only
    EXPECT_NEAR(game.progress, 0.2f, 1e-6);
    game.setProgress(1, 0.501f);  // a rise under 0.001 is not kept
    EXPECT_NEAR(game.progress, 0.2f, 1e-6);
    game.setProgress(14, 1.0f);
    EXPECT_NEAR(game.progress, 1.0f, 1e-6);
    game.setProgress(2, 0.0f);  // a fall leaves the higher value
    EXPECT_NEAR(game.progress, 1.0f, 1e-6);
    game.finishProgress();
    EXPECT_EQ(game.progress, -1.0f);
    EXPECT_EQ(game.flags & kSaveGameProgressActive, 0u);
}

TEST(SaveGame, IsTheLoadingStateWhileItExists) {
    LoadingProgress* before = loadingProgress();
    {
        SaveGame game;
        EXPECT_EQ(loadingProgress(), &game);
        game.startProgress();
        reportLoadingProgress(14, 0.5f);
        EXPECT_NEAR(game.progress, 0.75f, 1e-6);
        LoadingLockGuard lock;  // re-entrant on the loading thread
        LoadingLockGuard again;
    }
    EXPECT_EQ(loadingProgress(), nullptr);
    setLoadingProgress(before);
}

}  // namespace
