// The height renderer of a rain-map generation: the scene seen from above,
// tile by tile (at most 1,024 texels a side), into the "ProcRainMap" target;
// each tile's pixels are read back and kept as a 32-bit image. A pixel's
// bytes (blue, green, red, alpha) hold a height: alpha 0 no geometry, else
// bottom + ((red x 255 + green) x 255 + blue) x 0.001.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/Image.h"

class ProcHDR;
struct RainSettings;

// The area a generation covers, from the scene's bounds reduced to the
// rain's user bounds: whole 10-unit cells around the centre, the heights
// 10 below and above, the texels a power of two of at least 2 a unit.
struct RainLayout {
    float min[3] = {}, max[3] = {};
    float centreX = 0.0f, centreZ = 0.0f;
    float top = 0.0f, bottom = 0.0f;
    std::int32_t cellsX = 0, cellsZ = 0;
    float extentX = 0.0f, extentZ = 0.0f;
    std::int32_t texelsX = 1, texelsZ = 1;
};
RainLayout rainLayout(const float (&sceneMin)[3], const float (&sceneMax)[3], const RainSettings& settings);

class RainMapTracer {
public:
    RainMapTracer();
    ~RainMapTracer();
    RainMapTracer(const RainMapTracer&) = delete;
    RainMapTracer& operator=(const RainMapTracer&) = delete;

    // Sizes, tile counts, one empty image a tile and the target; false
    // (logged) when the target cannot be made.
    bool init(std::int32_t totalWidth, std::int32_t totalHeight);
    // Renders every tile over the area (column by column); false (logged,
    // released) at the first tile that fails.
    bool run(float centreX, float centreZ, float extentX, float extentZ, float top, float bottom);
    bool renderTile(std::int32_t column, std::int32_t row, float tileX, float tileZ, float tileExtentX,
                    float tileExtentZ, float top, float bottom);
    // Keeps a tile's pixels (rows of pitch bytes, the tile's size); false
    // when the pitch is not the tile's row size or the tile does not exist.
    // An image stays empty when no pixel has geometry.
    bool keepTile(std::int32_t column, std::int32_t row, const std::uint8_t* pixels, std::int32_t pitch);
    // The height at a world point; -1000 outside the traced area, in a tile
    // without an image or where no geometry was seen.
    float sampleHeight(float x, float z) const;
    // The target and the images go.
    void release();

    std::int32_t totalWidth = 0, totalHeight = 0;
    std::int32_t tileWidth = 0, tileHeight = 0;
    std::int32_t tilesX = 0, tilesZ = 0;
    std::vector<TgaImage> images;
    std::unique_ptr<ProcHDR> target;
    float cornerX = 0.0f, cornerZ = 0.0f;
    float texelsPerUnitX = 1.0f, texelsPerUnitZ = 1.0f;
    float bottom = 0.0f;
};
