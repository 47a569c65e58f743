// Light resources (their stored records, reach and fixed-function records)
// and the scene's light objects: names, derived kinds, visibility, saves,
// influence volumes and the render context's refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/ObjectFactories.h"
#include "app/SceneLoadFixture.h"
#include "effects/EffectsSettings.h"
#include "effects/Light.h"
#include "effects/LightDataManager.h"
#include "effects/LightSetLibrary.h"
#include "foundation/Intersection.h"
#include "game/WaypointDataManager.h"
#include "scene/SceneDataManager.h"
#include "support/PackageFixture.h"
#include "effects/Y3Light.h"
#include "foundation/DataStream.h"
#include "model/Model.h"
#include "model/ModelResourceSupport.h"
#include "model/ObjectContext.h"
#include "render/VideoSetup.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "textures/MemoryTextureEnvironment.h"

using testing_support::SceneLoadFixture;

namespace {

std::string recordBytes(const Y3Light& light) {
    MemoryStream out;
    EXPECT_GT(light.write(out), 0);
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(out.size()));
}

std::int32_t readRecord(const std::string& bytes, std::unique_ptr<Y3Light>& out) {
    MemoryStream in(const_cast<char*>(bytes.data()), static_cast<std::int32_t>(bytes.size()));
    return Y3Light::read(in, out);
}

// A display mode with or without shaders for the scope.
struct ScopedDisplayMode {
    explicit ScopedDisplayMode(bool shaders) {
        environment.setup.details = shaders ? VideoDetailsHigh : VideoDetailsMinimum;
        setTextureEnvironment(&environment);
    }
    ~ScopedDisplayMode() { setTextureEnvironment(nullptr); }
    texture_tools::MemoryTextureEnvironment environment;
};

TEST(Y3Light, RecordsKeepEveryFieldButTheRunTimeFlags) {
    ScopedDisplayMode shaders(true);
    Y3Light_DIRECT sun;
    sun.colour[0] = 0.25f;
    sun.flags = 0x1 | 0x2 | 0x200 | kY3LightAttenuated | kY3LightStartsHidden | kY3LightShadowCaster;
    std::strcpy(sun.name, "fill_shadow");
    std::strcpy(sun.bone, "mast");
    sun.pose.m[9] = 4.0f;
    std::strcpy(sun.lightSets[3], "night");
    sun.material = 1;
    sun.mode = 1;
    sun.radius = 2.0f;
    sun.distance = 8.0f;
    Matrix34 placed = matrix34Identity();
    placed.m[10] = 3.0f;
    sun.setPose(placed);
    sun.textures[1].init("clouds", 1);
    const std::string bytes = recordBytes(sun);
    sun.flags &= ~(kY3LightPushed | kY3LightAllocated);

    std::unique_ptr<Y3Light> read;
    ASSERT_EQ(readRecord(bytes, read), static_cast<std::int32_t>(bytes.size()));
    auto* back = dynamic_cast<Y3Light_DIRECT*>(read.get());
    ASSERT_NE(back, nullptr);
    // fill_shadow: a fill light, and no caster (the stored caster bit goes).
    EXPECT_EQ(back->flags, kY3LightAttenuated | kY3LightStartsHidden | kY3LightFill);
    EXPECT_EQ(back->colour[0], 0.25f);
    EXPECT_STREQ(back->bone, "mast");
    EXPECT_EQ(back->pose.m[9], 4.0f);
    EXPECT_EQ(back->lightPose().m[10], 3.0f);
    EXPECT_STREQ(back->lightSets[3], "night");
    EXPECT_EQ(back->material, 1u);
    EXPECT_EQ(back->mode, 1u);
    EXPECT_EQ(back->getRadius(), 2.0f);
    EXPECT_EQ(back->getDistance(), 8.0f);
    EXPECT_STREQ(back->textures[1].baseName(), "clouds");
    // The derived data: projection 1 / (2 r) and 1 / d, the box ahead of
    // the light over its distance.
    EXPECT_FLOAT_EQ(back->projection().m[0], 0.25f);
    EXPECT_FLOAT_EQ(back->projection().m[8], 0.125f);
    EXPECT_FLOAT_EQ(back->projection().m[9], 0.5f);
    EXPECT_FLOAT_EQ(back->inverseReach(), 0.125f);
    EXPECT_FLOAT_EQ(back->box.box.matrix.m[11], 4.0f);
    EXPECT_FLOAT_EQ(back->box.box.extents[2], 4.0f);
    // Written again, only the flag word differs.
    const std::string again = recordBytes(*back);
    EXPECT_EQ(again.substr(0, 20), bytes.substr(0, 20));
    EXPECT_EQ(again.substr(24), bytes.substr(24));
}

TEST(Y3Light, DamagedRecordsMakeNoLight) {
    Y3Light_POINT lamp;
    std::strcpy(lamp.name, "lamp");
    const std::string good = recordBytes(lamp);
    std::string wrongMagic = good;
    wrongMagic[0] = 0x78;
    std::string kindTwo = good;
    kindTwo[4] = 2;
    const struct {
        const char* what;
        std::string bytes;
        bool made;
    } cases[] = {
        {"wrong magic", wrongMagic, false},
        {"kind 2", kindTwo, false},
        {"short body", good.substr(0, good.size() - 3), true},
        {"short head", good.substr(0, 6), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<Y3Light> read;
        EXPECT_LT(readRecord(c.bytes, read), 0);
        EXPECT_EQ(read != nullptr, c.made);
    }
}

TEST(Y3Light, LongNamesAreCutAndTheRecordReadOn) {
    Y3Light_POINT lamp;
    std::strcpy(lamp.bone, "hook");
    std::string bytes = recordBytes(lamp);
    // The empty name (one length byte at 84) becomes 200 characters.
    ASSERT_EQ(bytes[84], '\0');
    bytes.replace(84, 1, std::string(1, static_cast<char>(200)) + std::string(200, 'n'));
    std::unique_ptr<Y3Light> read;
    ASSERT_EQ(readRecord(bytes, read), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(std::string(read->name), std::string(127, 'n'));
    EXPECT_STREQ(read->bone, "hook");
}

TEST(Y3Light, WithoutShadersAPointLightReachesFurtherAndFillsTheFixedRecord) {
    Y3Light_POINT lamp;
    lamp.colour[0] = 0.5f;
    lamp.flags = kY3LightAttenuated;
    lamp.setRadius(2.0f);
    {
        ScopedDisplayMode fixed(false);
        EXPECT_FLOAT_EQ(lamp.getRadius(), 6.0f);
        lamp.setRadius(2.0f);
        EXPECT_FLOAT_EQ(lamp.inverseReach(), 1.0f / 6.0f);
        EXPECT_FLOAT_EQ(lamp.volume().radius(), 6.0f);
    }
    ScopedDisplayMode shaders(true);
    EXPECT_FLOAT_EQ(lamp.getRadius(), 2.0f);
    const float material[3] = {1.0f, 0.5f, 1.0f};
    D3DLIGHT9 record{};
    lamp.fillFixedFunction(record, material);
    EXPECT_EQ(record.Type, D3DLIGHT_POINT);
    EXPECT_FLOAT_EQ(record.Diffuse.r, 0.5f * 0.75f);
    EXPECT_FLOAT_EQ(record.Diffuse.g, 0.5f * 0.75f);
    EXPECT_EQ(record.Diffuse.a, 0.0f);
    EXPECT_FLOAT_EQ(record.Range, 6.0f);
    EXPECT_FLOAT_EQ(record.Attenuation0, 0.5f);
    EXPECT_FLOAT_EQ(record.Attenuation2, 0.02f);
    lamp.flags = 0;
    lamp.fillFixedFunction(record, material);
    EXPECT_EQ(record.Attenuation0, 1.0f);
    EXPECT_EQ(record.Range, 1e10f);
}

// ---- scene lights ---------------------------------------------------------

// The current scene "intro" and light resources of the light database made
// as a scene's load makes them.
struct LightWorld {
    LightWorld() {
        f.game->flags |= kSaveGameLoadAllowed;
        f.game->loadScene("intro");
    }
    Scene& scene() { return *f.game->currentScene(); }
    // A scene light on a loaded resource of the kind and name.
    Light* add(const char* lightName, const char* resourceName, std::uint32_t kind = 0, float radius = 1.0f) {
        std::unique_ptr<Y3Light> source = Y3Light::create(kind);
        copyName128(source->name, resourceName);
        source->radius = radius;
        for (char(&set)[128] : source->lightSets) copyName128(set, "lamp_own_set");
        source->setPose(matrix34Identity());
        // Through its stored record, as a scene's data holds it.
        MemoryStream stored;
        source->write(stored);
        stored.setPosition(0);
        Y3Light::read(stored, source);
        // The database outlives the test: each light has a record of its own.
        const Y3LightData* record = loadLightResource(lightName, *source, false);
        return scene().addLight(lightName, record->name, false);
    }
    SceneLoadFixture f;
};

TEST(Light, RenamesKeepNamesUniqueAndCut) {
    LightWorld w;
    Light* lamp = w.add("lamp_r", "lamp");
    ASSERT_TRUE(lamp && w.add("torch_r", "torch"));
    const std::string longName(200, 'x');
    const struct {
        std::string wanted;
        bool result;
        std::string name;
    } cases[] = {
        {"lamp_r", true, "lamp_r"},
        {"torch_r", false, "lamp_r"},
        {longName, true, std::string(127, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted.substr(0, 10));
        EXPECT_EQ(lamp->checkUniqueName(c.wanted.c_str()), c.result);
        EXPECT_EQ(std::string(lamp->getName()), c.name);
    }
    EXPECT_TRUE(w.f.logged("Light with name [torch_r] already exist in this scene"));
    EXPECT_EQ(w.scene().lookupLight(std::string(127, 'x').c_str()), lamp);
}

TEST(Light, KindsAreDerivedFromTheResourceOnTheFirstUpdate) {
    LightWorld w;
    const struct {
        const char* resource;
        std::uint32_t kind;
        std::uint32_t set;
        std::uint32_t unset;
    } cases[] = {
        {"shadow_key", 0, kLightShadowCaster | kLightPointKind, kLightFillKind | kLightDirectKind},
        {"Shadow_key", 0, kLightPointKind, kLightShadowCaster},
        {"fill_", 1, kLightFillKind | kLightDirectKind, kLightShadowCaster | kLightPointKind},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resource);
        Light* light = w.add(("kind" + std::to_string(n++)).c_str(), c.resource, c.kind);
        ASSERT_NE(light, nullptr);
        EXPECT_TRUE(light->onStack());
        EXPECT_EQ(light->flags & kLightEnabled, kLightEnabled);
        light->updatePhase0(CurrentTime{}, 0);
        EXPECT_EQ(light->flags & c.set, c.set);
        EXPECT_EQ(light->flags & c.unset, 0u);
        EXPECT_EQ(light->flags & (kLightDerived | kLightVolumeDirty), kLightDerived);
    }
}

TEST(Light, HidingKeepsTheLightPushedAndShowingFlagsItsVolume) {
    LightWorld w;
    Light* lamp = w.add("lamp_v", "lamp");
    ASSERT_NE(lamp, nullptr);
    lamp->updatePhase0(CurrentTime{}, 0);
    ASSERT_EQ(lamp->flags & kLightVolumeDirty, 0u);
    lamp->setVisible(false);
    EXPECT_TRUE(lamp->onStack());
    EXPECT_EQ(lamp->flags & (kLightVisible | kLightVolumeDirty), 0u);
    lamp->setVisible(true);
    EXPECT_EQ(lamp->flags & (kLightVisible | kLightVolumeDirty), kLightVisible | kLightVolumeDirty);
}

TEST(Light, AScaledPoseWidensTheSphere) {
    LightWorld w;
    ScopedDisplayMode shaders(true);
    Light* lamp = w.add("lamp_s", "lamp", 0, 4.0f);
    ASSERT_NE(lamp, nullptr);
    Matrix34 pose = matrix34Identity();
    pose.m[4] = 2.0f;
    pose.m[8] = 0.5f;
    pose.m[9] = 7.0f;
    lamp->setup(pose);
    EXPECT_EQ(lamp->pose.m[4], 1.0f);
    lamp->updatePhase0(CurrentTime{}, 0);
    ASSERT_NE(lamp->bounds(), nullptr);
    EXPECT_FLOAT_EQ(lamp->bounds()->radius(), 8.0f);
    EXPECT_FLOAT_EQ(lamp->bounds()->matrix().m[9], 7.0f);
    EXPECT_FLOAT_EQ(lamp->inverseRadius, 0.125f);
}

TEST(Light, ALightLinkedToAModelTakesTheModelsLightSet) {
    // A model whose light set is "default" at every time of day.
    model_test::ScopedModelResources models{{},
                                            {model_test::boxModel("prop") + "lightset morning default\n"
                                                                            "lightset day default\n"
                                                                            "lightset evening default\n"
                                                                            "lightset nighttime default\n"}};
    LightWorld w;
    ASSERT_TRUE(w.f.lightSets.initialize());
    Light* lamp = w.add("lamp_m", "lamp");
    ASSERT_NE(lamp, nullptr);
    auto* boat = dynamic_cast<Model*>(w.scene().createModel("prop", "boat", matrix34Identity(), 0));
    ASSERT_NE(boat, nullptr);
    ASSERT_TRUE(boat->updateLightSet());
    ASSERT_NE(boat->lightSetName[0], '\0');
    for (const std::int32_t mode : {0, 3}) {
        SCOPED_TRACE(mode);
        w.scene().setSkyLightMode(mode);
        lamp->link.clear();
        lamp->invalidateLighting();
        lamp->updatePhase0(CurrentTime{}, 0);
        // Its own sets are not in the library.
        EXPECT_EQ(lamp->lightSet, nullptr);
        lamp->link.set(nullptr, boat, matrix34Identity());
        lamp->invalidateLighting();
        lamp->updatePhase0(CurrentTime{}, 0);
        ASSERT_NE(lamp->lightSet, nullptr);
        EXPECT_STREQ(lamp->lightSet->name, boat->lightSetName);
    }
    lamp->link.clear();
}

TEST(Light, ASavedPushedLightComesBackNotPushed) {
    LightWorld w;
    Light* lamp = w.add("lamp_p", "lamp", 0, 3.0f);
    ASSERT_NE(lamp, nullptr);
    lamp->updatePhase0(CurrentTime{}, 0);
    lamp->diffuseFactor = 0.5f;
    ASSERT_TRUE(lamp->onStack());
    MemoryStream saved;
    ASSERT_GT(lamp->write(saved), 0);

    saved.setPosition(0);
    LightRecord check;
    ASSERT_EQ(check.read(saved), saved.size());
    saved.setPosition(0);
    std::unique_ptr<Light> restored(Light::create(lamp->data, w.scene().id, "ignored", true));
    ASSERT_NE(restored, nullptr);
    EXPECT_STREQ(restored->getName(), "");
    ASSERT_EQ(restored->read(saved), saved.size());
    EXPECT_STREQ(restored->getName(), "lamp_p");
    EXPECT_FALSE(restored->onStack());
    EXPECT_EQ(restored->flags & ~(kLightOnStack | kLightEnabled), lamp->flags & ~(kLightOnStack | kLightEnabled));
    EXPECT_EQ(restored->diffuseFactor, 0.5f);
    ASSERT_NE(restored->bounds(), nullptr);
    EXPECT_FLOAT_EQ(restored->bounds()->radius(), lamp->bounds()->radius());

    // A record cut short is refused, with its message.
    MemoryStream cut(const_cast<char*>(reinterpret_cast<const char*>(saved.data())), 30);
    EXPECT_LT(restored->read(cut), 0);
    EXPECT_TRUE(w.f.logged("Can't load light [lamp_p.lamp]: its saved record is damaged"));
}

TEST(Light, ASaveWhoseLightsWroteNoRecordIsRefused) {
    LightWorld w;
    Light* lamp = w.add("lamp_o", "lamp");
    ASSERT_NE(lamp, nullptr);
    ObjectRepository::SavedRecord record;
    record.type = ObjectLight;
    record.name = lamp->recordName();
    // Written before lights had a record: the object table's link follows
    // the record head at once.
    MemoryStream old;
    ASSERT_GT(lamp->link.write(old), 0);
    old.setPosition(0);
    EXPECT_LT(checkObjectForLoading(record, old), 0);
    EXPECT_TRUE(w.f.logged("Can't load light [lamp_o.lamp]: its saved record is damaged or written without light "
                           "records"));
    // The light's own record passes.
    MemoryStream saved;
    const std::int32_t size = lamp->write(saved);
    saved.setPosition(0);
    EXPECT_EQ(checkObjectForLoading(record, saved), size);
}


}  // namespace

namespace {

// The demo's harbour as the build wrote it: its sun and its pier lamp take
// the scene's light set and reach the quay (x -12..8, z -4..8) and the pier
// (on to x 16 over z 0..8), where the scene's models stand.
TEST(Light, TheDemoHarboursSunAndLampReachTheQuayAndThePier) {
    testing_support::ScopedPackageDatabase packages(DEMO_FOLDER);
    ASSERT_TRUE(packages.build());
    ScopedDisplayMode shaders(true);
    ObjectRepository objects;
    testing_support::ScopedCoreMember<ObjectRepository> useObjects(gameCore.objects, &objects);
    LightSetLibrary sets;
    testing_support::ScopedCoreMember<LightSetLibrary> useSets(gameCore.lightSets, &sets);
    ASSERT_TRUE(sets.initialize());
    WaypointDataManager waypoints;
    testing_support::ScopedCoreMember<WaypointDataManager> useWaypoints(gameCore.waypoints, &waypoints);
    SceneDataManager scenes;
    setSceneDataManager(&scenes);
    std::unique_ptr<Scene> scene(SceneContext::createScene(scenes.get("harbour", false)));
    struct Release {
        std::unique_ptr<Scene>& scene;
        ~Release() {
            if (scene) scene->release();
            scene.reset();
            setSceneDataManager(nullptr);
        }
    } release{scene};
    ASSERT_NE(scene, nullptr);
    // Its lights are made first; what follows them (its trigger waypoint
    // asks for the game's trigger services) is not needed here.
    scene->initialize(matrix34Identity());
    ASSERT_TRUE(packages.log().contains("Scene lights created"));
    auto reaches = [](const Light& light, float x, float y, float z) {
        IntersectionSphere spot;
        Matrix34 at = matrix34Identity();
        at.m[9] = x, at.m[10] = y, at.m[11] = z;
        spot.setFromSize(at, 0.5f);
        return light.bounds() && light.bounds()->intersects(spot);
    };
    const struct {
        const char* name;
        float x, y, z;
    } places[] = {{"shadow_sun", -11.0f, 0.5f, -3.5f}, {"shadow_sun", 0.0f, 0.5f, 2.0f}, {"shadow_sun", 15.5f, 0.5f, 7.5f},
                  {"pier_lamp", 15.5f, 0.5f, 7.5f}, {"pier_lamp", 12.0f, 0.5f, 0.5f}, {"pier_lamp", 6.0f, 0.5f, 4.0f}};
    for (const auto& place : places) {
        SCOPED_TRACE(testing::Message() << place.name << " at " << place.x << ", " << place.z);
        auto* light = dynamic_cast<Light*>(scene->lookupLight((std::string("harbour.") + place.name).c_str()));
        ASSERT_NE(light, nullptr);
        if (!light->onStack()) ASSERT_TRUE(light->push());
        light->updatePhase0(CurrentTime{}, 0);
        ASSERT_NE(light->lightSet, nullptr);
        EXPECT_STREQ(light->lightSet->name, "harbour_default");
        EXPECT_TRUE(reaches(*light, place.x, place.y, place.z));
        light->pop(0);
    }
}

}  // namespace
