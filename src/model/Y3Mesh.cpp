#include "model/Y3Mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/SettingsReader.h"
#include "foundation/TimeCore.h"
#include "model/Y3MeshStream.h"
#include "render/RenderCore.h"

namespace {

MeshSettings meshSettings;

// The fewest bytes one entry of each counted block takes in a file: a
// subset (six words, a material head with four empty links, the tail), a
// bone (empty name), a stream record (magic, code, count).
constexpr std::int32_t kMinSubsetBytes = 24 + 116 + 4 + 64;
constexpr std::int32_t kMinBoneBytes = 2 + 4 + 48 + 48 + 40;
constexpr std::int32_t kMinStreamRecordBytes = 12;

// Reads a signed count that must be at least 0 and leave minBytes for each
// entry in what is left of the stream.
std::int32_t readCount(DataStream& s, std::int32_t& count, std::int32_t minBytes, const char* what) {
    const std::int32_t r = readI32(s, count);
    if (r < 0) return r;
    if (count < 0 || count > bytesLeft(s) / minBytes) {
        engineLog().error("Mesh: %s count %i runs past the end of the data", what, count);
        return -1;
    }
    return r;
}

double gameNow() { return gameCore.clocks ? gameCore.clocks->gameTime.time : 0.0; }

IDirect3DDevice9* renderDevice() { return gameCore.render ? gameCore.render->stateCache().device() : nullptr; }

// Slot i of an array of owned streams; null outside it.
Y3MeshStream* streamSlot(const std::vector<std::unique_ptr<Y3MeshStream>>& streams, std::int32_t i) {
    return i >= 0 && i < std::int32_t(streams.size()) ? streams[std::size_t(i)].get() : nullptr;
}

// A stream of count vertices for copies of source: in its format, or in
// the format's fallback on the fixed-function pipeline.
Y3MeshStream* derivedStream(const Y3MeshStream& source, std::int32_t count) {
    std::int32_t code = source.getFormat();
    if (streamsOnFixedPipeline()) code = vertexFormat(code)->fallback;
    return Y3MeshStream::create(code, count);
}

// Binds the vertex and index buffers, sends the pending state and draws an
// indexed triangle list; true when the device draws.
bool drawIndexed(IDirect3DDevice9* device, const Y3MeshStream& stream, const DXIndexStream& indices,
                 std::uint32_t vertexCount, std::uint32_t startIndex, std::uint32_t triangles) {
    stream.vertexStream().setStreamSource();
    indices.setIndices();
    gameCore.render->stateCache().apply();
    return SUCCEEDED(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, startIndex, triangles));
}

}  // namespace

Y3Mesh::Y3Mesh() = default;

Y3Mesh::~Y3Mesh() { release(3, true); }

void Y3Mesh::readConfig() {
    if (!gameCore.settings) return;
    IniCategory& render = gameCore.settings->getCategory("render");
    readSetting(render, "min_instances_per_group", meshSettings.minInstancesPerGroup, -1);
    readSetting(render, "mesh_render_cache_time", meshSettings.meshRenderCacheTime, 30.0f);
    readSetting(render, "enable_mesh_caching", meshSettings.enableMeshCaching, true);
}

const MeshSettings& Y3Mesh::settings() { return meshSettings; }

void Y3Mesh::setNames(std::string resource, std::string element) {
    resource_ = std::move(resource);
    element_ = std::move(element);
}

const char* Y3Mesh::resourceName() const { return resource_.empty() ? "NULL" : resource_.c_str(); }
const char* Y3Mesh::elementName() const { return element_.empty() ? "NULL" : element_.c_str(); }

Y3MeshStream* Y3Mesh::stream(std::int32_t i) const { return streamSlot(streams_, i); }

MeshSubset& Y3Mesh::addSubset() {
    subsets_.push_back(std::make_unique<MeshSubset>());
    return *subsets_.back();
}

void Y3Mesh::addStream(Y3MeshStream* stream) {
    streams_.emplace_back(stream);
    boundsKnown_ = false;
}

bool Y3Mesh::positionBounds(float* low, float* high) {
    if (!boundsKnown_) {
        if (!(flags_ & kDataLoaded)) return false;
        bool any = false;
        float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
        for (const std::unique_ptr<Y3MeshStream>& slot : streams_) {
            if (!slot || !slot->hasPosition()) continue;
            for (std::int32_t i = 0; i < slot->getCount(); ++i) {
                D3DXVECTOR3 p{};
                slot->getPosition(i, p);
                const float v[3] = {p.x, p.y, p.z};
                // A position that is no number leaves the box unknown.
                if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) return false;
                for (int k = 0; k < 3; ++k) {
                    lo[k] = any ? std::min(lo[k], v[k]) : v[k];
                    hi[k] = any ? std::max(hi[k], v[k]) : v[k];
                }
                any = true;
            }
        }
        if (!any) return false;
        std::copy(lo, lo + 3, boundsLow_);
        std::copy(hi, hi + 3, boundsHigh_);
        boundsKnown_ = true;
    }
    std::copy(boundsLow_, boundsLow_ + 3, low);
    std::copy(boundsHigh_, boundsHigh_ + 3, high);
    return true;
}

// ---- reading and writing ----

std::int32_t Y3Mesh::read(DataStream& s, bool skinTail, bool header) {
    return header ? readHeader(s, skinTail) : readData(s);
}

std::int32_t Y3Mesh::write(DataStream& s, bool skinTail, bool header) {
    return header ? writeHeader(s, skinTail) : writeData(s);
}

std::int32_t Y3Mesh::readHeader(DataStream& s, bool skinTail) {
    release(3, true);
    indexStream_ = DXIndexStream();
    subsets_.clear();
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(s, magic))) return total;
    if (magic != kMeshMagic) return -1;
    std::int32_t count = 0;
    if (!addField(total, readCount(s, count, kMinSubsetBytes, "subset"))) return total;
    if (count == 0) flags_ |= kBad;
    for (std::int32_t i = 0; i < count; ++i) {
        MeshSubset& sub = addSubset();
        std::int32_t words[6];
        for (std::int32_t& word : words)
            if (!addField(total, readI32(s, word))) return total;
        sub.stream = words[0];
        sub.carried = std::uint32_t(words[1]);
        sub.vertexCount = words[2];
        sub.startIndex = words[3];
        sub.indexCount = words[4];
        sub.triangleCount = words[5];
        if (!addField(total, sub.material.read(s))) return total;
        if (!addField(total, readExact(s, sub.tail, 64))) return total;
    }
    if (!addField(total, readExact(s, &boxPlacement, 48))) return total;
    if (!addField(total, readExact(s, &secondMatrix, 48))) return total;
    if (!addField(total, readExact(s, boxBlock, 64))) return total;
    if (!addField(total, readCount(s, count, kMinBoneBytes, "bone"))) return total;
    skin_.bones.resize(std::size_t(count));
    for (MeshBone& bone : skin_.bones) {
        std::uint16_t length = 0;
        if (!addField(total, readU16(s, length))) return total;
        if (length >= sizeof(bone.name)) {
            engineLog().error("Mesh: bone name of %u bytes is longer than %u", unsigned(length),
                              unsigned(sizeof(bone.name) - 1));
            return -1;
        }
        if (!addField(total, readExact(s, bone.name, length))) return total;
        if (!addField(total, readU32(s, bone.paletteWord))) return total;
        if (!addField(total, readExact(s, bone.matrices, 96))) return total;
        if (!addField(total, readExact(s, bone.block, 40))) return total;
    }
    if (!addField(total, readCount(s, count, 320, "skin record"))) return total;
    skin_.records.resize(std::size_t(count));
    if (count > 0 && !addField(total, readExact(s, skin_.records.data(), 320 * count))) return total;
    if (skinTail) {
        for (std::uint32_t& word : skin_.tailWords)
            if (!addField(total, readU32(s, word))) return total;
        if (!addField(total, readCount(s, count, 48, "skin matrix"))) return total;
        skin_.tailMatrices.resize(std::size_t(count));
        if (count > 0 && !addField(total, readExact(s, skin_.tailMatrices.data(), 48 * count))) return total;
        if (count > 0) flags_ |= kSkinMatrices;
    }
    if (flags_ & kDataLoaded) checkRanges();
    return total;
}

std::int32_t Y3Mesh::readData(DataStream& s) {
    // Buffers made for the vertices read before are made again at the next
    // allocation (a stream may now hold another count).
    if (flags_ & kAllocated) releaseDevice();
    boundsKnown_ = false;
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(s, magic))) return total;
    if (magic != kMeshMagic) return -1;
    std::int32_t count = 0;
    if (!addField(total, readCount(s, count, kMinStreamRecordBytes, "stream"))) return total;
    if (streamCount() < count) streams_.resize(std::size_t(count));
    for (std::int32_t i = 0; i < count; ++i) {
        std::unique_ptr<Y3MeshStream>& slot = streams_[std::size_t(i)];
        if (slot) {
            if (!addField(total, Y3MeshStream::readStreamRecordInto(s, *slot))) return total;
        } else {
            Y3MeshStream* created = nullptr;
            if (!addField(total, Y3MeshStream::readStreamRecord(s, created))) return total;
            slot.reset(created);
        }
    }
    if (!addField(total, readCount(s, count, 4, "index"))) return total;
    indices_.resize(std::size_t(count));
    if (count > 0 && !addField(total, readExact(s, indices_.data(), 4 * count))) return total;
    flags_ |= kDataLoaded;
    checkRanges();
    return total;
}

bool Y3Mesh::checkRanges() {
    const std::int64_t indexCount = std::int64_t(indices_.size());
    for (std::int32_t i = 0; i < subsetCount(); ++i) {
        const MeshSubset& sub = *subsets_[std::size_t(i)];
        const Y3MeshStream* source = stream(sub.stream);
        const char* fault = nullptr;
        if (!source) {
            fault = "names a missing stream";
        } else if (sub.startIndex < 0 || sub.indexCount < 0 ||
                   std::int64_t(sub.startIndex) + sub.indexCount > indexCount) {
            fault = "reaches outside the index array";
        } else {
            const std::uint32_t vertices = std::uint32_t(source->getCount());
            const std::uint32_t* first = indices_.data() + sub.startIndex;
            if (std::any_of(first, first + sub.indexCount, [vertices](std::uint32_t v) { return v >= vertices; }))
                fault = "has an index past its stream's vertices";
        }
        if (fault) {
            flags_ |= kBad;
            engineLog().error("Bad mesh [%s.%s]: subset %i %s", resourceName(), elementName(), i, fault);
            return false;
        }
    }
    return true;
}

std::int32_t Y3Mesh::writeHeader(DataStream& s, bool skinTail) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, kMeshMagic))) return total;
    if (!addField(total, writeI32(s, subsetCount()))) return total;
    for (const std::unique_ptr<MeshSubset>& sub : subsets_) {
        sub->triangleCount = sub->indexCount / 3;
        const std::int32_t words[6] = {sub->stream,     std::int32_t(sub->carried), sub->vertexCount,
                                       sub->startIndex, sub->indexCount,            sub->triangleCount};
        for (std::int32_t word : words)
            if (!addField(total, writeI32(s, word))) return total;
        if (!addField(total, sub->material.write(s))) return total;
        if (!addField(total, s.write(sub->tail, 64))) return total;
    }
    if (!addField(total, s.write(&boxPlacement, 48))) return total;
    if (!addField(total, s.write(&secondMatrix, 48))) return total;
    if (!addField(total, s.write(boxBlock, 64))) return total;
    if (!addField(total, writeI32(s, std::int32_t(skin_.bones.size())))) return total;
    for (const MeshBone& bone : skin_.bones) {
        const std::uint16_t length = std::uint16_t(strnlen(bone.name, sizeof(bone.name) - 1));
        if (!addField(total, writeU16(s, length))) return total;
        if (length > 0 && !addField(total, s.write(bone.name, length))) return total;
        if (!addField(total, writeU32(s, bone.paletteWord))) return total;
        if (!addField(total, s.write(bone.matrices, 96))) return total;
        if (!addField(total, s.write(bone.block, 40))) return total;
    }
    const std::int32_t records = std::int32_t(skin_.records.size());
    if (!addField(total, writeI32(s, records))) return total;
    if (records > 0 && !addField(total, s.write(skin_.records.data(), 320 * records))) return total;
    if (skinTail) {
        for (std::uint32_t word : skin_.tailWords)
            if (!addField(total, writeU32(s, word))) return total;
        const std::int32_t matrices = std::int32_t(skin_.tailMatrices.size());
        if (!addField(total, writeI32(s, matrices))) return total;
        if (matrices > 0 && !addField(total, s.write(skin_.tailMatrices.data(), 48 * matrices))) return total;
    }
    return total;
}

std::int32_t Y3Mesh::writeData(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, kMeshMagic))) return total;
    if (!addField(total, writeI32(s, streamCount()))) return total;
    for (std::int32_t i = 0; i < streamCount(); ++i) {
        const Y3MeshStream* source = stream(i);
        if (!source) {
            engineLog().error("Can't write mesh [%s.%s]: stream %i was removed", resourceName(), elementName(), i);
            return -1;
        }
        if (!addField(total, source->writeStreamRecord(s))) return total;
    }
    const std::int32_t count = std::int32_t(indices_.size());
    if (!addField(total, writeI32(s, count))) return total;
    if (count > 0) addField(total, s.write(indices_.data(), 4 * count));
    return total;
}

// ---- device data ----

bool Y3Mesh::allocate() {
    if (meshSettings.enableMeshCaching) return true;
    if (!(flags_ & kAllocated) && !allocateDevice()) return false;
    for (const std::unique_ptr<MeshAnimInstance>& instance : animInstances_)
        if (!(instance->flags_ & MeshAnimInstance::kAllocated) && !instance->allocate())
            engineLog().error("Fail to allocate mesh anim_instance");
    for (const std::unique_ptr<MeshInstance>& group : instances_)
        if (!(group->flags_ & MeshInstance::kAllocated) && !group->allocate())
            engineLog().error("Fail to allocate mesh instance");
    return true;
}

bool Y3Mesh::allocateDevice() {
    if ((flags_ & kBad) || streams_.empty()) return false;
    IDirect3DDevice9* device = renderDevice();
    if (!device) return false;
    for (std::int32_t i = 0; i < streamCount(); ++i) {
        std::unique_ptr<Y3MeshStream>& slot = streams_[std::size_t(i)];
        if (!slot) continue;
        // Usage bit 0 for a stream that a subset draws with bone influences.
        std::uint32_t usage = 0;
        for (const std::unique_ptr<MeshSubset>& sub : subsets_)
            if (sub->stream == i && sub->material.head.boneInfluences > 0) usage |= 1;
        if (!slot->allocateAndUpload(device, usage)) {
            slot.reset();
            engineLog().error("Can't allocate mesh stream [%s:%i] : Removed", resourceName(), i);
        }
    }
    if (!indexStream_.buffer()) {
        const std::int32_t count = std::int32_t(indices_.size());
        if (!indexStream_.allocate(device, count) || !indexStream_.writeIndices(indices_.data(), 0)) {
            engineLog().systemError("Create BAD mesh [%s.%s]", resourceName(), elementName());
            flags_ |= kBad;
            deallocate(true);
            return false;
        }
    }
    flags_ |= kAllocated;
    return true;
}

void Y3Mesh::releaseDevice() {
    for (std::unique_ptr<Y3MeshStream>& slot : streams_)
        if (slot) slot->vertexStream().release();
    indexStream_.release();
    flags_ &= ~kAllocated;
}

bool Y3Mesh::deallocate(bool) {
    releaseDevice();
    for (const std::unique_ptr<MeshAnimInstance>& instance : animInstances_)
        if ((instance->flags_ & MeshAnimInstance::kAllocated) && !instance->deallocate())
            engineLog().error("Fail to deallocate mesh anim_instance");
    for (const std::unique_ptr<MeshInstance>& group : instances_)
        if ((group->flags_ & MeshInstance::kAllocated) && !group->deallocate())
            engineLog().error("Fail to deallocate mesh instance");
    return true;
}

void Y3Mesh::release(std::int32_t mode, bool freeSkinned) {
    if (mode & 2) deallocate(true);
    if (mode & 1) {
        for (std::unique_ptr<Y3MeshStream>& slot : streams_)
            if (slot && (freeSkinned || !slot->hasBlendWeights())) slot->freeVertices();
        flags_ &= ~kDataLoaded;
    }
    if (mode != 3) return;
    if (!pending_.empty()) {
        engineLog().error("Not all mesh instance requests deleted");
        pending_.clear();
    }
    if (!animInstances_.empty()) {
        engineLog().error("Y3Mesh:release() -> first release mesh anim_instances");
        animInstances_.clear();
    }
    if (!instances_.empty()) {
        engineLog().error("Y3Mesh:release() -> first release mesh instances");
        for (const std::unique_ptr<MeshInstance>& group : instances_) {
            if (group->flags_ & MeshInstance::kAllocated) group->deallocate();
            for (MeshInstanceMember* member : group->members_) member->setGroup(nullptr);
            group->members_.clear();
        }
        instances_.clear();
    }
    releaseDevice();
    streams_.clear();
    indices_.clear();
    for (std::unique_ptr<MeshSubset>& sub : subsets_)
        for (TextureLink& link : sub->material.links) link.release(false);
    subsets_.clear();
    skin_ = MeshSkin();
    flags_ = 0;
}

bool Y3Mesh::drawSubset(std::int32_t selector) {
    if (flags_ & kBad) return false;
    if (!(flags_ & kAllocated) && !allocateDevice()) return false;
    lastUse_ = gameNow();
    std::int32_t streamIndex = -1;
    std::int32_t vertexCount = 0;
    std::int32_t startIndex = 0;
    std::int32_t triangles = 0;
    if (selector >= 0) {
        if (selector >= subsetCount()) return false;
        const MeshSubset& sub = *subsets_[std::size_t(selector)];
        streamIndex = sub.stream;
        vertexCount = sub.vertexCount;
        startIndex = sub.startIndex;
        triangles = sub.triangleCount;
    } else {
        // The run of subsets of stream -1 - selector, from the first found.
        const std::int32_t wanted = -1 - selector;
        bool found = false;
        for (const std::unique_ptr<MeshSubset>& sub : subsets_) {
            if (sub->stream != wanted) {
                if (found) break;
                continue;
            }
            if (!found) startIndex = sub->startIndex;
            found = true;
            triangles += sub->triangleCount;
            vertexCount = std::max(vertexCount, sub->vertexCount);
        }
        streamIndex = wanted;
    }
    Y3MeshStream* source = stream(streamIndex);
    IDirect3DDevice9* device = renderDevice();
    if (!source || !device) return false;
    return drawIndexed(device, *source, indexStream_, std::uint32_t(vertexCount), std::uint32_t(startIndex),
                       std::uint32_t(triangles));
}

namespace {

// True when an allocated object's device data has not been drawn for
// longer than the cache time; a last use not stamped yet becomes now.
bool unusedFor(double& lastUse, bool allocated) {
    if (!allocated || !meshSettings.enableMeshCaching) return false;
    const double now = gameNow();
    if (lastUse <= 0.0) lastUse = now;
    return now - lastUse > double(meshSettings.meshRenderCacheTime);
}

}  // namespace

void Y3Mesh::collectUnused() {
    if (unusedFor(lastUse_, flags_ & kAllocated)) releaseDevice();
    for (const std::unique_ptr<MeshAnimInstance>& instance : animInstances_)
        if (unusedFor(instance->lastUse_, instance->flags_ & MeshAnimInstance::kAllocated)) instance->deallocate();
    for (const std::unique_ptr<MeshInstance>& group : instances_)
        if (unusedFor(group->lastUse_, group->flags_ & MeshInstance::kAllocated)) group->deallocate();
}

bool Y3Mesh::validateTextures() const {
    return std::all_of(subsets_.begin(), subsets_.end(),
                       [](const std::unique_ptr<MeshSubset>& sub) { return sub->material.validateTextures(); });
}

// ---- cloth ----

bool Y3Mesh::pushCloth(ClothInstance* cloth) {
    if (std::find(cloths_.begin(), cloths_.end(), cloth) != cloths_.end()) {
        engineLog().error("Can't push cloth [%8X] instance: already registered",
                          unsigned(reinterpret_cast<std::uintptr_t>(cloth)));
        return true;
    }
    cloths_.push_back(cloth);
    return true;
}

void Y3Mesh::removeClothInstance(ClothInstance* cloth) {
    auto it = std::find(cloths_.begin(), cloths_.end(), cloth);
    if (it == cloths_.end()) return;
    *it = cloths_.back();
    cloths_.pop_back();
}

// ---- anim instances ----

MeshAnimInstance* Y3Mesh::createAnimInstance() {
    if (skin_.bones.empty()) return nullptr;
    animInstances_.push_back(std::make_unique<MeshAnimInstance>(this));
    return animInstances_.back().get();
}

void Y3Mesh::destroyAnimInstance(MeshAnimInstance* instance) {
    auto it = std::find_if(animInstances_.begin(), animInstances_.end(),
                           [instance](const std::unique_ptr<MeshAnimInstance>& own) { return own.get() == instance; });
    if (it != animInstances_.end()) animInstances_.erase(it);
}

MeshAnimInstance::MeshAnimInstance(Y3Mesh* mesh) : mesh_(mesh) {}

MeshAnimInstance::~MeshAnimInstance() {
    if (streams_.empty()) return;
    engineLog().error("Vertex stream in mesh anim_instance is allocated, deallocate first");
    deallocate();
}

Y3MeshStream* MeshAnimInstance::stream(std::int32_t i) const { return streamSlot(streams_, i); }

bool MeshAnimInstance::allocate() {
    if (flags_ & kAllocated) {
        engineLog().error("Mesh anim_instance already allocated. Deallocate first");
        return true;
    }
    if ((mesh_->flags_ & Y3Mesh::kBad) || mesh_->streams_.empty()) return true;
    IDirect3DDevice9* device = renderDevice();
    if (!device) return false;
    bool made = false;
    streams_.clear();
    streams_.resize(mesh_->streams_.size());
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        const Y3MeshStream* source = mesh_->streams_[i].get();
        if (!source || !source->hasBlendWeights()) continue;
        streams_[i].reset(derivedStream(*source, source->getCount()));
        made = made || streams_[i];
    }
    if (!made) {
        streams_.clear();
        return false;
    }
    skinStreams(nullptr, 0);
    for (const std::unique_ptr<Y3MeshStream>& stream : streams_)
        if (stream && !stream->allocateAndUpload(device, kStreamDynamic)) {
            deallocate();
            return false;
        }
    flags_ |= kAllocated;
    return true;
}

bool MeshAnimInstance::deallocate() {
    if (!(flags_ & kAllocated) && streams_.empty())
        return engineLog().error("Can't deallocate mesh anim_instance: allocate first");
    streams_.clear();
    flags_ &= ~kAllocated;
    return true;
}

void MeshAnimInstance::skin(const MeshMatrix* palette, std::int32_t count) {
    // Allocated here rather than at the first draw, whose copy of the
    // unskinned vertices would replace this pose.
    if (!(flags_ & kAllocated) && !allocate()) return;
    skinStreams(palette, count);
    upload();
}

namespace {

D3DXVECTOR3 transformPoint(const D3DXVECTOR3& p, const MeshMatrix& m) {
    return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
            p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
            p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}

D3DXVECTOR3 rotateVector(const D3DXVECTOR3& n, const MeshMatrix& m) {
    return {n.x * m.m[0][0] + n.y * m.m[1][0] + n.z * m.m[2][0],
            n.x * m.m[0][1] + n.y * m.m[1][1] + n.z * m.m[2][1],
            n.x * m.m[0][2] + n.y * m.m[1][2] + n.z * m.m[2][2]};
}

// Where a stream's vertices keep their components: the byte offsets
// within a vertex (-1 for a component the format has not), read once per
// stream so that the loops over the vertices make no virtual calls.
struct VertexLayout {
    explicit VertexLayout(const Y3MeshStream& stream)
        : stride(stream.getStride()),
          position(offset(stream, VertexComponent::Position)),
          normal(offset(stream, VertexComponent::Normal)),
          binormal(offset(stream, VertexComponent::Binormal)),
          uv(offset(stream, VertexComponent::UV)),
          lightmapUV(offset(stream, VertexComponent::LightmapUV)),
          color(offset(stream, VertexComponent::Color)),
          blendIndices(offset(stream, VertexComponent::BlendIndices)),
          blendWeights(offset(stream, VertexComponent::BlendWeights)) {}
    static std::int32_t offset(const Y3MeshStream& stream, VertexComponent c) {
        return vertexComponentOffset(stream.getFormat(), c);
    }
    std::int32_t stride, position, normal, binormal, uv, lightmapUV, color, blendIndices, blendWeights;
};

template <class T>
T loadAt(const std::uint8_t* vertex, std::int32_t offset) {
    T value{};
    if (offset >= 0) std::memcpy(&value, vertex + offset, sizeof(T));
    return value;
}
template <class T>
void storeAt(std::uint8_t* vertex, std::int32_t offset, const T& value) {
    if (offset >= 0) std::memcpy(vertex + offset, &value, sizeof(T));
}
// Copies a component both layouts have.
void copyAt(std::uint8_t* to, std::int32_t toOffset, const std::uint8_t* from, std::int32_t fromOffset,
            std::size_t bytes) {
    if (toOffset >= 0 && fromOffset >= 0) std::memcpy(to + toOffset, from + fromOffset, bytes);
}

void addScaled(D3DXVECTOR3& sum, float w, const D3DXVECTOR3& v) {
    sum.x += w * v.x;
    sum.y += w * v.y;
    sum.z += w * v.z;
}

// How many influences of weights count: every one after the first needs all
// the weights before it (from the second on) to be non-zero.
int influenceCount(const D3DXVECTOR4& w, int most) {
    const float weights[4] = {w.x, w.y, w.z, w.w};
    int n = 1;
    while (n < most && weights[n] != 0.0f) ++n;
    return n;
}

}  // namespace

void MeshAnimInstance::skinStreams(const MeshMatrix* palette, std::int32_t count) {
    // The slots of the palette: bone b's matrix at its slot; slots no bone
    // feeds stay zero.
    std::vector<MeshMatrix> slots;
    if (palette && count > 0) {
        const std::vector<MeshBone>& bones = mesh_->skin_.bones;
        const std::int32_t bonesWithMatrix = std::min(count, std::int32_t(bones.size()));
        MeshMatrix zero;
        std::memset(&zero, 0, sizeof zero);
        for (std::int32_t b = 0; b < bonesWithMatrix; ++b) {
            const std::int32_t slot = bones[std::size_t(b)].paletteSlot();
            if (slot < 0) continue;
            if (std::int32_t(slots.size()) <= slot) slots.resize(std::size_t(slot) + 1, zero);
            slots[std::size_t(slot)] = palette[b];
        }
    }
    for (std::size_t s = 0; s < streams_.size(); ++s) {
        Y3MeshStream* target = streams_[s].get();
        const Y3MeshStream* source = mesh_->streams_[s].get();
        if (!target || !source) continue;
        if (!palette || count <= 0) {
            target->copyVertices(*source);
            continue;
        }
        const std::int32_t vertices = std::min(target->getCount(), source->getCount());
        const VertexLayout from(*source);
        const VertexLayout to(*target);
        for (std::int32_t v = 0; v < vertices; ++v) {
            const std::uint8_t* in = source->getData() + std::size_t(v) * std::size_t(from.stride);
            std::uint8_t* out = target->getData() + std::size_t(v) * std::size_t(to.stride);
            const D3DXVECTOR3 p = loadAt<D3DXVECTOR3>(in, from.position);
            const D3DXVECTOR4 w = loadAt<D3DXVECTOR4>(in, from.blendWeights);
            const std::uint32_t packed = loadAt<std::uint32_t>(in, from.blendIndices);
            const float weights[4] = {w.x, w.y, w.z, w.w};
            D3DXVECTOR3 position{};
            const int influences = influenceCount(w, 4);
            for (int k = 0; k < influences; ++k) {
                const std::size_t slot = (packed >> (8 * k)) & 0xFFu;
                if (slot >= slots.size()) continue;  // past the palette: adds nothing
                addScaled(position, weights[k], transformPoint(p, slots[slot]));
            }
            storeAt(out, to.position, position);
            if (from.normal >= 0) {
                const D3DXVECTOR3 n = loadAt<D3DXVECTOR3>(in, from.normal);
                D3DXVECTOR3 normal{};
                const int normalInfluences = std::min(influences, 3);
                for (int k = 0; k < normalInfluences; ++k) {
                    const std::size_t slot = (packed >> (8 * k)) & 0xFFu;
                    if (slot < slots.size()) addScaled(normal, weights[k], rotateVector(n, slots[slot]));
                }
                storeAt(out, to.normal, normal);
            }
            copyAt(out, to.uv, in, from.uv, sizeof(D3DXVECTOR2));
            copyAt(out, to.lightmapUV, in, from.lightmapUV, sizeof(D3DXVECTOR2));
        }
    }
}

bool MeshAnimInstance::upload() {
    bool all = true;
    for (const std::unique_ptr<Y3MeshStream>& stream : streams_)
        if (stream && !stream->upload(D3DLOCK_DISCARD)) all = false;
    return all;
}

bool MeshAnimInstance::drawSubset(std::int32_t subset) {
    if (subset < 0 || subset >= mesh_->subsetCount() || (mesh_->flags_ & Y3Mesh::kBad)) return false;
    const MeshSubset& sub = mesh_->subset(subset);
    IDirect3DDevice9* device = renderDevice();
    if (sub.stream < 0 || sub.stream >= std::int32_t(mesh_->streams_.size()) || !device) return false;
    if (!(flags_ & kAllocated) && !allocate()) return false;
    if (!(mesh_->flags_ & Y3Mesh::kAllocated) && !mesh_->allocateDevice()) return false;
    Y3MeshStream* source = stream(sub.stream);
    if (!source) return false;
    lastUse_ = gameNow();
    return drawIndexed(device, *source, mesh_->indexStream_, std::uint32_t(sub.vertexCount),
                       std::uint32_t(sub.startIndex), std::uint32_t(sub.triangleCount));
}

// ---- instancing ----

void Y3Mesh::registerInstance(MeshInstanceMember* member) {
    const std::int32_t minimum = meshSettings.minInstancesPerGroup;
    if (minimum < 0 || !member) return;
    for (const std::unique_ptr<MeshInstance>& group : instances_)
        if (!(group->flags_ & MeshInstance::kFull) && group->key_ == member->key && group->push(member)) return;
    std::vector<MeshInstanceMember*> matching;
    for (MeshInstanceMember* waiting : pending_)
        if (waiting->key == member->key) matching.push_back(waiting);
    if (std::int32_t(matching.size()) < minimum - 1) {
        pending_.push_back(member);
        return;
    }
    instances_.push_back(std::make_unique<MeshInstance>(this, member->key));
    MeshInstance& group = *instances_.back();
    if (!group.push(member)) return;
    for (MeshInstanceMember* waiting : matching) {
        if (!group.push(waiting)) break;
        pending_.erase(std::find(pending_.begin(), pending_.end(), waiting));
    }
}

void Y3Mesh::unregisterInstance(MeshInstanceMember* member) {
    if (meshSettings.minInstancesPerGroup >= 0) {
        auto it = std::find(pending_.begin(), pending_.end(), member);
        if (it != pending_.end()) {
            pending_.erase(it);
            if (pending_.empty()) pending_.shrink_to_fit();
            return;
        }
    }
    for (auto it = instances_.begin(); it != instances_.end(); ++it) {
        if (!(*it)->pop(member)) continue;
        if ((*it)->members_.empty()) instances_.erase(it);
        return;
    }
    engineLog().error("Unregistered mesh instance for model [%s] element [%s]: Failed POP from instancing list",
                      member->modelName.c_str(), member->elementName.c_str());
}

MeshInstance::MeshInstance(Y3Mesh* mesh, const MeshInstanceKey& key) : mesh_(mesh), key_(key) {}

MeshInstance::~MeshInstance() {
    if (!streams_.empty()) engineLog().error("Release mesh instance streams before destructor");
    if (indexStream_.buffer()) engineLog().error("Release mesh instance index stream before destructor");
    if (!members_.empty()) engineLog().error("Release mesh instance requests before destructor");
}

Y3MeshStream* MeshInstance::stream(std::int32_t i) const { return streamSlot(streams_, i); }

bool MeshInstance::push(MeshInstanceMember* member) {
    if (std::find(members_.begin(), members_.end(), member) != members_.end()) {
        engineLog().error("Can't PUSH instance model [%s] element [%s]: Already instanced", member->modelName.c_str(),
                          member->elementName.c_str());
        return false;
    }
    // A full group takes nobody: one more member could carry its index
    // values past 16 bits.
    if (flags_ & kFull) return false;
    members_.push_back(member);
    member->setGroup(this);
    if (flags_ & kAllocated) deallocate();
    // Member k's index values grow by k times its stream's vertex count, so
    // the largest stream (or subset) count decides.
    std::int32_t largest = 0;
    for (const std::unique_ptr<Y3MeshStream>& source : mesh_->streams_)
        if (source) largest = std::max(largest, source->getCount());
    for (const std::unique_ptr<MeshSubset>& sub : mesh_->subsets_) largest = std::max(largest, sub->vertexCount);
    if ((std::int64_t(members_.size()) + 1) * largest >= kMaxStreamVertices) flags_ |= kFull;
    return true;
}

void MeshInstance::invalidate() {
    if (flags_ & kAllocated) deallocate();
}

bool MeshInstance::pop(MeshInstanceMember* member) {
    auto it = std::find(members_.begin(), members_.end(), member);
    if (it == members_.end()) return false;
    members_.erase(it);
    member->setGroup(nullptr);
    if (flags_ & kAllocated) deallocate();
    flags_ &= ~kFull;
    return true;
}

namespace {

float determinant3(const MeshMatrix& m) {
    const float(&a)[4][3] = m.m;
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
}

}  // namespace

bool MeshInstance::allocate() {
    if (flags_ & kAllocated) {
        engineLog().error("Mesh instance already allocated. Deallocate first");
        return true;
    }
    if ((mesh_->flags_ & Y3Mesh::kBad) || mesh_->streams_.empty()) return true;
    IDirect3DDevice9* device = renderDevice();
    if (!(mesh_->flags_ & Y3Mesh::kDataLoaded) || !device || members_.empty()) return false;
    const std::int32_t n = std::int32_t(members_.size());
    streams_.clear();
    streams_.resize(mesh_->streams_.size());
    for (std::size_t i = 0; i < streams_.size(); ++i) {
        const Y3MeshStream* source = mesh_->streams_[i].get();
        if (!source) continue;
        if (std::int64_t(n) * source->getCount() > kMaxStreamVertices) {
            streams_.clear();
            return engineLog().error("Mesh instance of %i members passes %i vertices", n, kMaxStreamVertices);
        }
        streams_[i].reset(derivedStream(*source, n * source->getCount()));
    }
    // The index list: each subset's run once per member, member k's values
    // moved past the k members before it.
    const std::vector<std::uint32_t>& indices = mesh_->indices_;
    indices_.assign(indices.size() * std::size_t(n), 0);
    for (const std::unique_ptr<MeshSubset>& sub : mesh_->subsets_) {
        const Y3MeshStream* source = mesh_->stream(sub->stream);
        const std::uint32_t vertices = source ? std::uint32_t(source->getCount()) : 0;
        for (std::int32_t k = 0; k < n; ++k) {
            std::uint32_t* to = indices_.data() + std::size_t(sub->startIndex) * std::size_t(n) +
                                std::size_t(k) * std::size_t(sub->indexCount);
            const std::uint32_t* from = indices.data() + sub->startIndex;
            const std::uint32_t offset = std::uint32_t(k) * vertices;
            // A mirroring matrix (negative determinant) turns the faces
            // over once the vertices are transformed: reversing its
            // triangles keeps them facing as the member drawn alone does.
            const bool reverse = determinant3(members_[std::size_t(k)]->matrix) < 0.0f;
            for (std::int32_t i = 0; i < sub->indexCount; ++i) {
                std::int32_t at = i;
                if (reverse && i - i % 3 + 2 < sub->indexCount) at = i - i % 3 + (2 - i % 3);
                to[i] = from[at] + offset;
            }
        }
    }
    // The vertices of every member, transformed by its element matrix.
    for (std::size_t s = 0; s < streams_.size(); ++s) {
        Y3MeshStream* target = streams_[s].get();
        const Y3MeshStream* source = mesh_->streams_[s].get();
        if (!target || !source) continue;
        const std::int32_t count = source->getCount();
        const VertexLayout from(*source);
        const VertexLayout to(*target);
        std::uint8_t* out = target->getData();
        for (std::int32_t k = 0; k < n; ++k) {
            const MeshMatrix& m = members_[std::size_t(k)]->matrix;
            const std::uint8_t* in = source->getData();
            for (std::int32_t v = 0; v < count; ++v, in += from.stride, out += to.stride) {
                storeAt(out, to.position, transformPoint(loadAt<D3DXVECTOR3>(in, from.position), m));
                if (from.normal >= 0) storeAt(out, to.normal, rotateVector(loadAt<D3DXVECTOR3>(in, from.normal), m));
                if (from.binormal >= 0)
                    storeAt(out, to.binormal, rotateVector(loadAt<D3DXVECTOR3>(in, from.binormal), m));
                copyAt(out, to.uv, in, from.uv, sizeof(D3DXVECTOR2));
                copyAt(out, to.lightmapUV, in, from.lightmapUV, sizeof(D3DXVECTOR2));
                copyAt(out, to.color, in, from.color, sizeof(std::uint32_t));
            }
        }
    }
    for (const std::unique_ptr<Y3MeshStream>& stream : streams_)
        if (stream && !stream->allocateAndUpload(device, kStreamDynamic)) {
            flags_ |= kAllocated;
            deallocate();
            return false;
        }
    if (!indexStream_.allocate(device, std::int32_t(indices_.size())) ||
        !indexStream_.writeIndices(indices_.data(), 0)) {
        flags_ |= kAllocated;
        deallocate();
        return false;
    }
    flags_ |= kAllocated;
    return true;
}

bool MeshInstance::deallocate() {
    if (!(flags_ & kAllocated)) return engineLog().error("Can't deallocate mesh instance: allocate first");
    streams_.clear();
    indexStream_.release();
    flags_ &= ~kAllocated;
    return true;
}

bool MeshInstance::drawSubset(std::int32_t subset) {
    if (subset < 0 || subset >= mesh_->subsetCount() || (mesh_->flags_ & Y3Mesh::kBad)) return false;
    if (!(flags_ & kAllocated) && !allocate()) return false;
    const MeshSubset& sub = mesh_->subset(subset);
    Y3MeshStream* source = stream(sub.stream);
    IDirect3DDevice9* device = renderDevice();
    if (!source || !device) return false;
    lastUse_ = gameNow();
    const std::uint32_t n = std::uint32_t(members_.size());
    return drawIndexed(device, *source, indexStream_, std::uint32_t(sub.vertexCount) * n,
                       std::uint32_t(sub.startIndex) * n, std::uint32_t(sub.triangleCount) * n);
}
