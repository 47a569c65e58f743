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

std::uint32_t wordAt(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}
float floatAt(const std::string& bytes, std::size_t at) {
    float v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

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
        {"mesh a\n", "line 1: unknown keyword [mesh]"},
    };
    for (const Case& c : cases) {
        ModelDescription description;
        std::string error;
        EXPECT_FALSE(parseModelDescription(c.text, description, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

}  // namespace
