// A light resource: one point or directional light as model files and scene
// data carry it, with its colour, name, pose, reach, projected textures and
// the light sets it uses at each time of day. Y3Light_POINT and
// Y3Light_DIRECT are its kinds.
//
// Besides the stored record a light keeps what is derived from it: the
// inverse reach, the light-space and projection matrices and the influence
// volume, rebuilt whenever its pose, radius or distance change.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/Intersection.h"
#include "foundation/Math.h"
#include "platform/d3d9/D3D9Types.h"
#include "render/TextureLink.h"

class DataStream;
class XmlTag;

// The first word of a stored light record.
constexpr std::uint32_t kLightRecordMagic = 0xAD90DA77;

// Bits of Y3Light::flags.
constexpr std::uint32_t kY3LightPushed = 0x1;
constexpr std::uint32_t kY3LightAllocated = 0x2;
constexpr std::uint32_t kY3LightAttenuated = 0x10;
constexpr std::uint32_t kY3LightShadowCaster = 0x800;
constexpr std::uint32_t kY3LightStartsHidden = 0x1000;
constexpr std::uint32_t kY3LightFill = 0x04000;

// Reads a u8- or u16-length string into a 128-byte name field: every byte
// of the string is consumed, the first 127 are kept.
std::int32_t readName8(DataStream& stream, char (&field)[128]);
std::int32_t readName16(DataStream& stream, char (&field)[128]);

class Y3Light {
public:
    Y3Light() = default;
    Y3Light(const Y3Light&) = default;
    Y3Light& operator=(const Y3Light&) = delete;
    // Reports a light still allocated or on the renderer's light stack.
    virtual ~Y3Light();
    // 0 point, 1 directional.
    virtual std::uint32_t type() const = 0;
    // A new light of the same kind with every field and its own references
    // to the projected textures.
    virtual std::unique_ptr<Y3Light> clone() const = 0;

    // A new light of the kind (0 point, 1 directional); null for others.
    static std::unique_ptr<Y3Light> create(std::uint32_t type);
    // Reads one record; the light is handed out as soon as it exists, even
    // when a later field fails. Bytes read or negative (a wrong magic or
    // kind is -1 and makes no light).
    static std::int32_t read(DataStream& stream, std::unique_ptr<Y3Light>& out);
    std::int32_t write(DataStream& stream) const;

    // The device light record of the fixed pipeline for an element whose
    // material diffuse colour is given (zeroed first; the caller adds the
    // position and direction).
    virtual void fillFixedFunction(D3DLIGHT9& out, const float* materialDiffuse) const = 0;
    // A node "light" under parent with the light's fields.
    virtual void exportTree(XmlTag& parent, std::int32_t index) const;
    // 1 / radius (point) or 1 / distance (directional).
    virtual float inverseReach() const = 0;
    const float* position() const { return lightPose().m + 9; }
    // (0, -1, 0) for a point light, the pose's third axis for a directional.
    virtual void direction(float (&out)[3]) const = 0;
    // The projected texture(s) with the default quality; true when every
    // one could be had (a disabled link counts as had).
    virtual bool allocateTextures() = 0;
    virtual void releaseTextures() = 0;
    // The projected texture of an index (a point light's one for any).
    virtual TextureLink& projectedTexture(std::int32_t index) = 0;
    const TextureLink& projectedTexture(std::int32_t index) const {
        return const_cast<Y3Light*>(this)->projectedTexture(index);
    }
    const Matrix34& lightSpace() const { return inversePose; }
    virtual const Matrix34& projection() const { return inversePose; }
    // The kind's pose (where the light stands).
    virtual const Matrix34& lightPose() const = 0;
    // Sets the kind's pose, keeping radius and distance.
    void setPose(const Matrix34& matrix);
    // Device data (the projected textures): refused when allocated already
    // ("Can't allocate light [%s]: Already allocated") and when not
    // allocated ("Can't deallocate light [%s]: allocate first").
    bool allocate();
    bool deallocate();
    virtual const Intersection& volume() const = 0;
    // The radius; a point light's reaches ffp_light_touch_radius_mult times
    // as far on a display mode without shaders.
    virtual float getRadius() const { return radius; }
    void setRadius(float value);
    virtual float getDistance() const { return 0.0f; }
    virtual void setDistance(float) {}

    float colour[3] = {1.0f, 1.0f, 1.0f};
    std::uint32_t flags = 0;
    char name[128] = {};
    char bone[128] = {};
    // Placement in the model.
    Matrix34 pose = matrix34Identity();
    // Copied with the light, not interpreted.
    std::uint32_t reserved = 0;
    // "morning", "day", "evening", "nighttime".
    char lightSets[4][128] = {};
    // 0 "Exterior", 1 "Interior", 2 "Both".
    std::uint32_t material = 2;
    // 0 "none", 1 "hollywood".
    std::uint32_t mode = 0;
    float radius = 1.0f;

protected:
    // Rebuilds what follows from pose, radius and distance.
    virtual void updateData() = 0;
    virtual Matrix34& kindPose() = 0;
    virtual std::int32_t readBody(DataStream& stream) = 0;
    virtual std::int32_t writeBody(DataStream& stream) const = 0;
    // The node "light" with the fields every kind has.
    XmlTag& exportCommon(XmlTag& parent, std::int32_t index) const;
    // Diffuse, falloff and alpha of the fixed-function record.
    void fillCommon(D3DLIGHT9& out, const float* materialDiffuse) const;

    Matrix34 inversePose = matrix34Identity();
};

// Copies a link's stored form (enabled, type, address modes, option and
// name), never its loaded handlers.
void copyStoredTextureLink(TextureLink& to, const TextureLink& from);

class Y3Light_POINT : public Y3Light {
public:
    Y3Light_POINT() { updateData(); }
    Y3Light_POINT(const Y3Light_POINT& other);
    std::uint32_t type() const override { return 0; }
    std::unique_ptr<Y3Light> clone() const override { return std::make_unique<Y3Light_POINT>(*this); }
    void fillFixedFunction(D3DLIGHT9& out, const float* materialDiffuse) const override;
    void exportTree(XmlTag& parent, std::int32_t index) const override;
    float inverseReach() const override { return inverseRadius; }
    void direction(float (&out)[3]) const override;
    bool allocateTextures() override;
    void releaseTextures() override;
    TextureLink& projectedTexture(std::int32_t) override { return texture; }
    const Matrix34& lightPose() const override { return dataPose; }
    const Intersection& volume() const override { return sphere; }
    float getRadius() const override;

    // The projected texture.
    TextureLink texture;
    Matrix34 dataPose = matrix34Identity();
    float inverseRadius = 1.0f;
    IntersectionSphere sphere;

protected:
    void updateData() override;
    Matrix34& kindPose() override { return dataPose; }
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeBody(DataStream& stream) const override;
};

class Y3Light_DIRECT : public Y3Light {
public:
    Y3Light_DIRECT() { updateData(); }
    Y3Light_DIRECT(const Y3Light_DIRECT& other);
    std::uint32_t type() const override { return 1; }
    std::unique_ptr<Y3Light> clone() const override { return std::make_unique<Y3Light_DIRECT>(*this); }
    void fillFixedFunction(D3DLIGHT9& out, const float* materialDiffuse) const override;
    void exportTree(XmlTag& parent, std::int32_t index) const override;
    float inverseReach() const override { return inverseDistance; }
    void direction(float (&out)[3]) const override;
    bool allocateTextures() override;
    void releaseTextures() override;
    TextureLink& projectedTexture(std::int32_t index) override { return textures[index == 1 ? 1 : 0]; }
    const Matrix34& projection() const override { return projectionMatrix; }
    const Matrix34& lightPose() const override { return directPose; }
    const Intersection& volume() const override { return box; }
    float getDistance() const override { return distance; }
    void setDistance(float value) override {
        distance = value;
        updateData();
    }

    float distance = 1.0f;
    Matrix34 directPose = matrix34Identity();
    // The two projected textures, index 0 and 1.
    TextureLink textures[2];
    Matrix34 projectionMatrix = matrix34Identity();
    float inverseDistance = 1.0f;
    IntersectionOBBox box;

protected:
    void updateData() override;
    Matrix34& kindPose() override { return directPose; }
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeBody(DataStream& stream) const override;
};

// The projection of a directional light of radius r and distance d: scale
// 1 / (2 r) on the first two axes and 1 / d on the third, translation
// (0.5, 0.5, 0). A zero reach gives a zero scale.
Matrix34 directLightProjection(float radius, float distance);
