#include "effects/Light.h"

#include "effects/LightDataManager.h"

#include <cmath>

#include "app/GameCore.h"
#include "foundation/Math.h"
#include "foundation/Matrix.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"

namespace {

VertexData* variable(ShaderProgram* program, const char* name) {
    if (!program || !gameCore.render) return nullptr;
    const int index = gameCore.render->shaders().mapper().find(name);
    return index < 0 ? nullptr : program->variables[index];
}

}  // namespace

Light* Light::create(Y3LightData* data, std::uint32_t sceneLink, const char* name) {
    if (!data) return nullptr;
    return new Light(name, data, sceneLink);
}

Light::Light(const char* lightName, Y3LightData* lightData, std::uint32_t scene)
    : GameObject(lightName), data(lightData), sceneLink(scene), flags(kLightEnabled) {
    parameters.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    parameters.Type = D3DLIGHT_DIRECTIONAL;
    parameters.Direction = {0.0f, 0.0f, 1.0f};
    if (const Y3Light* light = data ? data->light.get() : nullptr) {
        const float* p = light->pose.m;
        if (light->type() == 0) {
            sphere.setFromSize(light->pose, light->radius);
            hasBounds = true;
            parameters.Type = D3DLIGHT_POINT;
            parameters.Position = {p[9], p[10], p[11]};
            parameters.Range = light->radius;
            parameters.Attenuation0 = 1.0f;
        } else {
            flags |= kLightDirectionalKind;
            parameters.Direction = {p[6], p[7], p[8]};
        }
    }
}

void Light::applyFixedFunction(DXStateCache& cache, std::int32_t unit) const {
    D3DLIGHT9 half = parameters;
    for (D3DCOLORVALUE* c : {&half.Diffuse, &half.Specular}) c->r *= 0.5f, c->g *= 0.5f, c->b *= 0.5f;
    cache.setLight(unit, half);
    cache.enableLight(unit, true);
}

bool Light::setShaderConstants(ShaderProgram* vertex, ShaderProgram* pixel, const D3DMATRIX& world) const {
    // The direction the light travels and its position, in the element's
    // object space, where the programs light.
    const D3DLIGHT9& d = parameters;
    float direction[3] = {d.Direction.x, d.Direction.y, d.Direction.z};
    float position[3] = {d.Position.x, d.Position.y, d.Position.z};
    toObjectSpace(&world.m[0][0], position, direction);
    if (VertexData* v = variable(vertex, "vLightDirection")) v->setFloats(direction);
    if (VertexData* v = variable(vertex, "vObjectSpaceLightPos")) v->setFloats(position);
    if (VertexData* v = variable(vertex, "vInvLightRadius"))
        v->setValues(d.Range > 0.0f ? 1.0f / d.Range : 0.0f, 0.0f, 0.0f, 0.0f);
    if (VertexData* v = variable(pixel, "vColorLightDiffuse"))
        v->setValues(d.Diffuse.r, d.Diffuse.g, d.Diffuse.b, d.Diffuse.a);
    if (VertexData* v = variable(pixel, "vColorLightSpecular"))
        v->setValues(d.Specular.r, d.Specular.g, d.Specular.b, d.Specular.a);
    return true;
}

bool Light::push() {
    flags |= kLightOnStack;
    return true;
}

bool Light::pop(std::uint32_t) {
    flags &= ~kLightOnStack;
    return true;
}
