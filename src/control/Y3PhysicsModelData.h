// A physics model description: the actors and joints of which the physics
// counterpart of a model is made, read from two stored files of its name:
// the header ".fh4" (actor and joint entries) and the data ".fy3" (each
// actor's bulk arrays). The `PhysicsModelDataManager` of the physics core
// keeps one record per name and loads it in the resource manager's stages.
//
// Header: u32 actor count, the actor entries (magic 0xF07729A9, kind, then
// the entry), u32 joint count, the joint entries (magic 0x00AF8111, kind,
// then the entry). Data: for each actor in header order its two arrays, or
// four for a cloth actor. Counts are checked against the bytes left before
// anything is allocated; a damaged file fails its stage and leaves the
// record unavailable.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "control/Y3PhysicsRigit.h"
#include "resources/LoadingProgress.h"
#include "resources/Y3ResourceManager.h"

constexpr std::uint32_t kPhysicsActorMagic = 0xF07729A9u;
constexpr std::uint32_t kPhysicsJointMagic = 0x00AF8111u;

class Y3PhysicsModelData {
public:
    Y3PhysicsModelData() = default;
    // Logs "Deallocate physics model before releasing" while in use.
    ~Y3PhysicsModelData();
    Y3PhysicsModelData(const Y3PhysicsModelData&) = delete;
    Y3PhysicsModelData& operator=(const Y3PhysicsModelData&) = delete;

    // The header file; bytes read or negative (logged).
    std::int32_t readHeader(DataStream& stream);
    // The data file, actor by actor; bytes read or negative.
    std::int32_t readData(DataStream& stream);
    // Checks every actor slot before the data part is dropped.
    void unloadData() const;
    // Deletes every description (the name is for the in-use message).
    void release(const char* name);

    // The actor description of that name, or null.
    const Y3PhysicsRigit* findActor(const char* name) const;

    bool inUse = false;
    std::uint32_t unused = 0;
    std::vector<std::unique_ptr<Y3PhysicsRigit>> actors;
    std::vector<std::unique_ptr<Y3PhysicsDataJoint>> joints;
};

// The resource record of one physics model description.
class PhysicsModelRecord : public ResourceRecord {
public:
    explicit PhysicsModelRecord(const char* name);
    ~PhysicsModelRecord() override;

    std::int32_t readHeader(DataStream& stream) override;
    std::int32_t readData(DataStream& stream) override;
    bool hasObject() const override { return data_ != nullptr; }
    void unloadData() override;
    void deleteObject() override;

    Y3PhysicsModelData* data() const { return data_.get(); }

private:
    std::unique_ptr<Y3PhysicsModelData> data_;
};

class PhysicsModelDataManager
    : public Y3ResourceManager<PhysicsModelRecord, kProgressNoReportStage, kProgressNoReportStage> {};
