// Physics model descriptions loaded from writer-built packages, the shape
// scaling and XML export of actors and joints, and physics surfaces.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "control/PhysicsCore.h"
#include "control/SurfaceDataManager.h"
#include "control/Y3PhysicsModelData.h"
#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "foundation/XmlWriter.h"
#include "physics/PhysicsWriter.h"
#include "platform/physics/PhysicsBackend.h"
#include "resources/ResourceTestSupport.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

using namespace resource_tests;

namespace {

physics_tools::PhysicsModelFile modelOf(const std::string& text) {
    physics_tools::PhysicsDescription description;
    std::string error;
    EXPECT_TRUE(physics_tools::parsePhysicsDescription(text, description, error)) << error;
    return description.models.empty() ? physics_tools::PhysicsModelFile{} : description.models.front();
}

bool contains(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& text : texts)
        if (text.find(part) != std::string::npos) return true;
    return false;
}

void setU32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

TEST(PhysicsModelData, HeadersLoadOrAreRefused) {
    const std::string name200(200, 'n');
    struct Case {
        const char* what;
        std::string header;
        bool loads;
        std::size_t actors;
        std::size_t joints;
        const char* message;
    } cases[] = {
        {"empty", physics_tools::headerBytes(modelOf("model m")), true, 0, 0, nullptr},
        {"wrong magic", physics_tools::headerBytes(modelOf("model m\nactor box a magic 0x1234")), false, 0, 0,
         "Fail read physic model [m] header"},
        {"kind 6", physics_tools::headerBytes(modelOf("model m\nactor 6 a")), false, 0, 0,
         " Invalid physics rigit type 6."},
        {"revolute joint", physics_tools::headerBytes(modelOf("model m\nactor box a\njoint revolute j")), false, 0, 0,
         "Fail read physic model [m] header"},
        {"fixed joints",
         physics_tools::headerBytes(modelOf("model m\nactor box a\nactor sphere b\njoint fixed j actors 0 1\n"
                                            "joint pointline k")),
         true, 2, 2, nullptr},
        {"long name", physics_tools::headerBytes(modelOf("model m\nactor capsule " + name200 + " bone b")), true, 1, 0,
         "cut to 127"},
        {"huge actor count", [] {
             std::string bytes = physics_tools::headerBytes(modelOf("model m\nactor box a"));
             setU32(bytes, 0, 0xFFFFFFF0u);
             return bytes;
         }(), false, 0, 0, "exceed the file"},
        {"huge material count", [] {
             std::string bytes = physics_tools::headerBytes(modelOf("model m\nactor box a material x"));
             setU32(bytes, 4 + 4 + 4 + 4 + 2 + 1, 0x7FFFFFFFu);
             return bytes;
         }(), false, 0, 0, "exceed the file"},
        {"truncated", [] {
             std::string bytes = physics_tools::headerBytes(modelOf("model m\nactor box a\njoint fixed j"));
             bytes.pop_back();
             return bytes;
         }(), false, 0, 0, "Fail read physic model [m] header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedPackages packages({storedFile(".fh4", "m", c.header)});
        ASSERT_TRUE(packages.built());
        const std::size_t mark = packages.log().recordCount();
        PhysicsCore physics;
        PhysicsModelRecord* record = physics.modelData().getOrCreate("m", true);
        {
            testing_support::LargestAllocation largest;
            EXPECT_EQ(physics.modelData().loadHeader(record, nullptr), c.loads);
            if (testing_support::LargestAllocation::recording()) {
                EXPECT_LT(largest.bytes(), 1u << 20);
            }
        }
        const auto messages = logSince(packages.log(), mark);
        if (c.message) {
            EXPECT_TRUE(contains(messages, c.message)) << c.message;
        }
        if (!c.loads) {
            EXPECT_EQ(record->data(), nullptr);
            EXPECT_TRUE(record->has(kResourceUnavailable));
            continue;
        }
        ASSERT_NE(record->data(), nullptr);
        EXPECT_EQ(record->data()->actors.size(), c.actors);
        EXPECT_EQ(record->data()->joints.size(), c.joints);
        if (c.actors == 1) {
            EXPECT_EQ(std::string(record->data()->actors[0]->name), name200.substr(0, 127));
            EXPECT_STREQ(record->data()->actors[0]->bone, "b");
        }
        physics.modelData().releaseAll();
    }
}

TEST(PhysicsModelData, DataFilesAreReadActorByActor) {
    const physics_tools::PhysicsModelFile model = modelOf(
        "model m\n"
        "actor mesh ground\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 0 1\ntriangle 0 1 2 material 3 flags 1\n"
        "actor cloth sail flags cloth\nvertex 0 1 0\nclothdata 2 3\n"
        "actor box crate\n");
    std::string damaged = physics_tools::dataBytes(model);
    setU32(damaged, 0, 0x10000000u);
    struct Case {
        const char* what;
        std::string data;
        bool withData;
        bool loads;
    } cases[] = {
        {"whole", physics_tools::dataBytes(model), true, true},
        {"count past the end", damaged, true, false},
        {"truncated", physics_tools::dataBytes(model).substr(0, 40), true, false},
        {"no data file key", "", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<testing_support::FixtureFile> files = {storedFile(".fh4", "m", physics_tools::headerBytes(model))};
        if (c.withData) files.push_back(storedFile(".fy3", "m", c.data));
        ScopedPackages packages(files);
        ASSERT_TRUE(packages.built());
        PhysicsCore physics;
        PhysicsModelRecord* record = physics.modelData().getOrCreate("m", true);
        if (!c.withData) record->dataMask = "";
        ASSERT_TRUE(physics.modelData().loadHeader(record, nullptr));
        {
            testing_support::LargestAllocation largest;
            EXPECT_EQ(physics.modelData().allocate(record), c.loads);
            if (testing_support::LargestAllocation::recording()) {
                EXPECT_LT(largest.bytes(), 1u << 20);
            }
        }
        if (!c.loads) continue;
        const auto& actors = record->data()->actors;
        const std::uint32_t expected[3][4] = {{3, 1, 0, 0}, {1, 0, 2, 3}, {0, 0, 0, 0}};
        for (int actor = 0; actor < 3 && c.withData; ++actor)
            for (int array = 0; array < 4; ++array)
                EXPECT_EQ(actors[actor]->bulkCount(array), expected[actor][array]) << actor << " " << array;
        if (!c.withData) {
            EXPECT_EQ(actors[0]->bulkCount(0), 0u);
        }
        physics.modelData().releaseAll();
    }
}

TEST(PhysicsModelData, TheDemoRowboatLoadsWithItsSurfaces) {
    testing_support::ScopedPackageDatabase packages(DEMO_FOLDER);
    ASSERT_TRUE(packages.build());
    PhysicsCore physics;
    PhysicsModelRecord* record = physics.modelData().getOrCreate("rowboat", true);
    ASSERT_TRUE(physics.modelData().loadHeader(record, nullptr));
    ASSERT_TRUE(physics.modelData().allocate(record));
    ASSERT_EQ(record->data()->actors.size(), 1u);
    const Y3PhysicsRigit& hull = *record->data()->actors[0];
    EXPECT_STREQ(hull.name, "hull");
    // A dynamic hull the boat drives.
    EXPECT_EQ(hull.flags, 0u);
    EXPECT_FLOAT_EQ(hull.mass, 80.0f);
    ASSERT_EQ(hull.materials.size(), 1u);
    const PhysicsSurface* wood = physics.surfaces().request(hull.materials[0].data());
    ASSERT_NE(wood, nullptr);
    EXPECT_FLOAT_EQ(wood->staticFriction, 0.6f);
    EXPECT_EQ(physics.surfaces().request("marble"), nullptr);
    physics.modelData().releaseAll();
}

// A backend shape that records what it is handed.
struct RecordingShape : platform::physics::Shape {
    void setDimensions(const float* size) override { dimensions.assign(size, size + 3); }
    void setRadius(float value) override { radius = value; }
    void setHeight(float value) override { height = value; }
    std::vector<float> dimensions;
    float radius = -1.0f;
    float height = -1.0f;
};

TEST(PhysicsRigit, ShapesAreScaledByKind) {
    testing_support::ScopedGameCore core;
    std::unique_ptr<Y3PhysicsRigit> box(Y3PhysicsRigit::create(RigitBox));
    auto& boxKind = static_cast<Y3PhysicsRigit_BOX&>(*box);
    boxKind.size[0] = 1;
    boxKind.size[1] = 2;
    boxKind.size[2] = 3;
    RecordingShape boxShape;
    const float twice[3] = {2, 2, 2};
    box->scaleShape(twice, &boxShape);
    EXPECT_EQ(boxShape.dimensions, (std::vector<float>{2, 4, 6}));

    std::unique_ptr<Y3PhysicsRigit> capsule(Y3PhysicsRigit::create(RigitCapsule));
    auto& capsuleKind = static_cast<Y3PhysicsRigit_CAPSULE&>(*capsule);
    capsuleKind.capsuleRadius = 0.5f;
    capsuleKind.capsuleHeight = 2.0f;
    RecordingShape capsuleShape;
    const float uneven[3] = {3, 1, 2};
    capsule->scaleShape(uneven, &capsuleShape);
    EXPECT_FLOAT_EQ(capsuleShape.radius, 1.0f);
    EXPECT_FLOAT_EQ(capsuleShape.height, 2.0f);

    std::unique_ptr<Y3PhysicsRigit> sphere(Y3PhysicsRigit::create(RigitSphere));
    RecordingShape untouched;
    sphere->scaleShape(twice, &untouched);
    EXPECT_TRUE(untouched.dimensions.empty());
    EXPECT_EQ(untouched.radius, -1.0f);

    const std::size_t mark = core.log().recordCount();
    EXPECT_EQ(Y3PhysicsRigit::create(7), nullptr);
    EXPECT_EQ(Y3PhysicsDataJoint::create(9), nullptr);
    EXPECT_EQ(logSince(core.log(), mark),
              (std::vector<std::string>{" Invalid physics rigit type 7.", " Invalid physics joint type 9."}));
}

std::string xmlText(const XmlTag& root) {
    MemoryStream out;
    root.write(out, 0);
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));
}

TEST(PhysicsRigit, ExportWritesTheTextTree) {
    testing_support::ScopedGameCore core;
    std::unique_ptr<Y3PhysicsRigit> box(Y3PhysicsRigit::create(RigitBox));
    copyName128(box->name, "hull");
    copyName128(box->bone, "bip01");
    box->flags = kRigitStatic | kRigitController;
    box->collisionGroup = kCollisionGroupMainCharacter;
    box->mass = 2.5f;
    box->localPose = matrix34Identity();
    static_cast<Y3PhysicsRigit_BOX&>(*box).size[1] = 2.0f;
    std::unique_ptr<Y3PhysicsDataJoint> joint(Y3PhysicsDataJoint::create(JointFixed));
    copyName128(joint->name, "weld");
    joint->flags = kJointBreakable;
    joint->ends[1].actor = 1;
    joint->maxForce = 10.0f;
    joint->maxTorque = 2.5f;
    XmlTag root("model");
    box->exportXml(root);
    joint->exportXml(root);
    const std::string vector0 = "class='Vector' x='0.000000' y='0.000000' z='0.000000'";
    EXPECT_EQ(xmlText(root),
              "\r\n<model>"
              "\r\n  <rigit id='hull' type='box' mass='2.5000' bone='bip01' collision group='Main character'>"
              "\r\n    <rigit2parent>"
              "\r\n      <v-x class='Vector' x='1.000000' y='0.000000' z='0.000000'/>"
              "\r\n      <v-y class='Vector' x='0.000000' y='1.000000' z='0.000000'/>"
              "\r\n      <v-z class='Vector' x='0.000000' y='0.000000' z='1.000000'/>"
              "\r\n      <c " + vector0 + "/>"
              "\r\n    </rigit2parent>"
              "\r\n    <flags>"
              "\r\n      <flag>static</flag>"
              "\r\n      <flag>controller</flag>"
              "\r\n    </flags>"
              "\r\n    <size class='Vector' x='0.000000' y='2.000000' z='0.000000'/>"
              "\r\n  </rigit>"
              "\r\n  <joint id='weld' type='Fixed'>"
              "\r\n    <flags>"
              "\r\n      <flag>breakable</flag>"
              "\r\n    </flags>"
              "\r\n    <actors>"
              "\r\n      <actor index='0'>"
              "\r\n        <anchor " + vector0 + "/>"
              "\r\n        <normal " + vector0 + "/>"
              "\r\n        <axis " + vector0 + "/>"
              "\r\n      </actor>"
              "\r\n      <actor index='1'>"
              "\r\n        <anchor " + vector0 + "/>"
              "\r\n        <normal " + vector0 + "/>"
              "\r\n        <axis " + vector0 + "/>"
              "\r\n      </actor>"
              "\r\n    </actors>"
              "\r\n  </joint>"
              "\r\n  <breakable>"
              "\r\n    <maxForce>10.00</maxForce>"
              "\r\n    <maxTorque> 2.50</maxTorque>"
              "\r\n  </breakable>"
              "\r\n</model>");

    std::unique_ptr<Y3PhysicsRigit> plain(Y3PhysicsRigit::create(RigitMesh));
    XmlTag& rigit = plain->exportXml(root);
    ASSERT_EQ(rigit.children().size(), 2u);
    EXPECT_EQ(rigit.children()[1].name(), "flags");
    EXPECT_TRUE(rigit.children()[1].children().empty());
}

// ---- surfaces --------------------------------------------------------------

std::vector<std::string> surfaceLines() {
    return {"[surface]",          "name = wood",         "dynamicFriction = 0.5", "staticFriction = 0.7",
            "Restitution = 0.25", "restitution = average", "friction = average",    "Spring = false",
            "spring_spring = 9",  "spring_damper = 9",   "spring_value = 9",      "Anysotropic = false",
            "dynamicFrictionV = 9", "staticFrictionV = 9", "dirOfAnysotropyX = 9", "dirOfAnysotropyY = 9",
            "dirOfAnysotropyZ = 9"};
}

std::string writeSource(const std::string& folder, const std::vector<std::string>& lines) {
    const std::string path = folder + "/wood.txt";
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) out << line << "\r\n";
    return path;
}

TEST(PhysicsSurface, SourcesAreReadByLinePosition) {
    struct Case {
        const char* what;
        std::size_t line;
        const char* text;
        bool imports;
        const char* message;  // %s: the changed line
    } cases[] = {
        {"defaults of switched-off parts", 0, nullptr, true, nullptr},
        {"min", 5, "restitution = min", true, nullptr},
        {"multiply", 6, "friction = multiply", true, nullptr},
        {"maximum", 5, "restitution = maximum", false, "Can`t read restitution combine mode from line [%s]"},
        {"capital True", 7, "Spring = True", false, "Can`t read spring status from line [%s]"},
        {"no value", 3, "staticFriction", false, "Can`t read static friction from line [%s]"},
        {"spring on", 7, "Spring = true", true, nullptr},
        {"anisotropy bad", 11, "Anysotropic = yes", false, "Can`t read [Anysotropic] from line [%s]"},
        {"anisotropy on", 11, "Anysotropic = true", true, nullptr},
    };
    testing_support::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_support::ScopedGameCore core;
        std::vector<std::string> lines = surfaceLines();
        if (c.text) lines[c.line] = c.text;
        const std::string path = writeSource(dir.path(), lines);
        const std::size_t mark = core.log().recordCount();
        PhysicsSurface surface;
        EXPECT_EQ(surface.import(path.c_str()), c.imports);
        if (c.message) {
            char expected[256];
            std::snprintf(expected, sizeof(expected), c.message, c.text);
            EXPECT_EQ(logSince(core.log(), mark), std::vector<std::string>{expected});
            continue;
        }
        EXPECT_STREQ(surface.name, "wood");
        EXPECT_FLOAT_EQ(surface.dynamicFriction, 0.5f);
        EXPECT_FLOAT_EQ(surface.staticFriction, 0.7f);
        EXPECT_FLOAT_EQ(surface.restitution, 0.25f);
        EXPECT_EQ(surface.restitutionCombine, c.line == 5 ? CombineMin : CombineAverage);
        EXPECT_EQ(surface.frictionCombine, c.line == 6 ? CombineMultiply : CombineAverage);
        const bool spring = c.line == 7;
        const bool anisotropic = c.line == 11;
        EXPECT_EQ(surface.flags, (spring ? kSurfaceSpring : 0u) | (anisotropic ? kSurfaceAnisotropic : 0u));
        EXPECT_FLOAT_EQ(surface.springConstant, spring ? 9.0f : 0.0f);
        EXPECT_FLOAT_EQ(surface.springValue, spring ? 9.0f : 0.0f);
        EXPECT_FLOAT_EQ(surface.anisotropy[0], anisotropic ? 9.0f : 1.0f);
        EXPECT_FLOAT_EQ(surface.anisotropy[1], anisotropic ? 9.0f : 0.0f);
        EXPECT_FLOAT_EQ(surface.staticFrictionV, anisotropic ? 9.0f : 0.0f);
    }
}

TEST(PhysicsSurface, ShortSourcesAreRefused) {
    testing_support::TempDir dir;
    for (std::size_t count : {std::size_t{11}, std::size_t{12}}) {
        SCOPED_TRACE(count);
        testing_support::ScopedGameCore core;
        std::vector<std::string> lines = surfaceLines();
        lines.resize(count);
        // Twelve lines are enough unless the surface is anisotropic.
        if (count == 12) lines[11] = "Anysotropic = true";
        const std::string path = writeSource(dir.path(), lines);
        const std::size_t mark = core.log().recordCount();
        PhysicsSurface surface;
        EXPECT_FALSE(surface.import(path.c_str()));
        EXPECT_EQ(logSince(core.log(), mark), std::vector<std::string>{"Can`t import surface [" + path + "]"});
    }
}

TEST(PhysicsSurface, TheDefaultSurfaceCompilesToItsRecord) {
    testing_support::ScopedGameCore core;
    SurfaceDataManager surfaces;
    ASSERT_EQ(surfaces.count(), 1u);
    const PhysicsSurface* builtIn = surfaces.find("default");
    ASSERT_NE(builtIn, nullptr);
    MemoryStream compiled;
    ASSERT_TRUE(compileSurface(*builtIn, compiled));
    compiled.setPosition(0);
    MemoryStream content;
    ASSERT_GE(readPackedStream(-1, content, false, compiled), 0);
    std::string expected = "\x07" "default";
    for (float v : {1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}) expected.append(reinterpret_cast<char*>(&v), 4);
    expected.append(16, '\0');
    expected.append(12, '\0');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(content.data()), static_cast<std::size_t>(content.size())),
              expected);
    // The writer's own ".mat" of the same surface reads back equal.
    physics_tools::SurfaceFile file;
    file.name = "default";
    const std::string written = physics_tools::surfaceBytes(file);
    MemoryStream stored(const_cast<char*>(written.data()), static_cast<std::int32_t>(written.size()));
    PhysicsSurface read;
    ASSERT_TRUE(readCompiledSurface(stored, read));
    EXPECT_STREQ(read.name, "default");
    EXPECT_EQ(std::memcmp(&read.dynamicFriction, &builtIn->dynamicFriction, 15 * 4), 0);
}

TEST(PhysicsSurface, ACompileWritesItsFileOrSaysWhyNot) {
    testing_support::TempDir dir;
    testing_support::ScopedGameCore core;
    const std::string source = writeSource(dir.path(), surfaceLines());
    // An older file is replaced; a target in a missing folder is refused.
    const std::string target = dir.path() + "/wood.mat";
    std::ofstream(target, std::ios::binary) << "older";
    SurfaceDataManager surfaces;
    ASSERT_TRUE(surfaces.compile(source.c_str(), "wood", target.c_str()));
    std::ifstream written(target, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(written), {});
    MemoryStream stored(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    PhysicsSurface read;
    ASSERT_TRUE(readCompiledSurface(stored, read));
    EXPECT_STREQ(read.name, "wood");
    PhysicsSurface imported;
    ASSERT_TRUE(imported.import(source.c_str()));
    EXPECT_EQ(std::memcmp(&read.dynamicFriction, &imported.dynamicFriction, 15 * 4), 0);

    const std::string nowhere = dir.path() + "/missing/wood.mat";
    const std::size_t mark = core.log().recordCount();
    EXPECT_FALSE(surfaces.compile(source.c_str(), "wood", nowhere.c_str()));
    EXPECT_EQ(logSince(core.log(), mark),
              (std::vector<std::string>{"Can't save physics surface to [" + nowhere + "]: IO error"}));
    // The manager's own surfaces are not touched.
    EXPECT_EQ(surfaces.count(), 1u);
}

}  // namespace
