#include "render/TextureLink.h"

#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"
#include "render/TextureLibrary.h"
#include "render/VideoSetup.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"

namespace {

const char* const kQualitySuffix[3] = {"-low", "", "-high"};

const char* const kKindNames[12] = {"Diffuse",        "Lightmap",        "Environment",    "Terrain",
                                    "Specular",       "NormalMap",       "HeightMap",      "TerainSpecular",
                                    "TerainNormalMap", "TerainHeightMap", "LightMask",      "LightAttenuation"};

void copyName(char (&target)[TextureLink::kNameSize], const char* source) {
    std::snprintf(target, sizeof(target), "%s", source ? source : "");
}

}  // namespace

const char* textureKindName(std::int32_t kind) { return kind >= 0 && kind < 12 ? kKindNames[kind] : ""; }

TextureLink::~TextureLink() {
    if (handler_) {
        engineLog().error("Unreleased texture handler to [%s]. re-Call release from destructor", name_);
        release(false);
    }
}

void TextureLink::init(const char* name, std::uint32_t linkType, std::uint32_t u, std::uint32_t v,
                       std::uint8_t linkOption) {
    const std::string key = textureKey(name);
    copyName(name_, key.c_str());
    copyName(baseName_, key.c_str());
    enabled = true;
    type = linkType;
    addressU = u;
    addressV = v;
    option = linkOption;
}

DXTextureHandler*& TextureLink::slot(std::int32_t frame) {
    if (frame < 0) frame = currentFrame;
    if (frame < 1) return handler_;
    if (frames_.size() < static_cast<std::size_t>(frame)) {
        if (frames_.capacity() < static_cast<std::size_t>(frame))
            frames_.reserve(std::max<std::size_t>(static_cast<std::size_t>(frame), frames_.capacity() * 2));
        frames_.resize(static_cast<std::size_t>(frame), nullptr);
    }
    return frames_[static_cast<std::size_t>(frame) - 1];
}

DXTextureHandler* TextureLink::frameHandler(std::int32_t frame) const {
    if (frame < 1) return handler_;
    return static_cast<std::size_t>(frame) <= frames_.size() ? frames_[static_cast<std::size_t>(frame) - 1] : nullptr;
}

bool TextureLink::attachHandler(DXTextureHandler* handler, std::int32_t frame, std::uint32_t flags) {
    DXTextureHandler*& target = slot(frame);
    if (target) return engineLog().error(" Texture [%s] already allocated. Possible reference overload", name_);
    if (handler->type == DXTextureHandler::kTypeUnknown) handler->type = type;
    if (handler->refCount <= 0) handler->linkFlags |= flags;
    TextureLibrary* library = textureLibrary();
    const bool caching = TextureLibrary::settings().enableTextureCaching;
    if ((!handler->texture || handler->needsReload()) && library && library->allocated &&
        !(handler->linkFlags & LinkManualLoad) && (handler->lastUse >= 0.0 || !caching)) {
        if (!handler->load()) return false;
        handler->releaseDeadline = 0.0;
    }
    ++handler->refCount;
    target = handler;
    return true;
}

bool TextureLink::detachHandler(DXTextureHandler* handler, std::int32_t frame, bool unloadWhenUnused) {
    DXTextureHandler*& target = slot(frame);
    if (!handler || target != handler)
        return engineLog().error("Texture [%s] not attached to [%s]", name_, handler ? handler->name().c_str() : "");
    target = nullptr;
    if (handler->refCount > 0) --handler->refCount;
    if (handler->refCount == 0 && unloadWhenUnused) handler->unload();
    return true;
}

bool TextureLink::attachByName(const char* name, std::int32_t frame, std::uint32_t flags) {
    if (!enabled) return false;
    TextureLibrary* library = textureLibrary();
    if (!library) return false;
    DXTextureHandler* handler = library->findOrCreate(name, (flags & LinkCompressedOnly) ? 2 : 6, false);
    if (!handler || !attachHandler(handler, frame, flags)) return false;
    if (frame < 1) copyName(name_, handler->name().c_str());  // the lower-case name
    return true;
}

bool TextureLink::tryName(bool animated, std::int32_t frame, std::int32_t quality, std::int32_t mipLevel,
                          std::uint32_t flags, bool testFirst) {
    char name[512];
    int length = std::snprintf(name, sizeof(name), "%s", baseName_);
    if (animated && length >= 0 && length < static_cast<int>(sizeof(name)))
        length += std::snprintf(name + length, sizeof(name) - static_cast<std::size_t>(length), "%04i", frame);
    if (mipLevel != 0 && length >= 0 && length < static_cast<int>(sizeof(name)))
        length += std::snprintf(name + length, sizeof(name) - static_cast<std::size_t>(length), "-m%02i", mipLevel);
    if (length >= 0 && length < static_cast<int>(sizeof(name)))
        std::snprintf(name + length, sizeof(name) - static_cast<std::size_t>(length), "%s", kQualitySuffix[quality]);
    if (std::strlen(name) >= kNameSize) return false;  // no texture name is that long
    TextureLibrary* library = textureLibrary();
    if (!library) return false;
    if (testFirst && !library->findOrCreate(name, 6, true)) return false;
    return attachByName(name, animated ? frame : 0, flags);
}

bool TextureLink::allocate(std::int32_t quality, std::int32_t mipLevel, std::uint32_t flags, bool testFirst,
                           bool quiet) {
    if (!enabled) return true;
    Log& log = engineLog();
    if (handler_) log.error(" Try to allocate texture [%s] twice", baseName_);
    if (quality < 0 || quality >= 3) return log.error("Invalid texture quality value");
    const bool animated = (flags & LinkAnimated) != 0;
    for (std::int32_t frame = 0;; ++frame) {
        bool ok = tryName(animated, frame, quality, mipLevel, flags, testFirst);
        if (!ok && quality != 1) ok = tryName(animated, frame, 1, mipLevel, flags, testFirst);
        if (!ok) {
            if (mipLevel == 0) break;
            ok = tryName(animated, frame, quality, 0, flags, testFirst);
            if (!ok) {
                if (quality == 1) break;
                if (!tryName(animated, frame, 1, 0, flags, testFirst)) break;
            }
        }
        if (!animated) break;
    }
    if (handler_) return true;
    if (!quiet) log.error(" Cannot allocate %s texture [%s]: Not found", animated ? "animated" : "", baseName_);
    return false;
}

bool TextureLink::allocateDefault(std::uint32_t flags, bool quiet) {
    const VideoSetup& mode = textureEnvironment().videoSetup();
    const std::int32_t quality = mode.res_width >= 800 && mode.quality != 0 ? mode.quality : 0;
    return allocate(quality, 0, flags, true, quiet);
}

void TextureLink::release(bool unloadWhenUnused) {
    if (!handler_ && frames_.empty()) return;
    auto detach = [&](DXTextureHandler* handler, std::int32_t frame) {
        if (!handler) return;
        const bool unload = unloadWhenUnused || handler->hasMovie();
        if (!detachHandler(handler, frame, unload)) engineLog().error(" Can't release texture [%s]", handler->name().c_str());
    };
    detach(handler_, 0);
    for (std::size_t i = 0; i < frames_.size(); ++i) detach(frames_[i], static_cast<std::int32_t>(i) + 1);
    std::vector<DXTextureHandler*>().swap(frames_);
    copyName(name_, baseName_);
    currentFrame = 0;
}

void TextureLink::bindToStage(std::uint32_t stage, std::int32_t filterClass, bool anisotropic) {
    if (!enabled) return;
    DXTextureHandler* handler = frameHandler(currentFrame);
    TextureEnvironment& environment = textureEnvironment();
    if (handler) {
        if (TextureLibrary::settings().enableTextureCaching && !(handler->flags & HandlerReloadFailed) &&
            !handler->texture) {
            handler->flags |= HandlerReloadFailed;
            if (handler->load()) handler->flags &= ~HandlerReloadFailed;
        }
        handler->lastUse = environment.now();
    }
    RenderCore* render = gameCore.render;
    if (!render || stage >= static_cast<std::uint32_t>(DXStateCache::kSamplers)) return;
    const int index = static_cast<int>(stage);
    // The texture goes to the shader core's pass record, which sets it on the
    // device before the next draw; only a changed texture is sent again.
    ShaderPassState& pass = render->shaders().pass;
    IDirect3DBaseTexture9* texture = handler ? handler->texture : nullptr;
    pass.textureSet[index] = 1;
    if (pass.textures[index] != texture) {
        pass.textures[index] = texture;
        pass.textureApplied[index] = 0;
    }
    // The sampler states are wanted values of the state cache: its apply
    // sends those that differ from what the device holds.
    using C = DXStateCache;
    DXStateCache& cache = render->stateCache();
    if (type == 1) {
        cache.setSampler(index, C::SamplerAddressU, D3DTADDRESS_WRAP);
        cache.setSampler(index, C::SamplerAddressV, D3DTADDRESS_WRAP);
        cache.setSampler(index, C::SamplerAddressW, D3DTADDRESS_WRAP);
    } else {
        cache.setSampler(index, C::SamplerAddressU, environment.textureAddress(addressU));
        cache.setSampler(index, C::SamplerAddressV, environment.textureAddress(addressV));
    }
    cache.setSampler(index, C::SamplerBorderColor, 0);
    const bool shaderDetail = environment.videoSetup().details != VideoDetailsMinimum;
    const TextureEnvironment::SamplerFilters filters =
        environment.samplerFilters(filterClass, anisotropic && shaderDetail);
    cache.setSampler(index, C::SamplerMinFilter, filters.min);
    cache.setSampler(index, C::SamplerMagFilter, filters.mag);
    cache.setSampler(index, C::SamplerMipFilter, filters.mip);
    cache.setSampler(index, C::SamplerMaxAnisotropy, filters.maxAnisotropy);
}

void TextureLink::bindToStageList(const std::int32_t* stages, std::int32_t filterClass, bool anisotropic) {
    for (int i = 0; stages && i < 8 && stages[i] >= 0; ++i)
        bindToStage(static_cast<std::uint32_t>(stages[i]), filterClass, anisotropic);
}

void TextureLink::bindToStageAllocating(std::uint32_t stage, std::int32_t filterClass, bool anisotropic,
                                        std::uint32_t flags) {
    if (!handler_) allocateDefault(flags, false);
    bindToStage(stage, filterClass, anisotropic);
}

void TextureLink::bindToStageListAllocating(const std::int32_t* stages, std::int32_t filterClass, bool anisotropic,
                                            std::uint32_t flags) {
    if (!handler_) allocateDefault(flags, false);
    bindToStageList(stages, filterClass, anisotropic);
}

void TextureLink::copy(const TextureLink& other) {
    enabled = other.enabled;
    type = other.type;
    addressU = other.addressU;
    addressV = other.addressV;
    option = other.option;
    std::memcpy(name_, other.name_, sizeof(name_));
    std::memcpy(baseName_, other.baseName_, sizeof(baseName_));
    handler_ = other.handler_;
    frames_ = other.frames_;
    currentFrame = other.currentFrame;
}

std::int32_t TextureLink::read(DataStream& stream) {
    Log& log = engineLog();
    std::int32_t total = 0;
    std::uint8_t present = 0;
    if (!addField(total, readU8(stream, present))) return total;
    enabled = present != 0;
    if (!enabled) return total;
    std::uint32_t storedType = 0;
    if (!addField(total, readU32(stream, storedType))) return total;
    if (storedType > 2) {
        log.error("Texture handler format broken");
        return -1;
    }
    type = storedType;
    std::uint32_t length = 0;
    if (!addField(total, readU32(stream, addressU)) || !addField(total, readU32(stream, addressV)) ||
        !addField(total, readU8(stream, option)) || !addField(total, readU32(stream, length)))
        return total;
    // The stored length counts the terminating zero and fits the name buffer.
    char name[kNameSize] = {};
    if (length == 0 || length > kNameSize) {
        log.error("Texture handler format broken");
        return -1;
    }
    if (!addField(total, readExact(stream, name, static_cast<std::int32_t>(length)))) return total;
    if (name[length - 1] != '\0') {
        log.error("Texture handler format broken");
        return -1;
    }
    if (name[0] == '\0') {
        log.error(" Found empty texture handler!!!");
        return -777;
    }
    // Stored names may carry capitals: a link's names are lower case.
    const std::string key = textureKey(name);
    copyName(name_, key.c_str());
    copyName(baseName_, key.c_str());
    return total;
}

std::int32_t TextureLink::write(DataStream& stream) const {
    std::int32_t total = 0;
    const std::uint8_t present = enabled ? 1 : 0;
    if (!addField(total, writeU8(stream, present)) || !enabled) return total;
    const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(baseName_)) + 1;
    if (!addField(total, writeU32(stream, type)) || !addField(total, writeU32(stream, addressU)) ||
        !addField(total, writeU32(stream, addressV)) || !addField(total, writeU8(stream, option)) ||
        !addField(total, writeU32(stream, length)))
        return total;
    addField(total, stream.write(baseName_, static_cast<std::int32_t>(length)));
    return total;
}

// ---- stored material ------------------------------------------------------

namespace {

std::int32_t readValue(DataStream& s, std::uint8_t& v) { return readU8(s, v); }
std::int32_t readValue(DataStream& s, std::uint32_t& v) { return readU32(s, v); }
std::int32_t readValue(DataStream& s, std::int32_t& v) { return readI32(s, v); }
std::int32_t readValue(DataStream& s, float& v) { return readF32(s, v); }
std::int32_t writeValue(DataStream& s, std::uint8_t v) { return writeU8(s, v); }
std::int32_t writeValue(DataStream& s, std::uint32_t v) { return writeU32(s, v); }
std::int32_t writeValue(DataStream& s, std::int32_t v) { return writeI32(s, v); }
std::int32_t writeValue(DataStream& s, float v) { return writeF32(s, v); }

// Calls field on every field of the head in stored order; false at the
// first failure.
template <class Field>
bool eachHeadField(MaterialHead& h, Field&& field) {
    bool ok = field(h.kind) && field(h.lightSetIndex) && field(h.word8);
    for (float& v : h.environmentFactor) ok = ok && field(v);
    for (float& v : h.specularFactor) ok = ok && field(v);
    ok = ok && field(h.float36) && field(h.groupBase) && field(h.overlay);
    for (std::uint8_t& v : h.bytes45) ok = ok && field(v);
    ok = ok && field(h.float48) && field(h.wantsBlending);
    for (std::uint8_t& v : h.bytes53) ok = ok && field(v);
    ok = ok && field(h.word56) && field(h.alphaSetting) && field(h.blendOverride) && field(h.faceMode) &&
         field(h.boneInfluences) && field(h.word76) && field(h.word80);
    for (std::uint32_t& v : h.words84) ok = ok && field(v);
    ok = ok && field(h.word96);
    for (std::uint32_t& v : h.words100) ok = ok && field(v);
    return ok;
}

}  // namespace

std::int32_t MaterialData::read(DataStream& stream) {
    std::int32_t total = 0;
    MaterialHead stored;
    if (!eachHeadField(stored, [&](auto& v) { return addField(total, readValue(stream, v)); })) return total;
    head = stored;
    for (TextureLink& link : links)
        if (!addField(total, link.read(stream))) return total;
    return total;
}

std::int32_t MaterialData::write(DataStream& stream) const {
    std::int32_t total = 0;
    MaterialHead stored = head;
    if (!eachHeadField(stored, [&](auto& v) { return addField(total, writeValue(stream, v)); })) return total;
    for (const TextureLink& link : links)
        if (!addField(total, link.write(stream))) return total;
    return total;
}

bool MaterialData::validateTextures() const {
    TextureLibrary* library = textureLibrary();
    bool valid = true;
    for (std::int32_t i = 0; i < kLinkCount; ++i) {
        if (!links[i].enabled) continue;
        if (!library || !library->findOrCreate(links[i].baseName(), 6, true))
            valid = engineLog().error("Invalid texture [%s]", textureKindName(i));
    }
    return valid;
}
