// The rain-map generation: heights rendered from above, cut into cells of
// drops, written in the data form.
#include "effects/RainMapTracer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "app/GameCore.h"
#include "effects/RainMap.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "model/Y3MeshStream.h"
#include "platform/FileSystem.h"
#include "platform/d3d9/D3D9.h"
#include "render/DXTextureHandler.h"
#include "render/ProcRenderTarget.h"
#include "render/RenderCore.h"
#include "render/shaders/ShaderCore.h"
#include "scene/Scene.h"

namespace {

constexpr std::int32_t kMaxTile = 1024;
constexpr float kNoHeight = -1000.0f;

std::int32_t powerOfTwoAtLeast(float value) {
    std::int32_t size = 1;
    while (float(size) < value && size < (1 << 24)) size <<= 1;
    return size;
}

// The debug picture of a tile, "rain<column>_<row>.tga" in "RainMap" under
// the user folder; nothing without one.
void dumpTile(TgaImage& image, std::int32_t column, std::int32_t row) {
    if (!gameCore.paths || image.block.empty()) return;
    const std::string& user = gameCore.paths->get(PathUserFolder);
    if (user.empty()) return;
    const std::string folder = user + "/RainMap";
    std::error_code ignored;
    std::filesystem::create_directories(platform::hostPath(folder), ignored);
    char file[64];
    std::snprintf(file, sizeof file, "/rain%i_%i.tga", int(column), int(row));
    MemoryStream encoded;
    image.updateHeader();
    if (!encodeImage(ImageFormatTga, image, encoded, 0)) return;
    std::unique_ptr<WinFileStream> out(
        WinFileStream::open(folder + file, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
    if (out) out->write(encoded.data(), encoded.size());
}

}  // namespace

RainLayout rainLayout(const float (&sceneMin)[3], const float (&sceneMax)[3], const RainSettings& settings) {
    RainLayout layout;
    for (int axis = 0; axis < 3; ++axis) {
        layout.min[axis] = std::max(sceneMin[axis], settings.boundsMin[axis]);
        layout.max[axis] = std::min(sceneMax[axis], settings.boundsMax[axis]);
        // An empty box keeps no cells.
        if (!(layout.max[axis] >= layout.min[axis])) layout.max[axis] = layout.min[axis];
    }
    layout.centreX = (layout.min[0] + layout.max[0]) * 0.5f;
    layout.centreZ = (layout.min[2] + layout.max[2]) * 0.5f;
    layout.top = layout.max[1] + 10.0f;
    layout.bottom = layout.min[1] - 10.0f;
    layout.cellsX = std::int32_t(std::ceil((layout.max[0] - layout.min[0]) * 0.1f));
    layout.cellsZ = std::int32_t(std::ceil((layout.max[2] - layout.min[2]) * 0.1f));
    layout.extentX = float(layout.cellsX) * kRainCellSize;
    layout.extentZ = float(layout.cellsZ) * kRainCellSize;
    layout.texelsX = powerOfTwoAtLeast(2.0f * layout.extentX);
    layout.texelsZ = powerOfTwoAtLeast(2.0f * layout.extentZ);
    return layout;
}

RainMapTracer::RainMapTracer() = default;

RainMapTracer::~RainMapTracer() { release(); }

bool RainMapTracer::init(std::int32_t width, std::int32_t height) {
    release();
    totalWidth = std::max(width, 1);
    totalHeight = std::max(height, 1);
    tileWidth = std::min(totalWidth, kMaxTile);
    tileHeight = std::min(totalHeight, kMaxTile);
    tilesX = (totalWidth + tileWidth - 1) / tileWidth;
    tilesZ = (totalHeight + tileHeight - 1) / tileHeight;
    images.assign(std::size_t(tilesX) * std::size_t(tilesZ), TgaImage{});
    target = std::make_unique<ProcHDR>("ProcRainMap");
    target->width = tileWidth;
    target->height = tileHeight;
    // Cleared to alpha 0: no geometry where nothing is drawn.
    target->ownClearColor = true;
    target->clearColor = 0;
    return true;
}

bool RainMapTracer::run(float centreX, float centreZ, float extentX, float extentZ, float top, float bottomY) {
    Log& log = engineLog();
    cornerX = centreX - extentX * 0.5f;
    cornerZ = centreZ - extentZ * 0.5f;
    texelsPerUnitX = extentX > 0.0f ? float(totalWidth) / extentX : 1.0f;
    texelsPerUnitZ = extentZ > 0.0f ? float(totalHeight) / extentZ : 1.0f;
    bottom = bottomY;
    const float tileSizeX = extentX / float(std::max(tilesX, 1));
    const float tileSizeZ = extentZ / float(std::max(tilesZ, 1));
    log.info("Prepare rain map render tracer (%ix%i)...", int(tilesX), int(tilesZ));
    const std::int32_t all = tilesX * tilesZ;
    std::int32_t done = 0, reported = 0;
    for (std::int32_t i = 0; i < tilesX; ++i)
        for (std::int32_t j = 0; j < tilesZ; ++j) {
            if (!renderTile(i, j, cornerX + (float(i) + 0.5f) * tileSizeX, cornerZ + (float(j) + 0.5f) * tileSizeZ,
                            tileSizeX, tileSizeZ, top, bottomY)) {
                log.error("Can't render rain segment [%i:%i]", int(i), int(j));
                release();
                return false;
            }
            ++done;
            const std::int32_t percent = std::min<std::int32_t>(done * 100 / all + 1, 100);
            if (percent > reported) {
                reported = percent;
                log.info("rain map progress = %i%%", int(percent));
            }
        }
    log.info("Rain map render tracer is DONE");
    return true;
}

bool RainMapTracer::renderTile(std::int32_t column, std::int32_t row, float tileX, float tileZ, float tileExtentX,
                               float tileExtentZ, float top, float bottomY) {
    Log& log = engineLog();
    if (!target) return log.error("Empty rain map texture handler");
    TopDownArea area;
    area.minX = tileX - tileExtentX * 0.5f;
    area.maxX = tileX + tileExtentX * 0.5f;
    area.minZ = tileZ - tileExtentZ * 0.5f;
    area.maxZ = tileZ + tileExtentZ * 0.5f;
    area.top = top;
    area.bottom = bottomY;
    area.values[0] = bottomY;
    area.values[1] = top;
    if (!target->renderScenePass(area)) return log.error("Can't generate rain map [%i:%i]", int(column), int(row));
    IDirect3DTexture9* texture = target->texture2D();
    IDirect3DSurface9* surface = nullptr;
    if (!texture || FAILED(texture->GetSurfaceLevel(0, &surface)) || !surface)
        return log.error("Can't get rain map surface");
    std::vector<std::uint8_t> bytes;
    D3DSURFACE_DESC desc{};
    const bool read = platform::d3d9::readSurface(surface, bytes, desc);
    surface->Release();
    if (!read) return log.error("Can't lock render surface");
    const std::int32_t pitch = desc.Height > 0 ? std::int32_t(bytes.size() / desc.Height) : 0;
    if (std::int32_t(desc.Width) != tileWidth || std::int32_t(desc.Height) != tileHeight ||
        !keepTile(column, row, bytes.data(), pitch))
        return log.error("Rain map render tracer: Invalid pitch in image");
    TgaImage& image = images[std::size_t(column) * std::size_t(tilesZ) + std::size_t(row)];
    if (image.block.empty()) log.warning("Rain map segment [%i_%i] is empty", int(column), int(row));
    else dumpTile(image, column, row);
    return true;
}

bool RainMapTracer::keepTile(std::int32_t column, std::int32_t row, const std::uint8_t* pixels, std::int32_t pitch) {
    if (column < 0 || row < 0 || column >= tilesX || row >= tilesZ || !pixels) return false;
    if (pitch != tileWidth * 4) return false;
    TgaImage& image = images[std::size_t(column) * std::size_t(tilesZ) + std::size_t(row)];
    image = TgaImage{};
    bool seen = false;
    const std::size_t bytes = std::size_t(pitch) * std::size_t(tileHeight);
    for (std::size_t i = 3; i < bytes && !seen; i += 4) seen = pixels[i] != 0;
    if (!seen) return true;
    if (!image.create(true, std::uint32_t(tileWidth), std::uint32_t(tileHeight))) return false;
    std::copy(pixels, pixels + bytes, image.pixels());
    return true;
}

float RainMapTracer::sampleHeight(float x, float z) const {
    const float fx = (x - cornerX) * texelsPerUnitX;
    const float fz = (z - cornerZ) * texelsPerUnitZ;
    if (!(fx >= 0.0f && fz >= 0.0f && fx < float(totalWidth) && fz < float(totalHeight))) return kNoHeight;
    const auto px = std::int32_t(fx), pz = std::int32_t(fz);
    if (tileWidth <= 0 || tileHeight <= 0) return kNoHeight;
    const std::int32_t column = px / tileWidth, row = pz / tileHeight;
    if (column >= tilesX || row >= tilesZ) return kNoHeight;
    const TgaImage& image = images[std::size_t(column) * std::size_t(tilesZ) + std::size_t(row)];
    const std::uint8_t* pixels = image.pixels();
    if (!pixels) return kNoHeight;
    const std::size_t at = std::size_t(pz - row * tileHeight) * std::size_t(tileWidth) * 4 +
                           std::size_t(px - column * tileWidth) * 4;
    if (at + 4 > image.block.size() - TgaImage::kHeaderSize) return kNoHeight;
    const std::uint8_t* p = pixels + at;
    if (p[3] == 0) return kNoHeight;
    return bottom + float((double(p[2]) * 255.0 + double(p[1])) * 255.0 + double(p[0])) * 0.001f;
}

void RainMapTracer::release() {
    if (target) target->unload();
    target.reset();
    images.clear();
}

// ---- the generation ----

bool RainMap::importFromTracer(RainData& data, const RainMapTracer& tracer, const float (&rainMin)[3],
                               const float (&rainMax)[3]) {
    const std::int32_t cellsX = std::int32_t(std::ceil((rainMax[0] - rainMin[0]) * 0.1f));
    const std::int32_t cellsZ = std::int32_t(std::ceil((rainMax[2] - rainMin[2]) * 0.1f));
    if (cellsX < 0 || cellsZ < 0 || std::int64_t(cellsX) * cellsZ > (1 << 24)) return false;
    data.releaseContents();
    data.width = cellsX;
    data.height = cellsZ;
    const float centreX = (rainMin[0] + rainMax[0]) * 0.5f, centreZ = (rainMin[2] + rainMax[2]) * 0.5f;
    data.origin[0] = centreX - float(cellsX) * kRainCellSize * 0.5f;
    data.origin[1] = rainMin[1];
    data.origin[2] = centreZ - float(cellsZ) * kRainCellSize * 0.5f;
    data.indexTable.assign(std::size_t(cellsX) * std::size_t(cellsZ), -1);
    for (std::int32_t z = 0; z < cellsZ; ++z)
        for (std::int32_t x = 0; x < cellsX; ++x) {
            const float baseX = data.origin[0] + kRainCellSize * float(x);
            const float baseZ = data.origin[2] + kRainCellSize * float(z);
            std::int16_t heights[kRainDropsPerCell];
            bool any = false;
            std::int32_t i = 0;
            for (int c = 0; c < 10; ++c)
                for (int d = 0; d < 10; ++d)
                    for (int a = 0; a < 2; ++a)
                        for (int b = 0; b < 2; ++b, ++i) {
                            const float h = tracer.sampleHeight(baseX + float(c) + 0.5f * float(a),
                                                                baseZ + float(d) + 0.5f * float(b));
                            if (h <= kNoHeight) {
                                heights[i] = kRainMissingHeight;
                            } else {
                                heights[i] = rainHeightCode(h);
                                any = true;
                            }
                        }
            if (!any) continue;
            std::unique_ptr<Y3MeshStream> stream = buildRainDropStream(data.settings, baseX, baseZ, heights);
            if (!stream) return false;
            data.indexTable[std::size_t(z) * std::size_t(cellsX) + std::size_t(x)] = std::int32_t(data.segments.size());
            data.segments.push_back({false, std::move(stream)});
        }
    return true;
}

bool RainMap::generate(Scene& scene) {
    Log& log = engineLog();
    // The generation takes over the resource's contents: a shown rain gives
    // it back first and the resource is released whole, so that afterwards
    // its flags claim nothing it no longer holds and the next update pushes
    // the rain again from its files.
    if (flags & kRainMapLoaded) release();
    releaseResource();
    if (!loadSetup()) return false;
    RainData& data = *record->data;
    data.releaseContents();
    float sceneMin[3] = {-10000.0f, -10000.0f, -10000.0f}, sceneMax[3] = {10000.0f, 10000.0f, 10000.0f};
    float modelMin[3], modelMax[3];
    if (scene.computeModelBounds(modelMin, modelMax))
        for (int axis = 0; axis < 3; ++axis) sceneMin[axis] = modelMin[axis], sceneMax[axis] = modelMax[axis];
    log.info("Detected scene bounds:");
    log.info("min(%.1f,%.1f,%.1f)", sceneMin[0], sceneMin[1], sceneMin[2]);
    log.info("max(%.1f,%.1f,%.1f)", sceneMax[0], sceneMax[1], sceneMax[2]);
    const RainSettings& s = data.settings;
    log.info("Reduce to user bounds:");
    log.info("user_min(%.1f,%.1f,%.1f)", s.boundsMin[0], s.boundsMin[1], s.boundsMin[2]);
    log.info("user_max(%.1f,%.1f,%.1f)", s.boundsMax[0], s.boundsMax[1], s.boundsMax[2]);
    const RainLayout layout = rainLayout(sceneMin, sceneMax, s);
    log.info("Generate rain for bounds:");
    log.info("rain_min(%.1f,%.1f,%.1f)", layout.min[0], layout.min[1], layout.min[2]);
    log.info("rain_max(%.1f,%.1f,%.1f)", layout.max[0], layout.max[1], layout.max[2]);
    RainMapTracer tracer;
    if (!tracer.init(layout.texelsX, layout.texelsZ)) return log.error("Can't initialize rain trace render map");
    if (!tracer.run(layout.centreX, layout.centreZ, layout.extentX, layout.extentZ, layout.top, layout.bottom))
        return log.error("Can't render rain for scene [%s]", scene.name);
    if (!importFromTracer(data, tracer, layout.min, layout.max)) {
        data.releaseContents();
        return log.error("Can't import rain map from rain render tracer");
    }
    MemoryStream written;
    const bool ok = data.writeData(written) >= 0;
    data.releaseContents();
    tracer.release();
    if (!ok) return log.error("Can't save rain map data to  RAM file");
    const std::string file = std::string(record->name) + ".raindata";
    // The game cannot store the stream: the file-save refuses.
    log.error("Stream save not possible in release exe");
    return log.error("Can't save rain data [%s] to file [%s]", record->name, file.c_str());
}
