// The texture library: every texture handler of the renderer by name.
//
// No texture handler is built in yet; the library keeps its settings, read
// once at start.
#pragma once

#include <string>

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
};
