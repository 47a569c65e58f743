// The scene description reader of the scene tools: numbers that cannot
// be stored are refused with the line that holds them.
#include "scene/SceneDescription.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"

namespace {

TEST(SceneDescription, TextureSetsAreWholeNumbersInRange) {
    testing_support::ScopedGameCore core;
    struct Case {
        const char* value;
        bool accepted;
        std::uint32_t stored;
    };
    const Case cases[] = {
        {"0", true, 0},           {"7", true, 7},       {"2147483647", true, 2147483647u},
        {"1e20", false, 0},       {"-7", false, 0},     {"2147483648", false, 0},
        {"3.5", false, 0},        {"7.0", false, 0},    {"nan", false, 0},
        {"seven", false, 0},
    };
    for (const Case& c : cases) {
        scene_tools::SceneDescription scene;
        std::string error;
        const std::string text = std::string("scene hall\n# a boat\nmodel boat boat_model at 1 2 3 texture_set ") +
                                 c.value + "\n";
        EXPECT_EQ(scene_tools::parseSceneDescription(text, scene, error), c.accepted) << c.value;
        if (c.accepted) {
            ASSERT_EQ(scene.data.models.size(), 1u);
            EXPECT_EQ(scene.data.models[0].properties.textureSet, c.stored);
        } else {
            EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
            EXPECT_NE(error.find("[texture_set] takes a whole number"), std::string::npos) << error;
            EXPECT_NE(error.find(c.value), std::string::npos) << error;
        }
    }
}

TEST(SceneDescription, NumbersThatAreNotFiniteOrNotWholeTextAreRefused) {
    testing_support::ScopedGameCore core;
    for (const char* line : {"model boat boat_model at 1 2 inf", "model boat boat_model at 1 2 3x",
                             "light point lamp radius nan", "light point lamp colour 1 1e50 1",
                             "area hall at 0 0 0 extents 1 -inf 1"}) {
        scene_tools::SceneDescription scene;
        std::string error;
        EXPECT_FALSE(scene_tools::parseSceneDescription(std::string("scene hall\n") + line, scene, error)) << line;
        EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << line << ": " << error;
    }
}

}  // namespace
