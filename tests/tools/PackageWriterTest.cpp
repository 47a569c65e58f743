#include "package/PackageWriter.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

using namespace package_tool;

TEST(PackageWriter, ManifestDescribesSectionsAndFiles) {
    testing_support::ScopedGameCore core;
    testing_support::TempDir dir;
    ASSERT_TRUE(testing_support::writeFile(dir.file("src/a.bin"), "alpha"));
    Manifest manifest;
    std::string error;
    ASSERT_TRUE(parseManifest("# scenes of the first folder\n"
                              "package 2\nfolder 1\nlevel 6\n"
                              "version Build 12 of the data\n"
                              "section .ms4 - Scene files\n"
                              "file scene1 src/a.bin stamp=77 value=5\n"
                              "file scene2 src/a.bin raw\n"
                              "empty blank\n"
                              "section .ogg voice Voices\n"
                              "key .ogg@voice\n",
                              dir.path(), manifest, error))
        << error;
    EXPECT_EQ(manifest.packageNumber, 2);
    EXPECT_EQ(manifest.folderNumber, 1);
    EXPECT_EQ(manifest.level, 6);
    EXPECT_EQ(manifest.versions, std::vector<std::string>{"Build 12 of the data"});
    ASSERT_EQ(manifest.sections.size(), 2u);
    const Section& scenes = manifest.sections[0];
    EXPECT_EQ(scenes.effectiveKey(), ".ms4");
    EXPECT_EQ(scenes.title, "Scene files");
    ASSERT_EQ(scenes.files.size(), 3u);
    EXPECT_EQ(scenes.files[0].bytes, "alpha");
    EXPECT_EQ(scenes.files[0].stamp, 77u);
    EXPECT_EQ(scenes.files[0].value, 5u);
    EXPECT_FALSE(scenes.files[1].packed);
    EXPECT_TRUE(scenes.files[2].empty);
    EXPECT_EQ(manifest.sections[1].effectiveKey(), ".ogg@voice");

    ASSERT_TRUE(writePackage(manifest, dir.file("out/p.pak"), &error)) << error;
    std::string listing;
    ASSERT_TRUE(listPackage(dir.file("out/p.pak"), listing, error)) << error;
    EXPECT_NE(listing.find("version Build 12 of the data"), std::string::npos) << listing;
    EXPECT_NE(listing.find("section [.ogg@voice] mask [.ogg] source [voice] title [Voices]: 0 files"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("blank"), std::string::npos);
}

TEST(PackageWriter, BadManifestsAndOverlongNamesAreRefused) {
    testing_support::ScopedGameCore core;
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"file a b.bin\n", "line 1: file before any section"},
        {"package 300\n", "line 1: bad package number [300]"},
        {"section .a -\nfile x missing.bin\n", "line 2: can't read ["},
        {"section .a -\nempty x stamp=zz\n", "line 2: bad option [stamp=zz]"},
        {"frobnicate\n", "line 1: unknown word [frobnicate]"},
    };
    for (const Case& c : cases) {
        Manifest manifest;
        std::string error;
        EXPECT_FALSE(parseManifest(c.text, "/nonexistent", manifest, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    Manifest manifest;
    manifest.sections.push_back({".ms4", "", "t", "", {}});
    manifest.sections[0].files.push_back({std::string(64, 'n'), "x"});
    std::string bytes, error;
    EXPECT_FALSE(buildPackage(manifest, bytes, &error));
    EXPECT_NE(error.find("longer than 63 bytes"), std::string::npos);
}
