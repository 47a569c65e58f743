// The character, boat, companion and path-finding settings.
#include <gtest/gtest.h>

#include "control/ControlSettings.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

TEST(ControlSettings, DefaultsForMissingKeysAndValuesFromTheStore) {
    testing_support::ScopedGameCore scoped;
    IniFile settings;
    settings.getCategory("character").getVariable("angular_run").setString("7.5");
    settings.getCategory("boat").getVariable("distance_near").setString("2");
    settings.getCategory("companion").getVariable("dead_teleport_limit").setString("40");
    readCharacterSettings(settings);
    readCompanionFollowSettings(settings);
    readBoatSettings(settings);
    readCompanionSettings(settings);
    EXPECT_FLOAT_EQ(characterSettings.angularRun, 7.5f);
    EXPECT_FLOAT_EQ(characterSettings.angularStay, 3.0f);
    EXPECT_FLOAT_EQ(characterSettings.companionUpdatePeriod, 2.0f);
    EXPECT_FLOAT_EQ(boatSettings.distanceNear, 2.0f);
    EXPECT_FLOAT_EQ(boatSettings.distanceClose, 0.15f);
    EXPECT_FLOAT_EQ(pathfindSettings.deadTeleportLimit, 40.0f);
    // Both sections of the character keys are in the store now.
    for (const char* key : {"distance_close", "max_sinangle_companion"})
        EXPECT_NE(settings.findCategory("character")->findVariable(key), nullptr) << key;
    EXPECT_NE(settings.findCategory("boat")->findVariable("boat_swim_torque_power"), nullptr);
}

TEST(ControlSettings, PathWeightsAreAGeometricTableOfBoundedLength) {
    testing_support::ScopedGameCore scoped;
    struct Case {
        const char* details;
        const char* length;
        const char* coeff;
        std::size_t size;
        float last;
        bool refused;
    } cases[] = {
        {"", "", "", 5, 0.9f * 0.9f * 0.9f * 0.9f, false},
        {"3", "2", "0.5", 6, 0.03125f, false},
        {"0", "", "0.5", 5, 0.0625f, false},  // a count below 1 keeps its default
        {"100000", "100000", "", 5, 0.6561f, true},
    };
    for (const Case& c : cases) {
        IniFile settings;
        IniCategory& pathfind = settings.getCategory("pathfind");
        pathfind.getVariable("path_details").setString(c.details);
        pathfind.getVariable("path_weight_length").setString(c.length);
        pathfind.getVariable("path_weight_coeff").setString(c.coeff);
        const std::size_t errorsBefore = scoped.log().recordCount();
        readPathfindSettings(settings);
        ASSERT_EQ(pathfindSettings.weights.size(), c.size) << c.details;
        EXPECT_FLOAT_EQ(pathfindSettings.weights.front(), 1.0f);
        EXPECT_NEAR(pathfindSettings.weights.back(), c.last, 1e-6) << c.details;
        EXPECT_EQ(scoped.log().recordCount() > errorsBefore, c.refused) << c.details;
    }
    EXPECT_TRUE(scoped.log().contains("Can't build path weights"));
}

}  // namespace
