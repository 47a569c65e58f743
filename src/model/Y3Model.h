// Model resources: the shared, read-only description of a model kind that
// model objects instantiate.
//
// Y3Model gives every kind the same operations (read, write, load,
// allocate, deallocate, release, tree export, bounding size, cache step);
// the kind code of the header file picks the class: 0 the mesh model
// Y3ModelDefault, 1 the sprite model Y3ModelSprite, 2 the path-finding grid
// model Y3ModelGrid.
//
// Header file (".mh4"): magic 0xFA840097, kind, header value, the 3x4
// source placement, then the kind's header body. Data file (".my3") of the
// mesh model: the element records with their meshes' data parts, then the
// action zone. Every count is bounded by the bytes left and every name by
// its field: damaged input is refused with -1 and a message.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "effects/Y3Light.h"
#include "foundation/Math.h"
#include "model/ModelActionItemData.h"
#include "model/ModelProperty.h"
#include "model/Y3Mesh.h"

class DataStream;
class MeshAnimInstance;
class XmlTag;

constexpr std::uint32_t kModelFileMagic = 0xFA840097u;
constexpr std::uint32_t kModelElementMagic = 0x81190FA8u;

// Kind codes of the header file.
constexpr std::uint32_t kModelKindDefault = 0;
constexpr std::uint32_t kModelKindSprite = 1;
constexpr std::uint32_t kModelKindGrid = 2;

class Y3Model {
public:
    Y3Model() = default;
    // A model still attached to a game context is reported.
    virtual ~Y3Model();
    Y3Model(const Y3Model&) = delete;
    Y3Model& operator=(const Y3Model&) = delete;

    // 0 default, 1 sprite, 2 grid; any other code makes no object.
    static std::unique_ptr<Y3Model> create(std::uint32_t kind);
    // Reads the header file: magic, kind, header value, placement, then the
    // kind's header body; then loads the model (its light resources). Bytes
    // read or negative; on failure out is empty.
    static std::int32_t readFromStream(DataStream& stream, std::unique_ptr<Y3Model>& out, const char* name);
    // Writes the header file the reader reads.
    std::int32_t writeToStream(DataStream& stream, const char* name);
    // "default", "sprite", "grid".
    static const char* kindName(std::uint32_t kind);

    virtual std::uint32_t kind() const = 0;
    virtual bool allocate(const char* modelName) = 0;
    virtual bool deallocate(bool force) = 0;
    virtual void clearAllocated() { allocated = false; }
    virtual void exportTree(XmlTag& parent) = 0;
    virtual void getBoxSize(float* out) const = 0;
    virtual bool load(const char* modelName) = 0;
    virtual bool validateTextures() = 0;
    virtual bool release() = 0;
    virtual void collectUnused() {}
    // Header flag set: the header body; clear: the data file.
    virtual std::int32_t read(DataStream& stream, bool header, const char* name) = 0;
    virtual std::int32_t write(DataStream& stream, bool header, const char* name) = 0;

    bool allocated = false;
    Matrix34 sourcePlacement = matrix34Identity();
    std::uint32_t headerValue = 0;
    // The model context attached to this resource; null when none.
    void* gameContext = nullptr;
};

// Bits of ModelElementData::flags.
constexpr std::uint32_t kElementHidden = 0x1;
constexpr std::uint32_t kElementNoRootFirst = 0x2;
constexpr std::uint32_t kElementExtraWords = 0x4;
constexpr std::uint32_t kElementSkinTail = 0x8;

// One element of a mesh model: a name and three levels of detail.
struct ModelElementData {
    char name[128] = {};
    Y3Mesh lods[3];
    std::uint32_t extra[3] = {};
    std::uint32_t flags = 0;

    // The element record with the meshes' header parts (header set) or data
    // parts. A wrong magic or a name of 128 characters or more is -1.
    std::int32_t read(DataStream& stream, bool header, const char* modelName);
    // Brings the write-time flags up to date first (the "_hide" name rule,
    // the bone "root" test, the skin tail).
    std::int32_t write(DataStream& stream, bool header);
    void updateWriteFlags();
    bool allocate();
    bool deallocate(bool force);
};

// A particle system attached to a model: 444 bytes as stored.
struct ModelParticleAttachment {
    char names[3][128] = {};
    float matrix[12] = {};
    float size[3] = {};
};
static_assert(sizeof(ModelParticleAttachment) == 444);

class Y3ModelDefault : public Y3Model {
public:
    Y3ModelDefault() = default;
    ~Y3ModelDefault() override;

    std::uint32_t kind() const override { return kModelKindDefault; }
    // Device data of every element; on failure what was made is
    // deallocated again and the allocated flag stays clear.
    bool allocate(const char* modelName) override;
    bool deallocate(bool force) override;
    void exportTree(XmlTag& parent) override;
    void exportParticles(XmlTag& parent) const;
    void getBoxSize(float* out) const override;
    // Makes the light resources "<model>.<light>" of the model's lights.
    bool load(const char* modelName) override;
    bool validateTextures() override;
    // Refused (false, nothing freed) while a game context is attached.
    bool release() override;
    void collectUnused() override;
    std::int32_t read(DataStream& stream, bool header, const char* name) override;
    std::int32_t write(DataStream& stream, bool header, const char* name) override;
    // A skinned copy of one element's LOD mesh; null without bones or for
    // an index out of range.
    MeshAnimInstance* createAnimInstance(std::int32_t element, std::int32_t lod);

    std::vector<std::unique_ptr<ModelElementData>> elements;
    ModelProperty properties;
    std::vector<std::unique_ptr<Y3Light>> lights;
    std::vector<ModelParticleAttachment> particles;
    std::vector<ModelActionItemData> actions;

private:
    std::int32_t readActions(DataStream& stream);
    std::int32_t writeActions(DataStream& stream) const;
};

// A sprite of a sprite model.
struct SpriteElementData {
    char name[128] = {};
    char texture[128] = {};
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t dx = 0;
    std::int16_t dy = 0;
    float depth = 0.0f;
    std::uint32_t flags = 0;  // 1 "animated", 2 "has-alpha"

    std::int32_t read(DataStream& stream);
    std::int32_t write(DataStream& stream) const;
};

class Y3ModelSprite : public Y3Model {
public:
    std::uint32_t kind() const override { return kModelKindSprite; }
    bool allocate(const char*) override { return true; }
    bool deallocate(bool) override { return true; }
    void clearAllocated() override {}
    void exportTree(XmlTag& parent) override;
    void getBoxSize(float*) const override {}
    bool load(const char*) override { return true; }
    bool validateTextures() override { return true; }
    bool release() override {
        elements.clear();
        return true;
    }
    std::int32_t read(DataStream& stream, bool header, const char* name) override;
    std::int32_t write(DataStream& stream, bool header, const char* name) override;

    std::vector<SpriteElementData> elements;
};
