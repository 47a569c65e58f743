// The light-set library: the built-in sets of its start, sets loaded from
// the packages on request, and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "effects/LightSetLibrary.h"
#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "resources/ResourceTestSupport.h"
#include "support/TestSupport.h"
#include "textures/MemoryTextureEnvironment.h"

using namespace resource_tests;

namespace {

// A compiled set as stored: one packed record of the set's bytes, cut to
// length bytes.
std::string storedSet(const LightSet& set, std::size_t length = sizeof(LightSet)) {
    MemoryStream raw;
    raw.write(&set, static_cast<std::int32_t>(length));
    MemoryStream record;
    EXPECT_GT(writePackedStream(raw, 6, true, record), 0);
    return std::string(reinterpret_cast<const char*>(record.data()), static_cast<std::size_t>(record.size()));
}

LightSet litSet() {
    LightSet set;
    std::strcpy(set.name, "stored name");
    set.exterior.ambient[1] = 0.25f;
    set.interior.env[2] = 0.5f;
    set.shadowDensity = 4.0f;
    set.shadowColor[0] = 0.75f;
    return set;
}

TEST(LightSetLibrary, StartMakesTheBuiltInSetsThePackagesLack) {
    ScopedPackages packages({storedFile(".ls", "default", storedSet(litSet()))});
    ASSERT_TRUE(packages.built());
    LightSetLibrary library;
    EXPECT_TRUE(library.initialize());
    ASSERT_EQ(library.count(), 2u);
    EXPECT_STREQ(library.at(0)->name, "lsdefaultsprite");
    EXPECT_STREQ(library.at(1)->name, "selection_default");

    const LightSet& sprite = *library.at(0);
    for (const LightSet::Entry* entry : {&sprite.exterior, &sprite.interior}) {
        EXPECT_EQ(entry->global[0], 1.0f);
        EXPECT_EQ(entry->main[0], 0.0f);
        EXPECT_EQ(entry->ambient[2], 1.0f);
        EXPECT_EQ(entry->diffuse[0], 0.0f);
        EXPECT_EQ(entry->specular[0], 0.0f);
        EXPECT_EQ(entry->env[1], 1.0f);
    }
    const LightSet& selection = *library.at(1);
    EXPECT_EQ(selection.exterior.main[0], 1.0f);
    EXPECT_EQ(selection.exterior.main[1], 0.0f);
    EXPECT_EQ(selection.shadowDensity, 16.0f);
    EXPECT_EQ(selection.state, 0u);

    // "default" is in the packages: it loads on its first request, a null
    // name standing for it, and keeps the requested name.
    LightSet* loaded = library.request(nullptr);
    ASSERT_NE(loaded, nullptr);
    EXPECT_STREQ(loaded->name, "default");
    EXPECT_EQ(loaded->state & kLightSetLoaded, kLightSetLoaded);
    EXPECT_EQ(loaded->exterior.ambient[1], 0.25f);
    EXPECT_EQ(loaded->interior.env[2], 0.5f);
    EXPECT_EQ(loaded->shadowDensity, 4.0f);
    EXPECT_EQ(loaded->shadowColor[0], 0.75f);
    EXPECT_EQ(library.request("default"), loaded);
    EXPECT_EQ(library.count(), 3u);
    EXPECT_STREQ(library.at(0)->name, "default");

    // A second start drops the loaded sets and makes the built-in ones again.
    EXPECT_TRUE(library.initialize());
    EXPECT_EQ(library.count(), 2u);
    library.release();
    EXPECT_EQ(library.count(), 0u);
}

TEST(LightSetLibrary, RequestsThatCannotBeMetAreReported) {
    ScopedPackages packages({storedFile(".ls", "short", storedSet(litSet(), 300))});
    ASSERT_TRUE(packages.built());
    Log& log = packages.log();
    LightSetLibrary library;
    const struct {
        const char* name;
        bool quiet;
        const char* message;
    } cases[] = {
        {"", false, "Can't request lightset with empty NAME!! []"},
        {"cellar", false, "Cannot find lightset with name [cellar]. Created default lightset with used name"},
        {"cellar", true, nullptr},
        {"short", false, "Invalid data format in [short]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t mark = log.recordCount();
        EXPECT_EQ(library.request(c.name, c.quiet), nullptr);
        // (the package database reports a missing file on its own first)
        const auto messages = logSince(log, mark);
        if (c.message) {
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ(messages.back(), c.message);
        } else {
            for (const std::string& text : messages) EXPECT_EQ(text.find("Cannot find lightset"), std::string::npos);
        }
    }
    EXPECT_EQ(library.count(), 0u);

    LightSet set;
    EXPECT_FALSE(library.load(set, "short", true, false));
    EXPECT_TRUE(log.contains("Refresh load NOT valid in release exe"));
    MemoryStream stream;
    EXPECT_EQ(library.readResource(stream, "short", 0), -1);
    EXPECT_TRUE(log.contains("This resource (LSL) loaded at request base only"));
}

TEST(LightSetLibrary, TextSourcesAreReadBySearch) {
    const struct {
        const char* text;
        float LightSet::*field;  // a shadow number, or null for the colour check
        float expected;
        float ambient[3];  // exterior ambient expected
    } cases[] = {
        {"exterior\n ambient 255 128 0\n", nullptr, 0.0f, {1.0f, 0.50196f, 0.0f}},
        // No minus is read, and garbage around a number is skipped.
        {"exterior ambient -51 x102y 0\r\n", nullptr, 0.0f, {0.2f, 0.4f, 0.0f}},
        {"shadow power 1,5\n", &LightSet::shadowPower, 1.5f, {0.0f, 0.0f, 0.0f}},
        {"shadow density 4 length 7\n", &LightSet::shadowLength, 7.0f, {0.0f, 0.0f, 0.0f}},
        // A key missing from its section is found in a later one.
        {"shadow\nexterior x\n power 3\n", &LightSet::shadowPower, 3.0f, {0.0f, 0.0f, 0.0f}},
        // A number that is no number keeps the default.
        {"shadow density 1.2.3\n", &LightSet::shadowDensity, 16.0f, {0.0f, 0.0f, 0.0f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        LightSet set;
        parseLightSetText(c.text, set);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(set.exterior.ambient[i], c.ambient[i], 1e-4f) << i;
        if (c.field) EXPECT_FLOAT_EQ(set.*c.field, c.expected);
    }
    // Without a "shadow" section the shadow keeps its defaults.
    LightSet plain;
    parseLightSetText("exterior diffuse 10 20 30\ninterior env 0 0 0\n", plain);
    EXPECT_FLOAT_EQ(plain.shadowPower, 1.0f);
    EXPECT_FLOAT_EQ(plain.shadowDensity, 16.0f);
    EXPECT_FLOAT_EQ(plain.shadowLength, 2.0f);
    EXPECT_FLOAT_EQ(plain.shadowSoft, 0.0f);
    for (float value : plain.shadowColor) EXPECT_EQ(value, 0.0f);
    EXPECT_NEAR(plain.exterior.diffuse[2], 30.0f / 255.0f, 1e-5f);
    EXPECT_EQ(plain.interior.env[0], 0.0f);
    EXPECT_EQ(plain.interior.main[0], 1.0f);
}

TEST(LightSetLibrary, CompilingIsRefusedWithoutTouchingTheDestination) {
    testing_support::TempDir dir;
    const std::string source = dir.path() + "/night.txt";
    const std::string destination = dir.path() + "/night.ls";
    ASSERT_TRUE(testing_support::writeFile(source, "shadow power 2\n"));
    ASSERT_TRUE(testing_support::writeFile(destination, "older"));
    testing_support::ScopedGameCore core;
    Log& log = core.log();
    LightSetLibrary library;
    EXPECT_FALSE(library.compileFromSource(source.c_str()));
    EXPECT_TRUE(log.contains("Stream save not possible in release exe"));
    EXPECT_TRUE(log.contains("Failed while write to file [" + destination + "]"));
    EXPECT_EQ(testing_support::readFile(destination), "older");
    EXPECT_FALSE(library.compile((dir.path() + "/missing.txt").c_str(), destination.c_str()));
    EXPECT_TRUE(log.contains("Cannot open lightset source file [" + dir.path() + "/missing.txt]"));
}

TEST(LightSetLibrary, WithoutShadersTheFixedFunctionSetIsLoadedUnderThePlainName) {
    LightSet night = litSet();
    night.shadowDensity = 5.0f;
    LightSet nightFfp = litSet();
    nightFfp.shadowDensity = 9.0f;
    ScopedPackages packages({storedFile(".ls", "night", storedSet(night)), storedFile(".ls", "night-ffp", storedSet(nightFfp))});
    ASSERT_TRUE(packages.built());
    texture_tools::MemoryTextureEnvironment environment;
    setTextureEnvironment(&environment);
    for (const std::int32_t details : {VideoDetailsMinimum, VideoDetailsHigh}) {
        SCOPED_TRACE(details);
        environment.setup.details = details;
        LightSetLibrary library;
        LightSet* set = library.request("night");
        ASSERT_NE(set, nullptr);
        EXPECT_STREQ(set->name, "night");
        EXPECT_EQ(set->shadowDensity, details == VideoDetailsMinimum ? 9.0f : 5.0f);
        EXPECT_EQ(library.request("night"), set);
    }
    setTextureEnvironment(nullptr);
}

}  // namespace
