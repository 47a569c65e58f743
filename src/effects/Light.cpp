#include "effects/Light.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "effects/EffectsSettings.h"
#include "effects/LightDataManager.h"
#include "effects/LightSetLibrary.h"
#include "effects/Y3Light.h"
#include "foundation/DataStream.h"
#include "foundation/Math.h"
#include "foundation/Matrix.h"
#include "model/Model.h"
#include "model/ObjectContext.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "resources/LoadingProgress.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"

namespace {

VertexData* variable(ShaderProgram* program, const char* name) {
    return gameCore.render ? gameCore.render->shaders().programVariable(program, name) : nullptr;
}

float inverseOf(float value) { return value != 0.0f ? 1.0f / value : 0.0f; }

Scene* sceneOf(std::uint32_t link) {
    GameObject* object = gameCore.objects && (link & kGameObjectHandleMask)
                             ? gameCore.objects->getObject(GameObjectLink{link})
                             : nullptr;
    return object && object->getType() == ObjectScene ? static_cast<Scene*>(object) : nullptr;
}

LightSet* requestSet(const char* name) {
    return gameCore.lightSets ? gameCore.lightSets->request(name, false) : nullptr;
}

// Rotation by 120 degrees about the vertical axis.
void rotateThird(float (&v)[3]) {
    const float c = std::cos(2.094395f);
    const float s = std::sin(2.094395f);
    const float x = v[0] * c + v[2] * s;
    const float z = -v[0] * s + v[2] * c;
    v[0] = x;
    v[2] = z;
}

}  // namespace

// ---- save record --------------------------------------------------------

std::int32_t LightRecord::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, flags)) ||
        !addField(total, writeString16(stream, lightName, sizeof(lightName))))
        return total;
    for (float value : scale)
        if (!addField(total, writeF32(stream, value))) return total;
    if (!addField(total, stream.write(pose.m, sizeof(pose.m))) ||
        !addField(total, stream.write(lightSpace.m, sizeof(lightSpace.m))) ||
        !addField(total, writeF32(stream, diffuseFactor)) || !addField(total, writeF32(stream, specularFactor)) ||
        !addField(total, writeF32(stream, inverseRadius)) || !addField(total, writeIntersection(volume.get(), stream)))
        return total;
    addField(total, writeString8(stream, lightSetName));
    return total;
}

std::int32_t LightRecord::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, flags))) return total;
    if (!addField(total, readName16(stream, lightName))) return total;
    for (float& value : scale)
        if (!addField(total, readF32(stream, value))) return total;
    if (!addField(total, readExact(stream, pose.m, sizeof(pose.m))) ||
        !addField(total, readExact(stream, lightSpace.m, sizeof(lightSpace.m))) ||
        !addField(total, readF32(stream, diffuseFactor)) || !addField(total, readF32(stream, specularFactor)) ||
        !addField(total, readF32(stream, inverseRadius)) || !addField(total, readIntersection(stream, volume)))
        return total;
    addField(total, readString8(stream, lightSetName, sizeof(lightSetName)));
    // A loaded light is in no instance list.
    flags &= ~kLightOnStack;
    return total;
}

// ---- Light ---------------------------------------------------------------

Light* Light::create(Y3LightData* record, std::uint32_t sceneLink, const char* name, bool forLoading) {
    if (!record || (record->flags & kLightDataFailed)) return nullptr;
    return new Light(forLoading ? "" : name, record, sceneLink);
}

Light::Light(const char* ownName, Y3LightData* lightData, std::uint32_t scene)
    : GameObject(lightData ? lightData->name : ""), data(lightData), sceneLink(scene) {
    if (data) ++data->holders;
    copyName128(lightName, ownName ? ownName : "");
    if (const Y3Light* light = resource()) {
        if (!(light->flags & kY3LightStartsHidden)) flags |= kLightVisible;
        setPose(light->lightPose());
    } else {
        flags |= kLightVisible;
    }
}

Light::~Light() {
    Log& log = engineLog();
    if (flags & kLightEnabled) log.error("Deallocate light [%s] before destructor call", lightName);
    if (flags & kLightOnStack) {
        log.error("Pop light [%s] before destructor call", lightName);
        pop(0);
    }
    if (data) --data->holders;
}

const Y3Light* Light::resource() const { return data && data->loaded() ? data->light.get() : nullptr; }

void Light::flagVolumeIfShown() {
    if ((flags & (kLightEnabledBit | kLightVisible)) == (kLightEnabledBit | kLightVisible)) flags |= kLightVolumeDirty;
}

bool renameSceneObject(Scene* scene, GameObject& object, char (&field)[128], const char* wanted,
                       GameObject* (*taken)(const Scene&, const char*), const char* takenMessage) {
    char cut[128] = {};
    copyName128(cut, wanted ? wanted : "");
    if (std::strcmp(cut, field) == 0) return true;
    if (scene && taken(*scene, cut)) return engineLog().error(takenMessage, cut);
    const std::string oldName = field;
    const std::uint64_t before = scene ? scene->namesBeforeRename() : 0;
    copyName128(field, cut);
    GameObject::nameChanged();
    if (scene) scene->namesAfterRename(object, oldName, before);
    return true;
}

bool Light::checkUniqueName(const char* newName) {
    return renameSceneObject(
        sceneOf(sceneLink), *this, lightName, newName,
        [](const Scene& scene, const char* name) { return scene.lookupLight(name); },
        "Light with name [%s] already exist in this scene");
}

void Light::setPose(const Matrix34& matrix) {
    pose = matrix;
    for (int axis = 0; axis < 3; ++axis) vector3Normalize(pose.m + 3 * axis);
    flagVolumeIfShown();
}

void Light::setup(const Matrix34& matrix) {
    for (int axis = 0; axis < 3; ++axis) scale[axis] = vector3Length(matrix.m + 3 * axis);
    flagVolumeIfShown();
    setPose(matrix);
    const Y3Light* light = resource();
    if (!light) return;
    const std::int32_t mode = gameCore.scene_getSkyLightMode();
    const char* setName = light->lightSets[mode >= 0 && mode < 4 ? mode : 1];
    if (setName[0])
        if (LightSet* set = requestSet(setName)) lightSet = set;
}

void Light::setVisible(bool show) {
    if (show) flags |= kLightVisible;
    else flags &= ~kLightVisible;
    flagVolumeIfShown();
}

void Light::bindLightSet() {
    lightSet = nullptr;
    const Y3Light* light = resource();
    const char* setName = "";
    GameObject* parent = link.parent().index() && gameCore.objects ? gameCore.objects->getObject(link.parent()) : nullptr;
    if (parent && parent->getType() == ObjectModel) {
        if (auto* model = dynamic_cast<Model*>(parent)) setName = model->lightSetName;
    } else if (light) {
        Scene* scene = sceneOf(sceneLink);
        const std::int32_t mode = scene ? scene->skyLightMode() : gameCore.scene_getSkyLightMode();
        setName = light->lightSets[mode >= 0 && mode < 4 ? mode : 1];
    }
    if (!setName[0]) return;
    lightSet = requestSet(setName);
    if (!lightSet) engineLog().error("Invalid lightset [%s] in light [%s]", setName, lightName);
}

void Light::updateInfluence() {
    const Y3Light* light = resource();
    flags &= ~kLightVolumeDirty;
    bindLightSet();
    if (!light) return;
    if (!(flags & kLightDerived)) {
        flags |= kLightDerived;
        if (light->mode == 1) flags |= kLightThreePasses;
        if (light->flags & kY3LightAttenuated) flags |= kLightModeOn;
        if (light->projectedTexture(1).enabled && light->projectedTexture(1).baseName()[0] && light->type() == 1)
            flags |= kLightModeSecond;
        if (light->projectedTexture(0).enabled && light->projectedTexture(0).baseName()[0]) flags |= kLightMask;
        flags |= light->type() == 0 ? kLightPointKind : kLightDirectKind;
        if (light->flags & kY3LightShadowCaster) flags |= kLightShadowCaster;
        if (light->flags & kY3LightFill) flags |= kLightFillKind;
        if (light->material == 0 || light->material == 2) flags |= kLightsExterior;
        if (light->material == 1 || light->material == 2) flags |= kLightsInterior;
        if (Model::packFactor(light->colour, 0.0f, false) == 0) flags |= kLightBlack;
        else flags |= kLightPassMark;
    }
    const float largest = std::max({scale[0], scale[1], scale[2]});
    if (light->type() == 0) {
        if (!volume || volume->kind() != IntersectionKindSphere) volume = std::make_unique<IntersectionSphere>();
        const float reach = light->getRadius() * largest;
        Matrix34 centre = matrix34Identity();
        std::memcpy(centre.m + 9, pose.m + 9, 3 * sizeof(float));
        volume->setFromSize(centre, reach);
        inverseRadius = inverseOf(reach);
        matrix34Inverse(pose, lightSpace);
    } else {
        if (!volume || volume->kind() != IntersectionKindBox) volume = std::make_unique<IntersectionOBBox>();
        const float r = light->getRadius();
        const float d = light->getDistance();
        Matrix34 placement = pose;
        for (int axis = 0; axis < 3; ++axis) placement.m[9 + axis] += pose.m[6 + axis] * scale[2] * d * 0.5f;
        const float halfExtents[3] = {scale[0] * r, scale[1] * r, scale[2] * d * 0.5f};
        volume->setFromExtents(placement, halfExtents);
        inverseRadius = inverseOf(d);
        lightSpace = directLightProjection(r, d);
    }
}

bool Light::updatePhase0(const CurrentTime&, std::int32_t) {
    if (link.parent().index()) {
        Matrix34 world;
        if (link.evaluate(world)) setPose(world);
    }
    if ((flags & kLightVolumeDirty) && resource()) updateInfluence();
    return false;
}

bool Light::validate() {
    if (!lightName[0]) return engineLog().error("Fail to validate light: Light must have a name");
    return true;
}

bool Light::push() {
    Log& log = engineLog();
    if (flags & kLightOnStack) return log.error("Can't push light [%s] twice", lightName);
    bool result = true;
    if (!data) return log.error("Can't push light [%s]: Load light data first", lightName);
    if (!data->loaded()) {
        result = log.error("Can't push: Light resource NOT loaded at this time");
    } else if (std::find(data->instances.begin(), data->instances.end(), this) != data->instances.end()) {
        result = log.error("Can't push %s [%s] instance to repository", "Y3Light", lightName);
    } else {
        data->instances.push_back(this);
        flags |= kLightOnStack;
    }
    if (!data->allocated()) {
        if (!data->loaded()) {
            log.resourceError("First load async %s [%s] before loading requirements test", "Y3Light", data->name);
            data->logError("Load first");
        } else {
            LoadingLockGuard lock;
            data->allocate();
        }
    }
    if (!data->allocated()) return log.error("Can't push light [%s]: Load light data first", lightName);
    flags |= kLightEnabled;
    flagVolumeIfShown();
    return result;
}

bool Light::pop(std::uint32_t) {
    if (!(flags & kLightOnStack)) return engineLog().error("Can't pop light [%s]: push first", lightName);
    bool found = false;
    if (data) {
        auto& list = data->instances;
        const auto at = std::find(list.begin(), list.end(), this);
        if (at != list.end()) {
            *at = list.back();
            list.pop_back();
            found = true;
        } else {
            engineLog().error("Can't pop %s [%s] instance from repository", "Y3Light", lightName);
        }
    }
    flags &= ~(kLightOnStack | kLightEnabled);
    return found;
}

std::int32_t Light::write(DataStream& stream) {
    LightRecord record;
    record.flags = flags;
    std::memcpy(record.lightName, lightName, sizeof(lightName));
    std::memcpy(record.scale, scale, sizeof(scale));
    record.pose = pose;
    record.lightSpace = lightSpace;
    record.diffuseFactor = diffuseFactor;
    record.specularFactor = specularFactor;
    record.inverseRadius = inverseRadius;
    if (volume) {
        record.volume = Intersection::create(volume->kind());
        MemoryStream copy;
        if (record.volume && volume->write(copy) >= 0) {
            copy.setPosition(0);
            record.volume->read(copy);
        }
    }
    if (lightSet) copyName128(record.lightSetName, lightSet->name);
    return record.write(stream);
}

std::int32_t Light::read(DataStream& stream) {
    LightRecord record;
    const std::int32_t result = record.read(stream);
    if (result < 0) {
        engineLog().error("Can't load light [%s]: its saved record is damaged", name);
        return result;
    }
    // The instance list and the resource data are the light's own to take
    // again at its next push.
    const std::uint32_t keep = flags & (kLightOnStack | kLightEnabled);
    flags = (record.flags & ~(kLightOnStack | kLightEnabled)) | keep;
    std::memcpy(lightName, record.lightName, sizeof(lightName));
    std::memcpy(scale, record.scale, sizeof(scale));
    pose = record.pose;
    lightSpace = record.lightSpace;
    diffuseFactor = record.diffuseFactor;
    specularFactor = record.specularFactor;
    inverseRadius = record.inverseRadius;
    volume = std::move(record.volume);
    lightSet = record.lightSetName[0] ? requestSet(record.lightSetName) : nullptr;
    GameObject::nameChanged();
    return result;
}

// ---- what the renderer asks ---------------------------------------------

const Y3Light* Light::resourceFor(std::int32_t materialKind) const {
    if (!data || !data->loaded() || !data->light) {
        if (data && !(data->flags & kLightDataFailed)) {
            engineLog().error("Can't validate light: resource not loaded at this time");
            data->flags |= kLightDataFailed;
        }
        return nullptr;
    }
    const Y3Light* light = data->light.get();
    return light->material == 2 || static_cast<std::int32_t>(light->material) == materialKind ? light : nullptr;
}

void Light::accumulateFillColor(std::int32_t materialKind, float* accumulator) const {
    if (!accumulator || !resourceFor(materialKind)) return;
    float colour[3];
    diffuseColor(0, materialKind, colour);
    for (int c = 0; c < 3; ++c) accumulator[c] += colour[c] * lightSettings.fillColorDiffuseMult;
}

void Light::colourFor(std::int32_t index, std::int32_t materialKind, bool specular, float (&out)[3]) const {
    const Y3Light* light = data && data->light ? data->light.get() : nullptr;
    static const float kRows[3] = {0.7f, 0.4f, 0.2f};
    const float row = (flags & kLightThreePasses) ? kRows[index >= 0 && index < 3 ? index : 0] : 1.0f;
    const float factor = specular ? specularFactor : diffuseFactor;
    const float* material = nullptr;
    if (lightSet) {
        const LightSet::Entry& entry = materialKind == 1 ? lightSet->interior : lightSet->exterior;
        material = specular ? entry.specular : entry.diffuse;
    }
    for (int c = 0; c < 3; ++c)
        out[c] = (light ? light->colour[c] : 1.0f) * row * factor * (material ? material[c] : 1.0f);
}

void Light::diffuseColor(std::int32_t index, std::int32_t materialKind, float (&out)[3]) const {
    colourFor(index, materialKind, false, out);
}

void Light::specularColor(std::int32_t index, std::int32_t materialKind, float (&out)[3]) const {
    colourFor(index, materialKind, true, out);
}

void Light::positionFor(std::int32_t index, float (&out)[3]) const {
    for (int c = 0; c < 3; ++c) out[c] = pose.m[9 + c];
    if (!(flags & kLightThreePasses) || index <= 0 || index > 2) return;
    Scene* scene = gameCore.currentScene();
    GameObject* character = scene ? scene->mainCharacterObject() : nullptr;
    Matrix34 world;
    if (!character || !character->getWorldMatrix(world)) return;
    const float* c = world.m + 9;
    float offset[3] = {out[0] - c[0], out[1] - c[1], out[2] - c[2]};
    rotateThird(offset);
    if (index == 1) {
        out[0] = c[0] + offset[0];
        out[1] = c[1] + offset[1] * 0.2f;
        out[2] = c[2] + offset[2];
    } else {
        rotateThird(offset);
        out[0] = c[0] + offset[0];
        out[1] = c[1];
        out[2] = c[2] + offset[2];
    }
}

void Light::applyFixedFunction(DXStateCache& cache, std::int32_t unit, std::int32_t materialKind) const {
    const Y3Light* light = resourceFor(materialKind);
    if (!light) return;
    const float* materialDiffuse = nullptr;
    if (lightSet) materialDiffuse = materialKind == 1 ? lightSet->interior.diffuse : lightSet->exterior.diffuse;
    D3DLIGHT9 record{};
    light->fillFixedFunction(record, materialDiffuse);
    float position[3];
    positionFor(unit < 3 ? unit : 0, position);
    record.Position = {position[0], position[1], position[2]};
    record.Direction = {pose.m[6], pose.m[7], pose.m[8]};
    if (light->type() == 0) record.Direction = {0.0f, -1.0f, 0.0f};
    // The stages double the lit colour: the light goes in at half, as the
    // record's own 0.5 does.
    cache.setLight(unit, record);
    cache.enableLight(unit, true);
}

bool Light::setShaderConstants(ShaderProgram* vertex, ShaderProgram* pixel, const D3DMATRIX& world,
                               std::int32_t materialKind, std::int32_t index) const {
    if (!resourceFor(materialKind)) return false;
    float diffuse[3];
    float specular[3];
    diffuseColor(index, materialKind, diffuse);
    specularColor(index, materialKind, specular);
    float position[3];
    positionFor(index, position);
    float direction[3] = {pose.m[6], pose.m[7], pose.m[8]};
    toObjectSpace(&world.m[0][0], position, direction);
    if (VertexData* v = variable(vertex, "vLightDirection")) v->setFloats(direction);
    if (VertexData* v = variable(vertex, "vObjectSpaceLightPos")) v->setFloats(position);
    if (VertexData* v = variable(vertex, "vInvLightRadius")) v->setValues(inverseRadius, 0.0f, 0.0f, 0.0f);
    if (VertexData* v = variable(pixel, "vColorLightDiffuse")) v->setValues(diffuse[0], diffuse[1], diffuse[2], 1.0f);
    if (VertexData* v = variable(pixel, "vColorLightSpecular"))
        v->setValues(specular[0], specular[1], specular[2], 1.0f);
    // An attenuated light fades by the render core's attenuation ramp, bound
    // to the sampler the pixel program reads it from; unbound, the pass
    // reads no ramp and the light adds nothing.
    if (flags & kLightModeOn) {
        TextureLink* ramp = gameCore.render ? gameCore.render->builtinTextures.find("procLightAttenuation") : nullptr;
        const VertexData* sampler = variable(pixel, "sLightAttenuationMap");
        if (ramp && sampler) {
            if (!ramp->frameHandler(ramp->currentFrame)) ramp->allocateDefault(0, false);
            std::int32_t stages[9];
            int count = 0;
            for (std::int32_t r : sampler->registers)
                if (r >= 0 && count < 8) stages[count++] = r;
            stages[count] = -1;
            ramp->bindToStageList(stages, 0, false);
        }
    }
    return true;
}
