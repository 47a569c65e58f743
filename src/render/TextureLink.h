// Texture links: how every texture user names, loads, binds and releases a
// texture. A link turns its base name into a concrete name by quality
// ("-low", "", "-high"), mip level ("-m%02i") and animation frame ("%04i"),
// attaches to the handler of that name in the texture library, binds it to a
// stage with the video device's sampler states, and is stored in resource
// files as a small record. MaterialData is a model element's stored
// material: a 116-byte head and four such records.
#pragma once

#include <cstdint>
#include <vector>

#include "render/DXTextureHandler.h"

class DataStream;

class TextureLink {
public:
    static constexpr std::uint32_t kNameSize = 128;

    TextureLink() = default;
    ~TextureLink();
    TextureLink(const TextureLink&) = delete;
    TextureLink& operator=(const TextureLink&) = delete;

    // Enables the link under the lower-cased name (at most 127 characters).
    void init(const char* name, std::uint32_t type = 0, std::uint32_t addressU = 0, std::uint32_t addressV = 0,
              std::uint8_t option = 0);
    // Attaches the handler of the best name for quality (0 "-low", 1 none, 2
    // "-high"), mip level and, for an animated link (flag 0x10000), every
    // frame; falls back to quality 1 and mip 0. A disabled link succeeds.
    bool allocate(std::int32_t quality, std::int32_t mipLevel, std::uint32_t flags, bool testFirst, bool quiet);
    // allocate with the quality of the current video mode, mip 0, testing
    // each name first.
    bool allocateDefault(std::uint32_t flags, bool quiet);
    // Attaches the handler of name (mode 2 with flag 0x20000, else 6).
    bool attachByName(const char* name, std::int32_t frame, std::uint32_t flags);
    // Takes a reference on handler in a slot (frame < 1 the main slot, n the
    // n-th frame); loads it when the library is allocated.
    bool attachHandler(DXTextureHandler* handler, std::int32_t frame, std::uint32_t flags);
    bool detachHandler(DXTextureHandler* handler, std::int32_t frame, bool unloadWhenUnused);
    // Gives back every handler; the name returns to the base name.
    void release(bool unloadWhenUnused);
    // Sets the handler of the current frame on stage (the shader core's pass
    // record) with the sampler states of its address modes and of the filter
    // class (the render core's state cache); both reach the device when the
    // next draw applies them. Nothing is bound without a render core.
    void bindToStage(std::uint32_t stage, std::int32_t filterClass, bool anisotropic);
    // Binds to each stage of a list of up to 8 ended by a negative entry.
    void bindToStageList(const std::int32_t* stages, std::int32_t filterClass, bool anisotropic);
    void bindToStageAllocating(std::uint32_t stage, std::int32_t filterClass, bool anisotropic, std::uint32_t flags);
    void bindToStageListAllocating(const std::int32_t* stages, std::int32_t filterClass, bool anisotropic,
                                   std::uint32_t flags);
    // Copies every field without touching reference counts.
    void copy(const TextureLink& other);

    // The stored record; the byte count or a negative value (-1 damaged,
    // -777 an enabled record without name).
    std::int32_t read(DataStream& stream);
    std::int32_t write(DataStream& stream) const;

    const char* name() const { return name_; }
    const char* baseName() const { return baseName_; }
    DXTextureHandler* handler() const { return handler_; }
    // The handler of frame n (0 the main one), or null.
    DXTextureHandler* frameHandler(std::int32_t frame) const;
    std::int32_t frameCount() const { return static_cast<std::int32_t>(frames_.size()); }

    bool enabled = false;
    std::uint32_t type = 0;
    std::uint32_t addressU = 0;
    std::uint32_t addressV = 0;
    std::uint8_t option = 0;
    std::int32_t currentFrame = 0;

private:
    bool tryName(bool animated, std::int32_t frame, std::int32_t quality, std::int32_t mipLevel, std::uint32_t flags,
                 bool testFirst);
    DXTextureHandler*& slot(std::int32_t frame);

    char name_[kNameSize] = {};
    char baseName_[kNameSize] = {};
    DXTextureHandler* handler_ = nullptr;
    std::vector<DXTextureHandler*> frames_;  // frames 1 to n
};

// Texture kind names, index 0 to 11.
const char* textureKindName(std::int32_t kind);

// The stored material head: 116 bytes, little-endian, written field by field
// in this order (the byte offsets are those of the members). Unnamed words
// belong to the model resources.
struct MaterialHead {
    std::uint32_t kind = 3;
    std::uint32_t lightSetIndex = 0;
    std::uint32_t word8 = 0;
    float environmentFactor[3] = {0.5f, 0.5f, 0.5f};
    float specularFactor[3] = {0.5f, 0.5f, 0.5f};
    float float36 = 1.0f;
    std::uint32_t groupBase = 0;
    std::uint8_t overlay = 0;
    std::uint8_t bytes45[3] = {};
    float float48 = 1.0f;
    std::uint8_t wantsBlending = 0;
    std::uint8_t bytes53[3] = {};
    std::uint32_t word56 = 1;
    std::uint32_t alphaSetting = 0;
    std::uint32_t blendOverride = 0;
    // How the faces draw: 0 front faces, 1 both faces, 2 back faces then
    // front faces in a second pass.
    std::uint32_t faceMode = 0;
    std::int32_t boneInfluences = 0;
    std::uint32_t word76 = 0;
    std::uint32_t word80 = 0;
    std::uint32_t words84[3] = {};
    std::uint32_t word96 = 1;
    std::uint32_t words100[4] = {};
};
static_assert(sizeof(MaterialHead) == 116, "the stored material head is 116 bytes");

class MaterialData {
public:
    static constexpr std::int32_t kLinkCount = 4;  // Diffuse, Lightmap, Environment, Terrain

    std::int32_t read(DataStream& stream);
    std::int32_t write(DataStream& stream) const;
    // Every enabled link names a texture the packages hold.
    bool validateTextures() const;

    MaterialHead head;
    TextureLink links[kLinkCount];
};
