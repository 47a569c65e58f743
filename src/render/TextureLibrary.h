// The texture library: every texture handler of the renderer in a
// name-sorted list, created on first request, reference-counted by the
// texture links, loaded in bulk after a device (re)allocation and unloaded
// by the texture cache when nobody samples or references them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
    // Handlers visited by one cache step.
    static constexpr std::int32_t kCacheVisits = 50;

    TextureLibrary() = default;
    ~TextureLibrary();
    TextureLibrary(const TextureLibrary&) = delete;
    TextureLibrary& operator=(const TextureLibrary&) = delete;

    // Reads "debug_texture_name", "enable_texture_caching" and
    // "texture_render_cache_time" from the game core's settings; missing
    // keys are added and keep their defaults.
    static void readSettings();
    static const TextureLibrarySettings& settings();
    static TextureLibrarySettings& mutableSettings();

    // The handler of that name (lower-cased; the list is sorted by bytes),
    // or one created by mode: 6
    // ".dds" first, then ".jpg"/".png"; 0 and 1 packed ".dds" without
    // looking; 2 compressed only. testOnly creates nothing and answers
    // non-null exactly where a handler would have been created.
    DXTextureHandler* findOrCreate(const char* name, std::int32_t mode, bool testOnly);
    // Inserts a handler at its sorted place; false (handler dropped) when
    // the name is taken.
    bool add(std::unique_ptr<DXTextureHandler> handler);

    // Loads the referenced handlers without texture (all, or only those
    // with link flag 0x100000); sets allocated.
    bool allocateAll(bool all, bool withProgress);
    // Unloads every handler; clears allocated.
    void deallocateAll();
    // Unloads handlers with neither texture nor references; clears allocated.
    void releaseUnused();
    // Destroys every handler.
    void releaseAll();
    // Makes room on the device when a creation failed; nothing is evicted
    // (false).
    bool evictCachedTextures();
    // The per-frame cache step; step is the frame's time step in seconds.
    void updateCache(double step);
    // Registers a loose file under its file name without extension.
    bool importExternalTexture(const char* path, bool reportFailure);

    // The procedural maps, the screenshot targets and the built-in targets.
    bool registerProceduralTextures();
    bool registerBuiltInTargets();

    std::size_t count() const { return handlers_.size(); }
    DXTextureHandler* at(std::size_t index) const { return handlers_[index].get(); }

    std::int32_t cursor = 0;
    double accumulator = 0.0;
    bool allocated = false;
    float unreferencedDelay = 15.0f;

private:
    // Index of the first handler whose name is not below name; found tells
    // whether it is that name.
    std::size_t lowerBound(const std::string& name, bool& found) const;
    DXTextureHandler* insertAt(std::size_t index, std::unique_ptr<DXTextureHandler> handler);

    std::vector<std::unique_ptr<DXTextureHandler>> handlers_;
};

// The render core's texture library, or null without a render core.
TextureLibrary* textureLibrary();
