// Rain maps: their two files as the rain-map writer lays them out, read by
// the resource record; the cells and drop counts around the camera; the
// height tracer's layout, decoding and cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "effects/RainMap.h"
#include "effects/RainMapTracer.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "model/Y3MeshStream.h"
#include "rain/RainWriter.h"
#include "support/TestSupport.h"

namespace {

rain_tools::RainFiles writeRain(const std::string& text) {
    rain_tools::RainFiles files;
    std::string error;
    EXPECT_TRUE(rain_tools::writeRainFiles(text, files, error)) << error;
    return files;
}

std::int32_t readInto(Y3RainMapData& record, const rain_tools::RainFiles& files) {
    std::string header = files.header, data = files.data;
    MemoryStream headerStream(header.data(), std::int32_t(header.size()));
    if (record.readHeader(headerStream) < 0) return -1;
    MemoryStream dataStream(data.data(), std::int32_t(data.size()));
    return record.readData(dataStream);
}

bool logged(const std::string& text) {
    for (const LogRecord& r : gameCore.log->records())
        if (r.text.find(text) != std::string::npos) return true;
    return false;
}

void putWord(std::string& bytes, std::size_t at, std::uint32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

// A 3 x 2 grid at (-10, 0, 20): ground in cells (0, 0) and (2, 1).
const char* const kTwoCells =
    "name wet\n"
    "origin -10 0 20\n"
    "grid 3 2\n"
    "dropsize 0.3 0.3\n"
    "phase 20 10\n"
    "frames 1 2\n"
    "dropcolour 0.5 0.25 1\n"
    "textures drop_tex ripple_tex\n"
    "cell 0 0 1.5\n"
    "box 10 30 20 40 -2\n";

}  // namespace

// The writer's files come back whole: the name and settings, the grid and
// its index table, a drop stream for each cell with ground standing at the
// cell's heights, and the empty-cell stream with every drop at the missing
// height. Written again, the data form is the writer's byte for byte.
TEST(RainFiles, TheWritersFilesLoadIntoTheRainData) {
    testing_support::ScopedGameCore core;
    const rain_tools::RainFiles files = writeRain(kTwoCells);
    Y3RainMapData record("wet");
    ASSERT_GE(readInto(record, files), 0);
    ASSERT_TRUE(record.data);
    const RainData& data = *record.data;
    EXPECT_STREQ(data.name, "wet");
    EXPECT_STREQ(data.settings.dropTexture, "drop_tex");
    EXPECT_STREQ(data.settings.rippleTexture, "ripple_tex");
    EXPECT_EQ(data.settings.dropPhaseBase, 20);
    EXPECT_FLOAT_EQ(data.settings.dropColour[1], 0.25f);
    EXPECT_FLOAT_EQ(data.settings.ripplePass3, 15.0f);  // a default
    EXPECT_EQ(data.width, 3);
    EXPECT_EQ(data.height, 2);
    EXPECT_FLOAT_EQ(data.origin[2], 20.0f);
    EXPECT_EQ(data.indexTable, (std::vector<std::int32_t>{0, -1, -1, -1, -1, 1}));
    ASSERT_EQ(data.segments.size(), 2u);
    struct {
        std::int32_t segment;
        float y, minX, minZ;
    } cells[] = {{0, 1.5f, -10.0f, 20.0f}, {1, -2.0f, 10.0f, 30.0f}};
    for (const auto& c : cells) {
        Y3MeshStream& stream = *data.segments[std::size_t(c.segment)].stream;
        ASSERT_EQ(stream.getCount(), kRainVerticesPerCell);
        for (std::int32_t i = 0; i < stream.getCount(); ++i) {
            D3DXVECTOR3 p{}, n{};
            D3DXVECTOR2 corner{}, strip{};
            stream.getPosition(i, p);
            stream.getNormal(i, n);
            stream.getUV(i, corner);
            stream.getLightmapUV(i, strip);
            ASSERT_FLOAT_EQ(p.y, c.y) << "segment " << c.segment;
            ASSERT_TRUE(p.x >= c.minX - 0.25f && p.x <= c.minX + 10.0f && p.z >= c.minZ - 0.25f && p.z <= c.minZ + 10.0f);
            ASSERT_FLOAT_EQ(n.y, 1.0f);
            // Size 0.3: a cycle of 10 x 0.3 + 20; the phase within it.
            ASSERT_FLOAT_EQ(strip.y, 23.0f);
            ASSERT_TRUE(n.x >= 0.0f && n.x <= 23.0f);
            // One frame of a strip of two: u 0 on the left, 0.5 on the right.
            ASSERT_FLOAT_EQ(strip.x, i % 4 < 2 ? 0.0f : 0.5f);
            ASSERT_FLOAT_EQ(corner.x, i % 4 < 2 ? -0.5f : 0.5f);
        }
    }
    ASSERT_TRUE(data.emptyCell);
    D3DXVECTOR3 p{};
    EXPECT_FLOAT_EQ(data.emptyCell->getPosition(7, p).y, -1000.0f);

    MemoryStream header, written;
    ASSERT_GT(data.writeHeader(header), 0);
    ASSERT_GT(data.writeData(written), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.data()), std::size_t(header.size())), files.header);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(written.data()), std::size_t(written.size())), files.data);
    record.release();
}

// Damaged files are refused with their message and leave the rain data
// empty; no count is trusted before the bytes are there.
TEST(RainFiles, DamagedFilesAreRefusedAndLeaveNoCells) {
    testing_support::ScopedGameCore core;
    const rain_tools::RainFiles good = writeRain(kTwoCells);
    // The data form: width, height, origin (20 bytes), the count at 20, six
    // entries from 24, the segment count at 48, the first segment at 52
    // (magic, format, vertex count).
    auto patched = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = good.data;
        putWord(bytes, at, value);
        return bytes;
    };
    // A grid of 2^30 cells whose table the bytes cannot hold.
    std::string huge = patched(0, 0x10000);
    putWord(huge, 4, 0x4000);
    putWord(huge, 20, 0x40000000);
    const struct {
        const char* what;
        std::string header, data;
        const char* message;
    } cases[] = {
        {"settings cut short", good.header.substr(0, 200), good.data, nullptr},
        {"index count differs from the grid", good.header, patched(20, 5), "index table does not match the grid"},
        {"a grid past the end", good.header, huge, "index table cut short"},
        {"segment count past the end", good.header, patched(48, 100000), "segments cut short"},
        {"entry past the segments", good.header, patched(24 + 4 * 5, 2), "Rain map index table is broken"},
        {"entry below -1", good.header, patched(24 + 4, std::uint32_t(-2)), "Rain map index table is broken"},
        {"a stream of another format", good.header, patched(56, 4), "Invalid rain map vertex stream type"},
        {"a stream of too few drops", good.header, patched(60, 4), "segment of the wrong size"},
        {"a stream cut short", good.header, good.data.substr(0, good.data.size() - 10), "damaged segment"},
        {"negative grid", good.header, patched(4, std::uint32_t(-3)), "negative grid size"},
    };
    for (const auto& c : cases) {
        gameCore.log->clear();
        Y3RainMapData record("wet");
        const std::int32_t result = readInto(record, {c.header, c.data});
        EXPECT_LT(result, 0) << c.what;
        if (record.data) {
            EXPECT_TRUE(record.data->segments.empty()) << c.what;
            EXPECT_TRUE(record.data->indexTable.empty()) << c.what;
            EXPECT_EQ(record.data->emptyCell, nullptr) << c.what;
        }
        if (c.message) EXPECT_TRUE(logged(c.message)) << c.what;
        record.release();
    }
}

// The camera's cell, the share of drops each cell around it draws in the
// two passes, and stored heights kept inside 16 bits.
TEST(RainCells, CellsAroundTheCameraAndTheirDrops) {
    EXPECT_EQ(rainCellOf(25.0f, 0.0f), 2);
    EXPECT_EQ(rainCellOf(5.0f, 0.0f), 0);
    EXPECT_EQ(rainCellOf(-16.0f, 4.0f), -2);
    const struct {
        std::int32_t dx, dz, drops, ripples;
    } cases[] = {
        {0, 0, 400, 400}, {3, 0, 34, 199}, {0, -3, 34, 199}, {3, 3, 0, 0}, {-3, 3, 0, 0}, {1, 1, 177, 355},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rainDropsDrawn(c.dx, c.dz, false), c.drops) << c.dx << " " << c.dz;
        EXPECT_EQ(rainDropsDrawn(c.dx, c.dz, true), c.ripples) << c.dx << " " << c.dz;
    }
    // Heights beyond +-1024 would wrap as 16-bit values.
    EXPECT_EQ(rainHeightCode(1.5f), 48);
    EXPECT_EQ(rainHeightCode(-1000.0f), kRainMissingHeight);
    EXPECT_EQ(rainHeightCode(1500.0f), 32767);
    EXPECT_EQ(rainHeightCode(-5000.0f), -32768);

    RainData data;
    data.width = 2;
    data.height = 2;
    data.indexTable = {0, -1, 1, 0};
    EXPECT_EQ(data.cellEntry(0, 1), 1);
    EXPECT_EQ(data.cellEntry(-1, 0), -1);  // negative cells are outside the grid
    EXPECT_EQ(data.cellEntry(2, 0), -1);
}

// The generation's area and texels, the tracer's tiles, its height
// decoding, and the cells built from its heights.
TEST(RainTracer, LayoutTilesHeightsAndCells) {
    testing_support::ScopedGameCore core;
    RainSettings settings;
    const float sceneMin[3] = {-3.2f, 0.0f, 0.0f}, sceneMax[3] = {17.5f, 4.0f, 10.0f};
    const RainLayout layout = rainLayout(sceneMin, sceneMax, settings);
    EXPECT_EQ(layout.cellsX, 3);
    EXPECT_FLOAT_EQ(layout.extentX, 30.0f);
    EXPECT_EQ(layout.texelsX, 64);
    EXPECT_FLOAT_EQ(layout.top, 14.0f);
    EXPECT_FLOAT_EQ(layout.bottom, -10.0f);
    // The user bounds cut the scene's.
    settings.boundsMax[0] = 5.0f;
    EXPECT_EQ(rainLayout(sceneMin, sceneMax, settings).cellsX, 1);

    RainMapTracer wide;
    ASSERT_TRUE(wide.init(2048, 64));
    EXPECT_EQ(wide.tilesX, 2);
    EXPECT_EQ(wide.tileWidth, 1024);
    EXPECT_EQ(wide.tilesZ, 1);
    wide.release();

    // A 4 x 4 texel area of 4 units over bottom -5, one texel a unit.
    RainMapTracer tracer;
    ASSERT_TRUE(tracer.init(4, 4));
    tracer.cornerX = 0.0f;
    tracer.cornerZ = 0.0f;
    tracer.bottom = -5.0f;
    std::vector<std::uint8_t> pixels(4 * 4 * 4, 0);
    const std::uint8_t ground[4] = {10, 0, 1, 255};  // blue, green, red, alpha
    std::copy(ground, ground + 4, pixels.begin() + (2 * 4 + 1) * 4);
    EXPECT_FALSE(tracer.keepTile(0, 0, pixels.data(), 12));  // the pitch of another size
    ASSERT_TRUE(tracer.keepTile(0, 0, pixels.data(), 16));
    EXPECT_NEAR(tracer.sampleHeight(1.5f, 2.5f), 60.035f, 1e-3f);
    EXPECT_FLOAT_EQ(tracer.sampleHeight(0.5f, 0.5f), -1000.0f);  // alpha 0
    EXPECT_FLOAT_EQ(tracer.sampleHeight(-0.5f, 0.5f), -1000.0f);  // outside
    EXPECT_FLOAT_EQ(tracer.sampleHeight(4.5f, 0.5f), -1000.0f);

    // Cells over the area: the one cell sees the ground texel; a cell
    // whose 400 samples all miss keeps -1 and has no segment.
    RainData data;
    const float rainMin[3] = {0.0f, -5.0f, 0.0f}, rainMax[3] = {20.0f, 5.0f, 10.0f};
    tracer.cornerX = 0.0f;
    tracer.texelsPerUnitX = tracer.texelsPerUnitZ = 0.4f;  // 4 texels over 10 units
    ASSERT_TRUE(RainMap::importFromTracer(data, tracer, rainMin, rainMax));
    EXPECT_EQ(data.width, 2);
    EXPECT_EQ(data.height, 1);
    EXPECT_EQ(data.indexTable, (std::vector<std::int32_t>{0, -1}));
    ASSERT_EQ(data.segments.size(), 1u);
    std::int32_t standing = 0;
    for (std::int32_t i = 0; i < kRainVerticesPerCell; i += 4) {
        D3DXVECTOR3 p{};
        data.segments[0].stream->getPosition(i, p);
        if (std::fabs(p.y - 60.03125f) < 1e-3f) ++standing;
        else EXPECT_FLOAT_EQ(p.y, -1000.0f);
    }
    // Texel (1, 2) covers x 2.5-5 and z 5-7.5: 5 x 5 of the cell's points.
    EXPECT_EQ(standing, 25);
}

// The import makes a rain map of the default settings named after the
// source; the game cannot store it, so it fails with its messages.
TEST(RainFiles, TheImportIsRefusedByTheGame) {
    testing_support::ScopedGameCore core;
    RainMapDataManager manager;
    EXPECT_FALSE(manager.compileFromSource("maps/yard.xls"));
    EXPECT_TRUE(logged("Stream save not possible in release exe"));
    EXPECT_TRUE(logged("Fail to save imported rain data to file [maps/yard.rain]"));
    EXPECT_EQ(manager.count(), 0u);
}
