#include "resources/PackageDatabase.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "package/PackageWriter.h"
#include "resources/PackageFile.h"
#include "support/PackageFixture.h"

using testing_support::FixtureFile;
using testing_support::FixturePackage;
using testing_support::ScopedPackageDatabase;
using testing_support::TempDir;

namespace {

std::string text(std::size_t size, char seed) {
    std::string b;
    for (std::size_t i = 0; i < size; ++i) b += static_cast<char>(seed + static_cast<char>(i % 13));
    return b;
}

std::string bytesOf(MemoryStream& s) {
    return s.size() > 0 ? std::string(reinterpret_cast<const char*>(s.data()), static_cast<std::size_t>(s.size()))
                        : std::string();
}

const std::string kScene1Old = text(3000, 'a');
const std::string kScene1New = text(5000, 'A');

FixturePackage scenes(int folder) {
    FixturePackage p;
    p.rule = "packs\\#\\Scenes.pak";
    p.folder = folder;
    p.item = "scene.ms4 >> scenes";
    if (folder == 0) {
        p.files = {{".ms4", "scene1", kScene1Old, "", true, false, 10},
                   {".ms4", "scene2", text(100, 'k'), "", false, false, 20},
                   {".ms4", "blank", "", "", true, true, 0}};
    } else {
        p.files = {{".ms4", "scene1", kScene1New, "", true, false, 30},
                   {".ms4", "scene3", text(70, 'z'), "", true, false, 5}};
    }
    return p;
}

FixturePackage voices() {
    FixturePackage p;
    p.rule = "voice_$.pak";
    p.item = ".ogg >> voice";
    for (const char* name : {"hello", "hello1", "hello2", "hello_x", "step01", "step02", "steps_big", "step1"})
        p.files.push_back({".ogg", name, std::string("ogg:") + name, "voice"});
    p.files.push_back({".ms4", "scene9", text(40, 'q'), "level"});
    return p;
}

// Loads a resource through the map path and the stream path.
void expectLoads(PackageDatabase& db, const char* mask, const char* name, const char* source,
                 const std::string& bytes) {
    for (bool maps : {true, false}) {
        db.setUseMaps(maps);
        MemoryStream out;
        out.write("junk", 4);
        EXPECT_TRUE(db.loadResource(mask, name, source, out)) << name << " maps " << maps;
        EXPECT_EQ(bytesOf(out), bytes) << name << " maps " << maps;
        EXPECT_EQ(out.tell(), 0);
    }
    db.setUseMaps(true);
}

}  // namespace

TEST(PackageDatabase, LoadsByMaskAndNameWithLaterFoldersOverriding) {
    TempDir dir;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0), voices()}));
    ScopedPackageDatabase db(dir.path());
    ASSERT_TRUE(db.build());
    EXPECT_TRUE(db.database().built());
    EXPECT_EQ(db.data().folderCount(), 0);
    const std::uint32_t before = db.data().find(".ms4", "scene1", "");
    ASSERT_NE(before, 0u);
    expectLoads(db.database(), ".ms4", "scene1", "", kScene1Old);

    // Folder 001 overrides scene1 and keeps its id.
    FixturePackage newer = scenes(1);
    ASSERT_TRUE(testing_support::writeFile(testing_support::fixturePackagePath(dir.path(), newer),
                                           testing_support::fixturePackageBytes(newer, 0)));
    ASSERT_TRUE(db.build());
    EXPECT_EQ(db.data().folderCount(), 1);
    EXPECT_EQ(db.data().find(".ms4", "scene1", ""), before);
    expectLoads(db.database(), ".ms4", "scene1", "", kScene1New);
    expectLoads(db.database(), ".ms4", "scene2", "", text(100, 'k'));  // stored raw
    expectLoads(db.database(), ".ms4", "scene3", "", text(70, 'z'));
    expectLoads(db.database(), ".ms4", "scene9", "level", text(40, 'q'));
    expectLoads(db.database(), ".ogg", "hello", "voice", "ogg:hello");
    MemoryStream viaCore;
    EXPECT_TRUE(loadResource(".ms4", "scene1", "", viaCore));
}

TEST(PackageDatabase, LookupsCountsAndNames) {
    TempDir dir;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0), scenes(1), voices()}));
    ScopedPackageDatabase db(dir.path());
    ASSERT_TRUE(db.build());
    FilePackageDBData& data = db.data();

    const std::uint32_t hello = data.find(".ogg", "hello", "voice");
    EXPECT_NE(hello, 0u);
    EXPECT_EQ(data.find(".ogg", "hello", ""), hello);
    EXPECT_EQ(data.find(".ogg", "hello", "music"), 0u);
    EXPECT_EQ(data.find(".ogg", "", ""), 0u);
    EXPECT_EQ(data.find(".ms4", "Scene1", ""), 0u);  // names are case-sensitive
    EXPECT_EQ(data.find(".ms4", "scene9", ""), data.find(".ms4", "scene9", "level"));

    // Types ".ms4" (blank, scene1, scene2, scene3) and ".ms4@level" (scene9).
    EXPECT_EQ(data.countFiles(".ms4", ""), 5);
    EXPECT_EQ(data.countFiles(".ms4", "level"), 1);
    EXPECT_EQ(data.countFiles(".xyz", ""), 0);
    const char* expected[] = {"blank", "scene1", "scene2", "scene3", "scene9"};
    for (int n = 0; n < 5; ++n) {
        const std::uint32_t id = data.fileIdAt(".ms4", n, "");
        ASSERT_NE(fileName(id), nullptr) << n;
        EXPECT_STREQ(fileName(id), expected[n]);
    }
    EXPECT_EQ(data.fileIdAt(".ms4", 5, ""), 0u);
    EXPECT_STREQ(fileName(data.fileIdAt(".ms4", 0, "level")), "scene9");
    EXPECT_EQ(resourcePath(hello), "package\\hello");

    // Ids: db 1 * 250,000,000 + type index * 500,000 + position from 1.
    EXPECT_EQ(data.find(".ms4", "blank", ""), 250000000u + 1u);
    EXPECT_EQ(data.find(".ms4", "scene9", "level"), 250000000u + 500000u + 1u);

    struct Variants {
        const char* prefix;
        const char* source;
        int count;
    } variants[] = {{"hello", "voice", 0}, {"hel", "voice", 0}, {"hello", "", 0}, {"step", "", 2},
                    {"step", "voice", 2},  {"x", "voice", 0},   {"step", "music", 0}, {"steps_bi", "", 0}};
    for (const Variants& v : variants)
        EXPECT_EQ(countNameVariants(".ogg", v.prefix, v.source), v.count) << v.prefix << " " << v.source;
    EXPECT_EQ(countNameVariants(".ogg", std::string(65, 'h'), ""), 0);

    const std::uint32_t scene1 = data.find(".ms4", "scene1", "");
    const std::uint32_t scene3 = data.find(".ms4", "scene3", "");
    EXPECT_EQ(data.compareStamps(scene1, scene3), 1);
    EXPECT_EQ(data.compareStamps(scene3, scene1), -1);
    EXPECT_EQ(data.compareStamps(scene1, scene1), 0);
}

TEST(PackageDatabase, InvalidIdsAreRefusedEverywhere) {
    TempDir dir;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0)}));
    ScopedPackageDatabase db(dir.path());
    ASSERT_TRUE(db.build());
    FilePackageDBData& data = db.data();
    const std::uint32_t good = data.find(".ms4", "scene1", "");
    for (std::uint32_t id : {0u, 1u, 249999999u, 250000000u, 250000000u + 4u, 250500001u, 500000001u}) {
        MemoryStream out;
        EXPECT_FALSE(db.database().loadResourceById(id, out)) << id;
        EXPECT_EQ(data.fileName(id), nullptr) << id;
        EXPECT_EQ(data.resourcePath(id), "") << id;
        EXPECT_EQ(data.openFile(id, nullptr, false), nullptr) << id;
        EXPECT_EQ(data.openMap(id, nullptr), nullptr) << id;
        EXPECT_EQ(data.compareStamps(id, good), 0);
        EXPECT_EQ(data.compareStamps(good, id), 0);
    }
    EXPECT_TRUE(db.log().contains("Can't load invalid file handler"));
    EXPECT_TRUE(db.log().contains("\n\n\n\nInvalid file index f1\n\n\n\n"));
    EXPECT_TRUE(db.log().contains("\n\n\n\nInvalid file index f2\n\n\n\n"));

    MemoryStream out;
    EXPECT_FALSE(db.database().loadResource(".ms4", "nothing", "", out));
    EXPECT_TRUE(db.log().contains("\t\tFailed load resource [nothing.ms4] with mask []: NOT FOUND"));
}

TEST(PackageDatabase, EmptyEntryLoadsEmptyThroughBothPaths) {
    TempDir dir;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0)}));
    ScopedPackageDatabase db(dir.path());
    ASSERT_TRUE(db.build());
    // The next file's bytes follow the empty entry's offset: none may leak in.
    expectLoads(db.database(), ".ms4", "blank", "", "");
    EXPECT_TRUE(db.log().contains("Try to open empty map to file [blank]: size = 0 Bytes "));
}

TEST(PackageDatabase, OpenAndMapStateRules) {
    TempDir dir;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0)}));
    ScopedPackageDatabase db(dir.path());
    ASSERT_TRUE(db.build());
    FilePackageDBData& data = db.data();
    const std::uint32_t a = data.find(".ms4", "scene1", "");
    const std::uint32_t b = data.find(".ms4", "scene2", "");

    std::uint32_t size = 0;
    EXPECT_EQ(data.openFile(a, &size, true), nullptr);
    EXPECT_TRUE(db.log().contains("Can't write to package from default resources APi"));
    ASSERT_NE(data.openFile(a, &size, false), nullptr);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(data.openFile(a, &size, false), nullptr);
    EXPECT_TRUE(db.log().contains("Can't open file [scene1]: already opened"));
    EXPECT_EQ(data.openFile(b, &size, false), nullptr);  // one entry of a package file at a time
    EXPECT_TRUE(db.log().contains("file [scene2]: already opened"));
    EXPECT_EQ(data.openMap(a, &size), nullptr);
    EXPECT_TRUE(db.log().contains("Can't open file map [scene1]: already opened"));
    EXPECT_TRUE(data.closeFile(a));
    EXPECT_FALSE(data.closeFile(a));
    EXPECT_TRUE(db.log().contains("Can't close file [scene1]: first open"));

    // Maps are not limited; they all lie in the package's one view, which
    // stays mapped until the database closes.
    DataFileMap* ma = data.openMap(a, &size);
    DataFileMap* mb = data.openMap(b, &size);
    ASSERT_NE(ma, nullptr);
    ASSERT_NE(mb, nullptr);
    PackageRecord* record = data.package(0, 0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->map.references, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mb->data), mb->size), text(100, 'k'));
    EXPECT_TRUE(data.closeMap(a));
    EXPECT_TRUE(data.closeMap(b));
    EXPECT_EQ(record->map.references, 1);
    const std::uint8_t* view = record->view.viewData;
    ASSERT_NE(data.openMap(a, &size), nullptr);
    EXPECT_EQ(record->view.viewData, view);
    EXPECT_TRUE(data.closeMap(a));
    EXPECT_FALSE(data.closeMap(a));
    EXPECT_TRUE(db.log().contains("Can't close file map [scene1]: first open as map"));
    data.close();
    EXPECT_FALSE(db.log().contains("not all references released"));
}

TEST(PackageDatabase, PackageRemovedOrCutAfterTheBuildFailsLoadsSafely) {
    struct Case {
        const char* what;
        bool remove;
        const char* message;
    } cases[] = {
        {"removed", true, "\t\tFailed load resource [package\\scene1]: READ OPENING FAILED"},
        {"cut short", false, "\t\tFailed load resource [package\\scene1]: READ FAILED"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0)}));
        ScopedPackageDatabase db(dir.path());
        ASSERT_TRUE(db.build());
        const std::string path = testing_support::fixturePackagePath(dir.path(), scenes(0));
        if (c.remove) {
            ASSERT_EQ(::unlink(path.c_str()), 0);
        } else {
            ASSERT_EQ(::truncate(path.c_str(), 20), 0);  // inside scene1's record
        }
        for (bool maps : {true, false}) {
            db.database().setUseMaps(maps);
            MemoryStream out;
            EXPECT_FALSE(db.database().loadResource(".ms4", "scene1", "", out));
            EXPECT_EQ(out.size(), 0);
        }
        EXPECT_TRUE(db.log().contains(c.message));
    }
}

TEST(PackageDatabase, PackagesResolveAgainstTheDataRootFromAnyFolder) {
    TempDir dir;
    TempDir elsewhere;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0), voices()}));
    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof(saved)), nullptr);
    ASSERT_EQ(::chdir(elsewhere.path().c_str()), 0);
    {
        ScopedPackageDatabase db(dir.path());
        EXPECT_TRUE(db.build());
        expectLoads(db.database(), ".ogg", "hello", "", "ogg:hello");
    }
    ASSERT_EQ(::chdir(saved), 0);
}

TEST(PackageDatabase, BuildOutcomes) {
    {
        // No rules file.
        TempDir dir;
        ScopedPackageDatabase db(dir.path());
        EXPECT_FALSE(db.build());
        EXPECT_FALSE(db.database().built());
        EXPECT_TRUE(db.log().contains("Can't initialize resource rules from file ["));
    }
    {
        // Rules without any package file: the build succeeds, and says so loudly.
        TempDir dir;
        ASSERT_TRUE(testing_support::writeFile(dir.file("data.txt"), "[packs\\#\\a.pak]\n.ms4 >> a\n"));
        ScopedPackageDatabase db(dir.path());
        EXPECT_TRUE(db.build());
        EXPECT_EQ(db.data().folderCount(), -1);
        EXPECT_TRUE(db.log().contains("No package file found under data root ["));
    }
    {
        // A package without items ends the list, and says so.
        TempDir dir;
        FixturePackage empty;
        empty.rule = "empty.pak";
        ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {empty, voices()}));
        ASSERT_TRUE(testing_support::writeFile(dir.file("data.txt"), "[empty.pak]\n[voice_$.pak]\n.ogg >> v\n"));
        ScopedPackageDatabase db(dir.path());
        EXPECT_TRUE(db.build());
        EXPECT_EQ(db.data().find(".ogg", "hello", ""), 0u);
        EXPECT_TRUE(db.log().contains("Package [empty.pak] has no items"));
    }
}

TEST(PackageDatabase, UnreadablePackageFailsTheBuild) {
    {
        // What was merged before the unreadable package stays.
        TempDir dir;
        ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {voices()}));
        ASSERT_TRUE(testing_support::writeFile(dir.file("data.txt"),
                                               "[voice_$.pak]\n.ogg >> v\n[locked.pak]\n.x >> y\n"));
        // A FIFO where the package file should be: no user can read a
        // package from it, whatever the user's rights.
        ASSERT_EQ(::mkfifo(dir.file("locked.pak").c_str(), 0600), 0);
        ScopedPackageDatabase db(dir.path());
        EXPECT_FALSE(db.build());
        EXPECT_FALSE(db.database().built());
        EXPECT_TRUE(db.log().contains("Can't open package ["));
        EXPECT_TRUE(db.log().contains("Fail to build data packages DB"));
        EXPECT_NE(db.data().find(".ogg", "hello", ""), 0u);
    }
}

TEST(PackageDatabase, ResourceLogNamesEachPackage) {
    TempDir dir;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {scenes(0)}));
    ScopedPackageDatabase db(dir.path());
    gameCore.debugFlags |= DebugResourceLog;
    ASSERT_TRUE(db.build());
    EXPECT_TRUE(db.log().contains("Load package ["));
}

namespace {

// The database as merging the entries one at a time builds it: the plain
// reference that the batched build must match.
struct ReferenceType {
    std::string key, mask, source, title;
    std::vector<PackageFileEntry> entries;  // sorted by name
};

struct ReferenceDatabase {
    std::vector<ReferenceType> types;
    std::vector<std::string> messages;

    static bool before(const PackageFileEntry& e, const std::string& name) { return std::string(e.name) < name; }

    void merge(const PackageSection& section) {
        for (const PackageFileEntry& entry : section.entries) {
            const std::string name = entry.name;
            if (name.empty()) {
                messages.push_back("Can't add package file []: empty name in section [" + section.key + "]");
                continue;
            }
            auto overridden = std::find_if(types.begin(), types.end(), [&](const ReferenceType& t) {
                return t.mask == section.mask && t.source == section.source;
            });
            if (overridden != types.end()) {
                auto at = std::lower_bound(overridden->entries.begin(), overridden->entries.end(), name, before);
                if (at != overridden->entries.end() && name == at->name) {
                    *at = entry;
                    continue;
                }
            }
            auto joined = std::find_if(types.begin(), types.end(),
                                       [&](const ReferenceType& t) { return t.key == section.key; });
            if (joined == types.end()) {
                ReferenceType created;
                created.key = section.key;
                const std::size_t at = section.key.find('@');
                created.mask = section.key.substr(0, at);
                created.source = at == std::string::npos ? "" : section.key.substr(at + 1);
                created.title = section.title;
                auto place = std::find_if(types.begin(), types.end(),
                                          [&](const ReferenceType& t) { return t.key > created.key; });
                joined = types.insert(place, created);
            }
            auto at = std::lower_bound(joined->entries.begin(), joined->entries.end(), name, before);
            if (at != joined->entries.end() && name == at->name) {
                messages.push_back("Can't add package file [" + name + "]: Already registered");
                continue;
            }
            joined->entries.insert(at, entry);
        }
    }
};

}  // namespace

// Random packages over a few folders, with names out of order, repeated in
// and across sections, and section keys that disagree with their mask and
// source: the database holds what the entry-by-entry reference holds, in
// the same order (so the same ids), and logs the same refusals.
TEST(PackageDatabase, BatchedBuildMatchesEntryByEntryMerging) {
    struct SectionName {
        const char* key;
        const char* mask;
        const char* source;
    } const sectionNames[] = {{".a", ".a", ""},   {".a@x", ".a", "x"}, {".a@", ".a", ""},  {".b", ".b", ""},
                              {".a@x", ".a", ""}, {".b", ".a", "x"},   {".c@y", ".c", "y"}, {".c", ".c", "y"}};
    std::mt19937 random(20261209);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        TempDir dir;
        ASSERT_TRUE(testing_support::writeFile(dir.file("data.txt"), "[p0_#.pak]\n.* >> p\n[p1_#.pak]\n.* >> p\n"));
        std::vector<std::string> paths;
        const int folders = 1 + static_cast<int>(random() % 3);
        std::uint64_t stamp = 0;
        for (int folder = 0; folder < folders; ++folder) {
            for (int number = 0; number < 2; ++number) {
                // A folder without packages would end the database's folders.
                if (number == 1 && random() % 4 == 0) continue;
                package_tool::Manifest manifest;
                manifest.packageNumber = static_cast<std::uint8_t>(number);
                manifest.folderNumber = static_cast<std::uint8_t>(folder);
                const int sections = 1 + static_cast<int>(random() % 4);
                for (int s = 0; s < sections; ++s) {
                    const SectionName& n = sectionNames[random() % std::size(sectionNames)];
                    package_tool::Section section{n.mask, n.source, "title " + std::to_string(s), n.key, {}};
                    const int files = static_cast<int>(random() % 40);
                    for (int f = 0; f < files; ++f) {
                        package_tool::StoredFile file;
                        // Some names tie over their first 16 bytes and more.
                        file.name = (random() % 3 == 0 ? "a_long_shared_prefix_of_names_" : "n") +
                                    std::to_string(random() % 30);
                        file.bytes = "data";
                        file.packed = false;
                        file.stamp = ++stamp;
                        file.value = static_cast<std::uint32_t>(random());
                        section.files.push_back(file);
                    }
                    manifest.sections.push_back(section);
                }
                char name[32];
                std::snprintf(name, sizeof(name), "p%i_%03i.pak", number, folder);
                paths.push_back(dir.file(name));
                ASSERT_TRUE(package_tool::writePackage(manifest, paths.back()));
            }
        }

        ReferenceDatabase reference;
        for (const std::string& path : paths) {
            std::unique_ptr<WinFileStream> file(
                WinFileStream::open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING));
            ASSERT_TRUE(file);
            PackageFileContents contents;
            ASSERT_TRUE(readPackageFile(*file, path, contents));
            for (const PackageSection& section : contents.sections) reference.merge(section);
        }

        ScopedPackageDatabase db(dir.path());
        ASSERT_TRUE(db.build());
        const std::vector<PackageTypeRecord>& types = db.data().types();
        ASSERT_EQ(types.size(), reference.types.size());
        for (std::size_t t = 0; t < types.size(); ++t) {
            const ReferenceType& expected = reference.types[t];
            EXPECT_EQ(types[t].key, expected.key);
            EXPECT_EQ(types[t].mask, expected.mask);
            EXPECT_EQ(types[t].source, expected.source);
            EXPECT_EQ(types[t].title, expected.title);
            ASSERT_EQ(types[t].entries.size(), expected.entries.size()) << expected.key;
            for (std::size_t i = 0; i < expected.entries.size(); ++i) {
                const PackageFileEntry& a = types[t].entries[i];
                const PackageFileEntry& b = expected.entries[i];
                EXPECT_STREQ(a.name, b.name);
                EXPECT_EQ(a.stamp, b.stamp) << a.name;
                EXPECT_EQ(a.value, b.value) << a.name;
                EXPECT_EQ(a.offset, b.offset) << a.name;
                EXPECT_EQ(a.package, b.package) << a.name;
                EXPECT_EQ(a.folder, b.folder) << a.name;
            }
        }
        std::vector<std::string> messages;
        for (const LogRecord& record : db.log().records())
            if (record.text.find("Can't add package file") != std::string::npos) messages.push_back(record.text);
        EXPECT_EQ(messages, reference.messages);
    }
}
