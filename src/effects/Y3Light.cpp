#include "effects/Y3Light.h"

#include <cstring>

#include "effects/EffectsSettings.h"
#include "effects/LightSetLibrary.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "foundation/XmlWriter.h"
#include "scene/Y3Pose.h"

namespace {

constexpr std::int32_t kReservedBytes = 60;
constexpr const char* kTimesOfDay[4] = {"morning", "day", "evening", "nighttime"};

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

float inverseOf(float value) { return value != 0.0f ? 1.0f / value : 0.0f; }

template <typename Length>
std::int32_t readName(DataStream& stream, char (&field)[128]) {
    std::memset(field, 0, sizeof(field));
    Length length = 0;
    std::int32_t total = 0;
    std::int32_t result = 0;
    if constexpr (sizeof(Length) == 1) result = readU8(stream, length);
    else result = readU16(stream, length);
    if (!addField(total, result)) return total;
    const std::int32_t kept = length < 127 ? length : 127;
    if (kept && !addField(total, readExact(stream, field, kept))) {
        std::memset(field, 0, sizeof(field));
        return total;
    }
    // The rest of a longer string is consumed and dropped.
    char rest[256];
    for (std::int32_t left = length - kept; left > 0;) {
        const std::int32_t part = left < 256 ? left : 256;
        if (!addField(total, readExact(stream, rest, part))) return total;
        left -= part;
    }
    return total;
}

const char* materialName(std::uint32_t material) {
    static const char* const kNames[3] = {"Exterior", "Interior", "Both"};
    return material < 3 ? kNames[material] : "";
}

const char* modeName(std::uint32_t mode) { return mode == 1 ? "hollywood" : (mode == 0 ? "none" : ""); }

}  // namespace

std::int32_t readName8(DataStream& stream, char (&field)[128]) { return readName<std::uint8_t>(stream, field); }
std::int32_t readName16(DataStream& stream, char (&field)[128]) { return readName<std::uint16_t>(stream, field); }

void copyStoredTextureLink(TextureLink& to, const TextureLink& from) {
    to.release(false);
    to.enabled = false;
    if (from.enabled) to.init(from.baseName(), from.type, from.addressU, from.addressV, from.option);
}

Matrix34 directLightProjection(float radius, float distance) {
    Matrix34 m{};
    m.m[0] = m.m[4] = inverseOf(2.0f * radius);
    m.m[8] = inverseOf(distance);
    m.m[9] = 0.5f;
    m.m[10] = 0.5f;
    return m;
}

Y3Light::~Y3Light() {
    if (flags & kY3LightAllocated) engineLog().error("Can't right delete light [%s]: deallocate first", name);
    if (flags & kY3LightPushed) engineLog().error("Can't right delete light [%s]: pop from lights stack first", name);
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
    if (!addField(total, readName8(stream, light.name))) return total;
    light.flags &= ~(kY3LightShadowCaster | kY3LightFill);
    if (startsWith(light.name, "shadow")) light.flags |= kY3LightShadowCaster;
    if (startsWith(light.name, "fill_")) light.flags |= kY3LightFill;
    if (!addField(total, readName8(stream, light.bone))) return total;
    if (!addField(total, readPoseMatrix(stream, light.pose))) return total;
    for (char(&set)[128] : light.lightSets)
        if (!addField(total, readName8(stream, set))) return total;
    if (!addField(total, readU32(stream, light.material)) || !addField(total, readU32(stream, light.mode)) ||
        !addField(total, light.readBody(stream)))
        return total;
    light.updateData();
    light.flags &= ~(kY3LightPushed | kY3LightAllocated);
    return total;
}

std::int32_t Y3Light::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kLightRecordMagic)) || !addField(total, writeU32(stream, type())))
        return total;
    for (float value : colour)
        if (!addField(total, writeF32(stream, value))) return total;
    const std::uint8_t reservedBytes[kReservedBytes] = {};
    if (!addField(total, writeU32(stream, flags)) || !addField(total, stream.write(reservedBytes, kReservedBytes)) ||
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

void Y3Light::setPose(const Matrix34& matrix) {
    kindPose() = matrix;
    updateData();
}

void Y3Light::setRadius(float value) {
    radius = value;
    updateData();
}

bool Y3Light::allocate() {
    if (flags & kY3LightAllocated) return engineLog().error("Can't allocate light [%s]: Already allocated", name);
    if (!allocateTextures()) return false;
    flags |= kY3LightAllocated;
    return true;
}

bool Y3Light::deallocate() {
    if (!(flags & kY3LightAllocated)) return engineLog().error("Can't deallocate light [%s]: allocate first", name);
    releaseTextures();
    flags &= ~kY3LightAllocated;
    return true;
}

void Y3Light::fillCommon(D3DLIGHT9& out, const float* materialDiffuse) const {
    out = D3DLIGHT9{};
    const float scale = 0.5f * lightSettings.ffpDiffuseMult;
    const float white[3] = {1.0f, 1.0f, 1.0f};
    const float* diffuse = materialDiffuse ? materialDiffuse : white;
    out.Diffuse = {colour[0] * diffuse[0] * scale, colour[1] * diffuse[1] * scale, colour[2] * diffuse[2] * scale, 0.0f};
    out.Falloff = 1.0f;
}

void Y3Light::exportTree(XmlTag& parent, std::int32_t index) const { exportCommon(parent, index); }

XmlTag& Y3Light::exportCommon(XmlTag& parent, std::int32_t index) const {
    XmlTag& node = parent.addChild("light");
    node.setAttribute("No", "%i", static_cast<int>(index));
    node.setAttribute("id", "%s", name);
    node.setAttribute("bone", "%s", bone);
    node.setAttribute("type", "%s", type() == 0 ? "Point" : "Direct");
    node.setAttribute("material", "%s", materialName(material));
    node.setAttribute("mode", "%s", modeName(mode));
    XmlTag& diffuse = node.addChild("diffuse");
    diffuse.setAttribute("class", "RGBColor");
    diffuse.setAttribute("r", "%f", static_cast<double>(colour[0]));
    diffuse.setAttribute("g", "%f", static_cast<double>(colour[1]));
    diffuse.setAttribute("b", "%f", static_cast<double>(colour[2]));
    for (int time = 0; time < 4; ++time) {
        XmlTag& set = node.addChild("lightset");
        set.setAttribute("time", "%s", kTimesOfDay[time]);
        set.setAttribute("name", "%s", lightSets[time]);
    }
    return node;
}

// ---- Y3Light_POINT -----------------------------------------------------

Y3Light_POINT::Y3Light_POINT(const Y3Light_POINT& other)
    : Y3Light(other), dataPose(other.dataPose), inverseRadius(other.inverseRadius), sphere(other.sphere) {
    copyStoredTextureLink(texture, other.texture);
    // Device data are the source's own.
    flags &= ~(kY3LightAllocated | kY3LightPushed);
}

float Y3Light_POINT::getRadius() const {
    return lightSetShaderSupport() ? radius : radius * lightSettings.ffpLightTouchRadiusMult;
}

void Y3Light_POINT::updateData() {
    const float reach = getRadius();
    inverseRadius = inverseOf(reach);
    Matrix34 centre = matrix34Identity();
    std::memcpy(centre.m + 9, dataPose.m + 9, 3 * sizeof(float));
    sphere.setFromSize(centre, reach);
    matrix34Inverse(dataPose, inversePose);
}

void Y3Light_POINT::direction(float (&out)[3]) const {
    out[0] = 0.0f;
    out[1] = -1.0f;
    out[2] = 0.0f;
}

bool Y3Light_POINT::allocateTextures() { return !texture.enabled || texture.allocateDefault(0, true); }

void Y3Light_POINT::releaseTextures() { texture.release(false); }

void Y3Light_POINT::fillFixedFunction(D3DLIGHT9& out, const float* materialDiffuse) const {
    fillCommon(out, materialDiffuse);
    out.Type = D3DLIGHT_POINT;
    if (flags & kY3LightAttenuated) {
        out.Attenuation0 = lightSettings.ffpPointAtten0;
        out.Attenuation1 = lightSettings.ffpPointAtten1;
        out.Attenuation2 = lightSettings.ffpPointAtten2;
        out.Range = lightSettings.ffpLightRadiusMult * radius;
    } else {
        out.Attenuation0 = 1.0f;
        out.Range = 1e10f;
    }
}

void Y3Light_POINT::exportTree(XmlTag& parent, std::int32_t index) const {
    XmlTag& node = exportCommon(parent, index);
    XmlTag& data = node.addChild("data");
    data.setAttribute("radius", "%f", static_cast<double>(radius));
    data.setAttribute("attenuation", "%f", static_cast<double>(inverseRadius));
    node.addVector3("position", dataPose.m + 9);
}

std::int32_t Y3Light_POINT::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, texture.read(stream)) || !addField(total, readPoseMatrix(stream, dataPose)) ||
        !addField(total, readF32(stream, radius)))
        return total;
    return total;
}

std::int32_t Y3Light_POINT::writeBody(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, texture.write(stream)) || !addField(total, writePoseMatrix(stream, dataPose)) ||
        !addField(total, writeF32(stream, radius)))
        return total;
    return total;
}

// ---- Y3Light_DIRECT ----------------------------------------------------

Y3Light_DIRECT::Y3Light_DIRECT(const Y3Light_DIRECT& other)
    : Y3Light(other),
      distance(other.distance),
      directPose(other.directPose),
      projectionMatrix(other.projectionMatrix),
      inverseDistance(other.inverseDistance),
      box(other.box) {
    for (int i = 0; i < 2; ++i) copyStoredTextureLink(textures[i], other.textures[i]);
    flags &= ~(kY3LightAllocated | kY3LightPushed);
}

void Y3Light_DIRECT::updateData() {
    inverseDistance = inverseOf(distance);
    matrix34Inverse(directPose, inversePose);
    projectionMatrix = directLightProjection(radius, distance);
    Matrix34 placement = directPose;
    for (int axis = 0; axis < 3; ++axis) placement.m[9 + axis] += directPose.m[6 + axis] * distance * 0.5f;
    const float halfExtents[3] = {radius, radius, distance * 0.5f};
    box.setFromExtents(placement, halfExtents);
}

void Y3Light_DIRECT::direction(float (&out)[3]) const {
    for (int axis = 0; axis < 3; ++axis) out[axis] = directPose.m[6 + axis];
}

bool Y3Light_DIRECT::allocateTextures() {
    bool result = true;
    for (TextureLink& link : textures)
        if (link.enabled && !link.allocateDefault(0, true)) result = false;
    return result;
}

void Y3Light_DIRECT::releaseTextures() {
    for (TextureLink& link : textures) link.release(false);
}

void Y3Light_DIRECT::fillFixedFunction(D3DLIGHT9& out, const float* materialDiffuse) const {
    fillCommon(out, materialDiffuse);
    out.Type = D3DLIGHT_DIRECTIONAL;
    out.Attenuation0 = 1.0f;
    out.Range = (flags & kY3LightAttenuated) ? lightSettings.ffpLightRadiusMult * distance : 1e10f;
}

void Y3Light_DIRECT::exportTree(XmlTag& parent, std::int32_t index) const {
    XmlTag& node = exportCommon(parent, index);
    XmlTag& data = node.addChild("data");
    data.setAttribute("radius", "%f", static_cast<double>(radius));
    data.setAttribute("distance", "%f", static_cast<double>(distance));
    XmlTag& placement = node.addChild("pose");
    for (int row = 0; row < 4; ++row) placement.addVector3("Vector", directPose.m + 3 * row);
}

std::int32_t Y3Light_DIRECT::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, textures[0].read(stream)) || !addField(total, textures[1].read(stream)) ||
        !addField(total, readF32(stream, radius)) || !addField(total, readF32(stream, distance)) ||
        !addField(total, readPoseMatrix(stream, directPose)))
        return total;
    return total;
}

std::int32_t Y3Light_DIRECT::writeBody(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, textures[0].write(stream)) || !addField(total, textures[1].write(stream)) ||
        !addField(total, writeF32(stream, radius)) || !addField(total, writeF32(stream, distance)) ||
        !addField(total, writePoseMatrix(stream, directPose)))
        return total;
    return total;
}
