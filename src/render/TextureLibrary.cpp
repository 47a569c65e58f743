#include "render/TextureLibrary.h"

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

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
