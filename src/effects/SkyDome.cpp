#include "effects/SkyDome.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "foundation/SettingsReader.h"
#include "platform/d3d9/D3D9.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"

SkyDomeSettings skyDomeSettings;

namespace {

constexpr std::int32_t kMinSegments = 2;
constexpr std::int32_t kMaxSegments = 255;  // 255 x 255 vertices fit 16-bit indices
// The vertex format of position and texture coordinates (20 bytes).
constexpr std::uint32_t kSkyVertexFormat = 0;

}  // namespace

void readSkyDomeSettings(IniFile& settings) {
    IniCategory& sky = settings.getCategory("sky");
    SkyDomeSettings& s = skyDomeSettings;
    readSetting(sky, "hSegments", s.hSegments, 30);
    readSetting(sky, "wSegments", s.wSegments, 20);
    readSetting(sky, "radius", s.radius, 2000.0f);
    readSetting(sky, "height", s.height, 200.0f);
    readSetting(sky, "eyeHeight", s.eyeHeight, 200.0f);
    readSetting(sky, "noise", s.noise, 0.1f);
    const std::int32_t h = std::clamp(s.hSegments, kMinSegments, kMaxSegments);
    const std::int32_t w = std::clamp(s.wSegments, kMinSegments, kMaxSegments);
    if (h != s.hSegments || w != s.wSegments)
        engineLog().warning("Sky dome segments %i x %i out of range: %i x %i used", s.hSegments, s.wSegments, h, w);
    s.hSegments = h;
    s.wSegments = w;
}

bool SkyDome::build(const SkyDomeSettings& settings) {
    const std::int32_t w = std::clamp(settings.wSegments, kMinSegments, kMaxSegments);
    const std::int32_t h = std::clamp(settings.hSegments, kMinSegments, kMaxSegments);
    const float radius = settings.radius;
    vertices.assign(static_cast<std::size_t>(w * h), SkyDomeVertex{});
    const float a0 = std::asin((radius - settings.height) / radius);
    const float sweep = 1.570796325f - a0;
    const float step = -6.2831853f / static_cast<float>(w - 1);
    const float jitter = settings.noise * step;
    for (std::int32_t i = 0; i < h; ++i) {
        const float a = static_cast<float>(i) * sweep / static_cast<float>(h - 1) + a0;
        const float ringRadius = radius * std::cos(a);
        const float y = radius * std::sin(a) - (radius - settings.eyeHeight);
        const float c = std::cos(a);
        const float t = c > 0.435f ? (c - 0.4f) * (c - 0.4f) * 9.0f + 0.435f : c;
        for (std::int32_t j = 0; j < w; ++j) {
            SkyDomeVertex& v = vertices[static_cast<std::size_t>(i * w + j)];
            const float b = static_cast<float>(j) * step;
            v.x = ringRadius * std::sin(b);
            v.y = y;
            v.z = ringRadius * std::cos(b);
            const float q = static_cast<float>(MersenneTwister::nextDouble());
            const float jittered = b + (2.0f * jitter * q - jitter);
            v.u = t * std::sin(jittered);
            v.v = t * std::cos(jittered);
        }
    }
    indices.clear();
    indices.reserve(static_cast<std::size_t>(6 * (w - 1) * (h - 1)));
    for (std::int32_t i = 0; i + 1 < h; ++i)
        for (std::int32_t j = 0; j + 1 < w; ++j) {
            const auto a = static_cast<std::uint16_t>(i * w + j);
            const auto c = static_cast<std::uint16_t>((i + 1) * w + j);
            for (std::uint16_t index : {a, static_cast<std::uint16_t>(a + 1), c, c, static_cast<std::uint16_t>(a + 1),
                                        static_cast<std::uint16_t>(c + 1)})
                indices.push_back(index);
        }
    return true;
}

bool SkyDome::createBuffers(IDirect3DDevice9* device) {
    if (ready_) return true;
    if (!device || vertices.empty() || indices.empty()) return false;
    Log& log = engineLog();
    const auto vertexBytes = static_cast<UINT>(vertices.size() * sizeof(SkyDomeVertex));
    const auto indexBytes = static_cast<UINT>(indices.size() * sizeof(std::uint16_t));
    void* data = nullptr;
    if (FAILED(device->CreateVertexBuffer(vertexBytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT,
                                          &vertexBuffer_, nullptr)) ||
        FAILED(vertexBuffer_->Lock(0, vertexBytes, &data, 0))) {
        releaseBuffers();
        return log.error("Cannot create sky vertex buffer");
    }
    std::memcpy(data, vertices.data(), vertexBytes);
    vertexBuffer_->Unlock();
    if (FAILED(device->CreateIndexBuffer(indexBytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                         &indexBuffer_, nullptr))) {
        indexBuffer_ = nullptr;
        releaseBuffers();
        return log.error("Cannot allocate sky index buffer");
    }
    if (FAILED(indexBuffer_->Lock(0, indexBytes, &data, 0))) {
        releaseBuffers();
        return log.error("Cannot lock sky sphere index buffer");
    }
    std::memcpy(data, indices.data(), indexBytes);
    indexBuffer_->Unlock();
    device_ = device;
    ready_ = true;
    return true;
}

void SkyDome::releaseBuffers() {
    // The cache stops naming buffers that go.
    if (gameCore.render && (vertexBuffer_ || indexBuffer_)) {
        gameCore.render->stateCache().forgetStream(vertexBuffer_);
        gameCore.render->stateCache().forgetIndices(indexBuffer_);
    }
    if (vertexBuffer_) vertexBuffer_->Release();
    if (indexBuffer_) indexBuffer_->Release();
    vertexBuffer_ = nullptr;
    indexBuffer_ = nullptr;
    device_ = nullptr;
    ready_ = false;
}

bool SkyDome::draw() {
    RenderCore* render = gameCore.render;
    if (!ready_ || !device_ || !render) return false;
    // Position and texture coordinates: the stream format "D".
    DXStateCache& cache = render->stateCache();
    cache.setDeclaration(kSkyVertexFormat);
    cache.setStream(vertexBuffer_, sizeof(SkyDomeVertex));
    cache.setIndices(indexBuffer_);
    cache.setRender(DXStateCache::RsFillMode, D3DFILL_SOLID);
    // The pass state, the current programs (none on the fixed pipeline)
    // and the cache reach the device.
    render->shaders().prepareDraw(true);
    return SUCCEEDED(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, static_cast<UINT>(vertexCount()), 0,
                                                   static_cast<UINT>(triangleCount())));
}
