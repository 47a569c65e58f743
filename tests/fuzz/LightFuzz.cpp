// Fuzz targets of the lights: "lightset", the bytes read as a compiled light
// set (a packed record of the 304-byte set), and "light", the bytes read as
// one light record of a model or scene file. A refused input leaves no
// light; an accepted light has names that end inside their fields.
#include <cstring>
#include <memory>
#include <string>

#include "effects/LightSetLibrary.h"
#include "effects/Y3Light.h"
#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "fuzz/FuzzTarget.h"

namespace fuzzing {

namespace {

bool terminated(const char (&field)[128]) { return std::memchr(field, 0, sizeof(field)) != nullptr; }

void addVariants(std::vector<std::string>& out, const std::string& bytes) {
    out.push_back(bytes);
    out.push_back(bytes.substr(0, bytes.size() / 2));
    std::string flipped = bytes;
    for (std::size_t at = 5; at < flipped.size(); at += 37) flipped[at] = char(flipped[at] ^ (1 << (at % 8)));
    out.push_back(flipped);
}

}  // namespace

int fuzzLightSet(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    LightSet set;
    if (readStoredLightSet(in, set)) fuzzCheck(size >= 12, "lightset: a set read from fewer bytes than a record head");
    forgetLog();
    return 0;
}

void seedLightSet(std::vector<std::string>& out) {
    for (const char* text : {"", "exterior ambient 255 128 0\nshadow power 1,5 color 10 20 30\n"}) {
        LightSet set;
        parseLightSetText(text, set);
        MemoryStream raw;
        raw.write(&set, static_cast<std::int32_t>(sizeof(set)));
        MemoryStream record;
        if (writePackedStream(raw, 6, true, record) <= 0) continue;
        addVariants(out, std::string(reinterpret_cast<const char*>(record.data()), static_cast<std::size_t>(record.size())));
    }
}

int fuzzLight(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    std::unique_ptr<Y3Light> light;
    const std::int32_t result = Y3Light::read(in, light);
    if (result >= 0) fuzzCheck(light != nullptr && result <= static_cast<std::int32_t>(size), "light: accepted, no light");
    if (light) {
        fuzzCheck(light->type() <= 1, "light: a light of an unknown kind");
        fuzzCheck(terminated(light->name) && terminated(light->bone), "light: a name runs out of its field");
        for (const char(&set)[128] : light->lightSets) fuzzCheck(terminated(set), "light: a light-set name runs out");
        fuzzCheck((light->flags & (kY3LightPushed | kY3LightAllocated)) == 0, "light: run-time flags survive a read");
    }
    light.reset();
    forgetLog();
    return 0;
}

void seedLight(std::vector<std::string>& out) {
    for (std::uint32_t kind : {0u, 1u}) {
        std::unique_ptr<Y3Light> light = Y3Light::create(kind);
        std::strcpy(light->name, kind ? "shadow_sun" : "fill_lamp");
        std::strcpy(light->lightSets[1], "day");
        light->projectedTexture(0).init("mask");
        MemoryStream record;
        if (light->write(record) <= 0) continue;
        addVariants(out, std::string(reinterpret_cast<const char*>(record.data()), static_cast<std::size_t>(record.size())));
    }
}

}  // namespace fuzzing
