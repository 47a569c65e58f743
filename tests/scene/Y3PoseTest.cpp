// Waypoint poses: their text, binary and tree forms, and the models that
// model poses spawn in the current scene.
#include <gtest/gtest.h>

#include "model/ModelResourceSupport.h"

#include <cstring>
#include <set>
#include <string>

#include "animation/AnimationCore.h"
#include "app/SceneLoadFixture.h"
#include "foundation/DataStream.h"
#include "foundation/XmlWriter.h"
#include "game/WaypointDataManager.h"
#include "effects/Light.h"
#include "model/Model.h"
#include "scene/NpcRandomizer.h"
#include "scene/Scene.h"
#include "scene/SceneWriter.h"
#include "scene/Y3Pose.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

using scene_tools::poseAt;
using testing_support::SceneLoadFixture;
using testing_support::ScopedGameCore;

namespace {

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

MemoryStream over(std::string& bytes) { return MemoryStream(bytes.data(), static_cast<std::int32_t>(bytes.size())); }

// A pose of each kind with every field away from its default.
std::unique_ptr<Y3Pose> filledPose(std::uint32_t type) {
    std::unique_ptr<Y3Pose> pose = Y3Pose::create(type);
    std::snprintf(pose->id, sizeof(pose->id), "wp.%s", poseTypeName(type));
    pose->pose = poseAt(1.5f, -2.25f, 3.0f, 0.5f);
    pose->pose.m[1] = 0.1f;  // a value that only hex text keeps exactly
    const float size[3] = {2.0f, 0.75f, 1.25f};
    switch (type) {
    case PoseTrigger: static_cast<Y3Pose_Trigger&>(*pose).setSize(size); break;
    case PoseModel: {
        auto& model = static_cast<Y3Pose_Model&>(*pose);
        std::memcpy(model.size, size, sizeof(size));
        std::strcpy(model.model, "barrel");
        std::strcpy(model.animation, "[x* roll]");
        std::strcpy(model.faceAnimation, "blink");
        model.textureSet = 3;
        model.trajectory.resize(2);
        model.trajectory[1].v[2] = -7.5f;
        break;
    }
    case PoseCamera: {
        auto& camera = static_cast<Y3Pose_Camera&>(*pose);
        for (std::size_t i = 0; i < sizeof(camera.limits); ++i) camera.limits[i] = static_cast<std::uint8_t>(i * 7);
        camera.minRange = 0.3f;
        camera.maxRange = 55.5f;
        camera.pose2 = poseAt(9.0f, 8.0f, 7.0f);
        break;
    }
    case PoseParticle:
    case PoseLight: {
        auto& resource = static_cast<Y3Pose_Resource&>(*pose);
        std::memcpy(resource.size, size, sizeof(size));
        std::strcpy(resource.resourceName, type == PoseParticle ? "-smoke" : "lamp");
        break;
    }
    case PoseVolume: static_cast<Y3Pose_Volume&>(*pose).polygon.resize(3); break;
    default: break;
    }
    return pose;
}

TEST(Y3Pose, EveryKindReadsBackByteForByteInTextAndBinary) {
    ScopedGameCore log;
    for (std::uint32_t type = 0; type < PoseTypeCount; ++type) {
        SCOPED_TRACE(poseTypeName(type));
        std::unique_ptr<Y3Pose> pose = filledPose(type);

        MemoryStream text;
        const std::int32_t written = pose->write(text);
        std::string textBytes = bytesOf(text);
        EXPECT_EQ(written, static_cast<std::int32_t>(textBytes.size()));
        MemoryStream textIn = over(textBytes);
        std::unique_ptr<Y3Pose> fromText;
        ASSERT_GT(Y3Pose::createFromText(textIn, "wp.txt", fromText), 0);
        ASSERT_TRUE(fromText);
        EXPECT_EQ(fromText->type(), type);
        EXPECT_STREQ(fromText->id, pose->id);
        MemoryStream again;
        fromText->write(again);
        EXPECT_EQ(bytesOf(again), textBytes);

        MemoryStream binary;
        const std::int32_t binaryWritten = pose->writeBinary(binary);
        EXPECT_EQ(binaryWritten, binary.size());
        std::string binaryBytes = bytesOf(binary);
        MemoryStream binaryIn = over(binaryBytes);
        std::unique_ptr<Y3Pose> fromBinary;
        EXPECT_EQ(Y3Pose::readBinary(binaryIn, fromBinary), static_cast<std::int32_t>(binaryBytes.size()));
        ASSERT_TRUE(fromBinary);
        MemoryStream binaryAgain;
        fromBinary->writeBinary(binaryAgain);
        EXPECT_EQ(bytesOf(binaryAgain), binaryBytes);
    }
}

TEST(Y3Pose, TextAndBinaryLayoutsAreTheStoredOnes) {
    ScopedGameCore log;
    Y3Pose point("p");
    point.pose = Matrix34{};
    MemoryStream text;
    point.write(text);
    EXPECT_EQ(bytesOf(text), "\r\n\r\ntype Point\r\nid p\r\npose " + std::string(96, '0') + "\r\n");
    MemoryStream binary;
    point.writeBinary(binary);
    const std::string bytes = bytesOf(binary);
    ASSERT_EQ(bytes.size(), 8u + 1u + 1u + 48u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xFE\xAE\x61\x32", 4));

    Y3Pose_Model model("m");
    MemoryStream modelText;
    model.write(modelText);
    const std::string lines = bytesOf(modelText);
    EXPECT_NE(lines.find("\r\nsize 0000803F0000803F0000803F\r\n"), std::string::npos);
    EXPECT_NE(lines.find("\r\ncount 00000000\r\ntrajectory \r\n"), std::string::npos);
}

TEST(Y3Pose, TextReadingTakesOptionalLinesAndAbsoluteSizesAndRefusesBadHex) {
    ScopedGameCore log;
    const std::string pose = std::string(96, '0');
    std::string text = "type Model\r\nid m\r\npose " + pose +
                       "\r\nsize 000080BF0000803F000000C0\r\nmodel crate\r\ntexture 02000000\r\ncount 00000000\r\n"
                       "trajectory \r\n";
    MemoryStream in = over(text);
    std::unique_ptr<Y3Pose> read;
    ASSERT_GT(Y3Pose::createFromText(in, "wp.txt", read), 0);
    auto& model = static_cast<Y3Pose_Model&>(*read);
    EXPECT_STREQ(model.model, "crate");
    EXPECT_STREQ(model.animation, "");
    EXPECT_STREQ(model.faceAnimation, "");
    EXPECT_EQ(model.textureSet, 2);
    EXPECT_EQ(model.size[0], 1.0f);
    EXPECT_EQ(model.size[2], 2.0f);

    std::string bad = "type Trigger\r\nid t\r\npose " + pose + "\r\nsize 0000\r\n";
    MemoryStream badIn = over(bad);
    EXPECT_EQ(Y3Pose::createFromText(badIn, "wp.txt", read), -1);
    EXPECT_FALSE(read);
    std::string any = "type ((ANY))\r\n";
    MemoryStream anyIn = over(any);
    EXPECT_EQ(Y3Pose::createFromText(anyIn, "wp.txt", read), -1);
    EXPECT_TRUE(log.log().contains("Can't create Y3Pose: invalid type requested: 0x00000007"));
    std::string none;
    MemoryStream empty = over(none);
    EXPECT_EQ(Y3Pose::createFromText(empty, "wp.txt", read), -2);
}

TEST(Y3Pose, BinaryReadingRefusesBadMagicLinksAndLongNames) {
    ScopedGameCore log;
    std::unique_ptr<Y3Pose> read;
    std::string wrong("\xFE\xAE\x61\x33\x00\x00\x00\x00", 8);
    MemoryStream wrongIn = over(wrong);
    EXPECT_EQ(Y3Pose::readBinary(wrongIn, read), -1);
    EXPECT_EQ(wrongIn.tell(), 4);
    EXPECT_FALSE(read);

    // A stored link word never becomes a live handle.
    Y3Pose_Trigger trigger("t");
    trigger.link = GameObjectLink{5};
    MemoryStream stored;
    trigger.writeBinary(stored);
    trigger.link = GameObjectLink{};
    std::string bytes = bytesOf(stored);
    MemoryStream in = over(bytes);
    ASSERT_GT(Y3Pose::readBinary(in, read), 0);
    EXPECT_EQ(static_cast<Y3Pose_Trigger&>(*read).link.value, 0u);

    // A model name longer than its 128-byte field is refused.
    Y3Pose_Model model("m");
    MemoryStream modelOut;
    model.writeBinary(modelOut);
    std::string modelBytes = bytesOf(modelOut);
    const std::size_t nameAt = 4 + 4 + 1 + 1 + 48 + 4 + 12 + 4;
    // A name of 300 bytes; the fields after it are whole.
    modelBytes[nameAt] = static_cast<char>(0x2C);
    modelBytes[nameAt + 1] = static_cast<char>(0x01);
    modelBytes.insert(nameAt + 2, std::string(300, 'a'));
    MemoryStream longIn = over(modelBytes);
    EXPECT_EQ(Y3Pose::readBinary(longIn, read), -1);
}

TEST(Y3Pose, TreeFormNamesTheKindAndItsRows) {
    ScopedGameCore log;
    XmlTag root("waypoints");
    filledPose(PoseModel)->exportTree(root, 4);
    filledPose(PoseVolume)->exportTree(root, 5);
    filledPose(PoseCamera)->exportTree(root, -1);
    ASSERT_EQ(root.children().size(), 2u);
    const XmlTag& model = root.children()[0];
    EXPECT_EQ(model.name(), "model");
    ASSERT_GE(model.attributes().size(), 6u);
    EXPECT_EQ(model.attributes()[0].name, "No");
    EXPECT_EQ(model.attributes()[0].value, "4");
    EXPECT_EQ(model.attributes()[5].name, "textureSet");
    ASSERT_EQ(model.children().size(), 5u);
    EXPECT_EQ(model.children()[3].name(), "c");
    EXPECT_EQ(model.children()[4].name(), "size");
    const XmlTag& camera = root.children()[1];
    EXPECT_EQ(camera.attributes()[0].name, "name");
    EXPECT_EQ(camera.children().size(), 4u);
}

TEST(Y3Pose, NoWaypointTextIsWrittenThatCannotBeReadBack) {
    // A point line is read through 2048 bytes: a volume's "items" line holds
    // 85 points, a trajectory line 84. The writer refuses more, which the
    // reader could not take back.
    testing_support::ScopedGameCore core;
    Y3Pose_Volume volume("shore");
    Y3Pose_Model walker("walker");
    struct Case {
        Y3Pose* pose;
        std::vector<PoseVector3>* points;
        std::size_t fit;
    };
    const Case cases[] = {{&volume, &volume.polygon, 85}, {&walker, &walker.trajectory, 84}};
    for (const Case& c : cases) {
        for (const std::size_t count : {c.fit, c.fit + 1}) {
            c.points->assign(count, PoseVector3{});
            MemoryStream text(true);
            const std::int32_t written = c.pose->write(text);
            if (count > c.fit) {
                EXPECT_LT(written, 0) << c.pose->id;
                continue;
            }
            ASSERT_GT(written, 0) << c.pose->id;
            text.setPosition(0);
            std::unique_ptr<Y3Pose> read;
            EXPECT_GT(Y3Pose::createFromText(text, "shore.txt", read), 0) << c.pose->id;
        }
    }
    EXPECT_TRUE(core.log().contains("Can't write waypoint field [items]: 86 points, a line holds 85"));
    EXPECT_TRUE(core.log().contains("Can't write waypoint field [trajectory]: 85 points, a line holds 84"));
}

TEST(Y3Pose, HelpersOfTheScene) {
    Y3Pose_Volume volume;
    volume.pose = poseAt(0.0f, 0.0f, 0.0f);
    volume.polygon.resize(3);
    const float corners[3][3] = {{-2.0f, 0.0f, -2.0f}, {2.0f, 0.0f, -2.0f}, {0.0f, 0.0f, 3.0f}};
    for (int i = 0; i < 3; ++i) std::memcpy(volume.polygon[i].v, corners[i], sizeof(corners[i]));
    const float inside[3] = {0.2f, 1.0f, -1.0f};
    EXPECT_FLOAT_EQ(volume.heightAbove(inside, -0.5f, 2.0f), 1.0f);
    const float outside[3] = {9.0f, 1.0f, 9.0f};
    EXPECT_FLOAT_EQ(volume.heightAbove(outside, -0.5f, 2.0f), -1.0f);

    EXPECT_EQ(cameraPoseKind("hall.a"), 0);
    EXPECT_EQ(cameraPoseKind("hall.a.line"), 2);
    EXPECT_EQ(cameraPoseKind("hall.a.flyer"), 4);

    const float a[3] = {0, 0, 0}, b[3] = {4, 0, 0}, p[3] = {2, 3, 0}, beyond[3] = {5, 1, 0};
    EXPECT_FLOAT_EQ(distanceToSegment(p, a, b), 3.0f);
    EXPECT_EQ(distanceToSegment(beyond, a, b), 10000.0f);
    EXPECT_EQ(distanceToSegment(p, a, a), 10000.0f);

    Y3Pose_Model first("crowd#1"), second("crowd#2"), plain("crowd");
    EXPECT_TRUE(first.sameGroup(second));
    EXPECT_FALSE(plain.sameGroup(first));

    NameArray animations(3);
    setNameField(animations[0], "chr_sailor.face.idle");
    setNameField(animations[1], "chr_sailor.walk");
    setNameField(animations[2], "chr_sailor.sit");
    EXPECT_EQ(characterDefaultAnimation("chr_sailor_old", animations), "chr_sailor.sit");
    EXPECT_EQ(characterDefaultAnimation("zzz_x", animations), "");
}

// A scene is current; models spawn into it.
class PoseScene : public ::testing::Test {
protected:
    PoseScene() {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("quay");
    }
    Scene& scene() { return *gameCore.currentScene(); }
    Model* spawned(const Y3Pose_Model& pose) {
        GameObject* object = gameCore.objects->getObject(pose.link);
        return object && object->getType() == ObjectModel ? static_cast<Model*>(object) : nullptr;
    }

    // The spawned models' sequences make their animation records here; it
    // outlives the scene's models.
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    SceneLoadFixture f;
    model_test::ScopedModelResources models{"box", "hero", "walker", "crate", "prop", "sailor"};
};

TEST_F(PoseScene, AModelSpawnsAtItsPoseFirstAndWhereItWasReleasedAfter) {
    ASSERT_NE(gameCore.currentScene(), nullptr);
    Y3Pose_Model pose("crate.1");
    pose.pose = poseAt(4.0f, 0.0f, -2.0f);
    std::strcpy(pose.model, "crate");
    const float size[3] = {2.0f, 1.0f, 1.0f};
    std::memcpy(pose.size, size, sizeof(size));
    ASSERT_TRUE(pose.spawn(0));
    Model* model = spawned(pose);
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model->name, "crate.1");
    EXPECT_STREQ(model->resourceName, "crate");
    EXPECT_EQ(model->worldMatrix.m[9], 4.0f);
    EXPECT_EQ(model->worldMatrix.m[11], -2.0f);
    EXPECT_EQ(model->scale[0], 2.0f);

    EXPECT_FALSE(pose.spawn(0));  // already there
    EXPECT_TRUE(f.logged("Model [crate.1]>[crate] already exist"));

    Matrix34 moved = model->worldMatrix;
    moved.m[9] = 6.0f;
    model->setWorldMatrix(moved);
    pose.release();
    EXPECT_EQ(pose.link.value, 0u);
    EXPECT_TRUE(scene().models.empty());
    ASSERT_TRUE(pose.spawn(0));
    EXPECT_EQ(spawned(pose)->worldMatrix.m[9], 6.0f);
    pose.release();
}

TEST_F(PoseScene, ALightPoseNamesItsLightUnlessTheNameIsTaken) {
    GameObject* lamp = scene().addLight("lamp", nullptr, true);
    GameObject* torch = scene().addLight("torch", nullptr, true);
    ASSERT_TRUE(lamp && torch);
    Y3Pose_Light pose("lamp.1");
    pose.link = GameObjectLink::fromObject(lamp);
    pose.refresh(true);
    EXPECT_STREQ(lamp->getName(), "lamp.1");
    std::strcpy(pose.id, "torch");
    pose.refresh(true);
    EXPECT_STREQ(lamp->getName(), "lamp.1");
    EXPECT_TRUE(f.logged("Can't rename light [lamp.1] to [torch]"));
    pose.link = GameObjectLink{};  // the scene deletes its lights
}

// The empty randomisation table of the group "crowd" of the scene "quay" by
// day: its four rows without variants.
ScriptVariable* crowdTable(VariablesCore& variables) {
    ScriptVariable* table = variables.globals()
                                .ensureRoot()
                                ->appendChild("npcrandomization")
                                ->appendChild("quay")
                                ->appendChild("crowd")
                                ->appendChild("day", ScriptVariable::TypeArray2D);
    for (const char* row : {"anim", "texture", "face-anim", "frequency"})
        table->appendChild(row, ScriptVariable::TypeArray);
    return table;
}

TEST_F(PoseScene, ARandomisedGroupWithoutVariantsSpawnsNothing) {
    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> use(gameCore.variables, &variables);
    ScriptVariable* table = crowdTable(variables);

    Y3Pose_Model pose("crowd#1");
    std::strcpy(pose.model, "$crowd");
    EXPECT_TRUE(pose.spawn(0));
    EXPECT_EQ(pose.link.value, 0u);
    EXPECT_TRUE(scene().models.empty());

    // With a variant, its model spawns with its texture set and animation.
    table->child(0)->appendChild("sailor", ScriptVariable::TypeString)->setString("wave");
    table->child(1)->appendChild("1", ScriptVariable::TypeNumber)->setNumber(2.0f);
    EXPECT_TRUE(pose.spawn(0));
    Model* model = spawned(pose);
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model->resourceName, "sailor");
    EXPECT_EQ(model->textureSet, 2);
    EXPECT_EQ(model->stateWords[0] & 0xC, 0xCu);
    // The sequence reached the model's stack, which asked for its animation
    // (not in these packages, so it plays nothing).
    EXPECT_NE(animations.animations().findRecord("wave"), nullptr);
    pose.release();
}

// A "$group" sequence name plays one of the group's variants of the
// model's resource, whatever its weight.
TEST_F(PoseScene, AGroupArrayGivesAVariantOfTheModel) {
    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> use(gameCore.variables, &variables);
    ScriptVariable* table = crowdTable(variables);
    const char* const rows[3][3] = {{"sailor", "wave", "blink"}, {"fisher", "cast", "nod"}, {"sailor", "sit", "yawn"}};
    for (const auto& row : rows) {
        table->child(0)->appendChild(row[0], ScriptVariable::TypeString)->setString(row[1]);
        table->child(1)->appendChild("t", ScriptVariable::TypeNumber)->setNumber(0.0f);
        table->child(2)->appendChild(row[0], ScriptVariable::TypeString)->setString(row[2]);
        table->child(3)->appendChild("f", ScriptVariable::TypeNumber)->setNumber(1.0f);
    }
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        const NpcVariant* variant = NpcRandomizer::readGroupArray("crowd", "sailor");
        ASSERT_NE(variant, nullptr);
        EXPECT_EQ(variant->model, "sailor");
        seen.insert(variant->animation + "/" + variant->faceAnimation);
    }
    EXPECT_EQ(seen, (std::set<std::string>{"wave/blink", "sit/yawn"}));
    const NpcVariant* fisher = NpcRandomizer::readGroupArray("crowd", "fisher");
    ASSERT_NE(fisher, nullptr);
    EXPECT_EQ(fisher->animation, "cast");
    EXPECT_EQ(NpcRandomizer::readGroupArray("crowd", "captain"), nullptr);
    EXPECT_EQ(NpcRandomizer::readGroupArray("nobody", "sailor"), nullptr);
    EXPECT_TRUE(f.logged("Expected NPC randomization array at [npcrandomization.quay.nobody.day] for group [nobody]"));
}

}  // namespace

namespace {

TEST(SceneWaypoints, AScenesPosesComeFromItsWaypointResourceAndABrokenOneIsRefused) {
    scene_tools::WaypointSet set;
    set.add(PoseCamera, "quay.cam.fixed", poseAt(0, 2, 5));
    set.add(PosePoint, "quay.spawn", poseAt(1, 0, 1));
    MemoryStream compiled;
    ASSERT_GT(set.writeCompiled(compiled), 0);
    testing_support::TempDir dir;
    testing_support::FixturePackage package;
    package.files = {{".wp", "quay", bytesOf(compiled), ""}, {".wp", "pier", "\x02\x00\x00\x00garbage", ""}};
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    WaypointDataManager waypoints;
    testing_support::ScopedCoreMember<WaypointDataManager> use(gameCore.waypoints, &waypoints);
    SceneLoadFixture f;
    f.game->flags |= kSaveGameLoadAllowed;

    f.game->loadScene("quay");
    Scene* quay = gameCore.currentScene();
    ASSERT_NE(quay, nullptr);
    ASSERT_EQ(quay->staticWaypoints().size(), 2u);
    EXPECT_STREQ(quay->staticWaypoints()[0]->id, "quay.cam.fixed");
    EXPECT_NE(quay->findWaypoint("quay.spawn", PosePoint), nullptr);

    f.game->loadScene("pier");
    EXPECT_TRUE(f.logged("Waypoints initialize: Can't load WP [pier] data"));
}

}  // namespace

namespace {

TEST(WaypointSet, ASourceCompilesToTheSamePosesAndRefusesATakenId) {
    ScopedGameCore core;
    scene_tools::WaypointSet set;
    set.add(PoseVolume, "b.area", poseAt(0, 0, 0));
    set.add(PoseModel, "a.crate", poseAt(1, 0, 0));
    MemoryStream source;
    ASSERT_GT(set.writeSource(source), 0);
    std::string text = bytesOf(source);

    scene_tools::WaypointSet read;
    std::string error;
    MemoryStream in = over(text);
    ASSERT_TRUE(read.readSource(in, "quay.txt", error)) << error;
    MemoryStream a, b;
    set.writeCompiled(a);
    read.writeCompiled(b);
    EXPECT_EQ(bytesOf(a), bytesOf(b));

    MemoryStream again = over(text);
    EXPECT_FALSE(read.readSource(again, "quay.txt", error));
    EXPECT_EQ(error, "waypoint id [a.crate] is taken");
}

}  // namespace
