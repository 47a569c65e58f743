// The light-set library: the built-in sets of its start, sets loaded from
// the packages on request, and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "effects/LightSetLibrary.h"
#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "resources/ResourceTestSupport.h"

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

}  // namespace
