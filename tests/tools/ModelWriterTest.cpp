// The model data writer: descriptions into stream records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/DataStream.h"
#include "model/ModelWriter.h"
#include "support/TestSupport.h"

namespace {

using model_tools::ModelDescription;
using model_tools::parseModelDescription;

using testing_support::floatAt;
using testing_support::wordAt;

TEST(ModelWriterTest, AStreamDescriptionBecomesItsRecord) {
    ModelDescription description;
    std::string error;
    ASSERT_TRUE(parseModelDescription("# a skinned, lit vertex pair\n"
                                      "stream quad.vs 9\n"
                                      "vertex p 1 2 3 n 0 0 -1 t 0.5 0.25 b 0 1 0 i 1 2 3 255 w 0.75 0.25 0 0\n"
                                      "vertex t 1 1   # the rest stays zero\n"
                                      "stream lit.vs 2\n"
                                      "vertex p 0 0 0 c 0xFF204060\n",
                                      description, error))
        << error;
    ASSERT_EQ(description.streams.size(), 2u);
    // Format 9 ("D+Bump+Weights", stride 64): 12 + 2 x 64 bytes, fields at
    // P0 N12 T24 B32 I44 W48.
    const std::string bytes = model_tools::streamRecordBytes(*description.streams[0].stream);
    ASSERT_EQ(bytes.size(), 140u);
    EXPECT_EQ(wordAt(bytes, 0), 0x89EFA012u);
    EXPECT_EQ(wordAt(bytes, 4), 9u);
    EXPECT_EQ(wordAt(bytes, 8), 2u);
    EXPECT_EQ(floatAt(bytes, 12 + 8), 3.0f);
    EXPECT_EQ(floatAt(bytes, 12 + 20), -1.0f);
    EXPECT_EQ(floatAt(bytes, 12 + 28), 0.25f);
    EXPECT_EQ(floatAt(bytes, 12 + 36), 1.0f);
    EXPECT_EQ(wordAt(bytes, 12 + 44), 0xFF030201u);
    EXPECT_EQ(floatAt(bytes, 12 + 48), 0.75f);
    EXPECT_EQ(floatAt(bytes, 12 + 64 + 24), 1.0f);
    EXPECT_EQ(wordAt(bytes, 12 + 64), 0u);
    // Format 2 ("DC"): the colour after the position.
    const std::string lit = model_tools::streamRecordBytes(*description.streams[1].stream);
    ASSERT_EQ(lit.size(), 12u + 24u);
    EXPECT_EQ(wordAt(lit, 12 + 12), 0xFF204060u);

    testing_support::TempDir folder;
    std::vector<std::string> written;
    ASSERT_TRUE(model_tools::writeModelFiles(description, folder.path(), &written, &error)) << error;
    EXPECT_EQ(written, (std::vector<std::string>{"quad.vs", "lit.vs"}));
    EXPECT_EQ(testing_support::readFile(folder.file("quad.vs")), bytes);
}

TEST(ModelWriterTest, AMeshDescriptionBecomesItsTwoParts) {
    ModelDescription description;
    std::string error;
    ASSERT_TRUE(parseModelDescription("mesh box.mh box.my\n"
                                      "meshstream 0\n"
                                      "vertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\n"
                                      "index 0 1 2\n"
                                      "subset 0 0 3 3 kind 4 diffuse crate\n"
                                      "bone b 0\nbone a -1\n",
                                      description, error))
        << error;
    ASSERT_EQ(description.meshes.size(), 1u);
    Y3Mesh& mesh = *description.meshes[0].mesh;
    const std::string header = model_tools::meshPartBytes(mesh, false, true);
    const std::string data = model_tools::meshPartBytes(mesh, false, false);
    // Header: magic, one subset (stream 0, carried 0, 3 vertices, start 0,
    // 3 indices, 1 triangle), then the material head's kind.
    EXPECT_EQ(wordAt(header, 0), 0x73836505u);
    EXPECT_EQ(wordAt(header, 4), 1u);
    const std::uint32_t subsetWords[6] = {0, 0, 3, 0, 3, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(wordAt(header, 8 + 4 * i), subsetWords[i]) << i;
    EXPECT_EQ(wordAt(header, 32), 4u);
    // The bones in name order: "a" before "b".
    EXPECT_LT(header.find(std::string("\x01\0a", 3)), header.find(std::string("\x01\0b", 3)));
    // Data: magic, one stream record of format 0 with three vertices, three
    // indices.
    EXPECT_EQ(wordAt(data, 0), 0x73836505u);
    EXPECT_EQ(wordAt(data, 4), 1u);
    EXPECT_EQ(wordAt(data, 8), 0x89EFA012u);
    EXPECT_EQ(wordAt(data, 12), 0u);
    EXPECT_EQ(wordAt(data, 16), 3u);
    const std::size_t indices = 20 + 3 * 20;
    EXPECT_EQ(wordAt(data, indices), 3u);
    EXPECT_EQ(wordAt(data, indices + 8), 1u);
    EXPECT_EQ(data.size(), indices + 4 + 12);

    testing_support::TempDir folder;
    std::vector<std::string> written;
    ASSERT_TRUE(model_tools::writeModelFiles(description, folder.path(), &written, &error)) << error;
    EXPECT_EQ(written, (std::vector<std::string>{"box.mh", "box.my"}));
    EXPECT_EQ(testing_support::readFile(folder.file("box.my")), data);
}

TEST(ModelWriterTest, BadDescriptionsNameTheirLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"stream a 49\n", "line 1: format code 49 is not 0 to 48"},
        {"stream a\n", "line 1: expected: stream <file> <format code>"},
        {"vertex p 0 0 0\n", "line 1: a vertex before any stream"},
        {"stream a 0\nvertex n 0 0 1\n", "line 2: format 0 has no component [n]"},
        {"stream a 0\nvertex p 0 0\n", "line 2: bad values of component [p]"},
        {"stream a 1\nvertex i 1 2 3 256\n", "line 2: bad values of component [i]"},
        {"stream a 0\nvertex q 1\n", "line 2: unknown vertex component [q]"},
        {"shape a\n", "line 1: unknown keyword [shape]"},
        {"sprite a\n", "line 1: [sprite] before any model"},
        {"model m\nlod\n", "line 2: a lod before any element"},
        {"model m\nelement e\nlod\nlod\nlod\nlod\n", "line 6: an element has three levels of detail"},
        {"model m\nsprite a t 0 0 1 1 0\n", "line 2: a sprite in a model that is not a sprite model"},
        {"model m sprite\nelement e\n", "line 2: [element] in a sprite model"},
        {"mesh a\n", "line 1: expected: mesh <header file> <data file> [skintail]"},
        {"mesh a b tail\n", "line 1: unknown mesh option [tail]"},
        {"index 0 1 2\n", "line 1: [index] before any mesh"},
        {"mesh a b\nindex 0 1 x\n", "line 2: bad index value"},
        {"mesh a b\nmeshstream 49\n", "line 2: format code 49 is not 0 to 48"},
        {"mesh a b\nsubset 0 0 3\n", "line 2: expected: subset <stream> <start index> <index count> <vertex count>"},
        {"mesh a b\nsubset 0 0 3 3 shine 2\n", "line 2: unknown subset field [shine]"},
        {"mesh a b\nbone root -2\n", "line 2: palette slot -2 is not -1 to 254"},
        {"mesh a b\nbone root\n", "line 2: expected: bone <name> <palette slot>"},
    };
    for (const Case& c : cases) {
        ModelDescription description;
        std::string error;
        EXPECT_FALSE(parseModelDescription(c.text, description, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

}  // namespace
