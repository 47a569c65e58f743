#include "model/Model.h"

#include <cstdio>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "animation/BoneTransform.h"
#include "animation/ModelMorph.h"
#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"
#include "control/ControlSettings.h"
#include "control/ModelController.h"
#include "control/PhysicsModel.h"
#include "control/PhysicsScene.h"
#include "effects/Light.h"
#include "effects/LightSetLibrary.h"
#include "foundation/Matrix.h"
#include "foundation/TimeCore.h"
#include "model/ModelContext.h"
#include "model/ModelDataManager.h"
#include "render/RenderCore.h"
#include "render/VideoSetup.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "scene/SceneLighting.h"
#include "render/Material.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/NpcRandomizer.h"
#include "scene/Scene.h"
#include "scene/Y3Pose.h"

namespace {

// A resource whose data failed to load (a damaged file): its models show
// nothing.
bool damagedResource(const Y3ModelData* resource) {
    return resource && resource->has(kResourceUnavailable) && !resource->has(kResourcePlaceholder);
}

ModelSettings modelSettings;

}  // namespace

void Model::readConfig() {
    if (!gameCore.settings) return;
    IniFile& ini = *gameCore.settings;
    ModelSettings& s = modelSettings;
    readSetting(ini.getCategory("debug"), "debug_model_name", s.debugModelName, "hero");
    IniCategory& ffp = ini.getCategory("render_ffp");
    readSetting(ffp, "max_ffp_model_lights", s.maxFfpModelLights, 4);
    IniCategory& render = ini.getCategory("render");
    readSetting(render, "enable_lod1_footsteps", s.enableLod1Footsteps, true);
    readSetting(render, "enable_lod1_sounds", s.enableLod1Sounds, false);
    readSetting(render, "enable_lod1_particles", s.enableLod1Particles, false);
    readSetting(render, "enable_lod2_footsteps", s.enableLod2Footsteps, false);
    readSetting(render, "enable_lod2_sounds", s.enableLod2Sounds, false);
    readSetting(render, "enable_lod2_particles", s.enableLod2Particles, false);
    readSetting(render, "lightarea_test_shere_radius", s.lightAreaTestSphereRadius, 1.0f);
    readSetting(ffp, "enable_ffp_animation_lod_update", s.enableFfpAnimationLodUpdate, false);
    const std::int32_t periods[3] = {1, 2, 4};
    for (int lod = 0; lod < 3; ++lod) {
        char key[48];
        std::snprintf(key, sizeof(key), "ffp_animation_lod_update_period[%d]", lod);
        readSetting(ffp, key, s.ffpAnimationLodUpdatePeriod[static_cast<std::size_t>(lod)], periods[lod]);
    }
    readFixedFunctionSettings();
}

void Model::readFixedFunctionSettings() {
    if (!gameCore.settings) return;
    IniCategory& ffp = gameCore.settings->getCategory("render_ffp");
    ModelSettings& s = modelSettings;
    const ModelSettings defaults;
    for (int n = 0; n < 3; ++n) {
        char key[48];
        std::snprintf(key, sizeof(key), "ffp_water_wave_scale%d", n);
        readSetting(ffp, key, s.ffpWaterWaveScale[n], defaults.ffpWaterWaveScale[n]);
        std::snprintf(key, sizeof(key), "ffp_water_wave_speedX%d", n);
        readSetting(ffp, key, s.ffpWaterWaveSpeedX[n], defaults.ffpWaterWaveSpeedX[n]);
        std::snprintf(key, sizeof(key), "ffp_water_wave_speedY%d", n);
        readSetting(ffp, key, s.ffpWaterWaveSpeedY[n], defaults.ffpWaterWaveSpeedY[n]);
    }
    readSetting(ffp, "ffp_water_wave_blend_speed", s.ffpWaterWaveBlendSpeed, 4.0f);
    readSetting(ffp, "ffp_water_wave_blend_amp", s.ffpWaterWaveBlendAmp, 0.1f);
    readSetting(ffp, "ffp_water_wave_blend_base", s.ffpWaterWaveBlendBase, 0.5f);
    readSetting(ffp, "ffp_disable_overlay_render", s.ffpDisableOverlayRender, false);
    readSetting(ffp, "ffp_disable_lighting", s.ffpDisableLighting, false);
    readSetting(ffp, "ffp_disable_water_ambient", s.ffpDisableWaterAmbient, false);
    readSetting(ffp, "ffp_disable_water_lightpass", s.ffpDisableWaterLightpass, true);
}

ModelSettings& Model::mutableSettings() { return modelSettings; }

const ModelSettings& Model::settings() { return modelSettings; }

namespace {

// A name begins with a prefix when its bytes equal the prefix's bytes up
// to the prefix's end (at most 128 characters).
bool beginsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::min<std::size_t>(std::strlen(prefix), 128)) == 0;
}


}  // namespace

Model::Model(const char* objectName, const char* resource, std::uint32_t scene)
    : GameObject(objectName), sceneLink(scene), worldMatrix(matrix34Identity()),
      inverseWorldMatrix(matrix34Identity()) {
    copyName(resourceName, sizeof(resourceName), resource);
    NameTable4::init(properties);
    stateWords[0] = kModelShown | kModelActive | kModelLightSetDirty | kModelPlaceDirty | kModelLightsDirty;
    stateWords[1] = kModelVisiblePhase;
    if (gameCore.settings) {
        IniCategory& character = gameCore.settings->getCategory("character");
        readSetting(character, "interest_distance", interestDistance, 4.0f);
    }
    if (beginsWith(name, "grid_")) {
        stateWords[0] |= kModelGridDebug;
        Scene* owner = this->scene();
        engineLog().info("Registered path finding grid debug render object [%s] in scene", name);
        (void)owner;
    }
}

Model* Model::newInstance(const ResourceRecord* record, const char* resource, std::uint32_t scene,
                          const char* objectName, bool noName) {
    if (record && record->has(kResourceUnavailable)) {
        engineLog().error("Resource for model [%s] is invalid", resource ? resource : "");
        return nullptr;
    }
    return new Model(noName ? "" : objectName, resource ? resource : "", scene);
}

Model::~Model() { release(); }

Scene* Model::scene() const {
    if (!gameCore.objects) return nullptr;
    GameObject* object = gameCore.objects->getObject(GameObjectLink{sceneLink});
    return object && object->getType() == ObjectScene ? static_cast<Scene*>(object) : nullptr;
}

std::uint32_t Model::getSceneLink() const { return sceneLink; }

Y3ModelDefault* Model::meshModel() const {
    if (!resource || !resource->model || resource->model->kind() != kModelKindDefault) return nullptr;
    return static_cast<Y3ModelDefault*>(resource->model.get());
}

bool Model::beginsWithNpcPrefix(std::int32_t* group) const {
    const std::int32_t found = beginsWith(name, "npc_") || beginsWith(name, "pb_npc_")     ? 1
                               : beginsWith(name, "npc2_") || beginsWith(name, "pb_npc2_") ? 2
                                                                                           : 0;
    if (group) *group = found;
    return found != 0;
}

Matrix34 Model::placeAt(const Matrix34& pose) {
    Matrix34 out = pose;
    for (int row = 0; row < 3; ++row) {
        const float length = vector3Length(pose.m + row * 3);
        scale[row] = length;
        if (length > 0.0f)
            for (int k = 0; k < 3; ++k) out.m[row * 3 + k] = pose.m[row * 3 + k] / length;
    }
    setWorldMatrix(worldMatrix);
    if (controller) controller->setPose(out, CurrentTime(-1.0).game.time);
    return out;
}

bool Model::create(const Matrix34& pose, std::uint32_t createFlags) {
    const Matrix34 placed = placeAt(pose);
    worldMatrix = placed;
    if (name[0]) {
        ModelDataManager* manager = modelDataManager();
        resource = manager ? manager->requestHeader(resourceName) : nullptr;
        if (!meshModel()) {
            resource = nullptr;
            return engineLog().error("Can't create model [%s]: resource not found", resourceName);
        }
        Y3ModelDefault& model = *meshModel();
        properties = model.properties;
        Scene* owner = scene();
        const std::int32_t slot = owner ? owner->skyLightMode() : 0;
        copyName(lightSetName, sizeof(lightSetName), properties.lightSets[slot >= 0 && slot < 4 ? slot : 0]);
        initElements(-1);
        createParticles(placed);
        createLights(placed);
    }
    pvsAreaIndex = -1;
    setWorldMatrix(placed);
    Scene* owner = scene();
    const bool outOfPvs = (stateWords[0] & (kModelOutOfPvs | kModelGridDebug)) && !(stateWords[0] & kModelShadowReceivers);
    if (owner && !outOfPvs) owner->pvs.registerObject(this);
    if (createFlags & 2) stateWords[0] &= ~kModelShown;
    updateLightSet();
    stateWords[0] |= kModelCreated;
    setTextureSet(static_cast<std::int32_t>(properties.textureSet));
    if (createFlags & 1) properties.clearRules();
    if (owner && pvsAreaIndex >= 0) owner->pvs.updateObject(pvsAreaIndex, true);
    const CurrentTime still = CurrentTime::copyWithStep(CurrentTime(), 0.0);
    animation.prepare(still, false);
    animation.update(still, true, false);
    updateActionItems();
    return attachPhysics(nullptr);
}

bool Model::push() {
    Log& log = engineLog();
    if (stateWords[0] & kModelInContext) return log.error("Can't push object [%s] twice", name);
    std::int32_t group = 0;
    if (beginsWithNpcPrefix(&group)) {
        const std::int32_t details = textureEnvironment().videoSetup().details;
        if (details == 0 || (details == 1 && group == 2)) {
            log.message("NPC optimization: Hide object [%s]", name);
            stateWords[1] &= ~kModelVisiblePhase;
            return true;
        }
        if (!isShown()) {
            log.message("NPC optimization: Restore object [%s]", name);
            stateWords[1] |= kModelVisiblePhase;
        }
    }
    // A model that an earlier push hid (its resource is damaged) stays
    // hidden, and its scene pushes on: that push said why.
    if (hiddenAsDamaged && !isShown()) return true;
    if (!isShown()) return log.error("Can't push invisible model: push only at visible phase");
    // A resource whose data failed to load (a damaged file) has nothing to
    // show: the model stays in its scene hidden, and the scene goes on.
    if (damagedResource(resource)) {
        log.error("Can't show model [%s]: resource [%s] is damaged", name, resource->name);
        stateWords[1] &= ~kModelVisiblePhase;
        hiddenAsDamaged = true;
        return true;
    }
    hiddenAsDamaged = false;
    // A refused context push leaves the model unpushed: nothing of the
    // push has happened yet, and nothing more is done.
    if (!ModelContext::push(resource, *this)) return false;
    // The first push loads the resource's data and makes its device data;
    // a resource that cannot load is logged by the manager and draws
    // nothing.
    if (ModelDataManager* manager = modelDataManager(); manager && !resource->has(kResourceAllocated))
        manager->acquire(resource->name);
    bool result = true;
    Scene* owner = scene();
    if (owner && pvsAreaIndex >= 0) owner->pvs.updateObject(pvsAreaIndex, false);
    registerShadowReceiver();
    for (std::size_t e = 0; e < elements.size(); ++e) {
        ModelElement& element = elements[e];
        if (!(element.flags & kElementEnabled)) continue;
        if (!element.push()) result = log.error("Can't push %i element from model [%s]", static_cast<std::int32_t>(e), name);
    }
    registerShadowCaster();
    if (findBone("bip01") >= 0 && !beginsWithNpcPrefix()) stateWords[0] |= kModelPlayerLike;
    if (!animation.push()) result = false;
    if (controller && !controller->onPush()) result = false;
    if (morph && !morph->resourcePushed() && !morph->push()) result = false;
    if (result) stateWords[0] |= kModelPushed;
    else stateWords[0] &= ~kModelPushed;
    if (pvsAreaIndex >= 0) stateWords[0] |= kModelPlaceDirty;
    stateWords[0] |= kModelLightsDirty | kModelLightSetDirty | kModelPhysicsDirty | kModelActive;
    if (findBone("bip01") >= 0) stateWords[0] |= kModelHasRoot;
    enableAttachedLights(true);
    if (stateWords[0] & kModelDefaultRule) {
        stateWords[0] &= ~kModelDefaultRule;
        properties.resetRuleSlots();
        playPropertyRule(0);
    }
    stateWords[1] |= kModelWavesDirty;
    return result;
}

bool Model::pop(std::uint32_t releaseFlag) {
    Log& log = engineLog();
    if (!(stateWords[0] & kModelInContext)) {
        // A model that its push hid (its resource is damaged) was never
        // pushed: there is nothing to pop, and its scene pops whole.
        if (hiddenAsDamaged) return true;
        return log.error("Can't pop object [%s]: push first", name);
    }
    stateWords[0] &= ~kModelPushed;
    setShadowCaster(false);
    setShadowReceiver(false);
    bool result = ModelContext::pop(resource, *this);
    for (ModelElement& element : elements) element.pop(releaseFlag != 0);
    if (!animation.pop()) result = false;
    if (controller && !controller->onPop()) result = false;
    enableAttachedLights(false);
    if (morph && morph->resourcePushed() && !morph->pop()) result = false;
    stateWords[0] &= ~(kModelActive | kModelDrawnThisFrame);
    stateWords[1] &= ~kModelHighH2;
    return result;
}

bool Model::validate() {
    Log& log = engineLog();
    bool result = true;
    for (const ModelElement& element : elements)
        if (element.lodIndex < 0 || element.lodIndex > 2) result = log.error("Object element lod index is invalid");
    if (elements.empty()) result = log.error("Fail to validate object: Object must has at least 1 element");
    if (!name[0]) return log.error("Fail to validate object: Object must have a name");
    return result;
}

std::int32_t Model::findBone(const char* boneName) {
    const std::vector<SkeletonBone>& skeleton = animation.skeleton.bones;
    const std::int32_t count = static_cast<std::int32_t>(skeleton.size());
    if (count < 1) return -1;
    std::int32_t low = 0, high = count;
    while (low < high) {
        const std::int32_t mid = (low + high) / 2;
        if (!boneName || !boneName[0]) {
            low = mid + 1;
            continue;
        }
        const int order = std::strncmp(skeleton[static_cast<std::size_t>(mid)].name, boneName, 128);
        if (order == 0) return mid;
        if (order > 0) high = mid;
        else low = mid + 1;
    }
    return ~low;
}

bool Model::getBoneWorldMatrix(std::int32_t bone, Matrix34& out) {
    // Both bounds: a bone index past the skeleton is refused like a
    // negative one.
    const std::vector<SkeletonBone>& skeleton = animation.skeleton.bones;
    if (bone < 0 || bone >= static_cast<std::int32_t>(skeleton.size())) return false;
    const Matrix34& local = skeleton[static_cast<std::size_t>(bone)].world;
    Matrix34 scaled = worldMatrix;
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < 3; ++k) scaled.m[row * 3 + k] *= scale[row];
    Matrix34 position = matrix34Identity();
    for (int k = 0; k < 3; ++k) position.m[9 + k] = local.m[9 + k];
    const Matrix34 placed = multiplyTransforms(position, scaled);
    Matrix34 axes = local;
    axes.m[9] = axes.m[10] = axes.m[11] = 0.0f;
    Matrix34 unscaled = worldMatrix;
    unscaled.m[9] = unscaled.m[10] = unscaled.m[11] = 0.0f;
    out = multiplyTransforms(axes, unscaled);
    for (int k = 0; k < 3; ++k) out.m[9 + k] = placed.m[9 + k];
    return true;
}

bool Model::getMappedBoneWorldMatrix(std::int32_t record, Matrix34& out) {
    const std::vector<SkeletonBone>& skeleton = animation.skeleton.bones;
    if (record < 0 || record >= static_cast<std::int32_t>(skeleton.size())) return false;
    // The skeleton record's tracked-bone index is the bone it maps to.
    const std::int32_t mapped = skeleton[static_cast<std::size_t>(record)].tracked;
    return mapped >= 0 && getBoneWorldMatrix(mapped, out);
}

void Model::getHeadMatrix(Matrix34& out) {
    if (!getBoneWorldMatrix(findBone("bip01 head"), out)) out = worldMatrix;
}

bool Model::playPropertyRule(std::int32_t slot) {
    if (slot < 0 || slot >= 16) return engineLog().error("Can't play property rule %i of model [%s]: no such slot", slot, name);
    const std::int32_t rule = properties.ruleSlots[slot];
    if (rule < 0) return true;
    if (rule >= static_cast<std::int32_t>(properties.rules.size()))
        return engineLog().error("Can't play property rule %i of model [%s]: no such rule", rule, name);
    bool result = true;
    for (const ModelPropertyAnimation& animation : properties.rules[static_cast<std::size_t>(rule)].animations) {
        char text[160];
        std::snprintf(text, sizeof(text), "[%s ,%f]", animation.name.c_str(), static_cast<double>(animation.speed));
        if (!playSequence(text)) result = false;
    }
    return result;
}

bool Model::followMainCharacter(const CurrentTime& time) {
    Scene* owner = scene();
    GameObject* leader = owner ? owner->mainCharacterObject() : nullptr;
    if (walk_distance > 0.0f && !(stateWords[0] & kModelMainCharacter)) {
        auto* main = dynamic_cast<Model*>(leader);
        if (!main) return false;
        const bool drawnNow = (stateWords[0] & kModelDrawnThisFrame) && isShown();
        // Both root bones (bone 0) are needed: a model without bones is
        // never measured.
        Matrix34 mine, theirs;
        if (!drawnNow && main != this && getBoneWorldMatrix(0, mine) && main->getBoneWorldMatrix(0, theirs)) {
            const float direction[3] = {theirs.m[9] - mine.m[9], 0.0f, theirs.m[11] - mine.m[11]};
            const float apart = std::sqrt(direction[0] * direction[0] + direction[2] * direction[2]);
            Matrix34 place;
            if (apart > characterSettings.pathfindCompanionDistance && owner->findTeleportPoint(place))
                teleportTo(makeVerticalRay(place.m + 9, direction), time);
        }
    }
    // Only a character controller walks after the main character.
    if (controller && controller->getType() == ModelController::TypeCharacter) {
        if (walk_distance == 0.0f) {
            controller->stay();
            walk_distance = -1.0f;
        } else if (walk_distance > 0.0f && !controller->isBusy() && leader && leader != this) {
            if (!controller->follow2model(leader->getName(), 1.0f,
                                          characterSettings.distanceWalkCompanionCoeff * walk_distance))
                walk_distance = -1.0f;
        }
    }
    return true;
}

bool Model::prepareFrame(const CurrentTime& time, std::int32_t mode) {
    stateWords[0] &= ~kModelTransformChanged;
    if ((stateWords[1] & kModelUpdateWhileActive) && !(stateWords[0] & kModelActive)) {
        if (!controller || !controller->isBusy()) return true;
        stateWords[0] |= kModelActive;
    }
    if (!isShown()) return true;
    if ((stateWords[0] & kModelDrawnThisFrame) && ((stateWords[0] & 0x20) || (mode & 1)))
        stateWords[0] |= kModelLightsDirty;
    selectElementLods();
    if ((mode & 2) && (stateWords[0] & kModelDrawnThisFrame)) handMirrorPlanes();
    animation.prepare(time, !(stateWords[0] & (kModelActive | 0x40)));
    if (animation.motionReported) applyRootMotion();
    return true;
}

void Model::handMirrorPlanes() {
    Scene* owner = scene();
    CameraCore* camera = owner ? owner->camera() : nullptr;
    if (!camera || !meshModel()) return;
    for (ModelElement& element : elements) {
        if ((element.flags & (kElementDrawn | kElementReflects)) != (kElementDrawn | kElementReflects)) continue;
        const ModelElementLod* level = element.lod();
        D3DMATRIX world = computeElementMatrix();
        if (level && level->mesh) computeElementMatrix(*level->mesh, world);
        // The surface's position and its up axis.
        const float point[3] = {world.m[3][0], world.m[3][1], world.m[3][2]};
        const float normal[3] = {world.m[1][0], world.m[1][1], world.m[1][2]};
        camera->setMirrorPlane(point, normal);
    }
}

void Model::applyRootMotion() {
    const BoneTransform& motion = animation.motion;
    if (controller) {
        // The controller carries the motion (a character through its
        // encoder and physics model).
        const float translation[3] = {motion.translation[0], motion.translation[1], motion.translation[2]};
        const float rotation[4] = {motion.rotation.x, motion.rotation.y, motion.rotation.z, motion.rotation.w};
        controller->moveLocal(translation, rotation);
    } else if (!attachedPhysics()) {
        // The motion's rotation (a sum of quaternion differences) turns the
        // axes; its translation moves the model along them.
        Quaternion turn{motion.rotation.x, motion.rotation.y, motion.rotation.z, 1.0f + motion.rotation.w};
        quaternionNormalize(turn);
        Matrix33 r;
        quaternionToMatrix33(turn, r);
        Matrix34 rotation = matrix34Identity();
        for (int i = 0; i < 9; ++i) rotation.m[i] = r.m[i];
        Matrix34 moved = multiplyTransforms(rotation, worldMatrix);
        for (int c = 0; c < 3; ++c) {
            float step = 0.0f;
            for (int k = 0; k < 3; ++k) step += motion.translation[k] * worldMatrix.m[k * 3 + c];
            moved.m[9 + c] = worldMatrix.m[9 + c] + step;
        }
        if (std::isfinite(moved.m[9]) && std::isfinite(moved.m[10]) && std::isfinite(moved.m[11]))
            setWorldMatrix(moved);
    }
    animation.motion = BoneTransform::zero();
    animation.motionReported = 0;
}

bool Model::updateFrame(const CurrentTime& time, std::int32_t mode) {
    if (!isShown()) return true;
    if ((stateWords[1] & kModelUpdateWhileActive) && !(stateWords[0] & kModelActive)) return true;
    const bool activeAtStart = (stateWords[0] & kModelActive) != 0;
    if (visibilityTime > 0.0 && visibilityTime < time.game.time) visibilityTime = -1.0;
    if (link.parent().value) followParentLink(time);
    if (controller && walk_distance >= 0.0f && !gameCore.scene_isDialogActive()) followMainCharacter(time);
    PhysicsModel* physics = attachedPhysics();
    // A physics-driven root takes its pose from the simulation.
    Matrix34 simulated;
    // A controller capsule gives the position alone: it stays upright while
    // the model turns.
    if (physics && (stateWords[0] & kModelHasRoot)) {
        const bool taken = (physics->flags & kPhysicsModelController)
                               ? physics->syncControllerModelPose(worldMatrix, simulated)
                               : physics->syncModelPose(simulated);
        if (taken) setWorldMatrix(simulated);
    }
    if (controller && (stateWords[0] & (kModelMoves | kModelHasRoot | kModelPhysicsRoot | kModelHasController)))
        controller->update(time);
    if (controllerRemovalPending_) removeController();
    if (physics && activeAtStart) {
        physics->updateActors((stateWords[0] & kModelPhysicsDirty) != 0);
        stateWords[0] &= ~kModelPhysicsDirty;
    }
    updateMorph(time.game.time);
    // A linked model plays in step with its parent.
    if (activeAtStart && link.parent().value && gameCore.objects)
        if (auto* parent = dynamic_cast<Model*>(gameCore.objects->getObject(link.parent())))
            animation.syncFrom(parent->animation);
    const bool thinOut = (mode & 8) && (stateWords[0] & (0x40 | kModelHasRoot)) && !(stateWords[1] & kModelUpdateWhileActive);
    animation.update(time, thinOut, (stateWords[0] & kModelMainCharacter) != 0);
    if ((stateWords[0] & kModelDrawnThisFrame) && isShown()) updateActionItems();
    return true;
}

bool Model::updateTracking(const CurrentTime& time) {
    stateWords[1] &= ~kModelTrackingPending;
    animation.updateTracker(time, (stateWords[0] & kModelMainCharacter) != 0);
    return true;
}

bool Model::updateDeferred() {
    if (!isShown()) return true;
    if ((stateWords[1] & kModelUpdateWhileActive) && !(stateWords[0] & kModelActive)) return true;
    if ((stateWords[0] & kModelDrawnThisFrame) && (stateWords[1] & kModelWavesDirty)) {
        stateWords[1] &= ~kModelWavesDirty;
        refreshMaterialWaves();
    }
    updateElementLods();
    if ((stateWords[0] & kModelLightSetDirty) ||
        ((stateWords[0] & kModelDrawnThisFrame) && (stateWords[0] & kModelMoves)))
        updateLightSet();
    if ((stateWords[0] & kModelActive) && (stateWords[0] & kModelLightsDirty)) {
        stateWords[0] &= ~kModelLightsDirty;
        collectElementLights();
    }
    return true;
}

bool Model::refreshMaterialWaves() {
    if (stateWords[1] & kModelWavesBusy) return true;
    Scene* owner = scene();
    if (!owner) return false;
    ScriptVariable* root = gameCore.variables ? gameCore.variables->globals().root() : nullptr;
    char path[512];
    std::snprintf(path, sizeof(path), "materials.mat_%s.wave.element.%s", owner->name, name);
    if (!root) return engineLog().error("\n\nCan't find script variable [%s.%s]", "globals", path);
    if (!ScriptVariable::test(root, path)) return false;
    const std::string elementName = ScriptVariable::resolvePath(root, path)->toString();
    // Per wave: direction x, y, z, scale, frequency, amplitude.
    static const char* const kKeys[6] = {"x", "y", "z", "scale", "freq", "amp"};
    float values[2][6];
    for (int wave = 0; wave < 2; ++wave)
        for (int k = 0; k < 6; ++k) {
            std::snprintf(path, sizeof(path), "materials.mat_%s.wave.wave%d_%s.%s", owner->name, wave + 1, kKeys[k],
                          name);
            if (!ScriptVariable::test(root, path)) return false;
            values[wave][k] = ScriptVariable::resolvePath(root, path)->toFloat();
        }
    stateWords[1] |= kModelWavesBusy;
    // One element by name; an empty or unknown name selects every element.
    bool named = false;
    for (const ModelElement& element : elements) named = named || (!elementName.empty() && elementName == element.getName());
    for (ModelElement& element : elements) {
        if (named && elementName != element.getName()) continue;
        ModelElementLod* level = element.lod();
        if (!level) continue;
        for (auto& material : level->materials) {
            // Material::waves: rows 0 and 1 are the two waves (direction,
            // the value reset to 0, frequency, amplitude, scale); row 2
            // begins with the wave state.
            auto& waves = material->waves;
            for (auto& row : waves) std::fill(std::begin(row), std::end(row), 0.0f);
            for (int wave = 0; wave < 2; ++wave) {
                const float* v = values[wave];
                if (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] <= 0.1f) break;  // wave 2 needs wave 1
                waves[wave][0] = v[0], waves[wave][1] = v[1], waves[wave][2] = v[2];
                waves[wave][3] = 0.0f;
                waves[wave][4] = v[4], waves[wave][5] = v[5], waves[wave][6] = v[3];
                waves[2][0] = static_cast<float>(wave + 1);
            }
        }
    }
    stateWords[1] &= ~kModelWavesBusy;
    return true;
}

void Model::collectElementLights() {
    Scene* owner = scene();
    if (!owner) return;
    std::vector<Light*> found;
    for (ModelElement& element : elements) {
        element.lights.clear();
        element.lightSetRef = nullptr;
        if (!(element.flags & kElementLit)) continue;
        owner->collectLightsInVolume(element.bounds(), 1, found);
        for (Light* light : found) element.lights.push_back(GameObjectLink::fromObject(light));
        element.lightSetRef = lightSetName;
    }
}

bool Model::updateLightSet() {
    stateWords[0] &= ~kModelLightSetDirty;
    Scene* owner = scene();
    if (!owner) return false;
    const std::int32_t slot = owner->skyLightMode();
    char wanted[128] = {};
    copyName(wanted, sizeof(wanted), properties.lightSets[slot >= 0 && slot < 4 ? slot : 0]);
    for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (GameObject* parent = gameCore.objects ? gameCore.objects->getObject(link.parent()) : nullptr;
        parent && parent->getType() == ObjectModel)
        copyName(wanted, sizeof(wanted), static_cast<Model*>(parent)->lightSetName);
    LightSet* set = nullptr;
    if (!wanted[0]) {
        set = owner->lightSetForModel(*this);
        if (!set) return engineLog().error("Can't setup dynamic lightset for model [%s]", name);
    } else {
        set = requestLightSet(wanted);
        if (!set)
            return engineLog().error("Cannot find lightset with name [%s] for object [%s] (model [%s])", wanted, name,
                                     resourceName);
    }
    if (!set->name[0]) return engineLog().systemError("Try to set model [%s] lightset to %s", name, "NULL");
    copyName(lightSetName, sizeof(lightSetName), set->name);
    return applyLightset();
}

ModelController* Model::setController(std::int32_t type) {
    removeController();
    controller = ModelController::create(*this, type);
    if (controller) stateWords[0] |= kModelHasController;
    return controller.get();
}

void Model::removeController() {
    controllerRemovalPending_ = false;
    if (controller) controller->detach();
    controller.reset();
    stateWords[0] &= ~kModelHasController;
}

bool Model::attachPhysics(const char* physicsName) {
    if (physicsModel.value)
        return engineLog().error("Can't attach physics model to object [%s]: release previous model first", name);
    // Without a physics scene the physics model's maker logs it; the model
    // goes on without physics.
    PhysicsModel* made = attachPhysicsModel(*this, physicsName ? physicsName : resourceName, scale, isShown());
    physicsModel = made ? GameObjectLink::fromObject(made) : GameObjectLink{};
    if (made && (made->flags & kPhysicsModelFollowsOnSync)) stateWords[1] |= kModelPhysicsOwnPose;
    return true;
}

void Model::detachPhysics() {
    if (physicsModel.value) detachPhysicsModel(*this, physicsModel);
    stateWords[0] &= ~(kModelHasRoot | kModelPhysicsRoot);
    stateWords[1] &= ~kModelPhysicsOwnPose;
    physicsModel = GameObjectLink{};
}

PhysicsModel* Model::attachedPhysics() const {
    GameObject* object =
        gameCore.objects && physicsModel.index() ? gameCore.objects->getObject(physicsModel) : nullptr;
    return object && object->getType() == ObjectPhysicsModel ? static_cast<PhysicsModel*>(object) : nullptr;
}

// What a physics model asks of the model it drives.
void Model::installPhysicsHooks() {
    PhysicsModelHooks& hooks = physicsModelHooks();
    // Tests and tools may drive stand-ins of type 1 that are no Model.
    auto asModel = [](GameObject& object) { return dynamic_cast<Model*>(&object); };
    hooks.controllerType = [asModel](GameObject& object) {
        Model* model = asModel(object);
        return model && model->controller ? model->controller->getType() : -1;
    };
    hooks.setController = [asModel](GameObject& object, std::int32_t type) {
        if (Model* model = asModel(object)) model->setController(type);
    };
    // Physics drives the model's root (L14); a controller model also moves
    // by its physics root (L15).
    hooks.setTransformFlags = [asModel](GameObject& object, bool driven, bool controlled) {
        Model* model = asModel(object);
        if (!model) return;
        if (driven) model->stateWords[0] |= kModelHasRoot;
        if (controlled) model->stateWords[0] |= kModelHasRoot | kModelPhysicsRoot;
    };
    hooks.markTransformChanged = [asModel](GameObject& object) {
        if (Model* model = asModel(object)) model->stateWords[0] |= kModelTransformChanged;
    };
}

bool Model::computeElementMatrix(const Y3Mesh& lod, D3DMATRIX& out) const {
    Matrix34 local;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) local.m[r * 3 + c] = lod.secondMatrix.m[r][c];
    Matrix34 scaled = worldMatrix;
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < 3; ++k) scaled.m[row * 3 + k] *= scale[row];
    const Matrix34 world = multiplyTransforms(local, scaled);
    out = D3DMATRIX{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) out.m[r][c] = world.m[r * 3 + c];
    out.m[3][3] = 1.0f;
    return true;
}

D3DMATRIX Model::computeElementMatrix() const {
    D3DMATRIX out{};
    for (int row = 0; row < 4; ++row) {
        const float factor = row < 3 ? scale[row] : 1.0f;
        for (int column = 0; column < 3; ++column) out.m[row][column] = worldMatrix.m[row * 3 + column] * factor;
    }
    out.m[3][3] = 1.0f;
    return out;
}

void ModelElementLod::setMesh(Y3Mesh& source) {
    mesh = &source;
    subset = 0;
    materials.clear();
    for (std::int32_t i = 0; i < source.subsetCount(); ++i) {
        auto made = std::make_shared<Material>();
        made->setupFromData(source.subset(i).material);
        materials.push_back(std::move(made));
    }
    material = materials.empty() ? nullptr : materials.front().get();
}

void Model::release() {
    Log& log = engineLog();
    releaseMorph();
    if (stateWords[0] & kModelInContext) {
        log.error("Model Destructor: Object [%s] is registered: Unregister before release", name);
        pop(0);
    }
    if (pvsAreaIndex >= 0)
        if (Scene* owner = scene()) owner->pvs.unregisterObject(this);
    pvsAreaIndex = -1;
    releaseElementInstances();
    deleteLights();
    deleteParticles();
    detachPhysics();
    removeController();
    destroyElements();
    resource = nullptr;
}

bool Model::getWorldMatrix(Matrix34& out) {
    out = worldMatrix;
    return true;
}

bool Model::playSequence(const char* text) {
    const char* given = text ? text : "";
    if (given[0] == '$') {
        const NpcVariant* entry = NpcRandomizer::readGroupArray(given + 1, resourceName);
        // An entry whose own sequence names a group again would recurse
        // without end: it maps to nothing.
        if (!entry || (!entry->animation.empty() && entry->animation[0] == '$'))
            return engineLog().error("Can't map object [%s] model [%s] to group [%s]: Animation play failed", name,
                                     resourceName, given);
        const std::string body = entry->animation;
        const std::string face = entry->faceAnimation;
        // An empty text of an entry plays nothing on that stack.
        const bool bodyPlayed = body.empty() || playSequence(body.c_str());
        const bool facePlayed = face.empty() || playFaceSequence(face.c_str());
        return bodyPlayed && facePlayed;
    }
    AnimationSequence sequence;
    if (!AnimationStackCompiler::compileSequence(given, sequence))
        return engineLog().error("Fail to play animation sequence for object [%s]", name);
    if (controller) controller->onScriptedSequence();
    animation.flags |= kAnimationHasInstances;
    if (!animation.body().pushSequence(sequence, kBodyPart, false, false, false))
        return engineLog().error("Fail to append animation sequence for object [%s]", name);
    return true;
}

namespace {

// The number of different animations a compiled sequence plays.
std::size_t distinctAnimations(const AnimationSequence& sequence) {
    std::vector<std::string> names;
    for (const SequenceElement& element : sequence.elements)
        if (std::find(names.begin(), names.end(), element.animation) == names.end()) names.push_back(element.animation);
    return names.size();
}

}  // namespace

bool Model::playSequenceIdle(const char* text) {
    const char* given = text ? text : "";
    AnimationSequence sequence;
    if (!AnimationStackCompiler::compileSequence(given, sequence))
        return engineLog().error("Fail to play animation sequence IDLE for object [%s]", name);
    if (distinctAnimations(sequence) == 1) {
        engineLog().error("Animation idle must be at least 2 different animations or more. Don't use idle in case of "
                          "single animation. (object [%s], model [%s]), animation {%s}",
                          name, resourceName, given);
        return playSequence(given);
    }
    if (controller) controller->onScriptedSequence();
    animation.flags |= kAnimationHasInstances;
    if (!animation.body().pushSequence(sequence, kBodyPart, true, false, false))
        return engineLog().error("Fail to append animation sequence IDLE for object [%s]", name);
    return true;
}

bool Model::playFaceSequenceIdle(const char* text) {
    const char* given = text ? text : "";
    AnimationSequence sequence;
    if (!AnimationStackCompiler::compileSequence(given, sequence))
        return engineLog().error("Fail to play face animation sequence IDLE for object [%s]", name);
    if (distinctAnimations(sequence) == 1) {
        engineLog().error("Face idle must be at least 2 different animations or more. Don't use idle in case of "
                          "single animation. (object [%s], model [%s]), animation {%s}",
                          name, resourceName, given);
        return playFaceSequence(given);
    }
    if (controller) controller->onScriptedSequence();
    animation.flags |= kAnimationHasInstances;
    if (!animation.face().pushSequence(sequence, kFacePart, true, false, false))
        return engineLog().error("Fail to append face animation sequence IDLE for object [%s]", name);
    return true;
}

bool Model::checkDirectControlTarget(const char* targetName, bool useWaypoint) {
    // Only a character controller can be directed.
    if (!controller || controller->getType() != 1) return false;
    const char* target = targetName ? targetName : "";
    if (!useWaypoint) {
        controller->go2waypoint(target, false);
        return true;
    }
    Y3Pose* pose = gameCore.scene_findWaypoint(target);
    if (pose && pose->type() == PoseModel) {
        // "^" appends the waypoint's own sequence; the whole text keeps to 127 characters.
        std::string text = std::string("^") + static_cast<const Y3Pose_Model*>(pose)->animation;
        if (text.size() > 127) text.resize(127);
        playSequence(text.c_str());
    } else {
        engineLog().error("Model [%s]: Expected model waypoint destination (%s) for direct control target", getName(),
                          target);
    }
    return true;
}

bool Model::playFaceSequence(const char* text) {
    AnimationSequence sequence;
    if (!AnimationStackCompiler::compileSequence(text ? text : "", sequence))
        return engineLog().error("Fail to play face animation sequence for object [%s]", name);
    if (controller) controller->onScriptedSequence();
    animation.flags |= kAnimationHasInstances;
    if (!animation.face().pushSequence(sequence, kFacePart, false, false, false))
        return engineLog().error("Fail to append face animation sequence for object [%s]", name);
    return true;
}

void Model::clearBodyStack() { animation.body().clear(); }
