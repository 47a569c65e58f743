#include "effects/Light.h"

#include "effects/LightDataManager.h"

namespace {

// Set on every light that can light models.
constexpr std::uint32_t kLightEnabled = 0x100000;

}  // namespace

Light* Light::create(Y3LightData* data, std::uint32_t sceneLink, const char* name) {
    if (!data) return nullptr;
    return new Light(name, data, sceneLink);
}

Light::Light(const char* lightName, Y3LightData* lightData, std::uint32_t scene)
    : GameObject(lightName), data(lightData), sceneLink(scene), flags(kLightEnabled) {
    if (const Y3Light* light = data ? data->light.get() : nullptr; light && light->type() == 0) {
        sphere.setFromSize(light->pose, light->radius);
        hasBounds = true;
    }
}

bool Light::push() {
    flags |= kLightOnStack;
    return true;
}

bool Light::pop(std::uint32_t) {
    flags &= ~kLightOnStack;
    return true;
}
