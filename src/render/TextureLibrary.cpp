#include "render/TextureLibrary.h"

#include <cstdio>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"
#include "render/ProcScreenShot.h"

namespace {

TextureLibrarySettings librarySettings;

}  // namespace

void TextureLibrary::readSettings() {
    if (!gameCore.settings) return;
    TextureLibrarySettings& s = librarySettings;
    readSetting(gameCore.settings->getCategory("debug"), "debug_texture_name", s.debugTextureName, "ProcMirror");
    IniCategory& render = gameCore.settings->getCategory("render");
    readSetting(render, "enable_texture_caching", s.enableTextureCaching, false);
    readSetting(render, "texture_render_cache_time", s.textureRenderCacheTime, 30.0f);
}

const TextureLibrarySettings& TextureLibrary::settings() { return librarySettings; }

bool TextureLibrary::add(std::unique_ptr<DXTextureHandler> handler) {
    if (!handler) return false;
    const std::string key = handler->name();
    return handlers_.emplace(key, std::move(handler)).second;
}

DXTextureHandler* TextureLibrary::findOrCreate(const char* name, std::int32_t, bool) const {
    const auto found = handlers_.find(textureKey(name));
    return found == handlers_.end() ? nullptr : found->second.get();
}

bool TextureLibrary::registerProceduralTextures() {
    add(std::make_unique<ProcScreenShotExport>("procsavescreenshot"));
    for (int i = 0; i < 4; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "procsavescreenshot%i", i);
        add(std::make_unique<ProcScreenShotImport>(name));
    }
    return true;
}
