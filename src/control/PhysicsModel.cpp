#include "control/PhysicsModel.h"

#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "control/ControlSettings.h"
#include "control/PhysicsCore.h"
#include "control/PhysicsScene.h"
#include "control/Y3PhysicsModelData.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "platform/physics/PhysicsBackend.h"
#include "scene/ObjectRepository.h"

namespace backend = platform::physics;

namespace {

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

// The backend's description of an actor with the surfaces of its materials.
backend::ActorDesc actorDesc(const Y3PhysicsRigit& rigit, const float* scale) {
    backend::ActorDesc desc;
    desc.kind = static_cast<backend::ShapeKind>(rigit.kind());
    desc.flags = rigit.flags;
    desc.collisionGroup = rigit.collisionGroup;
    desc.mass = rigit.mass;
    if (rigit.kind() == RigitBox) std::memcpy(desc.size, static_cast<const Y3PhysicsRigit_BOX&>(rigit).size, 12);
    if (rigit.kind() == RigitSphere) desc.radius = static_cast<const Y3PhysicsRigit_SPHERE&>(rigit).sphereRadius;
    if (rigit.kind() == RigitCapsule) {
        desc.radius = rigit.radius();
        desc.height = rigit.height();
    }
    std::memcpy(desc.scale, scale, sizeof(desc.scale));
    desc.vertexCount = rigit.bulkCount(0);
    desc.vertices = desc.vertexCount ? reinterpret_cast<const float*>(rigit.bulk[0].data()) : nullptr;
    desc.triangleCount = rigit.bulkCount(1);
    desc.triangles = desc.triangleCount ? reinterpret_cast<const std::uint32_t*>(rigit.bulk[1].data()) : nullptr;
    SurfaceDataManager* surfaces = gameCore.physics ? &gameCore.physics->surfaces() : nullptr;
    for (const auto& material : rigit.materials) {
        const PhysicsSurface* surface = surfaces ? surfaces->surfaceOrDefault(material.data()) : nullptr;
        backend::SurfaceDesc out;
        if (surface) {
            out.dynamicFriction = surface->dynamicFriction;
            out.staticFriction = surface->staticFriction;
            out.restitution = surface->restitution;
            out.dynamicFrictionV = surface->dynamicFrictionV;
            out.staticFrictionV = surface->staticFrictionV;
            std::memcpy(out.anisotropy, surface->anisotropy, sizeof(out.anisotropy));
            out.flags = surface->flags;
            out.frictionCombine = surface->frictionCombine;
            out.restitutionCombine = surface->restitutionCombine;
            out.spring[0] = surface->springConstant;
            out.spring[1] = surface->springDamper;
            out.spring[2] = surface->springValue;
        }
        desc.surfaces.push_back(out);
    }
    return desc;
}

backend::ControllerDesc controllerDesc(const Y3PhysicsRigit& rigit) {
    backend::ControllerDesc desc;
    if (rigit.radius() > 0.0f) desc.radius = rigit.radius();
    if (rigit.height() > 0.0f) desc.height = rigit.height();
    desc.skinWidth = physicsSettings.chrSkinWidth * physicsSettings.controllerSkinMultiplier;
    desc.stepHeight = physicsSettings.chrStepHeight;
    desc.minStep = physicsSettings.chrMinStep;
    desc.slopeCosine = physicsSettings.chrSlopeCosine;
    std::memcpy(desc.teleportStep, physicsSettings.chrTeleportStep, sizeof(desc.teleportStep));
    return desc;
}

// local x model pose with the rows scaled, the translation carried
// through the scaled rows.
Matrix34 scaledPose(const Matrix34& local, const Matrix34& pose, const float* scale) {
    Matrix34 rows = pose;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) rows.m[row * 3 + column] *= scale[row];
    Matrix34 out = local;
    matrix34Multiply(out, rows);
    return out;
}

}  // namespace

PhysicsModelHooks& physicsModelHooks() {
    static PhysicsModelHooks hooks;
    return hooks;
}

PhysicsModel* PhysicsModel::create(PhysicsModelRecord* record) {
    if (!record || record->has(kResourceUnavailable)) return nullptr;
    return new PhysicsModel(record, GameObjectLink{}, GameObjectLink{});
}

PhysicsModel::PhysicsModel(PhysicsModelRecord* record, GameObjectLink sceneLink, GameObjectLink sourceLink)
    : GameObject(record ? record->name : ""), scene(sceneLink), source(sourceLink), record_(record) {}

PhysicsModel::~PhysicsModel() {
    Log& log = engineLog();
    if (!actors.empty()) log.error(" Unreleased physics model [%s]: Not all actors released", displayName());
    if (!joints.empty()) log.error(" Unreleased physics model [%s]: Not all joints released", displayName());
    release();
    freeActors();
    freeJoints();
}

const char* PhysicsModel::displayName() const {
    if (source.index()) {
        if (source.index() == GameObjectLink::fromObject(this).index()) return "LOOP OBJ LINK";
        const GameObject* object = resolve(source);
        return object ? object->getName() : "NULL OBJ PTR";
    }
    if (scene.index()) {
        if (scene.index() == GameObjectLink::fromObject(this).index()) return "LOOP SCENE LINK";
        const GameObject* object = resolve(scene);
        return object ? object->getName() : "NULL SCENE PTR";
    }
    return "Unlinked physics model";
}

void PhysicsModel::setResourcePushed(bool pushed) {
    if (pushed)
        flags |= kPhysicsModelPushed;
    else
        flags &= ~kPhysicsModelPushed;
}

std::uint32_t PhysicsModel::getSceneLink() const { return resolve(scene) ? scene.value : 0; }

PhysicsScene* PhysicsModel::physicsScene() const {
    GameObject* object = resolve(scene);
    return object && object->getType() == ObjectPhysicsScene ? static_cast<PhysicsScene*>(object) : nullptr;
}

std::uint32_t PhysicsModel::world() const {
    const PhysicsScene* owner = physicsScene();
    return owner ? owner->world : 0;
}

GameObject* PhysicsModel::sourceObject() const { return resolve(source); }

Y3PhysicsModelData* PhysicsModel::description() const { return record_ ? record_->data() : nullptr; }

Y3PhysicsModelData* PhysicsModel::loadedDescription() const {
    if (!record_) return nullptr;
    if (!record_->has(kResourceHeaderLoaded) && gameCore.physics &&
        !gameCore.physics->modelData().loadHeader(record_, nullptr))
        return nullptr;
    return record_->data();
}

bool PhysicsModel::push() {
    if (flags & kPhysicsModelPushed) return engineLog().error("Can't push physics model [%s] twice", displayName());
    return ResourceManagerBase::push(record_, this);
}

bool PhysicsModel::pop(std::uint32_t) {
    if (!(flags & kPhysicsModelPushed))
        return engineLog().error("Can't pop physics model [%s]: push first", displayName());
    return ResourceManagerBase::pop(record_, this);
}

bool PhysicsModel::initialize(const float* newScale) {
    Log& log = engineLog();
    flags |= kPhysicsModelInitialising;
    if (flags & kPhysicsModelInitialised)
        return log.error("Can't initialize physics model [%s] twice: Release first", displayName());
    if (newScale) std::memcpy(scale, newScale, sizeof(scale));
    Y3PhysicsModelData* data = loadedDescription();
    if (!data) return false;
    if (!createActors()) return false;
    freeJoints();
    joints.assign(data->joints.size(), 0);
    for (std::size_t i = 0; i < joints.size(); ++i) createJoint(i);
    flags &= ~kPhysicsModelInitialising;
    GameObject* model = sourceObject();
    if (flags & kPhysicsModelController) {
        if (!model) {
            freeActors();
            freeJoints();
            return log.error("Expected source model for physics model [%s]", displayName());
        }
        PhysicsModelHooks& hooks = physicsModelHooks();
        const std::int32_t type = hooks.controllerType ? hooks.controllerType(*model) : -1;
        if (type != kControllerType && hooks.setController) hooks.setController(*model, kControllerType);
    }
    if (model && physicsModelHooks().setTransformFlags)
        physicsModelHooks().setTransformFlags(*model, (flags & kPhysicsModelDriven) != 0,
                                              (flags & kPhysicsModelController) != 0);
    flags |= kPhysicsModelInitialised;
    return true;
}

bool PhysicsModel::createActors() {
    Y3PhysicsModelData* data = description();
    freeActors();
    actors.assign(data->actors.size(), PhysicsActorInstance{});
    const std::uint32_t handleWorld = world();
    Matrix34 base = matrix34Identity();
    if (GameObject* model = sourceObject()) model->getWorldMatrix(base);
    bool following = false;
    for (std::size_t i = 0; i < actors.size(); ++i) {
        const Y3PhysicsRigit* rigit = data->actors[i].get();
        PhysicsActorInstance& actor = actors[i];
        if (!rigit) break;
        actor.pose = scaledPose(rigit->localPose, base, scale);
        actor.flags = kPhysicsActorVisible;
        const bool controller = (rigit->flags & kRigitController) && controllerIndex < 0;
        if (controller) {
            controllerIndex = static_cast<std::int32_t>(i);
            flags |= kPhysicsModelController;
        }
        actor.handle = createBackendActor(handleWorld, i, *rigit);
        if (!controller) {
            actor.flags |= kPhysicsActorScaledShape;
            if (rigit->flags & kRigitModelLink)
                actor.flags |= kPhysicsActorFollowsModel;
            else if (!(rigit->flags & kRigitStatic))
                actor.flags |= kPhysicsActorFollowsOnSync;
            following = following || (rigit->flags & kRigitModelLink) || rigit->bone[0];
        }
        // Without a simulation no actor can be made, and the model cannot
        // be initialised.
        if (!actor.handle) {
            freeActors();
            return false;
        }
    }
    if (following) flags |= kPhysicsModelFollows;
    return true;
}

std::uint32_t PhysicsModel::createBackendActor(std::uint32_t handleWorld, std::size_t index,
                                              const Y3PhysicsRigit& rigit) const {
    const Matrix34& pose = actors[index].pose;
    if (static_cast<std::int32_t>(index) == controllerIndex)
        return backend::backend().createController(handleWorld, controllerDesc(rigit), pose.m);
    return backend::backend().createActor(handleWorld, actorDesc(rigit, scale), pose.m);
}

bool PhysicsModel::restoreActors() {
    const std::uint32_t handleWorld = world();
    if (!handleWorld || !record_ || !gameCore.physics) return false;
    PhysicsModelDataManager& manager = gameCore.physics->modelData();
    Y3PhysicsModelData* data = loadedDescription();
    if (!data || !manager.allocate(record_) || data->actors.size() != actors.size()) return false;
    for (std::size_t i = 0; i < actors.size(); ++i) {
        if (actors[i].handle || !data->actors[i]) continue;
        actors[i].handle = createBackendActor(handleWorld, i, *data->actors[i]);
        if (!actors[i].handle) return false;
        backend::backend().setActorVisible(handleWorld, actors[i].handle, actors[i].flags & kPhysicsActorVisible);
    }
    for (std::size_t i = 0; i < joints.size() && i < data->joints.size(); ++i)
        if (!joints[i]) createJoint(i);
    return true;
}

void PhysicsModel::createJoint(std::size_t index) {
    Log& log = engineLog();
    PhysicsScene* owner = physicsScene();
    if (owner && (owner->flags & kPhysicsSceneSimulating)) {
        log.error("PANIC: Try to initialize physics joint until physics scene simulation in progress");
        return;
    }
    Y3PhysicsModelData* data = loadedDescription();
    if (!data) {
        log.error(" Can't create physics joint: Actor source data not allocated");
        return;
    }
    Matrix34 pose = matrix34Identity();
    if (GameObject* model = sourceObject()) model->getWorldMatrix(pose);
    if (!owner || !owner->world) {
        log.error(" Can't create physics actor: Model physics scene not initialized");
        return;
    }
    std::vector<std::uint32_t> handles;
    for (const PhysicsActorInstance& actor : actors) handles.push_back(actor.handle);
    const Y3PhysicsDataJoint* joint = index < data->joints.size() ? data->joints[index].get() : nullptr;
    joints[index] = joint ? joint->createJoint(owner->world, pose, handles) : 0;
    if (!joints[index]) log.error(" Can't create physics joint");
}

void PhysicsModel::freeActors() {
    const std::uint32_t handleWorld = world();
    for (const PhysicsActorInstance& actor : actors)
        if (actor.handle) backend::backend().releaseActor(handleWorld, actor.handle);
    actors.clear();
    actors.shrink_to_fit();
    controllerIndex = -1;
}

void PhysicsModel::freeJoints() {
    const std::uint32_t handleWorld = world();
    for (std::uint32_t joint : joints)
        if (joint) backend::backend().releaseJoint(handleWorld, joint);
    joints.clear();
    joints.shrink_to_fit();
}

void PhysicsModel::release() {
    if (!(flags & kPhysicsModelInitialised)) return;
    if (flags & kPhysicsModelPushed) pop(0);
    freeActors();
    freeJoints();
    flags &= ~kPhysicsModelInitialised;
    if (record_ && record_->users.count() == 0) record_->release();
}

bool PhysicsModel::applyVectorToActors(const float* newScale) {
    std::memcpy(scale, newScale, sizeof(scale));
    Y3PhysicsModelData* data = loadedDescription();
    const std::uint32_t handleWorld = world();
    for (std::size_t i = 0; i < actors.size(); ++i) {
        const PhysicsActorInstance& actor = actors[i];
        const Y3PhysicsRigit* rigit = data && i < data->actors.size() ? data->actors[i].get() : nullptr;
        if (!actor.handle || !rigit) return false;
        backend::Shape* shape = backend::backend().actorShape(handleWorld, actor.handle);
        if (actor.flags & kPhysicsActorShapeInstance) continue;
        if (actor.flags & kPhysicsActorScaledShape)
            rigit->scaleShape(scale, shape);
        else
            rigit->scaleHook(scale, shape);
    }
    return true;
}

bool PhysicsModel::applyPoseToActors(const Matrix34& pose) {
    Y3PhysicsModelData* data = description();
    const std::size_t first = controllerIndex >= 0 ? static_cast<std::size_t>(controllerIndex) : 0;
    for (std::size_t i = first; i < actors.size(); ++i) {
        PhysicsActorInstance& actor = actors[i];
        const Y3PhysicsRigit* rigit = data && i < data->actors.size() ? data->actors[i].get() : nullptr;
        if (!(actor.flags & kPhysicsActorVisible) || !rigit) return false;
        actor.pose = scaledPose(rigit->localPose, pose, scale);
        const bool driven = (flags & kPhysicsModelDriven) && static_cast<std::int32_t>(i) == drivenActorIndex();
        if (((flags & kPhysicsModelController) || driven) && actor.handle)
            backend::backend().setActorPose(world(), actor.handle, actor.pose.m);
        if (controllerIndex >= 0) break;
    }
    return actors.empty();
}

bool PhysicsModel::syncModelPose(Matrix34& pose) {
    if (!(flags & kPhysicsModelController) && (flags & kPhysicsModelDriven)) return syncDrivenPose(pose);
    if (!(flags & kPhysicsModelController) || controllerIndex < 0 ||
        static_cast<std::size_t>(controllerIndex) >= actors.size())
        return false;
    PhysicsActorInstance& actor = actors[static_cast<std::size_t>(controllerIndex)];
    if (!(actor.flags & kPhysicsActorVisible) || !actor.handle) return false;
    GameObject* model = sourceObject();
    if ((flags & kPhysicsModelTransformChanged) && model && physicsModelHooks().markTransformChanged)
        physicsModelHooks().markTransformChanged(*model);
    if (!backend::backend().getActorPose(world(), actor.handle, actor.pose.m)) return false;
    pose = actor.pose;
    flags |= kPhysicsModelInitialising;
    return true;
}

bool PhysicsModel::syncControllerModelPose(const Matrix34& modelPose, Matrix34& pose) {
    Matrix34 capsule;
    if (!syncModelPose(capsule)) return false;
    Y3PhysicsModelData* data = description();
    const std::size_t index = static_cast<std::size_t>(controllerIndex);
    const Y3PhysicsRigit* rigit = data && index < data->actors.size() ? data->actors[index].get() : nullptr;
    pose = modelPose;
    for (int c = 0; c < 3; ++c) {
        float offset = 0.0f;
        if (rigit)
            for (int k = 0; k < 3; ++k) offset += rigit->localPose.m[9 + k] * scale[k] * modelPose.m[k * 3 + c];
        pose.m[9 + c] = capsule.m[9 + c] - offset;
    }
    return true;
}

void PhysicsModel::updateActors(bool resync) {
    if (!(flags & (kPhysicsModelFollows | kPhysicsModelFollowsOnSync))) return;
    Y3PhysicsModelData* data = description();
    GameObject* model = sourceObject();
    for (std::size_t i = 0; i < actors.size(); ++i) {
        PhysicsActorInstance& actor = actors[i];
        const bool follows = (actor.flags & kPhysicsActorFollowsModel) ||
                             (resync && (actor.flags & kPhysicsActorFollowsOnSync));
        if (!(actor.flags & kPhysicsActorVisible) || !follows || (actor.flags & kPhysicsActorHeld)) continue;
        const Y3PhysicsRigit* rigit = data && i < data->actors.size() ? data->actors[i].get() : nullptr;
        Matrix34 base = matrix34Identity();
        if (model) {
            const std::int32_t bone = rigit && rigit->bone[0] ? model->findBone(rigit->bone) : -1;
            if (bone < 0 || !model->getBoneWorldMatrix(bone, base)) model->getWorldMatrix(base);
        }
        actor.pose = rigit ? scaledPose(rigit->localPose, base, scale) : base;
        if (actor.handle) backend::backend().setActorPose(world(), actor.handle, actor.pose.m);
    }
}

bool PhysicsModel::move(const float* delta) {
    if (!(flags & kPhysicsModelController))
        return engineLog().error("Fail to move physics model [%s]: Model must be CONTROLLER", displayName());
    if (controllerIndex >= 0 && static_cast<std::size_t>(controllerIndex) < actors.size()) {
        float* accumulated = actors[static_cast<std::size_t>(controllerIndex)].move;
        for (int i = 0; i < 3; ++i) accumulated[i] += delta[i];
    }
    return true;
}

void PhysicsModel::applyMotion(std::uint32_t handleWorld) {
    if (controllerIndex < 0 || static_cast<std::size_t>(controllerIndex) >= actors.size()) return;
    PhysicsActorInstance& actor = actors[static_cast<std::size_t>(controllerIndex)];
    if (!actor.handle || (actor.move[0] == 0.0f && actor.move[1] == 0.0f && actor.move[2] == 0.0f)) return;
    bool grounded = false;
    if (backend::backend().moveController(handleWorld, actor.handle, actor.move, grounded)) onGround = grounded;
    std::memset(actor.move, 0, sizeof(actor.move));
}

std::int32_t PhysicsModel::drivenActorIndex() const {
    const Y3PhysicsModelData* data = description();
    if (!data) return -1;
    constexpr std::uint32_t kNotDriven = kRigitStatic | kRigitTrigger | kRigitController | kRigitModelLink;
    for (std::size_t i = 0; i < actors.size() && i < data->actors.size(); ++i) {
        const Y3PhysicsRigit* rigit = data->actors[i].get();
        if (rigit && !(rigit->flags & kNotDriven) && rigit->mass > 0.0f && static_cast<std::int32_t>(i) != controllerIndex)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

bool PhysicsModel::drive(const float* linearStep, const float* angularStep) {
    const std::int32_t index = drivenActorIndex();
    if (index < 0) return false;
    const PhysicsActorInstance& actor = actors[static_cast<std::size_t>(index)];
    if (!actor.handle || !(actor.flags & kPhysicsActorVisible)) return false;
    // Boats ride the water: the body keeps its height, roll and pitch.
    if (!backend::backend().driveActor(world(), actor.handle, linearStep, angularStep, true)) return false;
    if (!(flags & kPhysicsModelDriven)) {
        flags |= kPhysicsModelDriven;
        // From now on the model follows its body.
        GameObject* model = sourceObject();
        if (model && physicsModelHooks().setTransformFlags) physicsModelHooks().setTransformFlags(*model, true, false);
    }
    return true;
}

bool PhysicsModel::syncDrivenPose(Matrix34& pose) {
    const std::int32_t index = drivenActorIndex();
    if (index < 0) return false;
    PhysicsActorInstance& actor = actors[static_cast<std::size_t>(index)];
    if (!(actor.flags & kPhysicsActorVisible) || !actor.handle) return false;
    if (!backend::backend().getActorPose(world(), actor.handle, actor.pose.m)) return false;
    // The body stands at its local pose within the scaled model: the model's
    // rows are the body's rows turned back by the local rotation, its
    // position the body's less the local offset.
    const Matrix34& local = description()->actors[static_cast<std::size_t>(index)]->localPose;
    Matrix34 out = matrix34Identity();
    for (int row = 0; row < 3; ++row) {
        float length = 0.0f;
        for (int c = 0; c < 3; ++c) {
            float v = 0.0f;
            for (int k = 0; k < 3; ++k) v += local.m[k * 3 + row] * actor.pose.m[k * 3 + c];
            out.m[row * 3 + c] = v;
            length += v * v;
        }
        length = std::sqrt(length);
        if (!(length > 1e-6f)) return false;
        for (int c = 0; c < 3; ++c) out.m[row * 3 + c] /= length;
    }
    for (int c = 0; c < 3; ++c) {
        float offset = 0.0f;
        for (int k = 0; k < 3; ++k) offset += local.m[9 + k] * scale[k] * out.m[k * 3 + c];
        out.m[9 + c] = actor.pose.m[9 + c] - offset;
    }
    pose = out;
    return true;
}

void PhysicsModel::takeGroundContact(std::uint32_t handleWorld) {
    if (controllerIndex < 0 || static_cast<std::size_t>(controllerIndex) >= actors.size()) return;
    const std::uint32_t handle = actors[static_cast<std::size_t>(controllerIndex)].handle;
    if (handle) onGround = backend::backend().controllerOnGround(handleWorld, handle);
}

bool PhysicsModel::setVisible(const char* element, bool visible) {
    if (visible && record_ && !record_->has(kResourceAllocated)) {
        PhysicsModelDataManager* manager = gameCore.physics ? &gameCore.physics->modelData() : nullptr;
        const bool header = record_->has(kResourceHeaderLoaded) || (manager && manager->loadHeader(record_, nullptr));
        if (!header || !manager || !manager->allocate(record_))
            engineLog().error("Visible: Cannot allocate physics model [%s] data", record_->name);
    }
    const auto show = [this, visible](PhysicsActorInstance& actor) {
        if (visible)
            actor.flags |= kPhysicsActorVisible;
        else
            actor.flags &= ~kPhysicsActorVisible;
        if (actor.handle) backend::backend().setActorVisible(world(), actor.handle, visible);
    };
    if (!element) {
        for (PhysicsActorInstance& actor : actors) show(actor);
        return true;
    }
    Y3PhysicsModelData* data = description();
    for (std::size_t i = 0; data && i < data->actors.size() && i < actors.size(); ++i) {
        const char* actorName = data->actors[i] ? data->actors[i]->name : "invalid";
        if (std::strncmp(actorName, element, Y3PhysicsRigit::kNameSize) == 0) {
            show(actors[i]);
            return true;
        }
    }
    engineLog().error("Can't find physics element [%s] in model [%s]", element, displayName());
    return true;
}

std::int32_t PhysicsModel::write(DataStream& stream) {
    std::int32_t total = 0;
    for (float value : scale)
        if (!addField(total, writeF32(stream, value))) return total;
    if (!addField(total, writeU32(stream, scene.value))) return total;
    if (!addField(total, writeU32(stream, source.value))) return total;
    if (!addField(total, writeU32(stream, flags))) return total;
    if (!addField(total, writeI32(stream, controllerIndex))) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(actors.size())))) return total;
    const std::uint32_t handleWorld = world();
    for (PhysicsActorInstance& actor : actors) {
        // The simulation moved the bodies: the save keeps where they are.
        if (actor.handle && handleWorld) backend::backend().getActorPose(handleWorld, actor.handle, actor.pose.m);
        if (!addField(total, writeU32(stream, actor.flags))) return total;
        for (float value : actor.pose.m)
            if (!addField(total, writeF32(stream, value))) return total;
    }
    addField(total, writeUIntArray(stream, joints));
    return total;
}

std::int32_t PhysicsModelSaveRecord::read(DataStream& stream) {
    std::int32_t total = 0;
    for (float& value : scale)
        if (!addField(total, readF32(stream, value))) return total;
    if (!addField(total, readU32(stream, scene))) return total;
    if (!addField(total, readU32(stream, source))) return total;
    if (!addField(total, readU32(stream, flags))) return total;
    if (!addField(total, readI32(stream, controllerIndex))) return total;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / 52) {
        engineLog().error("Can't load physics model: %u actors exceed the save", static_cast<unsigned>(count));
        return -1;
    }
    actorFlags.assign(count, 0);
    actorPoses.assign(count, Matrix34{});
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!addField(total, readU32(stream, actorFlags[i]))) return total;
        for (float& value : actorPoses[i].m)
            if (!addField(total, readF32(stream, value))) return total;
    }
    addField(total, readUIntArray(stream, joints));
    return total;
}

std::int32_t PhysicsModel::read(DataStream& stream) {
    PhysicsModelSaveRecord saved;
    const std::int32_t total = saved.read(stream);
    if (total < 0) return total;
    freeActors();
    freeJoints();
    std::memcpy(scale, saved.scale, sizeof(scale));
    scene = GameObjectLink{saved.scene};
    source = GameObjectLink{saved.source};
    flags = saved.flags;
    controllerIndex = saved.controllerIndex;
    actors.assign(saved.actorFlags.size(), PhysicsActorInstance{});
    for (std::size_t i = 0; i < actors.size(); ++i) {
        actors[i].flags = saved.actorFlags[i];
        actors[i].pose = saved.actorPoses[i];
    }
    joints.assign(saved.joints.size(), 0);
    flags &= ~kPhysicsModelPushed;
    flags |= kPhysicsModelInitialised;
    return total;
}
