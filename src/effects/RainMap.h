// Rain: the rain-map resources and the rain a scene shows.
//
// A rain-map resource (Y3RainMapData, kept by RainMapDataManager) holds the
// rain settings (".rain": the name and 364 bytes of settings) and, once
// generated, a grid of 10 x 10-unit ground cells (".raindata"), each cell
// with a ready stream of 400 falling drops whose lowest points follow the
// scene below. The scene's RainMap pushes the resource, loads the drop and
// ripple textures, makes the device buffers of the cells around the camera
// and draws two shader passes over them each frame while the rain is shown.
// Rain is drawn only when the video mode has shaders. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/DXStreams.h"
#include "render/TextureLink.h"
#include "resources/StoredDataManager.h"

class DataStream;
class Y3MeshStream;

// The rain settings, stored as they are in the header form: 91 words.
struct RainSettings {
    float dropSizeMin = 0.2f;
    float dropSizeMax = 0.5f;
    std::int32_t dropPhaseBase = 16;
    std::int32_t dropFramesUsed = 3;
    std::int32_t dropFramesInStrip = 4;
    float dropPass1 = 0.15f;
    float dropPass2 = 0.1f;
    std::int32_t setting7 = 0;
    std::int32_t dropPhaseScale = 50;
    float dropColour[3] = {0.6f, 0.6f, 0.6f};
    float setting12 = 0.3f;
    float ripplePass1 = 0.2f;
    float ripplePass2 = 8.0f;
    float ripplePass3 = 15.0f;
    std::int32_t rippleSpeed = 4;
    float rippleColour[3] = {0.05f, 0.05f, 0.05f};
    float setting20 = 2.0f;
    float boundsMin[3] = {-100.0f, -100.0f, -100.0f};
    float boundsMax[3] = {100.0f, 100.0f, 100.0f};
    char dropTexture[128] = "p_liquid_splat";
    char rippleTexture[128] = "p_spark_tail";
};
static_assert(sizeof(RainSettings) == 364);

// Cells are 10 x 10 units; each holds 400 drops of four vertices.
constexpr float kRainCellSize = 10.0f;
constexpr std::int32_t kRainDropsPerCell = 400;
constexpr std::int32_t kRainVerticesPerCell = kRainDropsPerCell * 4;
constexpr std::int32_t kRainIndexCount = kRainDropsPerCell * 6;
// The vertex format of the drop streams: position, normal, two coordinate sets.
constexpr std::int32_t kRainVertexFormat = 16;
// Stored heights are 16-bit in units of 1/32; this one means "no ground".
constexpr std::int16_t kRainMissingHeight = -32000;
// The cells on each side of the camera's cell that hold device buffers.
constexpr std::int32_t kRainViewCells = 3;

// A world height as a stored drop height: truncate(height x 32), kept
// inside the 16-bit range (heights beyond about +-1024 would wrap).
std::int16_t rainHeightCode(float height);

// The drop stream of one cell whose corner is (baseX, baseZ): 400 drops on
// a 20 x 20 grid at 0.5-unit spacing, jittered and sized from the engine's
// random generator, each standing at its stored height (heights in the
// nesting c, d, a, b). Null when the stream cannot be made.
std::unique_ptr<Y3MeshStream> buildRainDropStream(const RainSettings& settings, float baseX, float baseZ,
                                                  const std::int16_t (&heights)[kRainDropsPerCell]);

// The cell of a world position along one axis: truncate(0.1 x (p - origin)).
std::int32_t rainCellOf(float position, float origin);
// How many of a cell's 400 drops a pass draws at offset (dx, dz) from the
// camera's cell: (1 - d)^2 of them in the drop pass, 1 - d^2 in the ripple
// pass, d the offset's length over sqrt(18); 0 when that share is 0.01 or
// less.
std::int32_t rainDropsDrawn(std::int32_t dx, std::int32_t dz, bool ripplePass);

struct RainSegment {
    bool inView = false;
    std::unique_ptr<Y3MeshStream> stream;
};

// The rain data of one resource: settings, grid, index table and segments,
// with the device buffers every cell shares.
class RainData {
public:
    RainData();
    ~RainData();
    RainData(const RainData&) = delete;
    RainData& operator=(const RainData&) = delete;

    // The header form: u16 name length, the name, the 364 settings bytes.
    // Bytes read or written, or the first negative count.
    std::int32_t readHeader(DataStream& stream);
    std::int32_t writeHeader(DataStream& stream) const;
    // The data form: grid size, origin, index table, segments. A read first
    // drops what the data holds; a damaged form (an index table whose count
    // is not width x height, an entry naming no segment, a stream not of the
    // drop format, counts past the end) fails, logged, leaving it empty.
    std::int32_t readData(DataStream& stream);
    std::int32_t writeData(DataStream& stream) const;

    // Drops the device buffers, the index table and the segments.
    void releaseContents();
    // The empty-cell stream's buffer and the shared index buffer; false,
    // logged, with none kept. "twice" when they exist.
    bool createBuffers(IDirect3DDevice9* device);
    // Releases the shared buffers and every segment's buffer.
    void releaseBuffers();

    // The index-table entry of a cell; -1 outside the grid.
    std::int32_t cellEntry(std::int32_t x, std::int32_t z) const;

    DXIndexStream indices;
    std::unique_ptr<Y3MeshStream> emptyCell;
    char name[128] = {};
    std::uint32_t flags = 0;
    RainSettings settings;
    std::int32_t width = 0;
    std::int32_t height = 0;
    float origin[3] = {};
    std::vector<std::int32_t> indexTable;
    std::vector<RainSegment> segments;
};

// Bits of RainData::flags.
constexpr std::uint32_t kRainDataLoaded = 0x2;
constexpr std::uint32_t kRainDataAllocated = 0x4;

// A rain-map resource record: the rain data once its header is loaded.
class Y3RainMapData : public StoredResourceRecord {
public:
    explicit Y3RainMapData(const char* name);
    ~Y3RainMapData() override;

    std::int32_t readHeader(DataStream& stream) override;
    std::int32_t readData(DataStream& stream) override;
    bool hasObject() const override { return data != nullptr; }
    void deleteObject() override;
    // The device buffers, made on the loading lock's allocation.
    bool allocateObject() override;
    void deallocateObject(bool final) override;
    void unloadData() override;
    void releaseDeviceObjects() override;

    std::unique_ptr<RainData> data;
};

class RainMapDataManager : public StoredDataManager {
public:
    RainMapDataManager();

    Y3RainMapData* getOrCreate(const char* name, bool reportMissing) {
        return static_cast<Y3RainMapData*>(StoredDataManager::getOrCreate(name, reportMissing));
    }
    // Import: a rain data record of the source's name with the default
    // settings, its header form written to memory; the game cannot store it,
    // so the import fails (logged).
    bool compileFromSource(const char* sourcePath) override;
    // Before a device reset: every record's device buffers go, their
    // allocation flag cleared; allocateAll makes them again for records in
    // use.
    void releaseBuffers();

protected:
    ResourceRecord* createRecord(const char* name) override;
};

// The manager installed by the render core (null without one).
RainMapDataManager* rainMapDataManager();
void setRainMapDataManager(RainMapDataManager* manager);

// Bits of RainMap::flags.
constexpr std::uint32_t kRainMapLoaded = 0x2;     // pushed into the resource's users
constexpr std::uint32_t kRainMapAllocated = 0x4;  // textures and buffers ready
constexpr std::uint32_t kRainShown = 0x8;
constexpr std::uint32_t kRainPushFailed = 0x10;

class Scene;
class RainMapTracer;

class RainMap : public ResourceUser {
public:
    // A rain of the record: state 0, no textures, order key 10000. Null
    // without a record.
    static std::unique_ptr<RainMap> create(Y3RainMapData* record);
    ~RainMap();

    // Into the resource's users, the header loaded, the textures and the
    // resource's buffers allocated. A missing texture is logged and makes
    // the result false (the other texture and the buffers are still made);
    // state 4 only when everything succeeded.
    bool push();
    // Out of the users, textures and the resource's buffers and data
    // released. False when it was not pushed.
    bool release();
    // The resource's buffers, cells and settings released.
    void releaseResource();
    // The per-frame rain, from the scene context's render pass.
    bool update();
    // -1 while the rain cannot draw (no device, no shaders); else sets out
    // to 0 and returns the order key.
    std::int32_t queryState(std::int32_t& out) const;

    // Generates the rain map of the scene from its setup (the settings of
    // the rain data): renders the heights, builds the cells and writes the
    // data form; the game cannot store it, so it ends false (logged).
    bool generate(Scene& scene);
    // The grid, index table and segments from a tracer's heights over the
    // rain bounds; false when no memory could hold them.
    static bool importFromTracer(RainData& data, const RainMapTracer& tracer, const float (&rainMin)[3],
                                 const float (&rainMax)[3]);
    // Whether the scene's rain setup is present (its header loads).
    bool loadSetup();

    const char* resourceUserName() const override;
    bool resourcePushed() const override { return (flags & kRainMapLoaded) != 0; }
    void setResourcePushed(bool pushed) override;

    std::uint32_t flags = 0;
    Y3RainMapData* record = nullptr;
    TextureLink dropTexture;
    TextureLink rippleTexture;
    std::int32_t orderKey = 10000;

private:
    // Marks the segments within three cells of the camera's cell and keeps
    // device buffers for exactly those.
    void followCamera(RainData& data, std::int32_t cellX, std::int32_t cellZ);
    // Draws one pass over the 7 x 7 cells around the camera's cell.
    void drawCells(RainData& data, std::int32_t cellX, std::int32_t cellZ, bool ripplePass);
};
