// Model shadows: whether a pushed model casts shadows and which of its
// elements receive them, its registration with the scene's shadow block,
// its caster box and the receiver draw of the model context's shadow item.
#include <algorithm>
#include <cstring>

#include "app/GameCore.h"
#include "effects/SceneShadows.h"
#include "foundation/Log.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "scene/Scene.h"

namespace {

// Element record flags of the resource.
constexpr std::uint32_t kRecordCastsShadow = 0x10;
constexpr std::uint32_t kRecordModelReceives = 0x20;
constexpr std::uint32_t kRecordElementReceives = 0x40;

bool beginsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::min<std::size_t>(std::strlen(prefix), 128)) == 0;
}

// The resource's mesh model with its header loaded on demand; null for an
// unavailable or other resource.
Y3ModelDefault* loadedMeshModel(Model& model) {
    if (!model.resource || model.resource->has(kResourceUnavailable)) return nullptr;
    if (!model.resource->has(kResourceHeaderLoaded))
        if (ModelDataManager* manager = modelDataManager(); !manager || !manager->loadHeader(model.resource, nullptr))
            return nullptr;
    return model.meshModel();
}

}  // namespace

void Model::registerShadowCaster() {
    bool caster = (stateWords[0] & kModelShadowCaster) != 0;
    if (!caster && (findBone("bip01") >= 0 || findBone("body") >= 0)) caster = true;
    if (!caster)
        if (Y3ModelDefault* model = loadedMeshModel(*this))
            for (const auto& element : model->elements)
                if ((element->flags & kRecordCastsShadow) || beginsWith(element->name, "castshadow_")) caster = true;
    setShadowCaster(caster);
}

void Model::registerShadowReceiver() {
    bool whole = beginsWith(name, "shadow_");
    bool any = false;
    Y3ModelDefault* model = whole ? nullptr : loadedMeshModel(*this);
    if (model)
        for (std::size_t e = 0; e < model->elements.size() && e < elements.size(); ++e) {
            const std::uint32_t flags = model->elements[e]->flags;
            if (flags & kRecordModelReceives) whole = true;
            if (flags & kRecordElementReceives) {
                stateWords[0] |= kModelShadowReceivers;
                elements[e].flags |= kElementShadowReceiver;
                any = true;
            }
        }
    if (whole) {
        for (ModelElement& element : elements) element.flags |= kElementShadowReceiver;
        any = true;
    }
    setShadowReceiver(any);
}

void Model::setShadowCaster(bool on) {
    if (((stateWords[0] & kModelShadowCaster) != 0) == on) return;
    if (on) stateWords[0] |= kModelShadowCaster;
    else stateWords[0] &= ~kModelShadowCaster;
    if (gameCore.debugFlags & DebugResourceLog)
        engineLog().message("%s shadows caster [%s] (%s)", on ? "Register" : "Unregister", name, resourceName);
    Scene* owner = scene();
    if (!owner) return;
    if (on) owner->shadows.addCaster(GameObjectLink::fromObject(this));
    else owner->shadows.removeCaster(GameObjectLink::fromObject(this));
}

void Model::setShadowReceiver(bool on) {
    if (((stateWords[0] & kModelOutOfPvs) != 0) == on) return;
    if (on) stateWords[0] |= kModelOutOfPvs;
    else stateWords[0] &= ~kModelOutOfPvs;
    if (gameCore.debugFlags & DebugResourceLog)
        engineLog().message("%s shadows receiver [%s] (%s)", on ? "Register" : "Unregister", name, resourceName);
    Scene* owner = scene();
    if (!owner) return;
    if (on) owner->shadows.addReceiver(GameObjectLink::fromObject(this));
    else owner->shadows.removeReceiver(GameObjectLink::fromObject(this));
}

bool Model::getCasterBounds(float* min, float* max) const {
    if (!isShown()) return false;
    for (int k = 0; k < 3; ++k) min[k] = 10000.0f, max[k] = -10000.0f;
    bool taken = false;
    for (const ModelElement& element : elements) {
        if (!(element.flags & kElementEnabled) || !element.lod()) continue;
        float a[3], b[3];
        element.getBounds(a, b);
        for (int k = 0; k < 3; ++k) {
            min[k] = std::min(min[k], a[k]);
            max[k] = std::max(max[k], b[k]);
        }
        taken = true;
    }
    return taken;
}

void Model::drawShadowReceiver(const SceneShadows& shadows) {
    shadows.renderReceiver(*this);
}
