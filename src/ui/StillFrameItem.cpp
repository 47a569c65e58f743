#include "ui/StillFrameItem.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "input/InputCore.h"
#include "render/TextureLibrary.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameSettings.h"

namespace {

constexpr std::size_t kNameLength = 127;
// Rings of blur copies at most: each ring queues the item's quads again.
constexpr std::int32_t kMaxBlurRings = 16;
constexpr float kDegrees = 3.14159265358979f / 180.0f;

const char* const kEventNames[EventCount] = {
    "onMouseOver",       "onMouseOut",         "onMouseDown",        "onMouseUp",
    "onMouse1Down",      "onMouse1Up",         "onAction",           "onActionOver",
    "onActionOut",       "onActionLayerOver",  "onActionLayerOut",   "onPickerOver",
    "onPickerOut",       "onPlay",             "onStop",             "onRelease",
    "onScrollXShow",     "onScrollXHide",      "onScrollYShow",      "onScrollYHide",
    "onScrollXLimitEnter", "onScrollXLimitLeave", "onScrollYLimitEnter", "onScrollYLimitLeave",
};

const char* const kPostEffects[] = {"none", "bw", "sepia"};

// A drawn channel: 0.5 is the neutral value, so the channel is doubled.
float drawnChannel(float v) { return std::clamp(v * 2.0f, 0.0f, 1.0f); }

// A live item's identity for its invented name.
std::uint32_t gNextIdentity = 1;

}  // namespace

const char* stillFrameEventName(std::int32_t event) {
    return event >= 0 && event < EventCount ? kEventNames[event] : "?";
}

// ---- the image ----

const char* StillFrameImageSource::kindWord() const {
    if (flags & SourceVideo) return "video";
    if (flags & SourceAnimated) return "animated texture";
    return "texture";
}

bool StillFrameImageSource::ready() const { return link.frameHandler(link.currentFrame) != nullptr; }

bool StillFrameImageSource::allocate(const StillFrameScriptDataItem& item) {
    if (!textureEnvironment().device()) return false;
    if (!link.enabled || link.handler()) return true;
    // Animated textures attach every numbered frame; a video's texture is
    // the movie texture of its name.
    const std::uint32_t request = (flags & SourceVideo) ? 0x20000u : (flags & SourceAnimated) ? 0x10000u : 0u;
    if (!link.allocateDefault(request, true))
        return engineLog().error("Can't allocate %s [%s](%i) for stillframe [%s]", kindWord(), link.baseName(),
                                 requestedIndex, item.name.c_str());
    return true;
}

bool StillFrameItemImage::setSource(StillFrameScriptDataItem& item, const char* name, std::int32_t index) {
    const char* kind = source.kindWord();
    if (!name || !*name) return engineLog().error("Can't set empty %s name for stillframe [%s]", kind, item.name.c_str());
    const std::string wanted = textureKey(name);
    if (index == source.requestedIndex && wanted == source.link.baseName() && source.link.handler()) return true;
    source.requestedIndex = index;
    source.link.release(false);
    // Address mode 1 wraps, 0 clamps.
    source.link.init(name, 0, (source.flags & SourceWrapU) ? 1 : 0, (source.flags & SourceWrapV) ? 1 : 0, 0);
    source.link.currentFrame = 0;
    return source.allocate(item);
}

void StillFrameItemImage::scrollWindow() {
    const float t = static_cast<float>(time);
    left += scrollSpeed[0] * t;
    top += scrollSpeed[1] * t;
    width += scrollSpeed[2] * t;
    height += scrollSpeed[3] * t;
    // The window wraps around the texture instead of leaving it.
    if (width < left) left -= 1.0f;
    if (height < top) top -= 1.0f;
    if (left < 0.0f) left += 1.0f;
    if (top < 0.0f) top += 1.0f;
    time = 0.0;
}

void StillFrameItemImage::drawWindow(float& l, float& t, float& w, float& h) const {
    l = left;
    t = top;
    w = width;
    h = height;
    if (frame >= 0 && frameCount > 1) {
        w /= static_cast<float>(frameCount);
        l += static_cast<float>(frame) * w;
    }
}

std::int32_t StillFrameItemImage::sequenceIndex() const {
    if (framesPerSecond == 0.0f) return source.link.currentFrame;
    const std::int32_t count = source.textureCount();
    const auto index = static_cast<std::int32_t>(static_cast<float>(count) * sequencePosition);
    return std::clamp(index, 0, count - 1);
}

void StillFrameItemImage::reset() {
    left = top = 0.0f;
    width = height = 1.0f;
    source.link.release(false);
    source.requestedIndex = 0;
    time = 0.0;
    std::fill(std::begin(scrollSpeed), std::end(scrollSpeed), 0.0f);
    frame = 0;
    speed = frameCount = 0;
    loop = false;
    framesPerSecond = sequencePosition = 0.0f;
}

// ---- the animation ----

bool StillFrameAnimation::start(std::int32_t mode, float duration) {
    if (mode < 0 || mode >= ModeCount)
        return engineLog().scriptError("Invalid effect %d for sf [%s]", mode, owner.name.c_str());
    if (mode == ModeNone) {
        modes = 0;
        std::fill(std::begin(startValue), std::end(startValue), 0.0f);
        std::fill(std::begin(rate), std::end(rate), 0.0f);
        return true;
    }
    modes |= 1u << mode;
    startValue[mode] = -1.0f;
    rate[mode] = 1.0f / duration;
    const float alpha = owner.color[3];
    switch (mode) {
    case ModeShow:
        startValue[mode] = -1.0f - duration * alpha;
        modes &= ~(1u << ModeHide);
        break;
    case ModeHide:
        startValue[mode] = -1.0f - (1.0f - alpha) * duration;
        modes &= ~(1u << ModeShow);
        break;
    case ModeMove:
    case ModeTrace:
        moveDistance[0] = owner.x - mx;
        moveDistance[1] = owner.y - my;
        break;
    case ModeSize:
        sizeDifference[0] = owner.width - sx;
        sizeDifference[1] = owner.height - sy;
        break;
    case ModeRotate: rotationDifference = owner.angle - av; break;
    case ModeShowPostProcess:
        startValue[mode] = -1.0f - duration * postPower;
        modes &= ~(1u << ModeHidePostProcess);
        break;
    case ModeHidePostProcess:
        startValue[mode] = -1.0f - (1.0f - postPower) * duration;
        modes &= ~(1u << ModeShowPostProcess);
        break;
    case ModeScrollMove:
        scrollDistance[0] = -owner.scroll.x - mScrollX;
        scrollDistance[1] = -owner.scroll.y - mScrollY;
        break;
    default: break;
    }
    return true;
}

bool StillFrameAnimation::setPostProces(const char* name) {
    std::string held(name ? name : "", name ? std::min(std::strlen(name), kNameLength) : 0);
    std::transform(held.begin(), held.end(), held.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (std::int32_t i = 0; i < 3; ++i)
        if (held == kPostEffects[i]) {
            postEffect = i;
            return true;
        }
    std::string names;
    for (const char* effect : kPostEffects) names += std::string(" [") + effect + "]";
    if (names.size() > 1023) names.resize(1023);
    return engineLog().error("Invalid post-effect name for sf [%s]. POssible values:%s", owner.name.c_str(),
                             names.c_str());
}

double StillFrameAnimation::startTime(std::int32_t mode, double now) {
    // A start below 0 is a time relative to now: -1 is now itself.
    if (startValue[mode] < 0.0f) startValue[mode] = static_cast<float>(startValue[mode] + now + 1.0);
    return startValue[mode];
}

void StillFrameAnimation::update(double now) {
    StillFrameScriptDataItem& item = owner;
    auto running = [&](std::int32_t mode) { return (modes & (1u << mode)) != 0; };
    // Progress of a mode; a duration of 0 completes at its first update.
    auto progress = [&](std::int32_t mode, double& elapsed) {
        elapsed = now - startTime(mode, now);
        if (std::isinf(rate[mode])) return 1.0;
        return elapsed * rate[mode];
    };
    auto finish = [&](std::int32_t mode) { completed |= 1u << mode; };
    double elapsed = 0.0;
    if (running(ModeRotate)) {
        const double p = progress(ModeRotate, elapsed);
        if (p < 1.0) item.angle = static_cast<float>(av + (1.0 - p) * rotationDifference);
        else item.angle = av, finish(ModeRotate);
    }
    if (running(ModeTextureAnimate)) {
        const double p = progress(ModeTextureAnimate, elapsed);
        StillFrameItemImage& image = item.image;
        if (image.framesPerSecond != 0.0f) {
            float position = static_cast<float>(image.framesPerSecond * elapsed /
                                                (image.source.textureCount() + 1));
            if (!image.loop && position <= 0.0f) position = 0.0f;
            else if (!image.loop && position > 1.0f) position = 1.0f;
            else position -= std::floor(position);
            image.sequencePosition = position;
        }
        if (p >= 1.0) image.framesPerSecond = 0.0f, finish(ModeTextureAnimate);
    }
    if (running(ModeAnimate)) {
        const double p = progress(ModeAnimate, elapsed);
        StillFrameItemImage& image = item.image;
        // In doubles: a long-running strip must not overflow the frame number.
        if (image.frameCount != 0 && image.speed != 0)
            image.frame = static_cast<std::int32_t>(std::fmod(std::trunc(image.speed * elapsed), image.frameCount));
        if (p >= 1.0) finish(ModeAnimate);
    }
    if (running(ModeShow)) {
        const double p = progress(ModeShow, elapsed);
        item.setVisible(true);
        if (p < 1.0) item.color[3] = static_cast<float>(p);
        else item.color[3] = 1.0f, finish(ModeShow);
    }
    if (running(ModeHide)) {
        const double p = progress(ModeHide, elapsed);
        item.setVisible(true);
        if (p < 1.0) {
            item.color[3] = static_cast<float>(1.0 - p);
        } else {
            item.color[3] = 0.0f;
            item.setVisible(false);
            finish(ModeHide);
        }
    }
    if (running(ModeShowPostProcess)) {
        const double p = progress(ModeShowPostProcess, elapsed);
        if (p < 1.0) postPower = static_cast<float>(p);
        else postPower = 1.0f, finish(ModeShowPostProcess);
    }
    if (running(ModeHidePostProcess)) {
        const double p = progress(ModeHidePostProcess, elapsed);
        if (p < 1.0) postPower = static_cast<float>(1.0 - p);
        else postPower = 0.0f, finish(ModeHidePostProcess);
    }
    if (running(ModeMove)) {
        const double p = progress(ModeMove, elapsed);
        const StillFrameScriptDataItem* parent = item.link.parent;
        const bool scrolled = parent && (parent->scroll.controllerX || parent->scroll.controllerY ||
                                         parent->scroll.controllerXY);
        if (!scrolled) {
            if (p < 1.0) {
                item.x = static_cast<float>(mx + (1.0 - p) * moveDistance[0]);
                item.y = static_cast<float>(my + (1.0 - p) * moveDistance[1]);
            } else {
                item.x = mx;
                item.y = my;
            }
        }
        if (p >= 1.0) finish(ModeMove);
    }
    if (running(ModeScrollMove)) {
        const double p = progress(ModeScrollMove, elapsed);
        auto at = [&](float target, float distance) {
            return std::clamp(static_cast<float>(p < 1.0 ? target + (1.0 - p) * distance : target), 0.0f, 1.0f);
        };
        item.scroll.x = -at(mScrollX, scrollDistance[0]);
        item.scroll.y = -at(mScrollY, scrollDistance[1]);
        if (p >= 1.0) finish(ModeScrollMove);
    }
    if (running(ModeSize)) {
        const double p = progress(ModeSize, elapsed);
        if (p < 1.0) {
            item.width = static_cast<float>(sx + (1.0 - p) * sizeDifference[0]);
            item.height = static_cast<float>(sy + (1.0 - p) * sizeDifference[1]);
        } else {
            item.width = sx;
            item.height = sy;
            finish(ModeSize);
        }
    }
    if (running(ModeTrace) && gameCore.input) {
        progress(ModeTrace, elapsed);
        const InputVirtualPointer& pointer = gameCore.input->virtualDevices.pointer;
        const float dx = pointer.x + item.link.ax - item.x;
        const float dy = pointer.y + item.link.ay - item.y;
        const float length = std::sqrt(dx * dx + dy * dy);
        if (length > 1e-6f && rate[ModeTrace] != 0.0f) {
            const float step = static_cast<float>(elapsed / rate[ModeTrace]);
            item.x += dx / length * step;
            item.y += dy / length * step;
        }
    }
}

void StillFrameAnimation::reset() {
    completed = 0;
    postEffect = 0;
    postPower = 0.0f;
    std::fill(std::begin(startValue), std::end(startValue), 0.0f);
    std::fill(std::begin(rate), std::end(rate), 0.0f);
    modes = 0;
    blur = 0;
    blurSpeed = blurPower = 0.0f;
    mx = my = sx = sy = av = rotationDifference = mScrollX = mScrollY = 0.0f;
    moveDistance[0] = moveDistance[1] = sizeDifference[0] = sizeDifference[1] = 0.0f;
    scrollDistance[0] = scrollDistance[1] = 0.0f;
}

// ---- the item ----

StillFrameScriptDataItem::StillFrameScriptDataItem(const char* itemName) {
    if (itemName) {
        name.assign(itemName, std::min(std::strlen(itemName), kNameLength));
    } else {
        char invented[32];
        std::snprintf(invented, sizeof invented, "$auto0x%08X", gNextIdentity++);
        name = invented;
    }
    reset();
}

StillFrameScriptDataItem::~StillFrameScriptDataItem() {
    if (flags & ItemInHandler)
        engineLog().error("Image [%s] cannot delete self inside event handler. Delete method must be in 'release' "
                          "method.",
                          name.c_str());
}

void StillFrameScriptDataItem::reset() {
    flags = ItemVisible;
    x = y = rx = ry = angle = 0.0f;
    width = height = 64.0f;
    link = Link{};
    textGlyphs = 0;
    autoFlags = 0;
    text = ItemText{};
    shadow = Shadow{};
    particle.release();
    particle.layer = 2;
    particle.x = particle.y = particle.power = 0.0f;
    particle.mask.reset();
    scroll = Scroll{};
    animation.reset();
    tag = state = 0;
    number = 0.0f;
    layer = 0;
    color[0] = color[1] = color[2] = 0.5f;
    color[3] = 1.0f;
    image.reset();
    mask.reset();
    blend = 2;
}

void StillFrameScriptDataItem::releaseAttachments() {
    link = Link{};
    image.source.link.release(false);
    mask.source.link.release(false);
    text.release();
    textGlyphs = 0;
    shadow = Shadow{};
    particle.release();
    scroll = Scroll{};
    animation.reset();
    tag = state = 0;
    number = 0.0f;
}

bool StillFrameScriptDataItem::hasPointerHandler() const {
    for (std::int32_t e = EventMouseOver; e <= EventMouse1Up; ++e)
        if (!handlers[std::size_t(e)].empty()) return true;
    return false;
}

bool StillFrameScriptDataItem::update(const CurrentTime& time, StillFrameData& data) {
    if (flags & ItemUpdated) return true;
    // An item left out while invisible counts as updated, so that its
    // children are not held back.
    if (!visible() && (image.source.flags & SourceSkipInvisible)) {
        flags |= ItemUpdated;
        return true;
    }
    if (!link.checkParent(*this)) return false;
    // The events below may run another item's handler (a text label's go
    // to its parent): this item is not deleted while its update runs.
    const bool wasRunning = (flags & ItemInHandler) != 0;
    flags |= ItemInHandler;
    // No movie decoder is linked: a video source has stopped at once.
    if ((image.source.flags & SourceVideo) && image.source.link.enabled) {
        image.source.link.release(false);
        image.source.link.enabled = false;
        data.sendEvent(this, EventAction);
    }
    // The link places the item first: the modes ("Move", "Size" ...) then
    // act on the placed rectangle.
    link.resolve(*this, x, y);
    image.time += time.real.step;
    mask.time += time.real.step;
    if (animation.modes) animation.update(time.real.time);
    // The modes of this frame, those that just completed among them.
    const std::uint32_t activeModes = animation.modes;
    const std::uint32_t done = animation.completed;
    animation.completed = 0;
    for (std::int32_t mode = 0; done && mode < ModeCount; ++mode) {
        if (!(done & (1u << mode))) continue;
        animation.startValue[mode] = 0.0f;
        animation.rate[mode] = 0.0f;
        animation.modes &= ~(1u << mode);
        data.sendEvent(this, EventAction);
    }
    if (scroll.any()) scroll.update(*this, data);
    if (visible()) particle.update(*this, time, activeModes);
    if (!wasRunning) flags &= ~ItemInHandler;
    flags |= ItemUpdated;
    return true;
}

void StillFrameScriptDataItem::queueQuads(StillFrameData& data, const float* offset, float alphaFactor,
                                          bool postEffect) const {
    StillFrameQuad quad;
    float l, t, w, h;
    image.drawWindow(l, t, w, h);
    quad.texCoordTransforms[0].scale[0] = w;
    quad.texCoordTransforms[0].scale[1] = h;
    quad.texCoordTransforms[0].offset[0] = l;
    quad.texCoordTransforms[0].offset[1] = t;
    mask.drawWindow(l, t, w, h);
    quad.texCoordTransforms[1].scale[0] = w;
    quad.texCoordTransforms[1].scale[1] = h;
    quad.texCoordTransforms[1].offset[0] = l;
    quad.texCoordTransforms[1].offset[1] = t;
    quad.angle = angle;
    quad.pivot[0] = rx;
    quad.pivot[1] = ry;
    quad.key = layer;
    quad.state.textures[0] = const_cast<TextureLink*>(&image.source.link);
    quad.state.textures[1] = mask.source.link.enabled ? const_cast<TextureLink*>(&mask.source.link) : nullptr;
    quad.state.values[0] = blend;
    quad.state.values[1] = image.source.flags | (mask.source.flags << 16);
    if (postEffect) {
        quad.state.mode = static_cast<std::uint32_t>(animation.postEffect);
        quad.state.factor = animation.postPower;
    }
    // Text draws its glyph quads (the shadow as well).
    if (textGlyphs > 0 && !text.quads.empty()) {
        quad.frames = text.quads.data();
        quad.frameCount = static_cast<std::int32_t>(text.quads.size());
    }
    if (shadow.color[3] > 0.0f) {
        quad.position[0] = x + float(shadow.dx) + offset[0];
        quad.position[1] = y + float(shadow.dy) + offset[1];
        quad.widthFactor = width + float(shadow.dw);
        quad.heightFactor = height + float(shadow.dh);
        for (int i = 0; i < 3; ++i) quad.color[i] = drawnChannel(shadow.color[i]);
        quad.alpha = shadow.color[3] * alphaFactor;
        data.queueQuad(quad);
    }
    quad.position[0] = x + offset[0];
    quad.position[1] = y + offset[1];
    quad.widthFactor = width;
    quad.heightFactor = height;
    for (int i = 0; i < 3; ++i) quad.color[i] = drawnChannel(color[i]);
    quad.alpha = color[3] * alphaFactor;
    data.queueQuad(quad);
}

std::int32_t StillFrameScriptDataItem::draw(std::int32_t current, StillFrameData& data, double now,
                                            bool postProcessing, bool fixedPipeline) {
    if (!visible() || !image.source.ready()) return kNoLayer;
    if (layer != current) return std::min(layer > current ? layer : kNoLayer, particle.draw(current, data));
    // At a shared layer the particle draws over its item's quads.
    if (color[3] == 0.0f) return particle.draw(current, data);
    image.scrollWindow();
    mask.scrollWindow();
    image.source.link.currentFrame = image.sequenceIndex();
    const bool postEffect = !fixedPipeline && animation.postPower > 0.0f;
    static constexpr float kNoOffset[2] = {0.0f, 0.0f};
    queueQuads(data, kNoOffset, 1.0f, postEffect);
    if (postProcessing && animation.blur != 0) {
        float radius = stillFrameSettings.blurOffsetPowerMultiplier * animation.blurPower;
        if (animation.blurSpeed != 0.0f)
            radius = static_cast<float>(radius * std::sin(animation.blurSpeed * (now + 0.5)) *
                                        std::cos(animation.blurSpeed * now));
        // The eight neighbours of each ring, the diagonals at unit length.
        constexpr float kDiagonal = 0.70710678f;
        static constexpr float kDirections[8][2] = {{-kDiagonal, -kDiagonal}, {-1.0f, 0.0f}, {0.0f, -1.0f},
                                                    {kDiagonal, -kDiagonal},  {1.0f, 0.0f},  {kDiagonal, kDiagonal},
                                                    {0.0f, 1.0f},             {-kDiagonal, kDiagonal}};
        const std::int32_t rings = std::min(std::abs(animation.blur), kMaxBlurRings);
        for (std::int32_t k = 1; k <= rings; ++k) {
            const float factor = 1.0f / float(2 * k + 1);
            for (const auto& d : kDirections) {
                const float offset[2] = {d[0] * float(k) * radius, d[1] * float(k) * radius};
                queueQuads(data, offset, factor, postEffect);
            }
        }
    }
    return particle.draw(current, data);
}

bool StillFrameScriptDataItem::hitTest(float px, float py) const {
    // A rectangle without area has no inside (and no inverse transform).
    if (!(width != 0.0f && height != 0.0f) || !std::isfinite(width) || !std::isfinite(height)) return false;
    // Into the item's unturned rectangle: about its centre shifted by the
    // rotation centre offset, then into its unit square.
    const float cx = width * 0.5f + rx, cy = height * 0.5f + ry;
    const float qx = px - x - cx, qy = py - y - cy;
    const float c = std::cos(angle * kDegrees), s = std::sin(angle * kDegrees);
    const float ux = qx * c + qy * s + cx, uy = -qx * s + qy * c + cy;
    const float lx = ux / width - 0.5f, ly = uy / height - 0.5f;
    if (!(lx > -0.5f && lx < 0.5f && ly > -0.5f && ly < 0.5f)) return false;
    if (!(flags & ItemAlphaTest)) return true;
    float l, t, w, h;
    image.drawWindow(l, t, w, h);
    DXTextureHandler* handler = image.source.link.frameHandler(image.sequenceIndex());
    if (!handler) return false;
    std::uint32_t value = 0;
    return handler->pixel(l + (lx + 0.5f) * w, t + (ly + 0.5f) * h, true, value) && value > 0;
}
