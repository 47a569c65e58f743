// The physics description writer: descriptions into the bytes of the
// header, data and surface files, and the lines it refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "physics/PhysicsWriter.h"
#include "support/TestSupport.h"

namespace {

using physics_tools::PhysicsDescription;
using physics_tools::parsePhysicsDescription;

using testing_support::floatAt;
using testing_support::wordAt;

TEST(PhysicsWriterTest, AModelBecomesItsHeaderAndDataFiles) {
    PhysicsDescription description;
    std::string error;
    ASSERT_TRUE(parsePhysicsDescription("model m  # one box and a joint\n"
                                        "actor box b flags static,controller group 2 size 1 2 3 at 4 5 6 material w\n"
                                        "vertex 1 2 3\ntriangle 0 0 0 material 7 flags 9\n"
                                        "joint fixed j flags breakable actors 0 1 maxforce 5\n",
                                        description, error))
        << error;
    const auto files = physics_tools::physicsFiles(description);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "m.fh4");
    EXPECT_EQ(files[1].name, "m.fy3");
    const std::string& header = files[0].bytes;
    EXPECT_EQ(wordAt(header, 0), 1u);
    EXPECT_EQ(wordAt(header, 4), 0xF07729A9u);
    EXPECT_EQ(wordAt(header, 8), 0u);    // box
    EXPECT_EQ(wordAt(header, 12), 5u);   // static, controller
    EXPECT_EQ(header.substr(16, 2), std::string("\x01" "b", 2));
    EXPECT_EQ(header[18], 0);            // no bone
    EXPECT_EQ(wordAt(header, 19), 1u);   // one material, u16 length
    EXPECT_EQ(header.substr(23, 3), std::string("\x01\x00" "w", 3));
    EXPECT_EQ(floatAt(header, 26 + 36), 4.0f);  // the pose's position
    const std::size_t group = 26 + 96;
    EXPECT_EQ(wordAt(header, group), 2u);
    EXPECT_EQ(floatAt(header, group + 20), 1.0f);  // size x, after mass and the three values
    const std::size_t joints = group + 32;
    EXPECT_EQ(wordAt(header, joints), 1u);
    EXPECT_EQ(wordAt(header, joints + 4), 0x00AF8111u);
    EXPECT_EQ(wordAt(header, joints + 8), 4u);  // fixed
    EXPECT_EQ(wordAt(header, joints + 14), 0x80u);
    EXPECT_EQ(header.size(), joints + 14 + 4 + 80 + 8);
    const std::string& data = files[1].bytes;
    EXPECT_EQ(data.size(), 4 + 12 + 4 + 20u);
    EXPECT_EQ(wordAt(data, 16), 1u);
    EXPECT_EQ(wordAt(data, 20 + 12), 7u);
    EXPECT_EQ(wordAt(data, 20 + 16), 9u);
}

TEST(PhysicsWriterTest, BadLinesAreNamed) {
    const struct {
        const char* text;
        const char* line;
    } cases[] = {
        {"actor box a\n", "line 1"},
        {"model m\nactor box a size 1 2\n", "line 2"},
        {"model m\nactor box a flags sticky\n", "line 2"},
        {"model m\njoint hinge j\n", "line 2"},
        {"surface s frictioncombine maximum\n", "line 1"},
        {"model m\nactor box a\nvertex 1 2\n", "line 3"},
    };
    for (const auto& c : cases) {
        PhysicsDescription description;
        std::string error;
        EXPECT_FALSE(parsePhysicsDescription(c.text, description, error)) << c.text;
        EXPECT_NE(error.find(c.line), std::string::npos) << error;
    }
}

}  // namespace
