// A light resource: one point or directional light as model files and scene
// data carry it, with its colour, name, pose, reach and the light sets it
// uses at each time of day. Y3Light_POINT and Y3Light_DIRECT are its kinds.
//
// This form reads and writes the stored record, with its projected texture
// links in their stored form (a light does not load them yet).
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/Math.h"
#include "render/TextureLink.h"

class DataStream;

// The first word of a stored light record.
constexpr std::uint32_t kLightRecordMagic = 0xAD90DA77;

// Bits of Y3Light::flags.
constexpr std::uint32_t kY3LightPushed = 0x1;
constexpr std::uint32_t kY3LightAllocated = 0x2;
constexpr std::uint32_t kY3LightShadowCaster = 0x800;
constexpr std::uint32_t kY3LightStartsHidden = 0x1000;
constexpr std::uint32_t kY3LightFill = 0x04000;

class Y3Light {
public:
    virtual ~Y3Light() = default;
    // 0 point, 1 directional.
    virtual std::uint32_t type() const = 0;
    virtual std::unique_ptr<Y3Light> clone() const = 0;

    // A new light of the kind (0 point, 1 directional); null for others.
    static std::unique_ptr<Y3Light> create(std::uint32_t type);
    // Reads one record; the light is handed out as soon as it exists, even
    // when a later field fails. Bytes read or negative (a wrong magic or
    // kind is -1 and makes no light).
    static std::int32_t read(DataStream& stream, std::unique_ptr<Y3Light>& out);
    std::int32_t write(DataStream& stream) const;

    float colour[3] = {1.0f, 1.0f, 1.0f};
    std::uint32_t flags = 0;
    char name[128] = {};
    char bone[128] = {};
    Matrix34 pose = matrix34Identity();
    // "morning", "day", "evening", "nighttime".
    char lightSets[4][128] = {};
    // 0 "Exterior", 1 "Interior", 2 "Both".
    std::uint32_t material = 2;
    // 0 "none", 1 "hollywood".
    std::uint32_t mode = 0;
    float radius = 1.0f;

protected:
    virtual std::int32_t readBody(DataStream& stream) = 0;
    virtual std::int32_t writeBody(DataStream& stream) const = 0;
};

// Copies a link's stored form (enabled, type, address modes, option and
// name), never its loaded handlers.
void copyStoredTextureLink(TextureLink& to, const TextureLink& from);

class Y3Light_POINT : public Y3Light {
public:
    Y3Light_POINT() = default;
    Y3Light_POINT(const Y3Light_POINT& other) : Y3Light(other) { copyStoredTextureLink(texture, other.texture); }
    Y3Light_POINT& operator=(const Y3Light_POINT&) = delete;
    std::uint32_t type() const override { return 0; }
    std::unique_ptr<Y3Light> clone() const override { return std::make_unique<Y3Light_POINT>(*this); }
    // The projected texture.
    TextureLink texture;

protected:
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeBody(DataStream& stream) const override;
};

class Y3Light_DIRECT : public Y3Light {
public:
    Y3Light_DIRECT() = default;
    Y3Light_DIRECT(const Y3Light_DIRECT& other) : Y3Light(other), distance(other.distance) {
        for (int i = 0; i < 2; ++i) copyStoredTextureLink(textures[i], other.textures[i]);
    }
    Y3Light_DIRECT& operator=(const Y3Light_DIRECT&) = delete;
    std::uint32_t type() const override { return 1; }
    std::unique_ptr<Y3Light> clone() const override { return std::make_unique<Y3Light_DIRECT>(*this); }
    float distance = 1.0f;
    // The two projected textures, index 0 and 1.
    TextureLink textures[2];

protected:
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeBody(DataStream& stream) const override;
};
