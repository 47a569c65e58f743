// The model context through the render core's passes: what it queues for a
// frame, its life from the first push to the last pop, the level-of-detail
// ranges from the script variables and the LOD choice, culling, placement,
// shadow registration and the refusals while a pass holds the render list.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/Light.h"
#include "effects/LightDataManager.h"
#include "effects/Particle.h"
#include "effects/RenderObject.h"
#include "model/Model.h"
#include "model/ModelContext.h"
#include "model/ModelDataManager.h"
#include "render/DXTextureHandler.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/VideoSetup.h"
#include "support/DetailsFixture.h"
#include "scene/CameraFixture.h"
#include "scene/Y3Pose.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "support/PassContext.h"
#include "support/TestSupport.h"

using testing_support::CameraScene;
using testing_support::poseAt;
using testing_support::ScopedGameCore;

namespace {

std::string level(const char* extra = "") {
    return std::string("lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\n") +
           "subset 0 0 3 3 kind 3" + extra + "\nbox 0.5 0.5 0.5\n";
}
const std::string kBox = "lod\nbox 0.5 0.5 0.5\n";
// Three levels with geometry; one level and two empty ones; a mesh whose
// draw-order group is negative.
const std::string kTiers = "model tiers\nelement body\n" + level() + level() + level();
const std::string kTile = "model tile\nelement top\n" + level() + kBox + kBox;
const std::string kSunk = "model sunk\nelement keel\n" + level(" group -5") + kBox + kBox;
// An element that casts a shadow by its name, one that receives by its
// flag 0x40.
const std::string kPier =
    "model pier\nelement castshadow_post\n" + level() + kBox + kBox + "element deck flags 0x40\n" + level() + kBox + kBox;

// A model without elements.
const std::string kHollow = "model hollow\n";
// A lantern with a light and two particle effects, one a background effect.
const std::string kLantern = "model lantern\nelement frame\n" + level() + kBox + kBox +
                             "light point glow at 0 1 0\nparticle sparks fx_sparks lantern at 0 1 0\n"
                             "particle bg_smoke fx_smoke lantern at 0 2 0\n";

using Details = testing_support::ScopedDetails;

class ModelContextTest : public ::testing::Test {
protected:
    ModelContextTest() {
        root = variables.globals().ensureRoot();
        render.camera = &world.camera();
        look(0.0f, 0.0f, 10.0f);
    }
    ~ModelContextTest() override { render.camera = nullptr; }

    // The scene's camera at a point, looking along minus z.
    void look(float x, float y, float z) {
        CameraCore& camera = world.camera();
        camera.pose = poseAt(x, y, z);
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 3; ++col) camera.worldMatrix[row * 4 + col] = camera.pose.m[row * 3 + col];
        camera.updateFrustum();
        render.takeCamera();
    }
    Model* place(const char* name, const char* resource, float z = 0.0f) {
        Model* model = static_cast<Model*>(world.scene->createModel(resource, name, poseAt(0.0f, 0.0f, z), 0));
        return model;
    }
    // A number below "levelofdetails" (its first entry).
    void setRange(const char* range, const char* resource, float value) {
        const std::string path = std::string("levelofdetails.entry.range.") + range + "." + resource;
        ASSERT_TRUE(root->createPath(path.c_str()));
        root->resolvePath(path.c_str())->setNumber(value);
    }
    // The items of a queue, bucket after bucket, with their keys.
    std::vector<std::pair<std::int32_t, DrawItem>> queued(int queue) {
        std::vector<std::pair<std::int32_t, DrawItem>> out;
        for (const RenderBucket& bucket : render.renderList.queues[queue].buckets)
            for (const DrawItem& item : bucket.items) out.push_back({bucket.key, item});
        return out;
    }
    bool logged(const std::string& text) { return core.log().contains(text); }
    std::size_t times(const std::string& text) {
        std::size_t n = 0;
        for (const LogRecord& record : core.log().records()) n += record.text.find(text) != std::string::npos;
        return n;
    }

    ScopedGameCore core;
    Details details;
    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> useVariables{gameCore.variables, &variables};
    ScriptVariable* root = nullptr;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    CameraScene world{kTiers, kTile, kSunk, kPier, kHollow, kLantern};
};

}  // namespace

TEST(RenderQueue, BucketsByAscendingKeyItemsByDepthEqualDepthsBefore) {
    RenderQueue queue;
    const struct {
        std::int32_t key;
        float depth;
        std::int32_t id;
    } inserted[] = {{5, 2.0f, 0}, {1, 3.0f, 1}, {5, 1.0f, 2}, {3, 0.0f, 3}, {5, 2.00005f, 4}, {5, 9.0f, 5}};
    for (const auto& in : inserted) queue.insert(in.key, DrawItem{nullptr, in.id, 0, 0, 0, in.depth, in.depth});
    ASSERT_EQ(queue.buckets.size(), 3u);
    EXPECT_EQ(queue.buckets[0].key, 1);
    EXPECT_EQ(queue.buckets[1].key, 3);
    EXPECT_EQ(queue.buckets[2].key, 5);
    // Depths 2.0 and 2.00005 differ by less than 1/10000: the later one
    // goes before the earlier.
    std::vector<std::int32_t> ids;
    for (const DrawItem& item : queue.buckets[2].items) ids.push_back(item.instance);
    EXPECT_EQ(ids, (std::vector<std::int32_t>{2, 4, 0, 5}));
    // A new frame empties the buckets and keeps them.
    queue.clear();
    EXPECT_EQ(queue.buckets.size(), 3u);
    EXPECT_TRUE(queue.buckets[2].items.empty());
}

TEST_F(ModelContextTest, AnEmptyContextSeesNothingAndReportsClean) {
    Model* model = place("tile_a", "tile");
    ASSERT_NE(model, nullptr);
    ModelContext empty(&model->resource->renderObject, model->resource);
    EXPECT_EQ(empty.type(), 1);
    EXPECT_FALSE(empty.cull());
    EXPECT_TRUE(empty.reportReferences());
    empty.update(world.camera().pose);
    EXPECT_TRUE(queued(0).empty());
    EXPECT_TRUE(queued(1).empty());
}

TEST_F(ModelContextTest, AFrameQueuesTheDrawnMeshesOfItsModelsByKeyAndDepth) {
    Model* near = place("near", "tile", 0.0f);
    Model* far = place("far", "tile", -5.0f);
    Model* sunk = place("sunk_a", "sunk");
    ASSERT_TRUE(near && far && sunk);
    ASSERT_TRUE(near->push());
    ASSERT_TRUE(far->push());
    ASSERT_TRUE(sunk->push());
    render.updateContexts();
    EXPECT_EQ(render.renderList.flags & RenderList::FlagLocked, 0u);
    EXPECT_TRUE(near->resource->renderObject.visible);
    EXPECT_TRUE(near->stateWords[0] & kModelDrawnThisFrame) << core.log().recordCount();
    // Both tiles in one batch: one bucket and the batch's smallest depth as
    // their sort depth, so the later (far) one goes before; the sunk mesh's
    // negative key keeps it out.
    const auto items = queued(1);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].second.renderObject, &near->resource->renderObject);
    EXPECT_EQ(items[0].first, items[1].first);
    EXPECT_FLOAT_EQ(items[0].second.sortDepth, items[1].second.sortDepth);
    EXPECT_FLOAT_EQ(items[0].second.sortDepth, items[1].second.depth);
    EXPECT_EQ(items[0].second.instance, 1);
    EXPECT_EQ(items[1].second.instance, 0);
    EXPECT_GT(items[0].second.depth, items[1].second.depth);
    for (const auto& [key, item] : items) {
        EXPECT_NE(item.renderObject, &sunk->resource->renderObject);
        EXPECT_EQ(item.element, 0);
        EXPECT_EQ(item.mesh, 0);
        EXPECT_EQ(item.lod, 0);
    }
    EXPECT_TRUE(queued(0).empty());
}

TEST_F(ModelContextTest, ACulledContextQueuesOnlyTheShadowItemsOfItsReceivers) {
    details.setup.details = 2;
    details.setup.shadows = 1;
    Model* ground = place("shadow_ground", "tile");
    ASSERT_NE(ground, nullptr);
    ASSERT_TRUE(ground->push());
    // Every element receives; the model is a whole-model receiver, which
    // this scene does not draw (its flag 0x200 is clear): culled.
    EXPECT_TRUE(ground->stateWords[0] & kModelOutOfPvs);
    EXPECT_TRUE(ground->elements[0].flags & kElementShadowReceiver);
    EXPECT_TRUE(world.scene->shadows.isReceiver(GameObjectLink::fromObject(ground)));
    render.updateContexts();
    EXPECT_FALSE(ground->resource->renderObject.visible);
    EXPECT_TRUE(queued(1).empty());
    const auto shadows = queued(0);
    ASSERT_EQ(shadows.size(), 1u);
    EXPECT_EQ(shadows[0].first, ModelContext::kShadowKey);
    EXPECT_EQ(shadows[0].second.element, -1);
    EXPECT_EQ(shadows[0].second.lod, -1);
    // Without the shadow capability no shadow item.
    details.setup.shadows = 0;
    render.updateContexts();
    EXPECT_TRUE(queued(0).empty());
    ASSERT_TRUE(ground->pop(0));
    EXPECT_FALSE(world.scene->shadows.isReceiver(GameObjectLink::fromObject(ground)));
}

TEST_F(ModelContextTest, ShadowCastersAndReceiversByNameFlagsAndElements) {
    Model* pier = place("pier_a", "pier");
    ASSERT_NE(pier, nullptr);
    ASSERT_TRUE(pier->push());
    const GameObjectLink link = GameObjectLink::fromObject(pier);
    EXPECT_TRUE(world.scene->shadows.isCaster(link));
    EXPECT_TRUE(pier->stateWords[0] & kModelShadowCaster);
    // The deck receives alone: the model has per-element receivers.
    EXPECT_TRUE(pier->stateWords[0] & kModelShadowReceivers);
    EXPECT_FALSE(pier->elements[0].flags & kElementShadowReceiver);
    EXPECT_TRUE(pier->elements[1].flags & kElementShadowReceiver);
    // A second registration is refused by the shadows, not repeated.
    EXPECT_FALSE(world.scene->shadows.addCaster(link));
    EXPECT_TRUE(logged("Shadow: Can't add shadow caster object [pier_a] to scene"));
    ASSERT_TRUE(pier->pop(0));
    EXPECT_FALSE(world.scene->shadows.isCaster(link));
    // A plain tile neither casts nor receives.
    Model* tile = place("tile_b", "tile");
    ASSERT_TRUE(tile->push());
    EXPECT_FALSE(world.scene->shadows.isCaster(GameObjectLink::fromObject(tile)));
    EXPECT_FALSE(tile->stateWords[0] & (kModelShadowCaster | kModelOutOfPvs));
}

TEST_F(ModelContextTest, TheLastPopDeletesTheContextAndTheNextPushReadsTheRangesAgain) {
    setRange("lod1", "tile", 12.0f);
    Model* a = place("a", "tile");
    ASSERT_TRUE(a->push());
    Y3ModelData& record = *a->resource;
    EXPECT_FLOAT_EQ(record.lodRanges[Y3ModelData::RangeLod1], 144.0f);
    EXPECT_TRUE(record.hasRanges);
    // Pushing into the context twice is refused there too.
    EXPECT_FALSE(ModelContext::push(&record, *a));
    EXPECT_TRUE(logged("Can't push model [a] twice") || logged("[a] twice"));
    ASSERT_TRUE(a->pop(0));
    EXPECT_EQ(ModelContext::of(&record), nullptr);
    EXPECT_EQ(render.renderList.head, nullptr);
    setRange("lod1", "tile", 3.0f);
    ASSERT_TRUE(a->push());
    EXPECT_FLOAT_EQ(record.lodRanges[Y3ModelData::RangeLod1], 9.0f);
    EXPECT_EQ(render.renderList.head, &record.renderObject);
}

TEST_F(ModelContextTest, TheHasRangesRule) {
    const struct {
        const char* ranges[2];
        float values[2];
        bool has;
    } cases[] = {
        {{"fill_light", "no_light"}, {5.0f, 6.0f}, false},
        {{"texture_lod", nullptr}, {0.0f, 0.0f}, true},
        {{"hide", nullptr}, {-1.0f, 0.0f}, false},
        {{"lod2", nullptr}, {2.0f, 0.0f}, true},
    };
    for (const auto& c : cases) {
        for (const char* range : {"lod1", "lod2", "hide", "fill_light", "no_light", "texture_lod"})
            setRange(range, "tile", -1.0f);
        for (int i = 0; i < 2; ++i)
            if (c.ranges[i]) setRange(c.ranges[i], "tile", c.values[i]);
        Model* model = place("ranged", "tile");
        ASSERT_TRUE(model->push()) << c.ranges[0];
        EXPECT_EQ(model->resource->hasRanges, c.has) << c.ranges[0];
        ASSERT_TRUE(world.scene->deleteModel(model));
    }
}

TEST_F(ModelContextTest, EachElementTakesItsLevelByDistance) {
    setRange("lod1", "tiers", 10.0f);
    setRange("lod2", "tiers", 20.0f);
    setRange("hide", "tiers", 30.0f);
    setRange("lod1", "tile", 10.0f);
    setRange("hide", "tile", 30.0f);
    Model* tiers = place("tiers_a", "tiers");
    Model* tile = place("tile_c", "tile");
    ASSERT_TRUE(tiers->push());
    ASSERT_TRUE(tile->push());
    const struct {
        float distance;
        std::int32_t tiersLod, tileLod;
        bool hidden;
    } cases[] = {{5.0f, 0, 0, false}, {15.0f, 1, 0, false}, {25.0f, 2, 0, false}, {35.0f, 2, 0, true}};
    for (const auto& c : cases) {
        look(0.0f, 0.0f, c.distance);
        tiers->selectElementLods();
        tile->selectElementLods();
        EXPECT_EQ(tiers->elements[0].lodIndex, c.tiersLod) << c.distance;
        EXPECT_EQ(tile->elements[0].lodIndex, c.tileLod) << c.distance;
        EXPECT_EQ((tiers->elements[0].flags & kElementHiddenByDistance) != 0, c.hidden) << c.distance;
        EXPECT_EQ((tile->elements[0].flags & kElementHiddenByDistance) != 0, c.hidden) << c.distance;
    }
    // Beyond the hide distance nothing of the element is drawn.
    render.updateContexts();
    EXPECT_FALSE(tile->elements[0].flags & kElementDrawn);
    for (const auto& [key, item] : queued(1)) EXPECT_NE(item.renderObject, &tile->resource->renderObject);
}

TEST_F(ModelContextTest, ACulledParentCullsItsChild) {
    Model* parent = place("boat", "tile");
    Model* child = place("oar", "tile");
    ASSERT_TRUE(parent->push());
    ASSERT_TRUE(child->push());
    ASSERT_TRUE(child->link.set(nullptr, parent, matrix34Identity()));
    EXPECT_TRUE(parent->cull());
    EXPECT_TRUE(child->cull());
    // The parent is hidden: culled, and its child with it.
    ASSERT_TRUE(parent->setVisible(false, 0.0f));
    EXPECT_FALSE(parent->cull());
    EXPECT_FALSE(parent->stateWords[0] & kModelActive);
    EXPECT_FALSE(child->cull());
    EXPECT_FALSE(child->stateWords[0] & kModelDrawnThisFrame);
}

TEST_F(ModelContextTest, PlacementOperations) {
    Model* model = place("crate_a", "tile");
    ASSERT_TRUE(model->push());
    // Within 0.001 nothing changed.
    Matrix34 pose = model->worldMatrix;
    for (float& v : pose.m) v += 0.0005f;
    model->stateWords[0] &= ~kModelTransformChanged;
    EXPECT_FALSE(model->setWorldMatrix(pose));
    EXPECT_FALSE(model->stateWords[0] & kModelTransformChanged);
    // Teleport: two units along the waypoint's forward row.
    Matrix34 at = poseAt(1.0f, 0.0f, 3.0f);
    at.m[0] = 0.0f, at.m[2] = 1.0f, at.m[6] = -1.0f, at.m[8] = 0.0f;
    auto point = std::make_unique<Y3Pose>("dock_point", at);
    world.scene->addWaypoint(std::move(point));
    const Matrix34 before = model->worldMatrix;
    EXPECT_FALSE(model->teleport("", 2.0f));
    EXPECT_TRUE(logged("Fail teleport object to empty destination: [crate_a]->NULL"));
    EXPECT_FALSE(model->teleport("nowhere", 2.0f));
    EXPECT_TRUE(logged("Required waypoint with name [nowhere] to execute TELEPORT for object [crate_a]"));
    EXPECT_EQ(std::memcmp(before.m, model->worldMatrix.m, sizeof before.m), 0);
    ASSERT_TRUE(model->teleport("dock_point", 2.0f));
    EXPECT_FLOAT_EQ(model->worldMatrix.m[9], 1.0f);
    EXPECT_FLOAT_EQ(model->worldMatrix.m[11], 5.0f);
    // A facing without horizontal length keeps the facing.
    const Matrix34 facing = model->worldMatrix;
    const float up[3] = {0.0f, 1.0f, 0.0f};
    EXPECT_FALSE(model->setFacingDirection(up));
    EXPECT_TRUE(logged("facing direction has no horizontal length"));
    for (float v : model->worldMatrix.m) EXPECT_FALSE(std::isnan(v));
    EXPECT_EQ(std::memcmp(facing.m, model->worldMatrix.m, sizeof facing.m), 0);
    // Texture set 100 falls back to set 0.
    model->setTextureSet(100);
    EXPECT_TRUE(logged("Invalid texture set [100] for model [crate_a]: Choice default value"));
    EXPECT_EQ(model->textureSet, 0);
    // A model without elements has no eye height.
    Model* hollow = place("hollow_a", "hollow");
    ASSERT_NE(hollow, nullptr);
    EXPECT_TRUE(hollow->elements.empty());
    EXPECT_FLOAT_EQ(hollow->getEyeHeight(false), 0.0f);
    // The main character's follow mode: ObjectScript.TheMainCharacterChoiceReachesTheModels.
}

TEST_F(ModelContextTest, ARenderPassRefusesPushesPopsAndRenderObjects) {
    Model* pushed = place("pushed", "tile");
    Model* waiting = place("waiting", "tiers");
    ASSERT_TRUE(pushed->push());
    bool push = true, pop = true, created = true, released = true;
    RenderObject spare;
    spare.name = "spare";
    {
        testing_support::PassContext during([&] {
            push = waiting->push();
            pop = pushed->pop(0);
            created = createRenderObject(spare, new ModelContext(&spare, nullptr));
            released = releaseRenderObject(pushed->resource->renderObject);
        });
        render.updateContexts();
    }
    EXPECT_FALSE(push);
    EXPECT_TRUE(logged("Can't push model [waiting] (tiers): render context locked"));
    EXPECT_FALSE(pop);
    EXPECT_TRUE(logged("Can't pop model [pushed] (tile): render context locked"));
    EXPECT_FALSE(created);
    EXPECT_TRUE(logged("Can't create render object [spare]: Render context locked"));
    EXPECT_FALSE(released);
    EXPECT_TRUE(logged("Can't release render object [tile]: Render context locked"));
    EXPECT_TRUE(pushed->stateWords[0] & kModelInContext);
    EXPECT_FALSE(waiting->stateWords[0] & kModelInContext);
    EXPECT_EQ(spare.context, nullptr);
    // After the pass both go through.
    EXPECT_TRUE(waiting->push());
    EXPECT_TRUE(pushed->pop(0));
}

// The resource's light becomes a scene light linked to the model, on while
// the model is pushed; a particle the scene cannot make (the packages hold
// no such effect) is refused with the scene's message and the model goes on.
// Released, the model takes its light with it.
TEST_F(ModelContextTest, AModelsLightIsALinkedSceneLightAndItsParticlesWaitForAMaker) {
    Model* lantern = place("lantern_a", "lantern");
    ASSERT_NE(lantern, nullptr);
    EXPECT_TRUE(logged("Cannot create particle instance [lantern_a.sparks] ( particle data [fx_sparks]) in scene"));
    EXPECT_TRUE(lantern->particles.empty());
    ASSERT_EQ(lantern->lights.size(), 1u);
    auto* light = dynamic_cast<Light*>(world.scene->lookupLight("lantern_a.glow"));
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(lantern->lights[0].value, GameObjectLink::fromObject(light).value);
    EXPECT_STREQ(light->data->name, "lantern.glow");
    // Linked to the model itself (the record names the resource), one
    // unit up: it follows the model and takes its light set.
    EXPECT_EQ(light->link.parent().value, GameObjectLink::fromObject(lantern).value);
    EXPECT_STREQ(light->link.boneName(), "");
    EXPECT_FLOAT_EQ(light->link.pose().m[10], 1.0f);
    light->flags &= ~kLightEnabledBit;
    ASSERT_TRUE(lantern->push());
    EXPECT_TRUE(light->flags & kLightEnabledBit);
    ASSERT_TRUE(lantern->pop(0));
    EXPECT_FALSE(light->flags & kLightEnabledBit);
    ASSERT_TRUE(world.scene->deleteModel(lantern));
    EXPECT_EQ(world.scene->lookupLight("lantern_a.glow"), nullptr);
}

// With a scene particle maker of the least particle object, a particle whose name begins
// "bg_" runs at once and the other starts paused ("Pause" logged once);
// adding a particle whose name the scene has lists the one there once.
TEST_F(ModelContextTest, ABackgroundParticleRunsAndTheOthersStartPaused) {
    auto saved = sceneFactories().particle;
    sceneFactories().particle = [](Scene& scene, const char* name, const char* data,
                                   const Matrix34& pose) -> GameObject* {
        return new Particle(scene.id, data, name, pose);
    };
    Model* lantern = place("lantern_b", "lantern");
    ASSERT_NE(lantern, nullptr);
    auto* sparks = dynamic_cast<Particle*>(world.scene->lookupParticle("lantern_b.sparks"));
    auto* smoke = dynamic_cast<Particle*>(world.scene->lookupParticle("lantern_b.bg_smoke"));
    ASSERT_TRUE(sparks && smoke);
    EXPECT_TRUE(sparks->state & kParticlePaused);
    EXPECT_FALSE(smoke->state & kParticlePaused);
    EXPECT_EQ(times("Pause particle [lantern_b.sparks] (fx_sparks)"), 1u);
    EXPECT_EQ(times("Pause particle"), 1u);
    EXPECT_EQ(sparks->link.parent().value, GameObjectLink::fromObject(lantern).value);
    EXPECT_FLOAT_EQ(smoke->link.pose().m[10], 2.0f);
    ASSERT_EQ(lantern->particles.size(), 2u);
    GameObjectLink again;
    ASSERT_TRUE(lantern->addParticle(lantern->meshModel()->particles[0], lantern->worldMatrix, again));
    EXPECT_EQ(again.value, GameObjectLink::fromObject(sparks).value);
    EXPECT_EQ(lantern->particles.size(), 2u);
    EXPECT_EQ(times("Pause particle"), 1u);
    // Removing one deletes it from the scene and the list.
    EXPECT_TRUE(lantern->removeParticle("sparks"));
    EXPECT_EQ(world.scene->lookupParticle("lantern_b.sparks"), nullptr);
    EXPECT_EQ(lantern->particles.size(), 1u);
    ASSERT_TRUE(world.scene->deleteModel(lantern));
    EXPECT_EQ(world.scene->lookupParticle("lantern_b.bg_smoke"), nullptr);
    sceneFactories().particle = saved;
}
