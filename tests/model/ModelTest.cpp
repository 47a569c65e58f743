// The model game object in its scene: creation from its resource, pushing
// into its render context with the refusals that leave it unpushed, the
// detail rule of NPC models, bones and their world matrices, release, and
// the thinned skinning uploads of its elements.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "foundation/Matrix.h"
#include "control/ModelController.h"
#include "model/Model.h"
#include "model/ModelContext.h"
#include "model/ModelDataManager.h"
#include "render/DXTextureHandler.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/VideoSetup.h"
#include "support/DetailsFixture.h"
#include "scene/CameraFixture.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "support/TestSupport.h"

using testing_support::CameraScene;
using testing_support::ScopedGameCore;

namespace {

// A skinned prop: one element whose levels carry two bones.
const std::string kSkinned =
    "model rig\nelement body\n"
    "lod\nbone arm 0\nbone leg 1\nbox 0.5 0.5 0.5\n"
    "lod\nbone arm 0\nbone leg 1\nbox 0.5 0.5 0.5\n"
    "lod\nbone arm 0\nbone leg 1\nbox 0.5 0.5 0.5\n";

// A prop whose first level draws one triangle with one material.
const std::string kTile =
    "model tile\nelement top\n"
    "lod\nmeshstream 2\nvertex p 0 0 0\nvertex p 1 0 0\nvertex p 0 1 0\nindex 0 1 2\nsubset 0 0 3 3 kind 3\n"
    "box 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";

// A prop with two animation rules.
const std::string kRuled =
    "model signpost\nrule still\nanimation rest 1\nrule sway\nanimation lean 0.5\nanimation creak 2 loop\n"
    "element pole\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";

// The video options the models read, at a chosen detail level.
using Details = testing_support::ScopedDetails;

class ModelTest : public ::testing::Test {
protected:
    Model* place(const char* name, const char* resource = "box", std::uint32_t flags = 0) {
        return static_cast<Model*>(world.scene->createModel(resource, name, matrix34Identity(), flags));
    }
    bool logged(const std::string& text) { return core.log().contains(text); }

    ScopedGameCore core;
    // The render core's render list; made before the scene's models are
    // installed, since the render core installs a model manager of its own.
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    CameraScene world{kSkinned, kTile, kRuled};
};

TEST_F(ModelTest, NpcModelsAreHiddenByDetailLevel) {
    struct Case {
        const char* name;
        bool hidden[3];  // at detail levels 0, 1, 2
    };
    const Case cases[] = {
        {"npc_guard", {true, false, false}},   {"pb_npc_guard", {true, false, false}},
        {"npc2_crowd", {true, true, false}},   {"pb_npc2_crowd", {true, true, false}},
        {"npc", {false, false, false}},        {"guard_npc_", {false, false, false}},
    };
    for (const Case& c : cases)
        for (std::int32_t level = 0; level < 3; ++level) {
            Details details(level);
            Model* model = place(c.name);
            ASSERT_NE(model, nullptr) << c.name;
            core.log().clear();
            EXPECT_TRUE(model->push()) << c.name << " " << level;
            const bool registered = (model->stateWords[0] & kModelInContext) != 0;
            EXPECT_EQ(registered, !c.hidden[level]) << c.name << " " << level;
            EXPECT_EQ(model->isShown(), !c.hidden[level]) << c.name << " " << level;
            EXPECT_EQ(logged("NPC optimization: Hide object [" + std::string(c.name) + "]"), c.hidden[level])
                << c.name << " " << level;
            if (c.hidden[level]) {
                // Hidden again at the next push, never registered; a push
                // at a higher level restores it.
                core.log().clear();
                EXPECT_TRUE(model->push());
                EXPECT_TRUE(logged("NPC optimization: Hide object [" + std::string(c.name) + "]"));
                EXPECT_FALSE(model->stateWords[0] & kModelInContext);
                Details high(2);
                EXPECT_TRUE(model->push());
                EXPECT_TRUE(logged("NPC optimization: Restore object [" + std::string(c.name) + "]"));
                EXPECT_TRUE(model->stateWords[0] & kModelInContext);
            }
            world.scene->deleteModel(model);
        }
}

TEST_F(ModelTest, ARefusedPushLeavesTheModelUnpushed) {
    struct Case {
        const char* what;
        const char* message;
    };
    const Case cases[] = {
        {"twice", "Can't push object [crate] twice"},
        {"hidden", "Can't push invisible model: push only at visible phase"},
        {"locked", "Can't push model [crate] (box): render context locked"},
    };
    for (const Case& c : cases) {
        const bool hidden = std::string(c.what) == "hidden";
        Model* model = place("crate", "box", hidden ? 2 : 0);  // created hidden
        ASSERT_NE(model, nullptr);
        Model* first = nullptr;
        if (std::string(c.what) == "twice") {
            ASSERT_TRUE(model->push());
            first = model;
        }
        if (std::string(c.what) == "locked") render.renderList.flags |= RenderList::FlagLocked;
        core.log().clear();
        const std::size_t users = model->resource->users.count();
        EXPECT_FALSE(model->push()) << c.what;
        render.renderList.flags &= ~RenderList::FlagLocked;
        EXPECT_TRUE(logged(c.message)) << c.what;
        EXPECT_EQ(model->resource->users.count(), users) << c.what;
        if (!first) {
            // Nothing of the push happened: no context, no pushed level, and
            // a pop is refused.
            EXPECT_FALSE(model->stateWords[0] & (kModelInContext | kModelPushed)) << c.what;
            EXPECT_EQ(ModelContext::of(model->resource), nullptr) << c.what;
            EXPECT_FALSE(model->elements.at(0).flags & kElementPushed) << c.what;
            EXPECT_FALSE(model->pop(0)) << c.what;
            EXPECT_TRUE(logged("Can't pop object [crate]: push first")) << c.what;
        }
        ASSERT_TRUE(world.scene->deleteModel(model)) << c.what;
    }
}

TEST_F(ModelTest, TheContextLivesFromTheFirstPushToTheLastPop) {
    Model* a = place("a");
    Model* b = place("b");
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(a->push());
    ModelContext* context = ModelContext::of(a->resource);
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(render.renderList.head, &a->resource->renderObject);
    EXPECT_EQ(render.renderList.head->next, nullptr);
    ASSERT_TRUE(b->push());
    EXPECT_EQ(ModelContext::of(b->resource), context);
    EXPECT_EQ(context->instances.size(), 2u);
    EXPECT_EQ(a->resource->users.count(), 2u);
    // While a pass holds the render list, pops are refused and a deleted
    // model waits for the scene's pending deletions.
    render.renderList.flags |= RenderList::FlagLocked;
    EXPECT_FALSE(a->pop(0));
    EXPECT_TRUE(logged("Can't pop model [a] (box): render context locked"));
    EXPECT_TRUE(world.scene->deleteModel(a));
    EXPECT_NE(world.scene->lookupModel("a"), nullptr);
    EXPECT_TRUE(a->stateWords[0] & kModelPendingDelete);
    render.renderList.flags &= ~RenderList::FlagLocked;
    world.scene->updatePhase1(CurrentTime(), 0);
    EXPECT_EQ(world.scene->lookupModel("a"), nullptr);
    EXPECT_EQ(context->instances.size(), 1u);
    ASSERT_TRUE(b->pop(0));
    EXPECT_EQ(ModelContext::of(b->resource), nullptr);
    EXPECT_EQ(render.renderList.head, nullptr);
}

TEST_F(ModelTest, ReleasePopsFirst) {
    Model* model = place("crate");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->push());
    Y3ModelData* resource = model->resource;
    model->release();
    EXPECT_TRUE(logged("Model Destructor: Object [crate] is registered: Unregister before release"));
    EXPECT_EQ(resource->users.count(), 0u);
    EXPECT_EQ(ModelContext::of(resource), nullptr);
    EXPECT_TRUE(model->elements.empty());
    EXPECT_FALSE(logged("Pop model element lod before releasing"));
    EXPECT_FALSE(logged("Model lod materials not deallocated"));
}

TEST_F(ModelTest, ValidateAcceptsLevelsZeroToTwo) {
    Model* model = place("crate");
    ASSERT_NE(model, nullptr);
    for (std::int32_t level : {0, 1, 2}) {
        model->elements.at(0).lodIndex = level;
        EXPECT_TRUE(model->validate()) << level;
    }
    for (std::int32_t level : {-1, 3}) {
        core.log().clear();
        model->elements.at(0).lodIndex = level;
        EXPECT_FALSE(model->validate()) << level;
        EXPECT_TRUE(logged("Object element lod index is invalid")) << level;
    }
}

// A skeleton of three bones, as the animation fills it.
void giveSkeleton(Model& model) {
    std::vector<SkeletonBone>& bones = model.animation.skeleton.bones;
    bones.resize(3);
    const char* names[3] = {"bip01", "bip01 head", "bip01 pelvis"};
    for (int i = 0; i < 3; ++i) {
        std::snprintf(bones[i].name, sizeof(bones[i].name), "%s", names[i]);
        bones[i].world = matrix34Identity();
        bones[i].world.m[9] = 1.0f;
        bones[i].world.m[10] = float(i);
    }
}

TEST_F(ModelTest, BonesAreFoundByBinarySearchAndPlacedWithTheScale) {
    Model* model = place("crate");
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->findBone("bip01"), -1);  // no bones
    giveSkeleton(*model);
    struct Case {
        const char* name;
        std::int32_t index;  // negative: absent
    };
    for (const Case c : {Case{"bip01", 0}, {"bip01 head", 1}, {"bip01 pelvis", 2}, {"", -1}, {nullptr, -1},
                         {"a", -1}, {"zzz", -1}, {"bip01 h", -1}}) {
        const std::int32_t found = model->findBone(c.name);
        if (c.index >= 0) EXPECT_EQ(found, c.index) << c.name;
        else EXPECT_LT(found, 0) << (c.name ? c.name : "null");
    }
    // Scale (2, 1, 1) on a model turned a quarter about y: the bone's
    // position follows the scale along the model's x axis, its axes stay
    // unit length.
    Matrix34 pose = matrix34Identity();
    pose.m[0] = 0.0f, pose.m[2] = -2.0f;  // x axis (0, 0, -1) scaled by 2
    pose.m[6] = 1.0f, pose.m[8] = 0.0f;   // z axis (1, 0, 0)
    model->setWorldMatrix(model->placeAt(pose));
    EXPECT_FLOAT_EQ(model->scale[0], 2.0f);
    Matrix34 bone;
    ASSERT_TRUE(model->getBoneWorldMatrix(0, bone));
    EXPECT_NEAR(bone.m[9], 0.0f, 1e-5f);
    EXPECT_NEAR(bone.m[11], -2.0f, 1e-5f);
    for (int row = 0; row < 3; ++row) EXPECT_NEAR(vector3Length(bone.m + 3 * row), 1.0f, 1e-5f) << row;
    // Both ends of the index range are refused.
    bone.m[0] = 7.0f;
    for (std::int32_t index : {-1, 3, 100}) {
        EXPECT_FALSE(model->getBoneWorldMatrix(index, bone)) << index;
        EXPECT_EQ(bone.m[0], 7.0f) << index;
    }
}

TEST_F(ModelTest, SkinUploadsAreThinnedByLevel) {
    Details details(0);
    ModelSettings saved = Model::settings();
    Model::mutableSettings().enableFfpAnimationLodUpdate = true;
    Model* model = place("rigged", "rig");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(model->push());
    ModelElement& element = model->elements.at(0);
    element.lodIndex = 2;  // period 4
    ModelElementLod& slot = element.lods[2];
    ASSERT_NE(slot.meshInstance, nullptr);
    ASSERT_EQ(slot.palette.size(), 2u);
    // Until the animation gives bone matrices the palette holds identities.
    for (const MeshMatrix& m : slot.palette)
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(m.m[r][c], r == c ? 1.0f : 0.0f);
    model->stateWords[0] |= kModelDrawnThisFrame;
    element.flags |= kElementDrawn;
    slot.setCounter(5);
    std::vector<int> uploaded;
    for (int refresh = 0; refresh < 5; ++refresh) {
        const std::int32_t before = slot.uploads;
        model->updateDeferred();
        uploaded.push_back(slot.uploads - before);
    }
    EXPECT_EQ(uploaded, (std::vector<int>{1, 0, 0, 0, 1}));
    EXPECT_EQ(slot.counter(), 10u);
    // Without the setting every refresh uploads.
    Model::mutableSettings().enableFfpAnimationLodUpdate = false;
    const std::int32_t before = slot.uploads;
    for (int refresh = 0; refresh < 3; ++refresh) model->updateDeferred();
    EXPECT_EQ(slot.uploads - before, 3);
    Model::mutableSettings() = saved;
}

}  // namespace

namespace {

TEST_F(ModelTest, ControllersAreMadeByTypeAndPhysicsNeedsAPhysicsScene) {
    Model* model = place("crate");
    ASSERT_NE(model, nullptr);
    // Creation attaches physics: without a physics scene only the message.
    EXPECT_TRUE(logged("Cant attach physics: Physics Scene not defined in object [crate]"));
    EXPECT_EQ(model->physicsModel.value, 0u);
    struct Case {
        std::int32_t type;
        bool made;
    };
    for (const Case c : {Case{1, true}, {2, true}, {3, true}, {0, false}, {4, false}}) {
        ModelController* made = model->setController(c.type);
        EXPECT_EQ(made != nullptr, c.made) << c.type;
        EXPECT_EQ((model->stateWords[0] & kModelHasController) != 0, c.made) << c.type;
        if (made) EXPECT_EQ(made->getType(), c.type);
    }
    model->setController(1);
    model->removeController();
    EXPECT_EQ(model->controller, nullptr);
    EXPECT_FALSE(model->stateWords[0] & kModelHasController);
}

}  // namespace

namespace {

// The material waves of a model come from the script variables of its
// scene and instance name; a wave whose direction is shorter than the
// square root of 0.1 stays off, and wave 2 counts only after wave 1.
TEST_F(ModelTest, MaterialWavesComeFromTheScriptVariables) {
    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> useVariables(gameCore.variables, &variables);
    ScriptVariable* root = variables.globals().ensureRoot();
    Model* model = place("deck", "tile");
    ASSERT_NE(model, nullptr);
    model->push();
    Material* material = model->elements.at(0).material();
    ASSERT_NE(material, nullptr);
    const std::string scene = world.scene->name;
    auto set = [&](const std::string& key, float value) {
        const std::string path = "materials.mat_" + scene + ".wave." + key + ".deck";
        ASSERT_TRUE(root->createPath(path.c_str()));
        root->resolvePath(path.c_str())->setNumber(value);
    };
    // Without the variables the model has no waves.
    EXPECT_FALSE(model->refreshMaterialWaves());
    const std::string element = "materials.mat_" + scene + ".wave.element.deck";
    ASSERT_TRUE(root->createPath(element.c_str()));
    root->resolvePath(element.c_str())->setString("no such element");
    struct Case {
        float first, second;  // the x of each wave's direction
        float state;
        float wave1x, wave2x;
    };
    for (const Case c : {Case{0.3f, 1.0f, 0.0f, 0.0f, 0.0f}, {1.0f, 0.3f, 1.0f, 1.0f, 0.0f},
                         {1.0f, 2.0f, 2.0f, 1.0f, 2.0f}}) {
        for (int wave : {1, 2}) {
            set("wave" + std::to_string(wave) + "_x", wave == 1 ? c.first : c.second);
            set("wave" + std::to_string(wave) + "_y", 0.0f);
            set("wave" + std::to_string(wave) + "_z", 0.0f);
            set("wave" + std::to_string(wave) + "_scale", 3.0f);
            set("wave" + std::to_string(wave) + "_freq", 4.0f);
            set("wave" + std::to_string(wave) + "_amp", 5.0f);
        }
        ASSERT_TRUE(model->refreshMaterialWaves()) << c.first;
        EXPECT_EQ(material->waves[2][0], c.state) << c.first << " " << c.second;
        EXPECT_EQ(material->waves[0][0], c.wave1x) << c.first << " " << c.second;
        EXPECT_EQ(material->waves[1][0], c.wave2x) << c.first << " " << c.second;
        if (c.state >= 1.0f) {
            EXPECT_EQ(material->waves[0][4], 4.0f);  // frequency
            EXPECT_EQ(material->waves[0][5], 5.0f);  // amplitude
            EXPECT_EQ(material->waves[0][6], 3.0f);  // scale
        }
    }
}

}  // namespace

namespace {

// An element's bounds follow the model's pose and scale: the box model's
// half size 0.5 placed at (5, 0, 0), scaled by (2, 1, 1).
TEST_F(ModelTest, ElementBoundsFollowThePoseAndTheScale) {
    Model* model = place("crate");
    ASSERT_NE(model, nullptr);
    Matrix34 pose = matrix34Identity();
    pose.m[0] = 2.0f;
    pose.m[9] = 5.0f;
    model->setWorldMatrix(model->placeAt(pose));
    float min[3], max[3];
    model->elements.at(0).getBounds(min, max);
    const float low[3] = {4.0f, -0.5f, -0.5f}, high[3] = {6.0f, 0.5f, 0.5f};
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(min[c], low[c], 1e-5f) << c;
        EXPECT_NEAR(max[c], high[c], 1e-5f) << c;
    }
}

}  // namespace

namespace {

// An element of a model that was not pushed draws nothing: it says so and
// loses its drawn and enabled bits.
TEST_F(ModelTest, AnElementNotPushedIsNotDrawn) {
    Model* model = place("deck", "tile");
    ASSERT_NE(model, nullptr);
    ModelElement& element = model->elements.at(0);
    element.flags |= kElementDrawn;
    EXPECT_FALSE(element.render());
    EXPECT_TRUE(logged("Can't render model [deck] element [top]. Allocate data first"));
    EXPECT_FALSE(element.flags & (kElementDrawn | kElementEnabled));
}

}  // namespace

namespace {

// The head matrix is bone "bip01 head" placed like any bone (the model's
// pose when there is no head); slot 21 places the bone a record maps to.
TEST_F(ModelTest, HeadAndMappedBonesArePlacedLikeBones) {
    Model* model = place("crate");
    ASSERT_NE(model, nullptr);
    Matrix34 pose = matrix34Identity();
    pose.m[9] = 3.0f;
    model->setWorldMatrix(pose);
    Matrix34 head;
    model->getHeadMatrix(head);
    EXPECT_FLOAT_EQ(head.m[9], 3.0f);  // no bones: the model's pose
    EXPECT_FLOAT_EQ(head.m[10], 0.0f);
    giveSkeleton(*model);
    model->getHeadMatrix(head);
    EXPECT_FLOAT_EQ(head.m[9], 4.0f);   // bone 1 at (1, 1, 0)
    EXPECT_FLOAT_EQ(head.m[10], 1.0f);

    model->animation.skeleton.bones[0].tracked = 2;
    model->animation.skeleton.bones[1].tracked = 3;  // past the skeleton
    Matrix34 mapped, direct;
    ASSERT_TRUE(model->getMappedBoneWorldMatrix(0, mapped));
    ASSERT_TRUE(model->getBoneWorldMatrix(2, direct));
    EXPECT_EQ(std::memcmp(mapped.m, direct.m, sizeof(mapped.m)), 0);
    for (std::int32_t record : {1, 2, -1, 3}) EXPECT_FALSE(model->getMappedBoneWorldMatrix(record, mapped)) << record;
}

// A property rule plays each of its animations as a sequence "[name
// ,speed]"; an empty slot plays nothing, a slot or rule that does not exist
// is refused.
TEST_F(ModelTest, PropertyRulesPlayTheirAnimationsAsSequences) {
    Model* model = place("post", "signpost");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->properties.rules.size(), 2u);
    model->properties.resetRuleSlots();  // slot 0 selects the last rule
    // The test packages hold no animation data: each sequence reaches the
    // animation stack, which reports the animation it cannot load.
    core.log().clear();
    EXPECT_FALSE(model->playPropertyRule(0));
    EXPECT_TRUE(logged("Can't load animation [lean] data"));
    EXPECT_TRUE(logged("Can't load animation [creak] data"));
    EXPECT_FALSE(logged("Expected symbol"));
    core.log().clear();
    EXPECT_TRUE(model->playPropertyRule(1));  // empty slot
    EXPECT_FALSE(logged("Can't load animation"));
    model->properties.ruleSlots[2] = 0;
    EXPECT_FALSE(model->playPropertyRule(2));
    EXPECT_TRUE(logged("Can't load animation [rest] data"));
    struct Case {
        std::int32_t slot;
        const char* message;
    };
    model->properties.ruleSlots[3] = 7;
    for (const Case c : {Case{3, "Can't play property rule 7 of model [post]: no such rule"},
                         {16, "Can't play property rule 16 of model [post]: no such slot"},
                         {-1, "Can't play property rule -1 of model [post]: no such slot"}}) {
        core.log().clear();
        EXPECT_FALSE(model->playPropertyRule(c.slot)) << c.slot;
        EXPECT_TRUE(logged(c.message)) << c.slot;
    }
}

// An element reports its texture set, its visibility area and the light
// set its lights came from.
TEST_F(ModelTest, AnElementDescribesItsTextureSetAreaAndLightSet) {
    Model* model = place("crate");
    ASSERT_NE(model, nullptr);
    ModelElement& element = model->elements.at(0);
    element.flags |= 3u << kElementTextureSetShift;
    ModelElementReport report;
    element.describe(report);
    EXPECT_EQ(report.textureSet, 3);
    EXPECT_EQ(report.pvsIndex, -1);
    EXPECT_STREQ(report.lightSet, "UNDEFINED");
    element.lightSetRef = "dusk";
    element.describe(report);
    EXPECT_STREQ(report.lightSet, "dusk");
}

}  // namespace
