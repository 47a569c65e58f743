#include "model/Model.h"

#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"
#include "model/ModelDataManager.h"
#include "render/Material.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"

namespace {

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

Model::Model(const char* objectName, const char* resource, std::uint32_t scene)
    : GameObject(objectName), sceneLink(scene), pose(matrix34Identity()), elements(1), elementVisible(1, 1) {
    copyName(resourceName, sizeof(resourceName), resource);
    setPose(pose);
}

Model* Model::newInstance(const ResourceRecord* record, const char* resource, std::uint32_t scene,
                          const char* objectName, bool noName) {
    if (record && record->has(kResourceUnavailable)) {
        engineLog().error("Resource for model [%s] is invalid", resource ? resource : "");
        return nullptr;
    }
    return new Model(noName ? "" : objectName, resource ? resource : "", scene);
}

Model::~Model() {
    release();
    // A registered model leaves its scene's visibility set.
    if (pvsIndex >= 0 && gameCore.objects) {
        GameObject* scene = gameCore.objects->getObject(GameObjectLink{sceneLink});
        if (scene && scene->getType() == ObjectScene) static_cast<Scene*>(scene)->pvs.unregisterObject(this);
    }
}

bool Model::push() {
    if (resource) return true;
    ModelDataManager* manager = modelDataManager();
    if (!manager) return true;
    resource = manager->acquire(resourceName);
    if (resource) ResourceManagerBase::push(resource, &resourceLink_);
    buildElements();
    return true;
}

D3DMATRIX Model::computeElementMatrix() const {
    D3DMATRIX out{};
    for (int row = 0; row < 4; ++row) {
        const float factor = row < 3 ? scale[row] : 1.0f;
        for (int column = 0; column < 3; ++column) out.m[row][column] = pose.m[row * 3 + column] * factor;
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

void Model::buildElements() {
    meshElements.clear();
    if (!resource || !resource->model || resource->model->kind() != kModelKindDefault) return;
    auto& model = static_cast<Y3ModelDefault&>(*resource->model);
    const D3DMATRIX world = computeElementMatrix();
    meshElements.resize(model.elements.size());
    for (std::size_t e = 0; e < model.elements.size(); ++e) {
        ModelElement& element = meshElements[e];
        element.world = world;
        element.visible = !(model.elements[e]->flags & kElementHidden);
        element.lods.resize(3);
        for (std::size_t lod = 0; lod < 3; ++lod) {
            Y3Mesh& mesh = model.elements[e]->lods[lod];
            if (mesh.subsetCount() == 0) continue;
            element.lods[lod].setMesh(mesh);
        }
    }
}

void Model::release() {
    meshElements.clear();
    if (!resource) return;
    // The manager may have gone (or been emptied) before its models.
    ModelDataManager* manager = modelDataManager();
    if (manager && manager->findRecord(resourceName) == resource) ResourceManagerBase::pop(resource, &resourceLink_);
    resource = nullptr;
}

bool Model::getWorldMatrix(Matrix34& out) {
    out = pose;
    return true;
}

void Model::setPose(const Matrix34& value) {
    pose = value;
    const D3DMATRIX world = computeElementMatrix();
    for (ModelElement& element : meshElements) element.world = world;
    const float half[3] = {0.5f * scale[0], 0.5f * scale[1], 0.5f * scale[2]};
    for (IntersectionOBBox& element : elements) element.setFromExtents(pose, half);
    if (pvsIndex < 0 || !gameCore.objects) return;
    GameObject* scene = gameCore.objects->getObject(GameObjectLink{sceneLink});
    if (scene && scene->getType() == ObjectScene) static_cast<Scene*>(scene)->pvs.updateObject(pvsIndex, true);
}

void Model::setScale(const float* value) {
    for (int i = 0; i < 3; ++i) scale[i] = value[i];
    setPose(pose);
}

bool Model::setTextureSet(std::int32_t index) {
    if (index < 0) return engineLog().error("Invalid texture set");
    textureSet = index;
    return true;
}

bool Model::checkUniqueName(const char* newName) {
    if (!newName) return false;
    if (std::strcmp(newName, name) == 0) return true;
    GameObject* scene = gameCore.objects ? gameCore.objects->getObject(GameObjectLink{sceneLink}) : nullptr;
    if (scene && scene->getType() == ObjectScene && static_cast<Scene*>(scene)->lookupModel(newName))
        return engineLog().error("Model with name [%s] already exist in this scene", newName);
    copyName(name, sizeof(name), newName);
    nameChanged();
    return true;
}

void Model::playSequence(const char* text) {
    bodySequence = text ? text : "";
    bodyPlaying = !bodySequence.empty();
}

bool Model::checkDirectControlTarget(const char*, bool) {
    // Only a character controller can be directed; no model has one yet.
    return false;
}

void Model::playFaceSequence(const char* text) {
    faceSequence = text ? text : "";
    facePlaying = !faceSequence.empty();
}

void Model::clearBodyStack() {
    bodySequence.clear();
    bodyPlaying = false;
}
