#include "render/TextureLibrary.h"

#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/SettingsReader.h"
#include "platform/FileSystem.h"
#include "render/ProcScreenShot.h"
#include "render/ProcTexMap.h"
#include "render/RenderCore.h"
#include "resources/LoadingProgress.h"

namespace {

TextureLibrarySettings librarySettings;

}  // namespace

TextureLibrary* textureLibrary() { return gameCore.render ? &gameCore.render->textures : nullptr; }

TextureLibrary::~TextureLibrary() { releaseAll(); }

void TextureLibrary::readSettings() {
    if (!gameCore.settings) return;
    TextureLibrarySettings& s = librarySettings;
    readSetting(gameCore.settings->getCategory("debug"), "debug_texture_name", s.debugTextureName, "ProcMirror");
    IniCategory& render = gameCore.settings->getCategory("render");
    readSetting(render, "enable_texture_caching", s.enableTextureCaching, false);
    readSetting(render, "texture_render_cache_time", s.textureRenderCacheTime, 30.0f);
}

const TextureLibrarySettings& TextureLibrary::settings() { return librarySettings; }

TextureLibrarySettings& TextureLibrary::mutableSettings() { return librarySettings; }

std::size_t TextureLibrary::lowerBound(const std::string& name, bool& found) const {
    std::size_t low = 0;
    std::size_t high = handlers_.size();
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        // Bytewise, unsigned: std::string compares through char_traits<char>,
        // which compares as unsigned char.
        if (handlers_[middle]->name().compare(name) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    found = low < handlers_.size() && handlers_[low]->name() == name;
    return low;
}

DXTextureHandler* TextureLibrary::insertAt(std::size_t index, std::unique_ptr<DXTextureHandler> handler) {
    // A handler entering the library looks at its source once: whether the
    // image has alpha (a ".dds" or loose file only when it is DXT2 to DXT5,
    // a ".jpg" when its ".png" mask exists) is known before any user asks.
    handler->inspectSource();
    if (handlers_.size() == handlers_.capacity()) handlers_.reserve(handlers_.empty() ? 1 : handlers_.size() * 2);
    return handlers_.insert(handlers_.begin() + static_cast<std::ptrdiff_t>(index), std::move(handler))->get();
}

bool TextureLibrary::add(std::unique_ptr<DXTextureHandler> handler) {
    if (!handler) return false;
    bool found = false;
    const std::size_t index = lowerBound(handler->name(), found);
    if (found) return false;
    insertAt(index, std::move(handler));
    return true;
}

DXTextureHandler* TextureLibrary::findOrCreate(const char* name, std::int32_t mode, bool testOnly) {
    // Texture names are lower case: the search, the sorted insert and the
    // package lookup all use the lower-cased name, whatever case was asked.
    const std::string key = textureKey(name);
    bool found = false;
    const std::size_t index = lowerBound(key, found);
    if (found) return handlers_[index].get();

    TextureEnvironment& environment = textureEnvironment();
    std::unique_ptr<DXTextureHandler> created;
    if (mode == 0 || mode == 1 || (mode == 6 && environment.fileExists(key, ".dds"))) {
        created = std::make_unique<DXPackedTextureHandler>(key.c_str());
    } else if (mode == 2 || mode == 6) {
        const bool present = environment.fileExists(key, ".jpg") || environment.fileExists(key, ".png");
        if (mode == 2 || present) created = std::make_unique<DXCompressedPackedTextureHandler>(key.c_str());
    }
    if (!created) return nullptr;
    // A test-only answer is a yes or no: a shared placeholder, never inserted.
    static DXPackedTextureHandler placeholder("");
    if (testOnly) return &placeholder;
    return insertAt(index, std::move(created));
}

bool TextureLibrary::allocateAll(bool all, bool withProgress) {
    const bool caching = settings().enableTextureCaching;
    std::vector<DXTextureHandler*> candidates;
    for (const auto& handler : handlers_) {
        if (handler->refCount <= 0 || handler->texture || (handler->linkFlags & LinkManualLoad)) continue;
        if (handler->lastUse < 0.0 && caching) continue;
        if (all || (handler->linkFlags & LinkBulkLoad)) candidates.push_back(handler.get());
    }
    bool result = true;
    std::size_t loaded = 0;
    for (DXTextureHandler* handler : candidates) {
        if (!handler->load()) result = engineLog().error("Can't allocate texture handler [%s]", handler->name().c_str());
        handler->releaseDeadline = 0.0;
        ++loaded;
        if (withProgress)
            reportLoadingProgress(14, static_cast<float>(loaded) / static_cast<float>(candidates.size()));
    }
    if (withProgress) reportLoadingProgress(14, 1.0f);
    allocated = true;
    return result;
}

void TextureLibrary::deallocateAll() {
    if (textureEnvironment().resourceLogging()) engineLog().info("Deallocate all textures");
    for (const auto& handler : handlers_) handler->unload();
    allocated = false;
}

void TextureLibrary::releaseUnused() {
    std::size_t done = 0;
    for (const auto& handler : handlers_) {
        if (!handler->texture && handler->refCount <= 0) {
            handler->unload();
            handler->releaseDeadline = 0.0;
        }
        ++done;
        reportLoadingProgress(0, static_cast<float>(done) / static_cast<float>(handlers_.size()));
    }
    reportLoadingProgress(0, 1.0f);
    allocated = false;
}

void TextureLibrary::releaseAll() { std::vector<std::unique_ptr<DXTextureHandler>>().swap(handlers_); }

bool TextureLibrary::evictCachedTextures() { return false; }

void TextureLibrary::updateCache(double step) {
    accumulator += step;
    if (accumulator < 1.0) return;
    accumulator = accumulator > 2.0 ? 0.0 : accumulator - 1.0;
    const double now = textureEnvironment().now();
    const std::int32_t count = static_cast<std::int32_t>(handlers_.size());
    if (count == 0) return;
    const TextureLibrarySettings& s = settings();
    const std::int32_t visits = count < kCacheVisits ? count : kCacheVisits;
    for (std::int32_t visit = 0; visit < visits; ++visit) {
        if (++cursor >= count || cursor < 0) cursor = 0;
        if (!allocated) continue;
        DXTextureHandler& handler = *handlers_[static_cast<std::size_t>(cursor)];
        if (handler.refCount > 0) {
            handler.releaseDeadline = 0.0;
            if (handler.texture && s.enableTextureCaching && !(handler.linkFlags & LinkManualLoad)) {
                if (handler.lastUse <= 0.0) handler.lastUse = now;
                if (now - handler.lastUse > s.textureRenderCacheTime) handler.unload();
            }
        } else if (handler.texture) {
            if (handler.releaseDeadline == 0.0) handler.releaseDeadline = now + unreferencedDelay;
            if (now > handler.releaseDeadline) {
                handler.unload();
                handler.releaseDeadline = 0.0;
            }
        }
    }
}

bool TextureLibrary::importExternalTexture(const char* path, bool reportFailure) {
    Log& log = engineLog();
    const std::string text = path ? path : "";
    const std::size_t slash = text.find_last_of("/\\");
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    name = textureKey(name.c_str());
    if (name.size() > 127) name.resize(127);
    if (findOrCreate(name.c_str(), 6, true))
        return log.error("Can't register external texture [%s]: Texture already registered in game DB", name.c_str());
    if (platform::pathKind(text) != platform::PathKind::File) {
        if (reportFailure) log.error("Texture import failed: Expected external texture [%s]", text.c_str());
        return false;
    }
    log.info("Import external texture [%s].", text.c_str());
    return add(std::make_unique<DXFileTextureHandler>(text.c_str(), name.c_str()));
}

bool TextureLibrary::registerProceduralTextures() {
    add(std::make_unique<ProcNormalizerTexMap>("procnormalizercubemap"));
    add(std::make_unique<ProcFalloffMap>("proclightattenuation"));
    add(std::make_unique<ProcSpotIntensityMap>("proc2dlightmask"));
    add(std::make_unique<ProcSpecularNHxKMap>("procspecularmap"));
    add(std::make_unique<ProcGhostMap>("procghostmap"));
    add(std::make_unique<ProcWhiteMap>("procwhitemap"));
    add(std::make_unique<ProcScreenShotExport>("procsavescreenshot"));
    for (int i = 0; i < 4; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "procsavescreenshot%i", i);
        add(std::make_unique<ProcScreenShotImport>(name));
    }
    return registerBuiltInTargets();
}

bool TextureLibrary::registerBuiltInTargets() {
    add(std::make_unique<ProcDepth>("procdepth"));
    for (const char* name : {"prochdr1", "prochdr2", "prochdr3", "prochdr4", "prochdr5", "procpoissondof"})
        add(std::make_unique<ProcHDR>(name));
    for (const char* name : {"procshadow1", "procshadow2"}) {
        auto shadow = std::make_unique<ProcHDR>(name);
        shadow->format = D3DFMT_A8;
        shadow->ownClearColor = true;
        shadow->clearColor = 0;
        add(std::move(shadow));
    }
    add(std::make_unique<ProcMirror>("procmirror"));
    return true;
}
