// Texture handlers and the named links that reach them in the render core's
// texture library.
//
// No render device exists yet: a handler keeps its pixels as a decoded
// image, which is what the save-slot thumbnails and the save screenshot need.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/Image.h"

// Texture names are kept and compared lower-cased.
std::string textureKey(const char* name);

class DXTextureHandler {
public:
    explicit DXTextureHandler(const char* name);
    virtual ~DXTextureHandler();
    DXTextureHandler(const DXTextureHandler&) = delete;
    DXTextureHandler& operator=(const DXTextureHandler&) = delete;

    // Replaces the handler's texture by the decoded image; false for an
    // image without pixels (the texture is kept).
    virtual bool reload(const TgaImage& image);

    const std::string& name() const { return name_; }
    // The texture's pixels (empty until loaded).
    const TgaImage& image() const { return image_; }

protected:
    TgaImage image_;

private:
    std::string name_;
};

// A named reference to a texture handler of the render core's library.
class TextureLink {
public:
    TextureLink() = default;
    ~TextureLink();
    TextureLink(const TextureLink&) = delete;
    TextureLink& operator=(const TextureLink&) = delete;

    // Stores the name lower-cased (at most 127 characters); no handler yet.
    // Type (0 2D, 1 cube), addressing and option wait for textures of their
    // own.
    void init(const char* name, std::int32_t type = 0, std::int32_t addressU = 0, std::int32_t addressV = 0,
              std::int32_t option = 0);
    // Takes the handler of that name from the render core's library; false
    // when there is none.
    bool allocateDefault(std::uint32_t flags, bool quiet);
    // Gives the handler back.
    void release(bool unloadWhenUnused);

    const char* name() const { return name_; }
    DXTextureHandler* handler() const { return handler_; }

private:
    bool enabled_ = false;
    char name_[128] = {};
    DXTextureHandler* handler_ = nullptr;
};
