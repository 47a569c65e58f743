#include "render/QuadBatch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "effects/ParticlePoint.h"
#include "foundation/Math.h"
#include "model/VertexStreamFormat.h"
#include "platform/d3d9/ShaderBody.h"
#include "render/DXTextureHandler.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "render/TextureLink.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"
#include "ui/StillFrameItem.h"

namespace {

constexpr std::int32_t kVerticesPerPrimitive[3] = {1, 2, 3};
constexpr D3DPRIMITIVETYPE kPrimitiveTypes[3] = {D3DPT_POINTLIST, D3DPT_LINELIST, D3DPT_TRIANGLELIST};

}  // namespace

static_assert(vertexStrideOf(std::int32_t(kQuadVertexFormat)) == sizeof(QuadVertex),
              "the batch vertex has the layout of its vertex format");

namespace {

// The default camera when there is none: at the origin looking along +z,
// a 90-degree view of a 4:3 screen.
void defaultCamera(D3DMATRIX& view, D3DMATRIX& projection) {
    view = identityMatrix();
    std::memset(&projection, 0, sizeof projection);
    projection.m[0][0] = 0.75f;
    projection.m[1][1] = 1.0f;
    projection.m[2][2] = 1.0f;
    projection.m[2][3] = 1.0f;
    projection.m[3][2] = -0.1f;
}

DXTextureHandler* currentHandler(const TextureLink* link) {
    return link ? link->frameHandler(link->currentFrame) : nullptr;
}

std::uint32_t packColour(const float* rgb, float alpha) {
    auto byte = [](float v) { return std::uint32_t(v <= 0.0f ? 0 : v >= 1.0f ? 255 : v * 255.0f); };
    return (byte(std::min(alpha, 1.0f)) << 24) | (byte(rgb[0]) << 16) | (byte(rgb[1]) << 8) | byte(rgb[2]);
}

D3DCOLORVALUE grey(float v, float a) { return D3DCOLORVALUE{v, v, v, a}; }

// The still-frame post effects: the item's texture times its vertex colour,
// then turned grey ("bw", 1) or brown ("sepia", 2) by the effect's power.
// Constants: vertex c0-c3 the screen matrix (one column a register), pixel
// c0 x the effect, y its power. Sampler 0 the item's image.
constexpr std::int32_t kEffectSourceId = 270;
const char* const kEffectSource = R"glsl(
#if defined(VS_SF_EFFECT)
#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
void main() {
    gl_Position = vec4(d3d_Position.xyz, 1.0) * mWorldViewProjection;
    d3d_Diffuse = d3d_Color0;
    d3d_Texture[0] = vec4(d3d_TexCoord0.xy, 0.0, 1.0);
}
#else
#define vEffect pc[0]  // float4 : c0
layout(binding = 0) uniform sampler2D sImage;
void main() {
    vec4 c = texture(sImage, d3d_Texture[0].xy) * d3d_Diffuse;
    float g = dot(c.rgb, vec3(0.299, 0.587, 0.114));
    vec3 filtered = vEffect.x > 1.5 ? g * vec3(1.07, 0.74, 0.43) : vec3(g);
    d3d_FragColor = vec4(mix(c.rgb, clamp(filtered, 0.0, 1.0), clamp(vEffect.y, 0.0, 1.0)), c.a);
}
#endif
)glsl";

std::vector<std::uint8_t> effectBody(std::uint8_t kind) {
    platform::d3d9::ShaderBody body;
    body.kind = kind;
    body.profile = kind == 0 ? "vs_2_0" : "ps_2_0";
    body.entryPoint = kind == 0 ? "VS_SF_EFFECT" : "PS_SF_EFFECT";
    body.sourceId = kEffectSourceId;
    body.defines = {{body.entryPoint, "1"}};
    return platform::d3d9::writeShaderBody(body);
}

}  // namespace

void stillFrameScreenMatrices(D3DMATRIX& view, D3DMATRIX& projection) {
    view = identityMatrix();
    projection = identityMatrix();
    projection.m[0][0] = 2.0f / 1024.0f;
    projection.m[1][1] = -2.0f / 768.0f;
    projection.m[3][0] = -1.0f;
    projection.m[3][1] = 1.0f;
}

QuadBatch::~QuadBatch() { release(); }

void QuadBatch::releaseEffectPrograms() {
    if (effectVertex_) effectVertex_->Release();
    if (effectPixel_) effectPixel_->Release();
    effectVertex_ = nullptr;
    effectPixel_ = nullptr;
    effectDevice_ = nullptr;
}

bool QuadBatch::applyItemEffect(IDirect3DDevice9* device) {
    if (!state_ || state_->mode == 0 || state_->mode > 2 || !(state_->factor > 0.0f)) return false;
    if (!shaders_ || shaders_->fixedPipeline() || !device) return false;
    if (effectDevice_ != device) {
        releaseEffectPrograms();
        if (!platform::d3d9::shaderSource(kEffectSourceId)) platform::d3d9::registerShaderSource(kEffectSourceId, kEffectSource);
        const auto vertex = effectBody(0), pixel = effectBody(1);
        if (FAILED(device->CreateVertexShader(reinterpret_cast<const DWORD*>(vertex.data()), &effectVertex_)))
            effectVertex_ = nullptr;
        if (FAILED(device->CreatePixelShader(reinterpret_cast<const DWORD*>(pixel.data()), &effectPixel_)))
            effectPixel_ = nullptr;
        effectDevice_ = device;
    }
    if (!effectVertex_ || !effectPixel_) return false;
    D3DMATRIX view, projection;
    stillFrameScreenMatrices(view, projection);
    // The screen matrix is the projection (the view is the identity); the
    // registers take its columns.
    float columns[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) columns[c * 4 + r] = projection.m[r][c];
    device->SetVertexShaderConstantF(0, columns, 4);
    const float effect[4] = {float(state_->mode), state_->factor, 0.0f, 0.0f};
    device->SetPixelShaderConstantF(0, effect, 1);
    cache_->setVertexShader(effectVertex_);
    cache_->setPixelShader(effectPixel_);
    return true;
}

bool QuadBatch::release() {
    releaseEffectPrograms();
    used_ = drawn_ = 0;
    kind_ = KindNone;
    material_ = nullptr;
    state_ = nullptr;
    flags = flags ? FlagNewRun : 0u;
    lightsSet_ = false;
    if (!buffer_) return false;
    unlock();
    // The cache must not take a later buffer at the same address for this one.
    if (cache_) cache_->forgetStream(buffer_);
    buffer_->Release();
    buffer_ = nullptr;
    return true;
}

void QuadBatch::forgetMaterial(const Material* material) {
    if (!material || material != material_) return;
    if (pending()) flush();
    material_ = nullptr;
    flags |= FlagNewRun;
}

void QuadBatch::resetCounters() {
    used_ = drawn_ = 0;
    kind_ = KindNone;
    material_ = nullptr;
    state_ = nullptr;
    flags &= FlagNewRun;
}

bool QuadBatch::createBuffer(IDirect3DDevice9* device) {
    // A fresh buffer holds no run; the caller's space flags stand.
    used_ = drawn_ = 0;
    kind_ = KindNone;
    material_ = nullptr;
    state_ = nullptr;
    if (!device) return false;
    if (FAILED(device->CreateVertexBuffer(kCapacity * kVertexBytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                          D3DPOOL_DEFAULT, &buffer_, nullptr))) {
        buffer_ = nullptr;
        return false;
    }
    buffer_->SetDebugName("quad batch vertex buffer");
    return true;
}

QuadVertex* QuadBatch::lock(DWORD lockFlags, std::int32_t first, std::int32_t count) {
    // Only the range written is locked, so that an unlock moves no more
    // than the new vertices to the device.
    void* data = nullptr;
    if (FAILED(buffer_->Lock(UINT(first * kVertexBytes), UINT(count * kVertexBytes), &data, lockFlags))) return nullptr;
    locked_ = true;
    return static_cast<QuadVertex*>(data);
}

bool QuadBatch::unlock() {
    if (!buffer_) return false;
    if (!locked_) return true;
    locked_ = false;
    return SUCCEEDED(buffer_->Unlock());
}

bool QuadBatch::canMerge(const StillFrameItemState& a, const StillFrameItemState& b) {
    if (a.mode != b.mode || a.factor != b.factor) return false;
    for (int i = 0; i < 2; ++i)
        if (currentHandler(a.textures[i]) != currentHandler(b.textures[i])) return false;
    return a.values[0] == b.values[0] && a.values[1] == b.values[1];
}

bool QuadBatch::addVertices(std::int32_t kind, const float* texCoords0, const float* texCoords1,
                            const float* positions, const float* normals, std::int32_t count,
                            const std::uint32_t* colours, std::int32_t colourCount, Material* material,
                            const StillFrameItemState* state) {
    if (kind < KindPoints || kind > KindTriangles || count < 0) return false;
    // Every vertex takes a colour entry: a run without colours has none to take.
    if (!colours || colourCount <= 0) return false;
    if (!buffer_ && !createBuffer(cache_ ? cache_->device() : nullptr)) return false;
    if (count > kCapacity) return false;

    const bool materialMatch =
        material == material_ || (material && material_ && material->sameAs(*material_));
    const bool stateMatch = state == state_ || (state && state_ && canMerge(*state, *state_));
    QuadVertex* vertices = nullptr;
    if ((kind_ == KindNone || kind_ == kind) && !(flags & FlagNewRun) && materialMatch && stateMatch) {
        if (kCapacity - used_ < count) {
            flags |= FlagNewRun;
            const bool flushed = flush();
            flags &= ~FlagNewRun;
            used_ = drawn_ = 0;
            if (!flushed) return false;
            vertices = lock(D3DLOCK_DISCARD, 0, count);
        } else {
            vertices = lock(D3DLOCK_NOOVERWRITE, used_, count);
        }
    } else {
        const bool flushed = flush();
        flags &= ~FlagNewRun;
        used_ = drawn_ = 0;
        if (!flushed) return false;
        vertices = lock(D3DLOCK_DISCARD, 0, count);
    }
    if (!vertices) return false;

    QuadVertex* out = vertices;
    for (std::int32_t i = 0; i < count; ++i, ++out) {
        std::memcpy(out->position, positions + 3 * i, sizeof out->position);
        if (normals) std::memcpy(out->normal, normals + 3 * i, sizeof out->normal);
        else std::memset(out->normal, 0, sizeof out->normal);
        out->diffuse = colours[std::min(i, colourCount - 1)];
        if (texCoords0) std::memcpy(out->texCoord0, texCoords0 + 2 * i, sizeof out->texCoord0);
        else std::memset(out->texCoord0, 0, sizeof out->texCoord0);
        if (texCoords1) std::memcpy(out->texCoord1, texCoords1 + 2 * i, sizeof out->texCoord1);
        else std::memset(out->texCoord1, 0, sizeof out->texCoord1);
    }
    used_ += count;
    if (!unlock()) return false;
    kind_ = kind;
    material_ = material;
    state_ = state;
    return true;
}

void QuadBatch::applyLights(DXStateCache& cache) {
    if (!lightsSet_) {
        // Three directional lights along the current camera's axes, kept
        // for the rest of the run of the program.
        const RenderCore* render = gameCore.render;
        float m[16];
        if (render && render->cameraFrame.valid) std::memcpy(m, render->cameraFrame.world, sizeof m);
        else for (int i = 0; i < 16; ++i) m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
        const float axes[3][3] = {{-m[8], -m[9], -m[10]}, {m[0], m[1], m[2]}, {m[4], m[5], m[6]}};
        const float levels[3] = {0.1f, 0.25f, 0.1f};
        for (int i = 0; i < 3; ++i) {
            D3DLIGHT9& light = lights_[i];
            std::memset(&light, 0, sizeof light);
            light.Type = D3DLIGHT_DIRECTIONAL;
            light.Diffuse = grey(levels[i], 1.0f);
            light.Direction = D3DVECTOR{axes[i][0], axes[i][1], axes[i][2]};
            light.Position = D3DVECTOR{m[12], m[13], m[14]};
            light.Range = 500.0f;
            light.Attenuation0 = 1.0f;
        }
        lightsSet_ = true;
    }
    D3DMATERIAL9 material{};
    material.Diffuse = D3DCOLORVALUE{0.5f, 0.5f, 0.5f, 0.8f};
    material.Ambient = grey(1.0f, 1.0f);
    cache.setMaterial(material);
    for (int i = 0; i < 3; ++i) {
        cache.setLight(i, lights_[i]);
        cache.enableLight(i, true);
    }
    cache.setRender(DXStateCache::RsLighting, 1);
}

namespace {

// The pass record's cull and blend modes, applied again at the next draw.
void setCullAndBlend(ShaderPassState& pass, std::int32_t cull, std::int32_t blend) {
    pass.cullMode = cull;
    pass.cullApplied = 0;
    pass.blendMode = blend;
    pass.blendApplied = 0;
}

// Stage 0 modulates texture and vertex colour (or, untextured, passes the
// vertex colour); stage 1 is off.
void modulateStageZero(DXStateCache& cache, bool textured) {
    using C = DXStateCache;
    const std::uint32_t op = textured ? D3DTOP_MODULATE : D3DTOP_SELECTARG2;
    cache.setStage(0, C::StageColorOp, op);
    cache.setStage(0, C::StageColorArg1, D3DTA_TEXTURE);
    cache.setStage(0, C::StageColorArg2, D3DTA_DIFFUSE);
    cache.setStage(0, C::StageAlphaOp, op);
    cache.setStage(0, C::StageAlphaArg1, D3DTA_TEXTURE);
    cache.setStage(0, C::StageAlphaArg2, D3DTA_DIFFUSE);
    cache.setStage(0, C::StageTexCoordIndex, 0);
    cache.setStage(0, C::StageResultArg, D3DTA_CURRENT);
    cache.setStage(1, C::StageColorOp, D3DTOP_DISABLE);
    cache.setStage(1, C::StageAlphaOp, D3DTOP_DISABLE);
}

}  // namespace

void QuadBatch::applyRunStates() {
    using C = DXStateCache;
    DXStateCache& cache = *cache_;
    ShaderCore& shaders = *shaders_;
    const RenderCore* render = gameCore.render;
    ShaderPassState& pass = shaders.pass;
    if (material_) {
        // Diffuse on sampler 0, the light map on sampler 1.
        material_->apply(nullptr, false, nullptr, &pass, 0x3);
        modulateStageZero(cache, true);
    } else if (state_) {
        // The still-frame drawing: the item's texture times its colour.
        shaders.resetPass();
        setCullAndBlend(pass, 0, std::int32_t(state_->values[0]));
        TextureLink* image = state_->textures[0];
        const bool textured = currentHandler(image) != nullptr;
        if (textured) image->bindToStage(0, 0, false);
        else pass.setTexture(0, nullptr);
        modulateStageZero(cache, textured);
    } else {
        // No texture: the vertex colour alone.
        pass.setTexture(0, nullptr);
        modulateStageZero(cache, false);
        cache.setStage(1, C::StageTexCoordIndex, 0);
        cache.setStage(1, C::StageResultArg, D3DTA_CURRENT);
    }
    // No programs: the fixed pipeline draws the batch, except an item's
    // post effect.
    shaders.selectPrograms(nullptr, nullptr);
    if (!applyItemEffect(cache.device())) {
        cache.setVertexShader(nullptr);
        cache.setPixelShader(nullptr);
    }
    pass.cullMode = 0;
    pass.cullApplied = 0;
    if (!material_ && !state_) {
        pass.alphaMode = 0;
        pass.alphaApplied = 0;
        setCullAndBlend(pass, 0, (flags & FlagBlend8) ? 8 : (flags & FlagBlend10) ? 10 : 2);
        pass.fogMode = 0;
        pass.depthFunction = (flags & FlagDepthAlways) ? 1 : 6;
        pass.depthApplied = 0;
    }
    if (flags & FlagSecondDraw) setCullAndBlend(pass, 1, 3);

    cache.setTransform(C::TransformWorld, identityMatrix());
    if (!(flags & FlagParticles2D)) {
        D3DMATRIX view, projection;
        if (state_) {
            stillFrameScreenMatrices(view, projection);
        } else if (render && render->cameraFrame.valid) {
            std::memcpy(&view, render->cameraFrame.view, sizeof view);
            std::memcpy(&projection, render->cameraFrame.projection, sizeof projection);
        } else {
            defaultCamera(view, projection);
        }
        cache.setTransform(C::TransformView, view);
        cache.setTransform(C::TransformProjection, projection);
    }

    D3DMATERIAL9 cached{};
    cached.Ambient = grey(1.0f, 1.0f);
    cache.setMaterial(cached);
    cache.setRender(C::RsAmbientMaterialSource, D3DMCS_COLOR1);
    for (int i = 0; i < DXStateCache::kLights; ++i) cache.enableLight(i, false);
    cache.setRender(C::RsLighting, 0);
    cache.setRender(C::RsColorVertex, 1);
    cache.setRender(C::RsFillMode, D3DFILL_SOLID);
    cache.setRender(C::RsAmbient, 0xFFFFFFFF);
    if (flags & FlagLit) applyLights(cache);
    if (flags & FlagSolid) cache.setRender(C::RsFillMode, D3DFILL_SOLID);
}

bool QuadBatch::flush() {
    if (kind_ == KindNone || drawn_ == used_) return true;
    if (!unlock()) return false;
    IDirect3DDevice9* device = cache_ ? cache_->device() : nullptr;
    if (!device || !shaders_) return false;
    applyRunStates();
    cache_->setDeclaration(kQuadVertexFormat);
    cache_->setStream(buffer_, kVertexBytes);
    // The pass states, the current programs (none here) and the cache.
    shaders_->prepareDraw();
    const UINT primitives = UINT((used_ - drawn_) / kVerticesPerPrimitive[kind_]);
    bool drawnOk = SUCCEEDED(device->DrawPrimitive(kPrimitiveTypes[kind_], UINT(drawn_), primitives));
    if (flags & FlagSecondDraw) {
        using C = DXStateCache;
        setCullAndBlend(shaders_->pass, 2, 2);
        cache_->setRender(C::RsTextureFactor, 0x80FFFFFF);
        cache_->setStage(0, C::StageAlphaOp, D3DTOP_SELECTARG1);
        cache_->setStage(0, C::StageAlphaArg1, D3DTA_TFACTOR);
        shaders_->prepareDraw();
        drawnOk = SUCCEEDED(device->DrawPrimitive(kPrimitiveTypes[kind_], UINT(drawn_), primitives)) && drawnOk;
    }
    drawn_ = used_;
    kind_ = KindNone;
    cache_->setRender(DXStateCache::RsColorVertex, 0);
    cache_->setRender(DXStateCache::RsAmbientMaterialSource, 0);
    return drawnOk;
}

void QuadBatch::drawList(std::vector<StillFrameQuad>& quads) {
    flags |= FlagNewRun;
    flush();
    for (const StillFrameQuad& record : quads) {
        const StillFrameQuad* item = &record;
        const std::int32_t frames = item->frames && item->frameCount > 0 ? item->frameCount : 1;
        for (std::int32_t q = 0; q < frames; ++q) {
            if (flags & FlagParticles2D) {
                flags |= FlagNewRun;
                flush();
            }
            flags &= ~FlagParticles2D;
            float corner[4] = {0.0f, 0.0f, 1.0f, 1.0f};  // x0, y0, x1, y1
            float uv[4] = {0.0f, 0.0f, 1.0f, 1.0f};
            if (item->frames && item->frameCount > 0) {
                const StillFrameFrame& frame = item->frames[q];
                for (int i = 0; i < 4; ++i) corner[i] = frame.rect[i] + 0.5f;
                std::memcpy(uv, frame.texCoords, sizeof uv);
            }
            corner[0] *= item->widthFactor;
            corner[2] *= item->widthFactor;
            corner[1] *= item->heightFactor;
            corner[3] *= item->heightFactor;
            const float centreX = (corner[0] + corner[2]) * 0.5f + item->pivot[0];
            const float centreY = (corner[1] + corner[3]) * 0.5f + item->pivot[1];
            const float radians = item->angle * 3.14159265358979f / 180.0f;
            const float c = std::cos(radians), s = std::sin(radians);
            static constexpr int kCorners[6][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 1}, {1, 0}, {1, 1}};
            float positions[18], coords0[12], coords1[12];
            for (int v = 0; v < 6; ++v) {
                const float x = corner[kCorners[v][0] * 2] - centreX;
                const float y = corner[kCorners[v][1] * 2 + 1] - centreY;
                positions[3 * v + 0] = centreX + x * c - y * s + item->position[0];
                positions[3 * v + 1] = centreY + x * s + y * c + item->position[1];
                positions[3 * v + 2] = 0.0f;
                float u = uv[kCorners[v][0] * 2], w = uv[kCorners[v][1] * 2 + 1];
                float u1 = u, w1 = w;
                item->texCoordTransforms[0].apply(u, w);
                item->texCoordTransforms[1].apply(u1, w1);
                coords0[2 * v] = u;
                coords0[2 * v + 1] = w;
                coords1[2 * v] = u1;
                coords1[2 * v + 1] = w1;
            }
            const std::uint32_t colour = packColour(item->color, item->alpha);
            addVertices(KindTriangles, coords0, coords1, positions, nullptr, 6, &colour, 1, nullptr, &item->state);
        }
    }
    flags |= FlagNewRun;
    flush();
    state_ = nullptr;
    quads.clear();
}

namespace {

// out = a * fa + b * fb (3 floats).
void combine(const float* a, float fa, const float* b, float fb, float* out) {
    for (int i = 0; i < 3; ++i) out[i] = a[i] * fa + b[i] * fb;
}
// Scales v to unit length; false when it has no length to speak of.
bool unit(float* v) {
    if (!(vector3Length(v) > 1e-6f)) return false;
    vector3Normalize(v);
    return true;
}

// The right and up axes of a point's quad. camera: the camera's world
// matrix (rows right, up, forward, position). A mode whose direction is
// missing (no velocity, a point straight above or below the camera, a
// vertical axis for the horizontal mode) falls back to the screen axes.
void spriteAxes(const ParticlePoint& p, std::int32_t mode, const float* camera, float* right, float* up) {
    static constexpr float kUp[3] = {0.0f, 1.0f, 0.0f};
    // A pair of axes turned in their plane by the point's axis (sin, cos of its angle).
    auto turned = [&](const float* x, const float* y) {
        combine(x, p.axis[0], y, p.axis[1], up);
        combine(x, p.axis[1], y, -p.axis[0], right);
    };
    switch (mode) {
        case SpriteFacingCamera: {
            float d[3];
            combine(p.worldPosition, 1.0f, camera + 12, -1.0f, d);
            vector3Cross(kUp, d, right);
            if (unit(d) && unit(right)) {
                vector3Cross(d, right, up);
                return;
            }
            break;
        }
        case SpriteAlongVelocity:
        case SpriteAlongVelocity2:
            std::memcpy(up, p.worldVelocity, sizeof p.worldVelocity);
            vector3Cross(up, camera + 8, right);
            if (unit(up) && unit(right)) return;
            break;
        case SpriteOwnPose: {
            float x[3], y[3];
            std::memcpy(x, p.birthPose, sizeof x);
            std::memcpy(y, p.birthPose + 3, sizeof y);
            if (unit(x) && unit(y)) {
                turned(x, y);
                return;
            }
            break;
        }
        case SpriteHorizontal:
            up[0] = p.axis[0];
            up[1] = 0.0f;
            up[2] = p.axis[2];
            vector3Cross(kUp, up, right);
            if (unit(up) && unit(right)) return;
            break;
        default: break;
    }
    turned(camera, camera + 4);
}

}  // namespace

void QuadBatch::addSpriteQuads(const ParticlePoint* points, std::int32_t count, std::int32_t orientation,
                               Material* material, bool twoD) {
    if (twoD != ((flags & FlagParticles2D) != 0)) {
        flags |= FlagNewRun;
        flush();
    }
    if (twoD) flags |= FlagParticles2D;
    else flags &= ~FlagParticles2D;
    std::size_t live = 0;
    for (std::int32_t i = 0; points && i < count; ++i) live += points[i].inView ? 1 : 0;
    if (live == 0) return;

    // 3D points turn with the current camera (its world matrix, kept by
    // the shader core); 2D ones with the identity.
    const D3DMATRIX cameraWorld = !twoD && shaders_ ? shaders_->frame.viewInverse : identityMatrix();
    const float* camera = &cameraWorld.m[0][0];

    static constexpr float kCorners[6][4] = {{-1, -1, 1, 1}, {-1, 1, 1, 0}, {1, -1, 0, 1},
                                             {1, 1, 0, 0},   {1, -1, 0, 1}, {-1, 1, 1, 0}};
    std::vector<float> positions(live * 18), coords(live * 12);
    std::vector<std::uint32_t> colours(live * 6);
    std::size_t v = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const ParticlePoint& p = points[i];
        if (!p.inView) continue;
        float right[3], up[3];
        spriteAxes(p, orientation, camera, right, up);
        const std::uint32_t colour = packColour(p.color, p.color[3]);
        for (const auto& corner : kCorners) {
            float at[3];
            combine(right, p.width * corner[0], up, p.height * corner[1], at);
            combine(at, 1.0f, p.worldPosition, 1.0f, at);
            positions[3 * v] = twoD ? 100.0f * at[0] : at[0];
            positions[3 * v + 1] = twoD ? 768.0f - 100.0f * at[1] : at[1];
            positions[3 * v + 2] = twoD ? 0.0f : at[2];
            coords[2 * v] = p.texRect[0] + corner[2] * p.texRect[2];
            coords[2 * v + 1] = p.texRect[1] + corner[3] * p.texRect[3];
            colours[v] = colour;
            ++v;
        }
    }
    addVertices(KindTriangles, coords.data(), nullptr, positions.data(), nullptr, std::int32_t(v), colours.data(),
                std::int32_t(v), material, nullptr);
}
