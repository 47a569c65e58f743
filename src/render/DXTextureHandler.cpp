#include "render/DXTextureHandler.h"

#include <cctype>
#include <cstdio>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"

std::string textureKey(const char* name) {
    std::string text = name ? name : "";
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

DXTextureHandler::DXTextureHandler(const char* name) : name_(textureKey(name)) {}

DXTextureHandler::~DXTextureHandler() = default;

bool DXTextureHandler::reload(const TgaImage& image) {
    if (!image.pixels()) return false;
    image.copyTo(image_);
    return true;
}

TextureLink::~TextureLink() {
    if (handler_) {
        engineLog().error("Unreleased texture handler to [%s]. re-Call release from destructor", name_);
        release(false);
    }
}

void TextureLink::init(const char* name, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
    const std::string text = textureKey(name);
    std::snprintf(name_, sizeof(name_), "%s", text.c_str());
    enabled_ = true;
    handler_ = nullptr;
}

bool TextureLink::allocateDefault(std::uint32_t, bool) {
    if (!enabled_ || !gameCore.render) return false;
    handler_ = gameCore.render->textures.findOrCreate(name_, 6, true);
    return handler_ != nullptr;
}

void TextureLink::release(bool) { handler_ = nullptr; }
