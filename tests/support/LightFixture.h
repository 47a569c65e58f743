// Scene lights for tests, made as a scene makes them: a light resource
// record loaded with a light of a kind and colour, the Light placed on it,
// pushed (which allocates the resource data) and brought up to date by its
// per-frame update. Popped before they go.
#pragma once

#include <cstdint>
#include <memory>

#include "effects/Light.h"
#include "effects/LightDataManager.h"
#include "effects/Y3Light.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"

namespace testing_support {

struct TestLight {
    TestLight() = default;
    TestLight(const TestLight&) = delete;
    TestLight& operator=(const TestLight&) = delete;
    ~TestLight() {
        if (light && light->onStack()) light->pop(0);
        if (light) light->flags &= ~kLightEnabled;
        light.reset();
    }
    std::unique_ptr<Y3LightData> data;
    std::unique_ptr<Light> light;
};

// kind 0 point (radius), 1 directional along direction; the game objects
// need the game core's object table.
inline std::unique_ptr<TestLight> makeTestLight(const char* name, std::uint32_t kind, const float (&colour)[3],
                                                const float (&direction)[3] = {0.0f, 0.0f, 1.0f},
                                                float radius = 1.0f, std::uint32_t mode = 0) {
    auto made = std::make_unique<TestLight>();
    std::unique_ptr<Y3Light> source = Y3Light::create(kind);
    copyName128(source->name, name);
    for (int c = 0; c < 3; ++c) source->colour[c] = colour[c];
    source->radius = radius;
    source->mode = mode;  // 1: three passes
    Matrix34 pose = matrix34Identity();
    for (int c = 0; c < 3; ++c) pose.m[6 + c] = direction[c];
    source->setPose(pose);
    made->data = std::make_unique<Y3LightData>(name);
    made->data->load(source.get());
    made->light.reset(Light::create(made->data.get(), 0, name));
    made->light->push();
    made->light->updatePhase0(CurrentTime{}, 0);
    return made;
}

}  // namespace testing_support
