#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "effects/Particle.h"
#include "effects/ParticleData.h"
#include "effects/Sprite.h"
#include "foundation/Image.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/SettingsReader.h"
#include "foundation/TimeCore.h"
#include "render/DXTextureHandler.h"
#include "render/QuadBatch.h"
#include "render/RenderCore.h"
#include "render/states/DXStateCache.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameItem.h"
#include "ui/StillFrameSettings.h"

namespace {

constexpr std::size_t kNameLength = 127;
// One particle unit is this many still-frame pixels.
constexpr float kPixelsPerUnit = 100.0f;
constexpr float kScreenHeight = 768.0f;
// The mask is sampled every second pixel of the item, at most this grid.
constexpr std::int32_t kMaxMaskColumns = 512;
constexpr std::int32_t kMaxMaskRows = 384;

const char* const kEffectNames[ModeCount] = {"none",   "show",    "hide",    "move",    "mouse",   "resize",
                                             "rotate", "animate", "texture", "show_pp", "hide_pp", "scroll"};

std::string lowered(const char* name) {
    std::string held(name ? name : "", name ? std::min(std::strlen(name), kNameLength) : 0);
    std::transform(held.begin(), held.end(), held.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return held;
}

bool endsWith(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// A window coordinate above 1 is brought back by whole textures; the
// result lies in [0, 1]. No loop: a huge value would never get there one
// step at a time.
float intoTexture(float v) {
    if (!std::isfinite(v)) return 0.0f;
    if (v > 1.0f) v -= std::ceil(v - 1.0f);
    return std::clamp(v, 0.0f, 1.0f);
}

// The alpha (0 to 255) of a texel of the image kept for sampling: its alpha
// byte; an image without one is a grey mask (the brightest channel).
std::uint32_t alphaAt(const TgaImage& image, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p =
        image.pixels() + (static_cast<std::size_t>(y) * image.width + x) * image.bytesPerPixel;
    if (image.bytesPerPixel >= 4) return p[3];
    if (image.bytesPerPixel == 3) return std::max({p[0], p[1], p[2]});
    return p[0];
}

// The pose moved to the item's centre: 100 pixels a unit, y up from the
// screen's bottom.
Matrix34 atCentre(Matrix34 pose, const StillFrameScriptDataItem& owner, float halfWidth, float halfHeight) {
    pose.m[9] = (owner.x + halfWidth) / kPixelsPerUnit;
    pose.m[10] = (kScreenHeight - (owner.y + halfHeight)) / kPixelsPerUnit;
    pose.m[11] = 0.0f;
    return pose;
}

}  // namespace

StillFrameParticle::StillFrameParticle() = default;

StillFrameParticle::~StillFrameParticle() { release(); }

void StillFrameParticle::readSettings(IniFile& settings) {
    readSetting(settings.getCategory("particle"), "sf_particle_mask_update_period",
                stillFrameSettings.particleMaskUpdatePeriod, 0.3f);
}

void StillFrameParticle::release() {
    if (particle) {
        particle->release();
        particle.reset();
    }
    mask.source.link.release(false);
    playSet = pauseSet = 0;
    time = drawTime = -1.0;
    unreadableMask_ = nullptr;
}

bool StillFrameParticle::setParticle(StillFrameScriptDataItem& owner, const char* name) {
    const std::string wanted = lowered(name);
    if (particle && particle->effectRecord && lowered(particle->effectRecord->name) == wanted && !wanted.empty())
        return true;
    if (wanted.empty()) {
        release();
        return true;
    }
    if (particle) {
        particle->release();
        particle.reset();
    }
    time = drawTime = -1.0;
    halfWidth = owner.width * 0.5f;
    halfHeight = owner.height * 0.5f;
    Log& log = engineLog();
    const char* item = owner.name.c_str();
    ParticleDataManager* manager = particleDataManager();
    if (manager && effectResourceAvailable(".effect", wanted.c_str()))
        particle.reset(Particle::createForStillFrame(manager->getOrCreate(wanted.c_str(), true), item));
    if (!particle) return log.error("SF[%s]->setParticle: Can't create particle [%s]", item, wanted.c_str());
    // The particle emits over the item's image and draws "$source$" layers
    // with it.
    particle->emissionMask = true;
    particle->maskTexture = &owner.image.source.link;
    particle->sourceTexture = owner.image.source.link.baseName();
    if (!particle->registerInPVS(atCentre(matrix34Identity(), owner, halfWidth, halfHeight), false)) {
        particle.reset();
        return log.error("SF[%s]->setParticle: Can't initialize particle [%s]", item, wanted.c_str());
    }
    if (!particle->push()) {
        particle.reset();
        return log.error("SF[%s]->setParticle: Can't push particle [%s]", item, wanted.c_str());
    }
    if (particle->isHidden()) particle->setVisible(true, false);
    if (particle->state & kParticlePaused) particle->setPaused(false, false);
    particle->background = endsWith(owner.name, "_bg");
    return true;
}

bool StillFrameParticle::setEffect(const StillFrameScriptDataItem& owner, const char* name, bool on) {
    const std::string wanted = lowered(name);
    for (std::int32_t i = 0; i < ModeCount; ++i) {
        if (wanted != kEffectNames[i]) continue;
        const std::uint32_t bit = 1u << i;
        if (on) {
            playSet |= bit;
            pauseSet &= ~bit;
        } else {
            playSet &= ~bit;
            pauseSet |= bit;
        }
        return true;
    }
    return engineLog().error("Can't set undefined effect [%s] for [%s] Sf particle", name ? name : "",
                             owner.name.c_str());
}

bool StillFrameParticle::setRunning(bool pause) { return particle && particle->setPaused(pause, false); }

void StillFrameParticle::update(StillFrameScriptDataItem& owner, const CurrentTime& now, std::uint32_t activeModes) {
    if (!particle) return;
    halfWidth = owner.width * 0.5f;
    halfHeight = owner.height * 0.5f;
    particle->setPose(atCentre(particle->pose, owner, halfWidth, halfHeight));
    if (playSet || pauseSet) {
        for (std::int32_t i = 0; i < ModeCount; ++i) {
            const std::uint32_t bit = 1u << i;
            if (!(activeModes & bit)) continue;
            const bool paused = (particle->state & kParticlePaused) != 0;
            if (paused && (playSet & bit)) {
                particle->setPaused(false, true);
                particle->restart(now);
            } else if (!paused && (pauseSet & bit)) {
                particle->setPaused(true, true);
            }
        }
    }
    if (particle->state & kParticlePaused) return;
    // The particle mask's own texture when it has one, else the image's.
    TextureLink* link = mask.source.link.handler() ? &mask.source.link : particle->maskTexture;
    DXTextureHandler* handler = link ? link->frameHandler(link->currentFrame) : nullptr;
    if (!handler && link) handler = link->handler();
    // Without a mask that can be read the particle emits as its effect
    // says (a texture without an alpha image is tried once).
    if (!handler || handler == unreadableMask_) {
        particle->emissionMask = false;
        return;
    }
    // The rebuild samples a texture: it runs once a period.
    const double period = stillFrameSettings.particleMaskUpdatePeriod;
    if (particle->emissionMask && time >= 0.0 && now.real.time - time < period && now.real.time >= time) return;
    time = now.real.time;
    particle->emissionMask = rebuildSpawnList(owner, *handler);
    if (!particle->emissionMask) {
        unreadableMask_ = handler;
        particle->emissionPoints.clear();
    }
}

bool StillFrameParticle::rebuildSpawnList(const StillFrameScriptDataItem& owner, DXTextureHandler& handler) {
    std::vector<std::array<float, 3>>& places = particle->emissionPoints;
    places.clear();
    const float width = owner.width, height = owner.height;
    // An item without area has no place to emit from.
    if (!(width >= 2.0f) || !(height >= 2.0f) || !std::isfinite(width) || !std::isfinite(height)) return true;
    // A sample every second pixel, the grid capped for huge items.
    const auto columns = static_cast<std::int32_t>(std::min(width * 0.5f, float(kMaxMaskColumns)));
    const auto rows = static_cast<std::int32_t>(std::min(height * 0.5f, float(kMaxMaskRows)));
    // The texels kept for sampling (the alpha image of the texture).
    const TgaImage* kept = handler.imageBuffer();
    if (!kept || !kept->pixels() || kept->width == 0 || kept->height == 0 || kept->bytesPerPixel == 0 ||
        kept->block.size() < TgaImage::kHeaderSize + std::size_t(kept->width) * kept->height * kept->bytesPerPixel)
        return false;
    const TgaImage& image = *kept;
    const StillFrameItemImage& window = owner.image;
    const float left = intoTexture(window.left), top = intoTexture(window.top);
    const float spanU = intoTexture(window.width), spanV = intoTexture(window.height);
    for (std::int32_t r = 0; r < rows; ++r) {
        const float fy = (float(r) + 0.5f) / float(rows);
        for (std::int32_t c = 0; c < columns; ++c) {
            const float fx = (float(c) + 0.5f) / float(columns);
            // The right and bottom edges fall on the last texel.
            const float u = intoTexture(left + fx * spanU), v = intoTexture(top + fy * spanV);
            const auto tx = std::min(static_cast<std::uint32_t>(u * float(image.width)), image.width - 1);
            const auto ty = std::min(static_cast<std::uint32_t>(v * float(image.height)), image.height - 1);
            const std::uint32_t alpha = alphaAt(image, tx, ty);
            if (alpha == 0 || std::uint32_t(std::rand() % 255) > alpha) continue;
            places.push_back({(fx * width - halfWidth) / kPixelsPerUnit, -(fy * height - halfHeight) / kPixelsPerUnit,
                              0.0f});
        }
    }
    return true;
}

std::int32_t StillFrameParticle::draw(std::int32_t current, StillFrameData& data) {
    if (!particle) return StillFrameScriptDataItem::kNoLayer;
    if (current < layer) return layer;
    if (current > layer) return StillFrameScriptDataItem::kNoLayer;
    // The particle runs here, on the real clock for a backdrop's and on the
    // game clock otherwise, by the time passed since its last run.
    const CurrentTime sample(-1.0);
    const double clock = particle->background ? sample.real.time : sample.game.time;
    const double step = drawTime >= 0.0 && clock > drawTime ? clock - drawTime : 0.0;
    drawTime = clock;
    CurrentTime run = CurrentTime::copyWithStep(sample, step);
    run.game.time = clock;
    particle->updatePhase2(run, 0);
    if (particle->flush && gameCore.render) {
        // Over what lies below: the quads queued so far first, then the
        // particle in the still-frame screen's view.
        data.drawBatches(gameCore.render->quadBatch);
        D3DMATRIX view, projection;
        stillFrameScreenMatrices(view, projection);
        gameCore.render->stateCache().setTransform(DXStateCache::TransformView, view);
        gameCore.render->stateCache().setTransform(DXStateCache::TransformProjection, projection);
    }
    particle->render2D();
    return StillFrameScriptDataItem::kNoLayer;
}
