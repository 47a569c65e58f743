#include "effects/Y3Sky.h"

#include <algorithm>
#include <initializer_list>

#include "app/GameCore.h"
#include "effects/SkyDataManager.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "resources/StoredDataManager.h"

namespace {

const char* const kLayerNames[kSkyLayerCount] = {"sky_main", "sky_clouds", "sky_rain", "sky_fog"};

// A weather or time of day from a script or a save, kept inside the 16
// records.
std::int32_t clampCode(std::int32_t value, const char* what) {
    if (value >= 0 && value <= 3) return value;
    const std::int32_t clamped = std::clamp(value, 0, 3);
    engineLog().warning("Sky %s %i out of range: %i used", what, value, clamped);
    return clamped;
}

}  // namespace

Y3Sky::Y3Sky(Y3SkyDataInstance* record) : description(record) {
    // Every layer but the rain layer is made with the option byte set.
    for (std::int32_t i = 0; i < kSkyLayerCount; ++i)
        layers[i].init(kLayerNames[i], 0, 0, 0, i == SkyLayerRain ? 0 : 1);
}

Y3Sky::~Y3Sky() {
    Log& log = engineLog();
    if (state & kSkyAllocated) log.error("Deallocate scene sky before destructor call");
    if (state & kSkyRegistered) log.error("Unregister scene sky before destructor call");
}

const char* Y3Sky::resourceUserName() const { return description ? description->name : ""; }

void Y3Sky::setResourcePushed(bool pushed) {
    if (pushed) state |= kSkyRegistered;
    else state &= ~kSkyRegistered;
}

bool Y3Sky::push() {
    if (!ResourceManagerBase::push(description, this))
        return engineLog().error("Can't register sky [%s]", resourceUserName());
    state |= kSkyAllocated;
    return true;
}

bool Y3Sky::pop() {
    if (!ResourceManagerBase::pop(description, this)) return engineLog().error("Can't pop sky [%s]", resourceUserName());
    for (TextureLink& layer : layers) layer.release(false);
    state &= ~kSkyAllocated;
    return true;
}

std::int32_t Y3Sky::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeF32(stream, cloudOffsetU)) || !addField(total, writeF32(stream, cloudOffsetV)) ||
        !addField(total, writeU32(stream, state)) || !addField(total, writeI32(stream, weather)))
        return total;
    addField(total, writeI32(stream, timeOfDay));
    return total;
}

std::int32_t Y3Sky::read(DataStream& stream) {
    float u = 0.0f;
    float v = 0.0f;
    std::uint32_t bits = 0;
    std::int32_t readWeather = 0;
    std::int32_t readTime = 0;
    std::int32_t total = 0;
    if (!addField(total, readF32(stream, u)) || !addField(total, readF32(stream, v)) ||
        !addField(total, readU32(stream, bits)) || !addField(total, readI32(stream, readWeather)) ||
        !addField(total, readI32(stream, readTime)))
        return total;
    cloudOffsetU = u;
    cloudOffsetV = v;
    (void)bits;  // a sky read back is neither registered nor pushed
    state = 0;
    setWeather(readWeather);
    setTimeOfDay(readTime);
    return total;
}

TextureLink& Y3Sky::currentLayer() {
    // The sky draws each weather with its own layer: clear with "sky_main",
    // clouds with "sky_clouds", rain with "sky_rain", fog with "sky_fog".
    return weather >= 0 && weather < kSkyLayerCount ? layers[weather] : layers[SkyLayerMain];
}

void Y3Sky::setWeather(std::int32_t value) { weather = clampCode(value, "weather"); }

void Y3Sky::setTimeOfDay(std::int32_t value) { timeOfDay = clampCode(value, "time of day"); }

bool Y3Sky::currentRecord(float (&fields)[kSkyRecordFields]) const {
    if (!description) return false;
    if (!description->has(kResourceHeaderLoaded)) {
        if (description->has(kResourceUnavailable) || !gameCore.skyData) return false;
        if (!gameCore.skyData->loadHeader(description, nullptr)) return false;
    }
    const float* records = description->records();
    if (!records) return false;
    if (weather < 0 || weather > 3 || timeOfDay < 0 || timeOfDay > 3) return false;
    const float* record = records + (weather + 4 * timeOfDay) * kSkyRecordFields;
    std::copy(record, record + kSkyRecordFields, fields);
    return true;
}

SkyEnvironment& skyEnvironment() {
    static SkyEnvironment environment{};
    return environment;
}

bool Y3Sky::update(const CurrentTime& time) {
    float record[kSkyRecordFields];
    if (!currentRecord(record)) return false;
    const double speed = record[SkyFieldCloudSpeed];
    cloudOffsetU = static_cast<float>(cloudOffsetU + speed * time.game.step);
    cloudOffsetV = static_cast<float>(cloudOffsetV + speed * time.game.step * 0.1);
    SkyEnvironment& environment = skyEnvironment();
    std::copy(record + SkyFieldRange, record + SkyFieldRange + 3, environment.range);
    environment.depth4 = record[SkyFieldDepth4];
    std::copy(record + SkyFieldDepth, record + SkyFieldDepth + 4, environment.depth);
    std::copy(record + SkyFieldBloom, record + SkyFieldBloom + 3, environment.bloom);
    environment.fogStart = record[SkyFieldFogStart];
    environment.fogEnd = record[SkyFieldFogEnd];
    std::copy(record + SkyFieldHorizon, record + SkyFieldHorizon + 3, environment.horizon);
    return true;
}

SkyShaderPass skyShaderPass(std::int32_t weather, const float (&record)[kSkyRecordFields]) {
    auto on = [&](std::int32_t field) {
        return record[field] >= 0.0001f || record[field + 1] >= 0.0001f || record[field + 2] >= 0.0001f;
    };
    const bool sky = on(SkyFieldSky);
    const bool stars = on(SkyFieldStars);
    const bool clouds = on(SkyFieldClouds);
    auto pass = [](std::initializer_list<SkyColourLayer> layers, std::int32_t vertex, std::int32_t pixel) {
        SkyShaderPass p;
        for (SkyColourLayer layer : layers) p.layers[p.layerCount++] = layer;
        p.vertexProgram = vertex;
        p.pixelProgram = pixel;
        return p;
    };
    if (weather == SkyRain) return pass({SkyColourClouds}, 20, 20);
    if (weather == SkyClear) {
        if (!stars) return pass({SkyColourSky}, 20, 20);
        if (sky) return pass({SkyColourSky, SkyColourStars}, 21, 22);
        return pass({SkyColourStars}, 20, 21);
    }
    if (!stars && !clouds) return pass({SkyColourSky}, 20, 20);
    if (!sky && !clouds) return pass({SkyColourStars}, 20, 21);
    if (!stars && sky) return pass({SkyColourSky, SkyColourClouds}, 21, 23);
    if (stars && !sky) return pass({SkyColourStars, SkyColourClouds}, 21, 24);
    return pass({SkyColourSky, SkyColourStars, SkyColourClouds}, 22, 25);
}
