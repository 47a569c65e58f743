#include "effects/Y3Light.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "scene/Y3Pose.h"

namespace {

constexpr std::int32_t kReservedBytes = 60;

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

}  // namespace

void copyStoredTextureLink(TextureLink& to, const TextureLink& from) {
    to.release(false);
    to.enabled = false;
    if (from.enabled) to.init(from.baseName(), from.type, from.addressU, from.addressV, from.option);
}

std::unique_ptr<Y3Light> Y3Light::create(std::uint32_t type) {
    if (type == 0) return std::make_unique<Y3Light_POINT>();
    if (type == 1) return std::make_unique<Y3Light_DIRECT>();
    return nullptr;
}

std::int32_t Y3Light::read(DataStream& stream, std::unique_ptr<Y3Light>& out) {
    out.reset();
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    std::uint32_t kind = 0;
    if (!addField(total, readU32(stream, magic))) return total;
    if (magic != kLightRecordMagic) return -1;
    if (!addField(total, readU32(stream, kind))) return total;
    out = create(kind);
    if (!out) return -1;
    Y3Light& light = *out;
    for (float& value : light.colour)
        if (!addField(total, readF32(stream, value))) return total;
    if (!addField(total, readU32(stream, light.flags))) return total;
    light.flags &= ~(kY3LightPushed | kY3LightAllocated | 0x200u);
    std::uint8_t reserved[kReservedBytes];
    if (!addField(total, readExact(stream, reserved, kReservedBytes))) return total;
    if (!addField(total, readString8(stream, light.name, sizeof(light.name)))) return total;
    light.flags &= ~(kY3LightShadowCaster | kY3LightFill);
    if (startsWith(light.name, "shadow")) light.flags |= kY3LightShadowCaster;
    if (startsWith(light.name, "fill_")) light.flags |= kY3LightFill;
    if (!addField(total, readString8(stream, light.bone, sizeof(light.bone)))) return total;
    if (!addField(total, readPoseMatrix(stream, light.pose))) return total;
    for (char* set : light.lightSets)
        if (!addField(total, readString8(stream, set, 128))) return total;
    if (!addField(total, readU32(stream, light.material)) || !addField(total, readU32(stream, light.mode)) ||
        !addField(total, light.readBody(stream)))
        return total;
    light.flags &= ~(kY3LightPushed | kY3LightAllocated);
    return total;
}

std::int32_t Y3Light::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kLightRecordMagic)) || !addField(total, writeU32(stream, type())))
        return total;
    for (float value : colour)
        if (!addField(total, writeF32(stream, value))) return total;
    const std::uint8_t reserved[kReservedBytes] = {};
    if (!addField(total, writeU32(stream, flags)) || !addField(total, stream.write(reserved, kReservedBytes)) ||
        !addField(total, writeString8(stream, name)) || !addField(total, writeString8(stream, bone)) ||
        !addField(total, writePoseMatrix(stream, pose)))
        return total;
    for (const char* set : lightSets)
        if (!addField(total, writeString8(stream, set))) return total;
    if (!addField(total, writeU32(stream, material)) || !addField(total, writeU32(stream, mode)) ||
        !addField(total, writeBody(stream)))
        return total;
    return total;
}

std::int32_t Y3Light_POINT::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, texture.read(stream)) || !addField(total, readPoseMatrix(stream, pose)) ||
        !addField(total, readF32(stream, radius)))
        return total;
    return total;
}

std::int32_t Y3Light_POINT::writeBody(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, texture.write(stream)) || !addField(total, writePoseMatrix(stream, pose)) ||
        !addField(total, writeF32(stream, radius)))
        return total;
    return total;
}

std::int32_t Y3Light_DIRECT::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, textures[0].read(stream)) || !addField(total, textures[1].read(stream)) ||
        !addField(total, readF32(stream, radius)) || !addField(total, readF32(stream, distance)) ||
        !addField(total, readPoseMatrix(stream, pose)))
        return total;
    return total;
}

std::int32_t Y3Light_DIRECT::writeBody(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, textures[0].write(stream)) || !addField(total, textures[1].write(stream)) ||
        !addField(total, writeF32(stream, radius)) || !addField(total, writeF32(stream, distance)) ||
        !addField(total, writePoseMatrix(stream, pose)))
        return total;
    return total;
}
