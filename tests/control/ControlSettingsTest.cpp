// The character, boat, companion and path-finding settings.
#include <gtest/gtest.h>

#include "control/ControlSettings.h"
#include "support/SettingsFixture.h"

namespace {

TEST(ControlSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    const testing_support::KeptValues kept(characterSettings, boatSettings, pathfindSettings);
    testing_support::SettingsFixture f;
    f.set("character", "angular_run", "7.5").set("boat", "distance_near", "2").set("companion", "dead_teleport_limit", "40");
    readCharacterSettings(f.settings);
    readCompanionFollowSettings(f.settings);
    readBoatSettings(f.settings);
    readCompanionSettings(f.settings);
    EXPECT_FLOAT_EQ(characterSettings.angularRun, 7.5f);
    EXPECT_FLOAT_EQ(characterSettings.angularStay, 3.0f);
    EXPECT_FLOAT_EQ(characterSettings.companionUpdatePeriod, 2.0f);
    EXPECT_FLOAT_EQ(boatSettings.distanceNear, 2.0f);
    EXPECT_FLOAT_EQ(boatSettings.distanceClose, 0.15f);
    EXPECT_FLOAT_EQ(pathfindSettings.deadTeleportLimit, 40.0f);
    // Both sections of the character keys are in the store now.
    for (const char* key : {"distance_close", "max_sinangle_companion"}) EXPECT_TRUE(f.has("character", key)) << key;
    EXPECT_TRUE(f.has("boat", "boat_swim_torque_power"));
}

TEST(ControlSettings, PathWeightsAreAGeometricTableOfBoundedLength) {
    const testing_support::KeptValues kept(characterSettings, boatSettings, pathfindSettings);
    struct Case {
        const char* details;
        const char* length;
        const char* coeff;
        std::size_t size;
        float last;
        const char* refusal;  // null: nothing is logged
    } cases[] = {
        {"", "", "", 5, 0.9f * 0.9f * 0.9f * 0.9f, nullptr},
        {"3", "2", "0.5", 6, 0.03125f, nullptr},
        // A count below 1 keeps its default.
        {"0", "", "0.5", 5, 0.0625f, "Setting [pathfind] path_details: invalid value [0], 5 is used"},
        {"100000", "100000", "", 5, 0.6561f, "Can't build path weights"},
    };
    for (const Case& c : cases) {
        testing_support::SettingsFixture f;
        f.set("pathfind", "path_details", c.details)
            .set("pathfind", "path_weight_length", c.length)
            .set("pathfind", "path_weight_coeff", c.coeff);
        const std::size_t errorsBefore = f.log().recordCount();
        readPathfindSettings(f.settings);
        ASSERT_EQ(pathfindSettings.weights.size(), c.size) << c.details;
        EXPECT_FLOAT_EQ(pathfindSettings.weights.front(), 1.0f);
        EXPECT_NEAR(pathfindSettings.weights.back(), c.last, 1e-6) << c.details;
        EXPECT_EQ(f.log().recordCount() > errorsBefore, c.refusal != nullptr) << c.details;
        if (c.refusal) {
            EXPECT_TRUE(f.log().contains(c.refusal)) << c.details;
        }
    }
}

}  // namespace
