// A mesh of the models: the drawable geometry of one level of detail of one
// model element.
//
// A mesh is vertex streams with one 32-bit index array, cut into subsets
// that each draw a run of indices with one material, plus its bounding box
// and, for skinned geometry, a skeleton. It is read in two parts: the
// header part (subsets, matrices, box, skin) from the model's header file
// and the data part (streams, indices) from its data file. Device data is
// made lazily at the first draw when mesh caching is on, and released again
// by collectUnused when the mesh was not drawn for a while.
//
// Header part: magic 0x73836505, the subset count, per subset six 32-bit
// words, the material record and a 64-byte tail; the box placement matrix
// and a second 3x4 matrix; the 64-byte box block; the bone count and the
// bones (u16 name length, name, palette word, two 3x4 matrices, 40 bytes);
// the count of 320-byte records and the records; with the element's skin
// tail flag, two u32 values and a counted array of 3x4 matrices.
// Data part: magic, the stream count and the stream records, the index
// count and the u32 indices. Every block not used here is written back
// byte for byte.
//
// A mesh whose subsets reach outside the index array or name a missing
// stream, or whose indices reach past their stream's vertices, is bad
// (flag bit 2): it is logged and never drawn.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/DXStreams.h"
#include "render/TextureLink.h"

class ClothInstance;
class DataStream;
class Y3MeshStream;

struct MeshSettings {
    // Instancing: a group forms when this many objects share a key;
    // negative switches instancing off.
    std::int32_t minInstancesPerGroup = -1;
    // Device data not drawn for longer than this (seconds) is released.
    float meshRenderCacheTime = 30.0f;
    // Lazy device allocation and the release of data not drawn for a while.
    bool enableMeshCaching = true;
};

constexpr std::uint32_t kMeshMagic = 0x73836505u;

// A 3x4 float matrix: three axis rows, then the translation row.
struct MeshMatrix {
    float m[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
};

// One draw call of a mesh.
struct MeshSubset {
    std::int32_t stream = 0;
    std::uint32_t carried = 0;  // kept and written back
    std::int32_t vertexCount = 0;
    std::int32_t startIndex = 0;
    std::int32_t indexCount = 0;
    std::int32_t triangleCount = 0;  // index count / 3 whenever written
    MaterialData material;
    std::uint8_t tail[64] = {};
};

struct MeshBone {
    char name[128] = {};
    // Low byte: the bone's palette slot plus one (0: it feeds no slot).
    std::uint32_t paletteWord = 0;
    MeshMatrix matrices[2];
    std::uint8_t block[40] = {};

    std::int32_t paletteSlot() const { return std::int32_t(paletteWord & 0xFFu) - 1; }
};

struct MeshSkinRecord {
    std::uint8_t bytes[320] = {};
};

struct MeshSkin {
    std::vector<MeshBone> bones;  // in name order
    // The skin tail, stored only with the element's skin tail flag.
    std::uint32_t tailWords[2] = {};
    std::vector<MeshMatrix> tailMatrices;
    std::vector<MeshSkinRecord> records;
};

class Y3Mesh;

// The instancing key of a request: two values and a name; keys match when
// both values are equal and the names are the same byte for byte.
struct MeshInstanceKey {
    std::uint32_t values[2] = {};
    char name[128] = {};

    bool operator==(const MeshInstanceKey& other) const {
        return values[0] == other.values[0] && values[1] == other.values[1] &&
               std::strncmp(name, other.name, sizeof(name)) == 0;
    }
};

class MeshInstance;
class Model;

// One instancing request: what a model element gives the mesh about itself.
// The element owns it and keeps it while the request stands; the mesh sets
// the "instanced" flag while the element is a member of a group, and with
// it the element's static-instance bit in its model.
struct MeshInstanceMember {
    std::string modelName;
    std::string elementName;
    MeshInstanceKey key;
    MeshMatrix matrix;  // the element's world matrix
    bool instanced = false;
    // The model and element index that asked (none for a bare request).
    Model* model = nullptr;
    std::int32_t element = -1;
    // The group holding the request while it is instanced.
    MeshInstance* group = nullptr;

    // Joins (group set) or leaves (null) a group.
    void setGroup(MeshInstance* holder);
};

// A group of objects showing the same mesh with the same key, merged into
// one pre-transformed vertex and index buffer and drawn with one call. It
// is full when one more member could carry its index values past 16 bits.
class MeshInstance {
public:
    static constexpr std::uint32_t kAllocated = 1;
    static constexpr std::uint32_t kFull = 2;

    MeshInstance(Y3Mesh* mesh, const MeshInstanceKey& key);
    // A group still holding data reports it.
    ~MeshInstance();
    MeshInstance(const MeshInstance&) = delete;
    MeshInstance& operator=(const MeshInstance&) = delete;

    // Adds a member; false for one already in the group or a full group.
    bool push(MeshInstanceMember* member);
    // Removes a member; false when it is not in the group.
    bool pop(MeshInstanceMember* member);
    bool allocate();
    bool deallocate();
    bool drawSubset(std::int32_t subset);

    // A member's matrix changed: the merged vertices are made again at the
    // next draw.
    void invalidate();

    std::uint32_t flags() const { return flags_; }
    const MeshInstanceKey& key() const { return key_; }
    const std::vector<MeshInstanceMember*>& members() const { return members_; }
    Y3MeshStream* stream(std::int32_t i) const;
    const std::vector<std::uint32_t>& indices() const { return indices_; }

private:
    friend class Y3Mesh;

    Y3Mesh* mesh_;
    MeshInstanceKey key_;
    DXIndexStream indexStream_;
    std::vector<std::unique_ptr<Y3MeshStream>> streams_;
    std::vector<std::uint32_t> indices_;
    double lastUse_ = -1.0;
    std::uint32_t flags_ = 0;
    std::vector<MeshInstanceMember*> members_;
};

// A per-object copy of a mesh's skinned streams, skinned on the CPU from a
// bone palette and drawn with the mesh's index buffer.
class MeshAnimInstance {
public:
    static constexpr std::uint32_t kAllocated = 1;

    explicit MeshAnimInstance(Y3Mesh* mesh);
    // An instance still allocated is reported and deallocated.
    ~MeshAnimInstance();
    MeshAnimInstance(const MeshAnimInstance&) = delete;
    MeshAnimInstance& operator=(const MeshAnimInstance&) = delete;

    // Makes a stream per mesh stream with blend weights (in its fallback
    // format on the fixed-function pipeline), copies the vertices and puts
    // them on the device. True for a bad mesh or one without streams.
    bool allocate();
    bool deallocate();
    // Skins every stream with palette, one matrix per bone in bone order;
    // an empty palette copies the vertices unchanged. Each bone's matrix
    // goes to its palette slot; a blend index past the slots adds nothing.
    // The result is put on the device (the instance is allocated first
    // when it is not).
    void skin(const MeshMatrix* palette, std::int32_t count);
    // Every stream updated on the device.
    bool upload();
    bool drawSubset(std::int32_t subset);

    std::uint32_t flags() const { return flags_; }
    double lastUse() const { return lastUse_; }
    Y3MeshStream* stream(std::int32_t i) const;

private:
    friend class Y3Mesh;
    void skinStreams(const MeshMatrix* palette, std::int32_t count);

    Y3Mesh* mesh_;
    std::vector<std::unique_ptr<Y3MeshStream>> streams_;
    double lastUse_ = -1.0;
    std::uint32_t flags_ = 0;
};

class Y3Mesh {
public:
    // Flag bits.
    static constexpr std::uint32_t kAllocated = 1;
    static constexpr std::uint32_t kBad = 4;
    static constexpr std::uint32_t kDataLoaded = 8;
    static constexpr std::uint32_t kSkinMatrices = 16;

    Y3Mesh();
    ~Y3Mesh();
    Y3Mesh(const Y3Mesh&) = delete;
    Y3Mesh& operator=(const Y3Mesh&) = delete;

    // Reads section "render" of the game core's settings; missing keys are
    // added and keep their defaults.
    static void readConfig();
    static const MeshSettings& settings();

    // Reads the header part (header set: the mesh is fully released first)
    // or the data part. Bytes read, or the first negative result (-1 for a
    // wrong magic, a count past the bytes left, a bone name of 128 bytes or
    // more, a stream record of another format than its existing stream).
    std::int32_t read(DataStream& s, bool skinTail, bool header);
    // Writes the same part; each subset's triangle count becomes its index
    // count / 3 first.
    std::int32_t write(DataStream& s, bool skinTail, bool header);

    // The names the mesh's messages give (resource and element).
    void setNames(std::string resource, std::string element);

    // Makes the device data (at once only without mesh caching; with it the
    // first draw makes it). False when it cannot be made.
    bool allocate();
    // Releases the device data of the streams and the index buffer; true.
    bool deallocate(bool force);
    // Mode bit 1 (2) deallocates first; mode 3 releases everything. The
    // first pass frees the vertex arrays, sparing streams with blend weights
    // unless freeSkinned is set.
    void release(std::int32_t mode, bool freeSkinned);
    // Draws subset i (i >= 0), or every subset of stream -1 - i (i < 0).
    bool drawSubset(std::int32_t selector);
    // The caching step: device data not drawn for longer than the cache time
    // is released.
    void collectUnused();
    // True when every subset's material validates its textures.
    bool validateTextures() const;
    // The box around every stream's vertex positions, in the mesh's own
    // space, worked out once from the loaded vertices (reading the data
    // again or adding a stream forgets it). False when no vertex is known:
    // the vertex arrays were freed before the first question, or there are
    // none.
    bool positionBounds(float* low, float* high);

    // A skinned copy for one object (null when the mesh has no bones), and
    // its end.
    MeshAnimInstance* createAnimInstance();
    void destroyAnimInstance(MeshAnimInstance* instance);
    std::int32_t animInstanceCount() const { return std::int32_t(animInstances_.size()); }

    // Instancing requests: a request joins a group of its key, waits, or
    // forms a group with the waiting ones once "min_instances_per_group"
    // share its key. Nothing happens while instancing is off.
    void registerInstance(MeshInstanceMember* member);
    void unregisterInstance(MeshInstanceMember* member);
    const std::vector<MeshInstanceMember*>& pendingRequests() const { return pending_; }
    std::int32_t instanceCount() const { return std::int32_t(instances_.size()); }
    MeshInstance& instance(std::int32_t i) { return *instances_[std::size_t(i)]; }

    // The cloth instances made for this mesh (references only).
    bool pushCloth(ClothInstance* cloth);
    void removeClothInstance(ClothInstance* cloth);

    std::uint32_t flags() const { return flags_; }
    double lastUse() const { return lastUse_; }
    std::int32_t streamCount() const { return std::int32_t(streams_.size()); }
    Y3MeshStream* stream(std::int32_t i) const;
    const std::vector<std::uint32_t>& indices() const { return indices_; }
    std::int32_t subsetCount() const { return std::int32_t(subsets_.size()); }
    MeshSubset& subset(std::int32_t i) { return *subsets_[std::size_t(i)]; }
    const std::vector<ClothInstance*>& cloths() const { return cloths_; }
    const DXIndexStream& indexStream() const { return indexStream_; }

    // Building a mesh in place (the model writer): the parts a file holds.
    MeshSubset& addSubset();
    void addStream(Y3MeshStream* stream);  // the mesh owns it
    std::vector<std::uint32_t>& editIndices() { return indices_; }
    MeshSkin& skin() { return skin_; }
    MeshMatrix boxPlacement;
    MeshMatrix secondMatrix;
    std::uint8_t boxBlock[64] = {};

private:
    friend class MeshAnimInstance;
    friend class MeshInstance;
    std::int32_t readHeader(DataStream& s, bool skinTail);
    std::int32_t readData(DataStream& s);
    std::int32_t writeHeader(DataStream& s, bool skinTail);
    std::int32_t writeData(DataStream& s) const;
    // Checks subsets and indices against the arrays; false (logged, the bad
    // flag set) when one reaches outside.
    bool checkRanges();
    // Makes the device data now; false (bad or failed).
    bool allocateDevice();
    void releaseDevice();
    const char* resourceName() const;
    const char* elementName() const;

    std::vector<MeshInstanceMember*> pending_;
    std::vector<std::unique_ptr<MeshInstance>> instances_;
    bool boundsKnown_ = false;
    float boundsLow_[3] = {}, boundsHigh_[3] = {};
    std::vector<std::unique_ptr<MeshAnimInstance>> animInstances_;
    std::vector<ClothInstance*> cloths_;
    double lastUse_ = 0.0;
    std::uint32_t flags_ = 0;
    DXIndexStream indexStream_;
    std::vector<std::unique_ptr<Y3MeshStream>> streams_;
    std::vector<std::uint32_t> indices_;
    std::vector<std::unique_ptr<MeshSubset>> subsets_;
    MeshSkin skin_;
    std::string resource_;
    std::string element_;
};
