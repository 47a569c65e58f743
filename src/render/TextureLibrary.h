// The texture library: every texture handler of the renderer by name.
//
// The handlers built in so far are the screenshot targets; the library also
// keeps its settings, read once at start.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "render/DXTextureHandler.h"

struct TextureLibrarySettings {
    // Section "debug": kept as a texture name; nothing uses it.
    std::string debugTextureName = "ProcMirror";
    // Section "render": on-demand loading and the texture cache.
    bool enableTextureCaching = false;
    // Seconds a referenced texture may stay unsampled before it is dropped.
    float textureRenderCacheTime = 30.0f;
};

class TextureLibrary {
public:
    // Reads "debug_texture_name", "enable_texture_caching" and
    // "texture_render_cache_time" from the game core's settings; missing
    // keys are added and keep their defaults.
    static void readSettings();
    static const TextureLibrarySettings& settings();

    // Inserts a handler under its name; false (handler dropped) when the
    // name is taken.
    bool add(std::unique_ptr<DXTextureHandler> handler);
    // The handler of that name (any case), or null. Handlers are not made
    // on request yet (the mode and testOnly wait for them): the built-in
    // ones are all there is.
    DXTextureHandler* findOrCreate(const char* name, std::int32_t mode, bool testOnly) const;
    // The screenshot targets: "procsavescreenshot" (the export) and
    // "procsavescreenshot0" to "procsavescreenshot3" (the load screen's).
    bool registerProceduralTextures();

private:
    std::map<std::string, std::unique_ptr<DXTextureHandler>> handlers_;
};
