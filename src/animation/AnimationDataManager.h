// The data managers of the animation core: animations (".ani4" with their
// ".events"), lip-sync morphs (".lip"), tracker maps (".amap") and animation
// control rules (".adb"), each a resource manager of its record type. The
// last three are also data managers of the package database.
//
// An animation record loads its whole file at the header stage; its users
// are the animation instances that play it. Scene and game loads allocate
// the referenced animations (progress stage 10) and release the
// unreferenced ones (stage 4).
#pragma once

#include <cstdint>
#include <string>

#include "animation/AnimCtrlRules.h"
#include "animation/AnimationData.h"
#include "animation/AnimationMapData.h"
#include "animation/MorphTrack.h"
#include "resources/DataManager.h"
#include "resources/StoredDataManager.h"
#include "resources/Y3ResourceManager.h"

// The record of one animation.
class Y3AnimData : public ResourceRecord {
public:
    explicit Y3AnimData(const char* name);
    ~Y3AnimData() override;

    // Reads the ".ani4" file and then its ".events" file.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return data != nullptr; }
    void deleteObject() override;

    // Registers and unregisters an instance that plays the animation.
    bool pushReference(ResourceUser* instance);
    bool popReference(ResourceUser* instance);

    AnimationData* data = nullptr;
};

class AnimationDataManager : public Y3ResourceManager<Y3AnimData, 4, 10> {
public:
    using ResourceManagerBase::loadHeader;
    // Loads the record's file when it is not loaded yet; false (logged by
    // the load) when it cannot be.
    bool loadHeader(Y3AnimData* record) { return ResourceManagerBase::loadHeader(record, nullptr); }
    // At game release: every allocation is dropped, the manager is no
    // longer allocated.
    void unloadAll() { deallocateAll(); }
};

// The record of one lip-sync track; its users are the model morphs that
// play it.
class Y3MorphAnimationDataInstance : public ResourceRecord {
public:
    explicit Y3MorphAnimationDataInstance(const char* name);
    ~Y3MorphAnimationDataInstance() override;

    // Reads the ".lip" form; a damaged track is refused (-1, logged).
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return data != nullptr; }
    void deleteObject() override;

    bool pushReference(ResourceUser* morph);
    bool popReference(ResourceUser* morph);

    MorphTrack* data = nullptr;
};

// The record of one rule table (".adb"); its data is the table, read at
// its header load.
class AnimCtrlRulesData : public ResourceRecord {
public:
    explicit AnimCtrlRulesData(const char* name);
    ~AnimCtrlRulesData() override;

    // AnimCtrlRules::load: the table named after the record is read; a
    // damaged file leaves no table ("Failed read animation rules [%s]
    // data"). The bytes read or negative.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return data != nullptr; }
    void deleteObject() override;

    AnimCtrlRules* data = nullptr;
};

// The data-manager side of the three typed managers: their identity from
// the data-manager table; they read no single resource and initialise
// with nothing to read. Release destroys every record.
template <class T>
class AnimationTypedManager : public Y3ResourceManager<T, kProgressNoReportStage, kProgressNoReportStage>,
                              public DataManager {
public:
    AnimationTypedManager(const char* className, std::uint32_t ownValue)
        : info_(findDataManagerInfo(className)), ownValue_(ownValue) {}

    const char* sourceExtension() const override { return info_->sourceExtension; }
    const char* compiledExtension() const override { return info_->compiledExtension; }
    std::int32_t typeNumber() const override { return info_->typeNumber; }
    const char* title() const override { return info_->title; }
    std::uint32_t ownValue() const override { return ownValue_; }
    std::int32_t readResource(DataStream&, const char*, std::int32_t) override { return -1; }
    bool initialize() override { return true; }
    void release() override { this->releaseAll(); }

private:
    const DataManagerInfo* info_;
    std::uint32_t ownValue_;
};

class MorphDataManager : public AnimationTypedManager<Y3MorphAnimationDataInstance> {
public:
    MorphDataManager() : AnimationTypedManager("MorphDataManager", 1) {}
    // Imports a ".trk" source and writes its ".lip" beside it; the game
    // refuses to store files, so this always ends false (logged).
    bool compileFromSource(const char* sourcePath) override;
    // Reads a ".trk" text from the stream into the track (its frames are
    // cleared first); false, logged, for a damaged text.
    static bool parseTrack(MorphTrack& track, DataStream& stream);
    // The track's data, loaded when needed; null (logged by the load) when
    // the record is unavailable or cannot be loaded.
    MorphTrack* loadTrack(Y3MorphAnimationDataInstance* record);
};

class AnimationTrackerMapManager : public AnimationTypedManager<AnimationMapData> {
public:
    AnimationTrackerMapManager() : AnimationTypedManager("AnimationTrackerMapManager", 0) {}
    // Maps are compiled by the tools only: logged, false.
    bool compileFromSource(const char* sourcePath) override;
    // The map of a model resource: its own map when the packages hold one,
    // else "default" (chosen gets the name used). Null when that map cannot
    // be had; a missing "default" is reported, a missing own map is not.
    AnimationMapData* findMapForModel(const char* resourceName, std::string* chosen = nullptr);
};

class AnimCtrlRulesManager : public AnimationTypedManager<AnimCtrlRulesData> {
public:
    AnimCtrlRulesManager() : AnimationTypedManager("AnimCtrlRulesManager", 0) {}
    // Rules are compiled by the tools only: logged, false, nothing written.
    bool compileFromSource(const char* sourcePath) override;
    // The record of that name with its table loaded when needed; null when
    // the packages cannot give it (a missing file is reported when asked).
    AnimCtrlRulesData* loadRules(const char* name, bool reportMissing);
};
