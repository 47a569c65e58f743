#include "effects/RainMap.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/Matrix.h"
#include "foundation/MersenneTwister.h"
#include "model/Y3MeshStream.h"
#include "render/DXTextureHandler.h"
#include "render/RenderCore.h"
#include "render/VideoCore.h"
#include "render/VideoDevice.h"
#include "render/shaders/ShaderCore.h"
#include "render/states/DXStateCache.h"

namespace {

RainMapDataManager* installedManager = nullptr;

// The rain programs: drops and ripples, both coloured by PS_RAINMAP.
constexpr std::int32_t kDropVertexProgram = 4;
constexpr std::int32_t kRippleVertexProgram = 5;
constexpr std::int32_t kRainPixelProgram = 2;

// Rain is drawn only with shaders.
bool rainShaders() {
    return textureEnvironment().videoSetup().details != VideoDetailsMinimum &&
           !(gameCore.video && gameCore.video->fixedPipeline);
}

IDirect3DDevice9* rainDevice() { return textureEnvironment().device(); }

void setVector(ShaderCore& shaders, ShaderProgram* program, const char* name, float x, float y, float z, float w) {
    if (VertexData* variable = shaders.programVariable(program, name)) {
        variable->changed = 0;
        variable->setValues(x, y, z, w);
    }
}

// A whole-field read that counts into total; false once the record failed.
bool readField(DataStream& stream, void* field, std::int32_t bytes, std::int32_t& total) {
    return addField(total, readExact(stream, field, bytes));
}

}  // namespace

RainMapDataManager* rainMapDataManager() { return installedManager; }
void setRainMapDataManager(RainMapDataManager* manager) { installedManager = manager; }

std::int16_t rainHeightCode(float height) {
    if (!std::isfinite(height)) return kRainMissingHeight;
    const float scaled = std::trunc(height * 32.0f);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

std::int32_t rainCellOf(float position, float origin) {
    const float cell = std::trunc(0.1f * (position - origin));
    // Far away (or not a number): a cell no grid holds.
    if (!(std::fabs(cell) < 1.0e6f)) return std::numeric_limits<std::int32_t>::min() / 2;
    return static_cast<std::int32_t>(cell);
}

std::int32_t rainDropsDrawn(std::int32_t dx, std::int32_t dz, bool ripplePass) {
    const double d = std::sqrt(double(dx) * dx + double(dz) * dz) / std::sqrt(18.0);
    const double share = ripplePass ? 1.0 - d * d : (1.0 - d) * (1.0 - d);
    if (share <= 0.01) return 0;
    return static_cast<std::int32_t>(share * kRainDropsPerCell);
}

std::unique_ptr<Y3MeshStream> buildRainDropStream(const RainSettings& settings, float baseX, float baseZ,
                                                  const std::int16_t (&heights)[kRainDropsPerCell]) {
    std::unique_ptr<Y3MeshStream> stream(Y3MeshStream::create(kRainVertexFormat, kRainVerticesPerCell));
    if (!stream || stream->getCount() != kRainVerticesPerCell) return nullptr;
    // Settings that would divide by zero draw from one frame of a one-frame strip.
    const std::int32_t framesUsed = std::max(settings.dropFramesUsed, 1);
    const float strip = static_cast<float>(std::max(settings.dropFramesInStrip, 1));
    static const float kCorners[4][2] = {{-0.5f, 1.0f}, {-0.5f, 0.0f}, {0.5f, 0.0f}, {0.5f, 1.0f}};
    std::int32_t drop = 0;
    for (int c = 0; c < 10; ++c)
        for (int d = 0; d < 10; ++d)
            for (int a = 0; a < 2; ++a)
                for (int b = 0; b < 2; ++b, ++drop) {
                    const float r1 = float(MersenneTwister::nextDouble());
                    const float r2 = float(MersenneTwister::nextDouble());
                    const float r3 = float(MersenneTwister::nextDouble());
                    const float r4 = float(MersenneTwister::nextDouble());
                    const D3DXVECTOR3 position{baseX + float(c) + 0.5f * float(a) + 0.5f * r1 - 0.25f,
                                               float(heights[drop]) / 32.0f,
                                               baseZ + float(d) + 0.5f * float(b) + 0.5f * r2 - 0.25f};
                    const float size = settings.dropSizeMin + r3 * (settings.dropSizeMax - settings.dropSizeMin);
                    const float length = float(settings.dropPhaseScale) * size + float(settings.dropPhaseBase);
                    const float phase = r4 * length;
                    const std::int32_t frame = std::rand() % framesUsed;
                    const float u0 = float(frame) / strip;
                    const float u1 = float(frame + 1) / strip;
                    for (int v = 0; v < 4; ++v) {
                        const std::int32_t i = drop * 4 + v;
                        stream->setPosition(i, position);
                        stream->setNormal(i, D3DXVECTOR3{phase, 1.0f, 0.0f});
                        stream->setUV(i, D3DXVECTOR2{kCorners[v][0], kCorners[v][1]});
                        stream->setLightmapUV(i, D3DXVECTOR2{v < 2 ? u0 : u1, length});
                    }
                }
    return stream;
}

// ---- RainData ----

RainData::RainData() { indices.setUsage(D3DUSAGE_WRITEONLY); }

RainData::~RainData() { releaseContents(); }

std::int32_t RainData::readHeader(DataStream& stream) {
    std::memset(name, 0, sizeof name);
    std::int32_t total = 0;
    std::uint16_t length = 0;
    if (!addField(total, readU16(stream, length))) return total;
    std::string text(length, '\0');
    if (length > 0 && !readField(stream, text.data(), length, total)) return total;
    std::memcpy(name, text.data(), std::min<std::size_t>(text.size(), sizeof name - 1));
    RainSettings read;
    static_assert(std::endian::native == std::endian::little, "rain settings are read in place");
    if (!readField(stream, &read, sizeof read, total)) return total;
    // The texture names are zero-terminated whatever the file holds.
    read.dropTexture[sizeof read.dropTexture - 1] = 0;
    read.rippleTexture[sizeof read.rippleTexture - 1] = 0;
    settings = read;
    flags |= kRainDataLoaded;
    return total;
}

std::int32_t RainData::writeHeader(DataStream& stream) const {
    std::int32_t total = 0;
    const auto length = static_cast<std::uint16_t>(std::strlen(name));
    if (!addField(total, writeU16(stream, length))) return total;
    if (length > 0 && !addField(total, stream.write(name, length))) return total;
    addField(total, stream.write(&settings, sizeof settings));
    return total;
}

std::int32_t RainData::readData(DataStream& stream) {
    releaseContents();
    Log& log = engineLog();
    std::int32_t total = 0;
    // A damaged form: "Rain map [name]: reason", or a message of its own.
    auto fail = [&](const char* reason) {
        log.error("Rain map [%s]: %s", name, reason);
        releaseContents();
        return total < 0 ? total : -1;
    };
    auto failWith = [&](const char* message) {
        log.error("%s", message);
        releaseContents();
        return total < 0 ? total : -1;
    };
    std::int32_t gridWidth = 0, gridHeight = 0;
    float corner[3] = {};
    if (!addField(total, readI32(stream, gridWidth)) || !addField(total, readI32(stream, gridHeight)) ||
        !readField(stream, corner, sizeof corner, total))
        return fail("grid cut short");
    if (gridWidth < 0 || gridHeight < 0) return fail("negative grid size");
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return fail("index table cut short");
    // One entry a cell, no more and no fewer, and all of them in the stream.
    if (std::uint64_t(count) != std::uint64_t(gridWidth) * std::uint64_t(gridHeight))
        return fail("index table does not match the grid");
    if (std::uint64_t(count) * 4 > std::uint64_t(bytesLeft(stream)))
        return fail("index table cut short");
    std::vector<std::int32_t> table(count);
    if (count > 0 && !readField(stream, table.data(), std::int32_t(count * 4), total))
        return fail("index table cut short");
    std::uint32_t segmentCount = 0;
    if (!addField(total, readU32(stream, segmentCount))) return fail("segments cut short");
    // Every segment record takes at least its magic, code and count.
    if (std::uint64_t(segmentCount) * 12 > std::uint64_t(bytesLeft(stream)))
        return fail("segments cut short");
    std::vector<RainSegment> read;
    read.reserve(segmentCount);
    for (std::uint32_t i = 0; i < segmentCount; ++i) {
        Y3MeshStream* made = nullptr;
        const std::int32_t bytes = Y3MeshStream::readStreamRecord(stream, made);
        std::unique_ptr<Y3MeshStream> segment(made);
        if (!addField(total, bytes) || !segment) return fail("damaged segment");
        if (segment->getFormat() != kRainVertexFormat) return failWith("Invalid rain map vertex stream type");
        // Every draw reads the cell's 1,600 vertices.
        if (segment->getCount() != kRainVerticesPerCell) return fail("segment of the wrong size");
        read.push_back({false, std::move(segment)});
    }
    for (std::int32_t entry : table)
        if (entry < -1 || entry >= std::int32_t(segmentCount)) return failWith("Rain map index table is broken");
    std::int16_t missing[kRainDropsPerCell];
    std::fill(std::begin(missing), std::end(missing), kRainMissingHeight);
    emptyCell = buildRainDropStream(settings, 0.0f, 0.0f, missing);
    if (!emptyCell) return fail("no memory for the empty cell");
    width = gridWidth;
    height = gridHeight;
    std::copy(corner, corner + 3, origin);
    indexTable = std::move(table);
    segments = std::move(read);
    flags |= kRainDataLoaded;
    return total;
}

std::int32_t RainData::writeData(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeI32(stream, width)) || !addField(total, writeI32(stream, height)) ||
        !addField(total, writeFloats(stream, origin, 3)) ||
        !addField(total, writeU32(stream, std::uint32_t(indexTable.size()))))
        return total;
    for (std::int32_t entry : indexTable)
        if (!addField(total, writeI32(stream, entry))) return total;
    if (!addField(total, writeU32(stream, std::uint32_t(segments.size())))) return total;
    for (const RainSegment& segment : segments) {
        if (!segment.stream) return -1;
        if (!addField(total, segment.stream->writeStreamRecord(stream))) return total;
    }
    return total;
}

void RainData::releaseContents() {
    releaseBuffers();
    indexTable.clear();
    segments.clear();
    emptyCell.reset();
    width = height = 0;
}

bool RainData::createBuffers(IDirect3DDevice9* device) {
    Log& log = engineLog();
    if (flags & kRainDataAllocated) return log.error("Can't twice allocate rain map [%s] buffer.", name);
    if (!device) return false;
    flags |= kRainDataAllocated;
    if (!emptyCell || !emptyCell->allocateAndUpload(device, 0)) {
        releaseBuffers();
        return log.error("Can't allocate empty rain map stream");
    }
    auto* written = indices.allocate(device, kRainIndexCount)
                        ? static_cast<std::uint16_t*>(indices.lock(0))
                        : nullptr;
    if (!written) {
        releaseBuffers();
        return log.error("Can't allocate rain map index buffer");
    }
    for (std::int32_t q = 0; q < kRainDropsPerCell; ++q) {
        const auto base = static_cast<std::uint16_t>(q * 4);
        const std::uint16_t quad[6] = {base, std::uint16_t(base + 1), std::uint16_t(base + 2),
                                       std::uint16_t(base + 3), base, std::uint16_t(base + 2)};
        std::copy(quad, quad + 6, written + q * 6);
    }
    indices.unlock();
    return true;
}

void RainData::releaseBuffers() {
    indices.release();
    if (emptyCell) emptyCell->vertexStream().release();
    for (RainSegment& segment : segments)
        if (segment.stream) segment.stream->vertexStream().release();
    flags &= ~kRainDataAllocated;
}

std::int32_t RainData::cellEntry(std::int32_t x, std::int32_t z) const {
    if (x < 0 || z < 0 || x >= width || z >= height) return -1;
    const std::size_t at = std::size_t(z) * std::size_t(width) + std::size_t(x);
    return at < indexTable.size() ? indexTable[at] : -1;
}

// ---- Y3RainMapData ----

Y3RainMapData::Y3RainMapData(const char* name) : StoredResourceRecord(name, resourceDescriptor(ResourceKind::RainMap)) {}

Y3RainMapData::~Y3RainMapData() { data.reset(); }

std::int32_t Y3RainMapData::readHeader(DataStream& stream) {
    data = std::make_unique<RainData>();
    const std::int32_t result = data->readHeader(stream);
    if (result < 0) data.reset();
    return result;
}

std::int32_t Y3RainMapData::readData(DataStream& stream) { return data ? data->readData(stream) : -1; }

void Y3RainMapData::deleteObject() { data.reset(); }

bool Y3RainMapData::allocateObject() { return data && data->createBuffers(rainDevice()); }

void Y3RainMapData::deallocateObject(bool) {
    if (data) data->releaseBuffers();
}

void Y3RainMapData::unloadData() {
    if (data) data->releaseContents();
}

void Y3RainMapData::releaseDeviceObjects() {
    if (data) data->releaseBuffers();
    flags &= ~kResourceAllocated;
}

// ---- RainMapDataManager ----

RainMapDataManager::RainMapDataManager()
    : StoredDataManager({.className = "RainMapDataManager", .kind = ResourceKind::RainMap}) {}

ResourceRecord* RainMapDataManager::createRecord(const char* name) { return new Y3RainMapData(name); }

bool RainMapDataManager::compileFromSource(const char* sourcePath) {
    Log& log = engineLog();
    std::string name, target;
    compiledPathOf(sourcePath ? sourcePath : "", name, target);
    // The source itself is not read: the record takes the default settings.
    RainData data;
    std::strncpy(data.name, name.c_str(), sizeof data.name - 1);
    MemoryStream header;
    if (data.writeHeader(header) < 0) return log.error("Can't save Rain %s data to RAM file", name.c_str());
    // The game cannot store compiled data: refused before the target is
    // opened, so an older file is kept.
    if (saveCompiledStream(header, target.c_str())) return true;
    return log.error("Fail to save imported rain data to file [%s]", target.c_str());
}

void RainMapDataManager::releaseBuffers() {
    for (std::uint32_t i = 0; i < count(); ++i) {
        ResourceRecord* record = recordAt(i);
        if (record && record->has(kResourceAllocated)) record->releaseDeviceObjects();
    }
}

// ---- RainMap ----

std::unique_ptr<RainMap> RainMap::create(Y3RainMapData* record) {
    if (!record || (record->has(kResourceUnavailable) && !record->has(kResourcePlaceholder))) return nullptr;
    auto rain = std::make_unique<RainMap>();
    rain->record = record;
    return rain;
}

RainMap::~RainMap() {
    if (flags & kRainMapLoaded) release();
}

const char* RainMap::resourceUserName() const { return record ? record->name : ""; }

void RainMap::setResourcePushed(bool pushed) {
    if (pushed) flags |= kRainMapLoaded;
    else flags &= ~kRainMapLoaded;
}

bool RainMap::loadSetup() {
    RainMapDataManager* manager = rainMapDataManager();
    if (!record || !manager) return false;
    if (!record->has(kResourceHeaderLoaded) && !record->has(kResourceUnavailable))
        manager->loadHeader(record, nullptr);
    return record->data != nullptr;
}

bool RainMap::push() {
    Log& log = engineLog();
    if (!record || !ResourceManagerBase::push(record, this)) return false;
    RainMapDataManager* manager = rainMapDataManager();
    if (!loadSetup()) return log.error("Can't push rain map [%s]: Rain data NOT found", record->name);
    const RainSettings& settings = record->data->settings;
    bool ok = true;
    dropTexture.init(settings.dropTexture);
    rippleTexture.init(settings.rippleTexture);
    if (!dropTexture.allocateDefault(0, false) || !dropTexture.handler())
        ok = log.error("Can't allocate rain map [%s] texture", "drops");
    if (!rippleTexture.allocateDefault(0, false) || !rippleTexture.handler())
        ok = log.error("Can't allocate rain map [%s] texture", "ripple");
    if (!record->has(kResourceAllocated) && !(manager && manager->allocate(record)))
        ok = log.error("Can't allocate rain data [%s] mesh streams", record->name);
    if (ok) flags |= kRainMapAllocated;
    else flags &= ~kRainMapAllocated;
    return ok;
}

bool RainMap::release() {
    if (!record) return false;
    const bool popped = ResourceManagerBase::pop(record, this);
    dropTexture.release(false);
    rippleTexture.release(false);
    // The resource's buffers, cells and settings go with the rain.
    releaseResource();
    flags &= ~kRainMapAllocated;
    return popped;
}

void RainMap::releaseResource() {
    if (!record) return;
    if (record->has(kResourceAllocated)) record->deallocate(false);
    if (record->has(kResourceHeaderLoaded)) record->release();
}

std::int32_t RainMap::queryState(std::int32_t& out) const {
    if (!rainDevice() || !rainShaders()) return -1;
    out = 0;
    return orderKey;
}

bool RainMap::update() {
    RenderCore* render = gameCore.render;
    const bool shaders = rainShaders();
    if (!(flags & kRainShown) || !shaders) {
        if (flags & kRainMapLoaded) release();
        return true;
    }
    if (!(flags & kRainMapLoaded) && !push()) {
        flags &= ~kRainShown;
        flags |= kRainPushFailed;
        // The push said why; the player learns the rain stays off until shown again.
        engineLog().warning("Rain map [%s] turned off: it could not be pushed", resourceUserName());
        return false;
    }
    // The mirror and depth passes draw the scene again without its rain.
    if (!render || render->secondaryPass) return true;
    if (!record || !loadSetup()) return false;
    RainData& data = *record->data;
    if (!(data.flags & kRainDataAllocated) || !render->cameraFrame.valid) return false;
    const std::int32_t cellX = rainCellOf(render->cameraFrame.position[0], data.origin[0]);
    const std::int32_t cellZ = rainCellOf(render->cameraFrame.position[2], data.origin[2]);
    followCamera(data, cellX, cellZ);
    drawCells(data, cellX, cellZ, false);
    drawCells(data, cellX, cellZ, true);
    // The objects after the rain draw with depth writes and no blending.
    ShaderPassState& pass = render->shaders().pass;
    pass.blendMode = 0;
    pass.depthFunction = 6;
    pass.blendApplied = pass.depthApplied = pass.cullApplied = 0;
    return true;
}

void RainMap::followCamera(RainData& data, std::int32_t cellX, std::int32_t cellZ) {
    for (RainSegment& segment : data.segments) segment.inView = false;
    for (std::int32_t z = cellZ - kRainViewCells; z <= cellZ + kRainViewCells; ++z)
        for (std::int32_t x = cellX - kRainViewCells; x <= cellX + kRainViewCells; ++x) {
            const std::int32_t entry = data.cellEntry(x, z);
            if (entry >= 0 && entry < std::int32_t(data.segments.size()))
                data.segments[std::size_t(entry)].inView = true;
        }
    IDirect3DDevice9* device = rainDevice();
    for (RainSegment& segment : data.segments) {
        if (!segment.stream) continue;
        DXVertexStream& buffer = segment.stream->vertexStream();
        if (segment.inView && !buffer.buffer()) {
            if (device) segment.stream->allocateAndUpload(device, 0);
        } else if (!segment.inView && buffer.buffer()) {
            buffer.release();
        }
    }
}

void RainMap::drawCells(RainData& data, std::int32_t cellX, std::int32_t cellZ, bool ripplePass) {
    RenderCore& render = *gameCore.render;
    ShaderCore& shaders = render.shaders();
    const RainSettings& s = data.settings;
    shaders.selectVertexProgram(ripplePass ? kRippleVertexProgram : kDropVertexProgram);
    shaders.selectPixelProgram(kRainPixelProgram);
    ShaderProgram* vertex = shaders.currentVertexProgram();
    ShaderProgram* pixel = shaders.currentPixelProgram();
    if (!vertex || !pixel || !vertex->has(ShaderProgram::BodyLoaded) || !pixel->has(ShaderProgram::BodyLoaded)) return;
    const float base = float(s.dropPhaseBase);
    const float inverseBase = s.dropPhaseBase != 0 ? 1.0f / base : 0.0f;
    const float time = shaders.frame.time;
    if (!ripplePass) {
        const float strip = s.dropFramesInStrip != 0 ? 1.0f / float(s.dropFramesInStrip) : 0.0f;
        setVector(shaders, vertex, "vTT0", base, inverseBase, strip, 0.0f);
        setVector(shaders, vertex, "vTT1", s.dropPass1, s.dropPass2, 0.0f, 0.0f);
        setVector(shaders, vertex, "vTT2", float(s.dropPhaseScale) * time, 0.0f, 0.0f, 0.0f);
        setVector(shaders, vertex, "vColorMain", s.dropColour[0], s.dropColour[1], s.dropColour[2], 1.0f);
        dropTexture.bindToStage(0, 0, false);
    } else {
        setVector(shaders, vertex, "vColorMain", s.rippleColour[0], s.rippleColour[1], s.rippleColour[2], 1.0f);
        setVector(shaders, vertex, "vTT0", base, inverseBase, s.ripplePass3, 0.0f);
        setVector(shaders, vertex, "vTT1", s.ripplePass1, s.ripplePass2, 0.0f, 0.0f);
        setVector(shaders, vertex, "vTT2", float(s.rippleSpeed) * time, 0.0f, 0.0f, 0.0f);
        if (rippleTexture.handler()) rippleTexture.bindToStage(0, 0, false);
    }
    // Lit by the drops' own colour: added over the scene, tested against
    // its depth without writing it, both faces.
    ShaderPassState& pass = shaders.pass;
    pass.alphaMode = 0;
    pass.blendMode = 7;
    pass.cullMode = 0;
    pass.depthFunction = 6;
    pass.fogMode = 0;
    pass.alphaApplied = pass.blendApplied = pass.cullApplied = pass.depthApplied = 0;
    IDirect3DDevice9* device = render.stateCache().device();
    if (!device || !data.indices.buffer()) return;
    const std::int32_t segmentCount = std::int32_t(data.segments.size());
    for (std::int32_t dz = -kRainViewCells; dz <= kRainViewCells; ++dz)
        for (std::int32_t dx = -kRainViewCells; dx <= kRainViewCells; ++dx) {
            const std::int32_t drops = rainDropsDrawn(dx, dz, ripplePass);
            if (drops <= 0) continue;
            const std::int32_t x = cellX + dx, z = cellZ + dz;
            const std::int32_t entry = data.cellEntry(x, z);
            if (entry < -1 || entry >= segmentCount) {
                engineLog().error("Rain map index table is broken");
                continue;
            }
            Y3MeshStream* stream = nullptr;
            D3DMATRIX world = identityMatrix();
            if (entry >= 0) {
                stream = data.segments[std::size_t(entry)].stream.get();
            } else if (ripplePass) {
                stream = data.emptyCell.get();
                world.m[3][0] = data.origin[0] + kRainCellSize * float(x);
                world.m[3][2] = data.origin[2] + kRainCellSize * float(z);
            }
            if (!stream || !stream->vertexStream().buffer()) continue;
            D3DMATRIX projected{};
            matrix44Multiply(&world.m[0][0], &shaders.frame.viewProjection.m[0][0], &projected.m[0][0]);
            if (VertexData* m = shaders.programVariable(vertex, "mWorldViewProjection")) {
                m->changed = 0;
                m->setMatrix(0, projected);
            }
            if (!stream->vertexStream().setStreamSource() || !data.indices.setIndices()) continue;
            render.stateCache().setRender(DXStateCache::RsFillMode, D3DFILL_SOLID);
            shaders.prepareDraw(true);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, kRainVerticesPerCell, 0, UINT(drops * 2));
        }
}
