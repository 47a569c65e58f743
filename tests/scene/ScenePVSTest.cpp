// Visibility areas and portals: a corridor of boxes seen from a camera in
// its first room, the door and culling rules, and the stored forms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "animation/AnimationCore.h"
#include "animation/AnimationTestSupport.h"
#include "effects/Particle.h"
#include "effects/ParticleLayer.h"
#include "foundation/DataStream.h"
#include "foundation/Matrix.h"
#include "model/Model.h"
#include "particle/ParticleWriter.h"
#include "render/RenderCore.h"
#include "scene/CameraFixture.h"
#include "scene/ScenePVS.h"
#include "scene/SceneWriter.h"
#include "support/TestSupport.h"

using testing_support::CameraScene;
using testing_support::ScopedGameCore;

namespace {

// The visibility byte the scene's visibility set keeps for the model's
// first element.
bool elementVisible(const Model& model) {
    Scene* scene = model.scene();
    if (!scene || model.pvsAreaIndex < 0) return false;
    return scene->pvs.objects.at(static_cast<std::size_t>(model.pvsAreaIndex))->elements.at(0).visible != 0;
}

const float kRoom[3] = {2.0f, 2.0f, 2.0f};
const float kOpening[3] = {1.5f, 1.5f, 0.05f};

float* at(float x, float y, float z) {
    static float point[3];
    point[0] = x;
    point[1] = y;
    point[2] = z;
    return point;
}

// Puts the camera at (x, 0, z) looking along -z and updates its view.
void placeCamera(CameraCore& camera, float x, float z) {
    camera.pose = scene_tools::poseAt(x, 0.0f, z);
    matrix34Inverse(camera.pose, camera.viewTransform);
    camera.frustum.setTransform(camera.viewTransform, camera.pose);
    camera.sphere.setFromSize(camera.pose, camera.sphereRadius);
    camera.updateVisibility();
}

// Rooms 0, 1, 2 along -z (the camera looks along -z from room 0), joined
// by portals 0 (rooms 0-1) and 1 (rooms 1-2); a model in each room.
class Corridor : public ::testing::Test {
protected:
    void SetUp() override {
        scene_tools::VisibilityBuilder build;
        build.addArea("room0", at(0, 0, 0), kRoom);
        build.addArea("room1", at(0, 0, -6), kRoom);
        build.addArea("room2", at(0, 0, -12), kRoom);
        build.addPortal("door01", at(0, 0, -3), kOpening, 0, 1);
        build.addPortal("gap12", at(0, 0, -9), kOpening, 1, 2);
        extra(build);
        scene().pvs.copyFrom(build.pvs());
    }
    virtual void extra(scene_tools::VisibilityBuilder&) {}

    Scene& scene() { return *world.scene; }
    Model& place(const char* name, float x, float z) {
        GameObject* model = scene().createModel("box", name, scene_tools::poseAt(x, 0.0f, z), 0);
        return *static_cast<Model*>(model);
    }
    // Puts the camera at a point looking along -z and updates its view.
    PVSData& look(float x, float z) {
        placeCamera(world.camera(), x, z);
        return world.camera().pvs;
    }
    bool visible(const Model& model) { return elementVisible(model); }

    ScopedGameCore core;
    CameraScene world;
};

TEST(ScenePVS, ASceneWithoutAreasSeesEverything) {
    ScopedGameCore core;
    CameraScene world;
    auto* model = static_cast<Model*>(world.scene->createModel("box", "crate", scene_tools::poseAt(50, 0, 50), 0));
    world.camera().updateVisibility();
    EXPECT_TRUE(world.camera().pvs.allVisible);
    ASSERT_EQ(model->pvsAreaIndex, 0);
    EXPECT_TRUE(elementVisible(*model));
}

TEST_F(Corridor, TheCameraSeesThroughOpenPortalsAndNotOutsideTheAreas) {
    Model& far = place("far", 0, -12);
    Model& outside = place("outside", 30, 0);
    PVSData& data = look(0, 0);
    EXPECT_FALSE(data.allVisible);
    EXPECT_EQ(data.cameraAreas, std::vector<std::int32_t>{0});
    EXPECT_TRUE(data.areaVisible(1));
    EXPECT_TRUE(data.areaVisible(2));
    EXPECT_TRUE(visible(far));
    EXPECT_FALSE(visible(outside));
    EXPECT_EQ(data.portals[1].list, std::vector<std::int32_t>{0});

    // Looking back (turned around), nothing behind the first portal shows.
    CameraCore& camera = world.camera();
    camera.pose.m[0] = -1.0f;
    camera.pose.m[8] = -1.0f;
    matrix34Inverse(camera.pose, camera.viewTransform);
    camera.frustum.setTransform(camera.viewTransform, camera.pose);
    camera.updateVisibility();
    EXPECT_FALSE(data.areaVisible(1));
    EXPECT_FALSE(visible(far));

    // Outside every area the camera sees all areas.
    look(30, 30);
    EXPECT_TRUE(data.allVisible);
    EXPECT_TRUE(visible(far));
}

TEST_F(Corridor, AnObjectHiddenInTheCamerasAreaIsHiddenWhateverItsView) {
    scene().pvs.areas[0]->hiddenObjects.push_back(PVSObjectName{-1, "statue"});
    Model& statue = place("statue", 0, -6);
    Model& vase = place("vase", 0, -6);
    look(0, 0);
    EXPECT_FALSE(visible(statue));
    EXPECT_TRUE(visible(vase));
    look(0, -6);  // from room 1 the statue shows
    EXPECT_TRUE(visible(statue));
}

// A door that swings on one hinge bone, its opening animation and the
// tracker map every model falls back to.
const std::string kHingedDoor =
    "model hinged\nelement leaf\nlod\nbone hinge 0 rest 0 0 0 1 0 0 0\nbox 0.5 0.5 0.5\n"
    "lod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";
const std::string kDoorAnimation =
    "anim hinged.open 3\ntrack hinge 0 2\nchannel tx 0 0\nchannel ty 0 0\nchannel tz 0 0\n"
    "channel rx 0 0\nchannel ry 0 0 0.38268343 0.70710678\nchannel rz 0 0\nchannel rw 0 1 0.92387953 0.70710678\n"
    "map default\n";

TEST(ScenePVS, AClosedDoorPortalHidesWhatIsBehindItUntilTheDoorAnimates) {
    ScopedGameCore core;
    AnimationCore animations;
    testing_support::ScopedCoreMember<AnimationCore> useAnimations{gameCore.animation, &animations};
    CameraScene world{{kHingedDoor}, animation_tests::animationFiles(kDoorAnimation)};
    scene_tools::VisibilityBuilder build;
    build.addArea("room0", at(0, 0, 0), kRoom);
    build.addArea("room1", at(0, 0, -6), kRoom);
    build.addPortal("door01", at(0, 0, -3), kOpening, 0, 1, "door");
    world.scene->pvs.copyFrom(build.pvs());
    auto* door = static_cast<Model*>(world.scene->createModel("hinged", "door", scene_tools::poseAt(0, 0, -3), 0));
    auto* chest = static_cast<Model*>(world.scene->createModel("box", "chest", scene_tools::poseAt(0, 0, -6), 0));
    EXPECT_EQ(world.scene->pvs.portals[0]->link.index, door->pvsAreaIndex);
    CameraCore& camera = world.camera();
    placeCamera(camera, 0, 0);
    EXPECT_FALSE(camera.pvs.areaVisible(1));
    EXPECT_FALSE(elementVisible(*chest));
    ASSERT_TRUE(door->push());
    ASSERT_TRUE(door->playSequence("[hinged.open]"));
    // The door opens once its animation has advanced a frame.
    const CurrentTime frame(0.04);
    door->prepareFrame(frame, 0);
    door->updateFrame(frame, 0);
    ASSERT_TRUE(door->isAnimationPlaying());
    camera.updateVisibility();
    EXPECT_TRUE(camera.pvs.areaVisible(1));
    EXPECT_TRUE(elementVisible(*chest));
    // A deleted door unbinds the portal, which is then open.
    door->clearBodyStack();
    EXPECT_FALSE(door->isAnimationPlaying());
    world.scene->deleteModel(door);
    EXPECT_EQ(world.scene->pvs.portals[0]->link.index, -1);
    camera.updateVisibility();
    EXPECT_TRUE(elementVisible(*chest));
}

// A second portal between rooms 0 and 1 makes a cycle of portals.
class CycleCorridor : public Corridor {
    void extra(scene_tools::VisibilityBuilder& build) override {
        build.addPortal("door01b", at(0, 0, -3), kOpening, 0, 1);
    }
};

TEST_F(CycleCorridor, APortalIsNotEnteredTwiceAlongOnePath) {
    PVSData& data = look(0, 0);  // ends: each portal is entered once a path
    EXPECT_TRUE(data.areaVisible(2));
    EXPECT_EQ(data.portals[2].list, std::vector<std::int32_t>{0});
    EXPECT_EQ(data.portals[0].list, std::vector<std::int32_t>{2});
}

// Room 3 lies beside room 1, behind a portal off the line of sight
// through the first portal.
class SideCorridor : public Corridor {
    void extra(scene_tools::VisibilityBuilder& build) override {
        build.addArea("room3", at(6, 0, -6), kRoom);
        const float side[3] = {0.05f, 1.5f, 0.5f};
        build.addPortal("side13", at(3.8f, 0, -6), side, 1, 3);
    }
};

TEST_F(SideCorridor, APortalBehindAPlaneOfTheViewIsCulledWithItsArea) {
    Model& aside = place("aside", 6, -6);
    PVSData& data = look(0, 0);
    EXPECT_TRUE(data.areaVisible(1));
    EXPECT_FALSE(data.areaVisible(3));
    EXPECT_FALSE(data.portals[2].visible);
    EXPECT_FALSE(visible(aside));
    // The side portal is in the view: the planes of the first one cut it.
    EXPECT_TRUE(world.camera().frustum.intersects(scene().pvs.portals[2]->volume));
}

TEST_F(Corridor, TheBlockReadsBackAndADamagedOneIsRefused) {
    place("crate", 0, -6);
    MemoryStream out;
    ASSERT_GT(scene().pvs.write(out, true), 0);
    std::string bytes(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));

    ScenePVS copy;
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(copy.read(in, true), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(copy.objects.size(), 1u);
    MemoryStream again;
    copy.write(again, true);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(again.data()), static_cast<std::size_t>(again.size())), bytes);

    // A load reads the block before the objects it names exist again (each
    // reads its own record index): their freed handles are not looked up.
    ASSERT_TRUE(scene().deleteModel("crate"));
    const std::size_t mark = core.log().recordCount();
    MemoryStream beforeObjects(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    ASSERT_EQ(copy.read(beforeObjects, true), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(core.log().recordCount(), mark);

    // Room 0's first portal index (after its name, volume count and box)
    // names a portal that does not exist.
    std::string damaged = bytes;
    const std::size_t portalIndexAt = 4 + 1 + 5 + 4 + 112 + 4;
    damaged[portalIndexAt] = 99;
    MemoryStream bad(damaged.data(), static_cast<std::int32_t>(damaged.size()));
    EXPECT_EQ(copy.read(bad, true), -1);
    EXPECT_TRUE(copy.areas.empty());
    EXPECT_TRUE(core.log().contains("Can't read visibility areas and portals"));

    std::string cut = bytes.substr(0, bytes.size() / 2);
    MemoryStream shortIn(cut.data(), static_cast<std::int32_t>(cut.size()));
    EXPECT_LT(copy.read(shortIn, true), 0);
    EXPECT_TRUE(copy.portals.empty());
}

TEST_F(Corridor, ASavedCameraViewOfAnotherSceneIsRefused) {
    PVSData& data = look(0, 0);
    MemoryStream out;
    ASSERT_GT(data.write(out), 0);
    std::string bytes(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));
    PVSData copy;
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(copy.read(in), static_cast<std::int32_t>(bytes.size()));
    EXPECT_TRUE(copy.fits(scene().pvs));
    EXPECT_EQ(copy.cameraAreas, data.cameraAreas);

    ScenePVS smaller;
    smaller.copyFrom(scene().pvs);
    smaller.areas.pop_back();
    MemoryStream again(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(copy.read(again), static_cast<std::int32_t>(bytes.size()));
    EXPECT_FALSE(copy.fits(smaller));
    EXPECT_EQ(copy.areas.size(), 2u);
    EXPECT_TRUE(core.log().contains("Can't read camera visibility data"));
}

}  // namespace

namespace {

TEST(ScenePVS, ANamedPlacementReadsBackAndALongNameIsRefused) {
    NamedPlacement placement;
    std::strcpy(placement.name, "lamp.1");
    std::strcpy(placement.second, "lamp");
    placement.pose = scene_tools::poseAt(1, 2, 3);
    MemoryStream out;
    ASSERT_EQ(writeNamedPlacement(out, placement), 1 + 6 + 1 + 4 + 48);
    std::string bytes(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));
    NamedPlacement read;
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(readNamedPlacement(in, read), static_cast<std::int32_t>(bytes.size()));
    EXPECT_STREQ(read.second, "lamp");
    EXPECT_EQ(read.pose.m[11], 3.0f);
    bytes[0] = static_cast<char>(200);
    bytes += std::string(300, 'x');
    MemoryStream bad(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_LT(readNamedPlacement(bad, read), 0);
}

}  // namespace

namespace {

// Rooms 0 and 1 joined by a number of portals on one opening: every order
// of those portals is a path of its own.
class OverlappingPortals {
public:
    explicit OverlappingPortals(int count) {
        scene_tools::VisibilityBuilder build;
        build.addArea("room0", at(0, 0, 0), kRoom);
        build.addArea("room1", at(0, 0, -6), kRoom);
        for (int i = 0; i < count; ++i) {
            const std::string name = "door" + std::to_string(i);
            build.addPortal(name.c_str(), at(0.01f * static_cast<float>(i), 0, -3), kOpening, 0, 1);
        }
        world.scene->pvs.copyFrom(build.pvs());
        outside = static_cast<Model*>(world.scene->createModel("box", "outside", scene_tools::poseAt(30, 0, 0), 0));
        placeCamera(world.camera(), 0, 0);
    }

    ScopedGameCore core;
    CameraScene world;
    Model* outside = nullptr;
};

TEST(ScenePVS, OverlappingPortalsAreWalkedInFullWhileFewAndShowAllBeyondTheBound) {
    {
        // A few: the walk is complete and nothing outside the areas shows.
        OverlappingPortals few(3);
        const PVSData& data = few.world.camera().pvs;
        EXPECT_FALSE(data.allVisible);
        EXPECT_TRUE(data.areaVisible(1));
        EXPECT_FALSE(elementVisible(*few.outside));
        // Each door is reached through each of the others.
        EXPECT_EQ(data.portals[2].list.size(), 2u);
    }
    // Twelve: the orders of the doors are beyond any frame's work; the walk
    // stops at its bound and shows everything instead of hanging.
    OverlappingPortals many(12);
    const PVSData& data = many.world.camera().pvs;
    EXPECT_TRUE(data.allVisible);
    EXPECT_TRUE(data.areaVisible(0));
    EXPECT_TRUE(data.areaVisible(1));
    for (const PVSPortal& portal : data.portals) EXPECT_TRUE(portal.visible);
    EXPECT_TRUE(elementVisible(*many.outside));
}

}  // namespace

namespace {

// An element's report names the area its model's visibility record puts it
// in.
TEST_F(Corridor, AnElementReportsTheAreaItLiesIn) {
    Model& far = place("far", 0, -12);
    Model& outside = place("outside", 30, 0);
    ModelElementReport report;
    far.elements.at(0).describe(report);
    EXPECT_EQ(report.pvsIndex, 2);
    outside.elements.at(0).describe(report);
    EXPECT_EQ(report.pvsIndex, -1);
}

// Particles in the corridor: each registers with one element per layer of
// its effect, and its layers are in view by the areas of that record.
class ParticleCorridor : public ::testing::Test {
protected:
    void SetUp() override {
        scene_tools::VisibilityBuilder build;
        build.addArea("room0", at(0, 0, 0), kRoom);
        build.addArea("room1", at(0, 0, -6), kRoom);
        build.addArea("room2", at(0, 0, -12), kRoom);
        build.addPortal("door01", at(0, 0, -3), kOpening, 0, 1);
        build.addPortal("gap12", at(0, 0, -9), kOpening, 1, 2);
        world->scene->pvs.copyFrom(build.pvs());
    }
    static std::vector<testing_support::FixtureFile> effects() {
        std::string error;
        const std::string bytes =
            particle_tools::effectFileBytes("layer plume\nrate 20\nvelocity 0 1 0\nlayer haze\n", error);
        EXPECT_FALSE(bytes.empty()) << error;
        return {{".effect", "smoke", bytes, ""}};
    }
    Particle& place(const char* name, float x, float z) {
        GameObject* made = world->scene->createParticle(name, "smoke", scene_tools::poseAt(x, 0.0f, z));
        EXPECT_NE(made, nullptr);
        return *static_cast<Particle*>(made);
    }
    const PVSObjectRecord& record(const Particle& particle) {
        return *world->scene->pvs.objects.at(static_cast<std::size_t>(particle.areaIndex));
    }
    // Whether the visibility test of each layer finds its volume in view.
    std::vector<bool> layersInView(Particle& particle) {
        std::vector<bool> seen;
        for (auto& layer : particle.layers) {
            layer->visibilityTest();
            seen.push_back((layer->flags & kLayerVolumeInView) != 0);
        }
        return seen;
    }

    ScopedGameCore core;
    RenderCore render;  // the particle effects' database
    std::unique_ptr<CameraScene> world = std::make_unique<CameraScene>(std::initializer_list<std::string>{}, effects());
};

TEST_F(ParticleCorridor, ParticlesJoinTheAreasAndTheirLayersFollowTheView) {
    // In a pushed scene a new particle is pushed, and its frames run.
    ASSERT_TRUE(world->scene->push());
    Particle& far = place("far", 0, -12);
    ASSERT_TRUE(far.isOnStack());
    Particle& outside = place("outside", 30, 0);
    ASSERT_GE(far.areaIndex, 0);
    ASSERT_GE(outside.areaIndex, 0);
    ASSERT_EQ(record(far).elements.size(), 2u);
    EXPECT_EQ(record(far).elements[0].areas, std::vector<std::int32_t>{2});
    EXPECT_TRUE(record(outside).elements[0].areas.empty());

    placeCamera(world->camera(), 0, 0);
    EXPECT_EQ(layersInView(far), (std::vector<bool>{true, true}));
    EXPECT_EQ(layersInView(outside), (std::vector<bool>{false, false}));
    // Turned around, nothing behind the first portal shows.
    CameraCore& camera = world->camera();
    camera.pose.m[0] = -1.0f;
    camera.pose.m[8] = -1.0f;
    matrix34Inverse(camera.pose, camera.viewTransform);
    camera.frustum.setTransform(camera.viewTransform, camera.pose);
    camera.updateVisibility();
    EXPECT_EQ(layersInView(far), (std::vector<bool>{false, false}));

    // Moved into the camera's room, the frame's update moves it between
    // the areas, and the camera's next view shows it again.
    far.setPose(scene_tools::poseAt(0, 0, 0));
    far.updatePhase2(testing_support::frameAt(0.0, 0.0), 0);
    EXPECT_EQ(record(far).elements[0].areas, std::vector<std::int32_t>{0});
    camera.updateVisibility();
    EXPECT_EQ(layersInView(far), (std::vector<bool>{true, true}));

    // The game core pauses, plays and restarts it by its handle.
    const GameObjectLink link = GameObjectLink::fromObject(&far);
    EXPECT_TRUE(gameCore.setObjectPlay(link, false));
    EXPECT_NE(far.state & kParticlePaused, 0u);
    EXPECT_TRUE(gameCore.setObjectPlay(link, true));
    EXPECT_EQ(far.state & kParticlePaused, 0u);
    far.updatePhase2(testing_support::frameAt(0.0, 0.5), 0);  // half a second of emission
    EXPECT_GT(far.livePointCount, 0);
    // A restart drops every point and leaves the count at zero, not below.
    EXPECT_TRUE(gameCore.resetObject(link));
    EXPECT_EQ(far.livePointCount, 0);
    for (auto& layer : far.layers) EXPECT_TRUE(layer->points.empty());

    // Deleted, its record's slot is freed.
    const std::size_t slot = static_cast<std::size_t>(far.areaIndex);
    ASSERT_TRUE(world->scene->deleteParticle(&far));
    EXPECT_EQ(world->scene->pvs.objects.at(slot), nullptr);
}

}  // namespace
