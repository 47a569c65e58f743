// The resource-manager template: every resource of one type kept by name.
//
// A record is made the first time a name is asked for; its header file is
// read from the package database, then its data file, then it is allocated
// (device and run-time objects made). Users push themselves onto a record
// while they use it and pop themselves when done; records without users are
// unloaded by the slow collector, by an explicit pass, or at release.
//
// Records stay sorted by name (byte-wise, case-sensitive) for binary search.
// A new record first waits in a batch, found through a hash table of its
// name; the batch is sorted and merged into the array before anything reads
// the array by position (count, recordAt and every pass), so making n
// records costs O(n log n) whatever the order of their names.
// The unavailable flag is set while a load or allocation runs and stays set
// after a failed load, so every later load of that record is refused
// silently. Every failure is logged once and returns false; nothing throws
// out of the manager. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/PointerArray.h"
#include "resources/LoadingProgress.h"
#include "resources/ResourceTypes.h"

class DataStream;

// State bits of ResourceRecord::flags.
constexpr std::uint32_t kResourceHeaderLoaded = 0x0002;
constexpr std::uint32_t kResourceDataLoaded = 0x0004;
constexpr std::uint32_t kResourceAllocated = 0x0100;
constexpr std::uint32_t kResourceAllocatedDebug = 0x0200;
constexpr std::uint32_t kResourceUnavailable = 0x8000;
constexpr std::uint32_t kResourcePlaceholder = 0x100000;

// The longest resource name kept; longer names are cut.
constexpr std::int32_t kResourceNameLength = 127;

// A user of a resource record: it names itself in messages and carries its
// own pushed flag.
class ResourceUser {
public:
    virtual const char* resourceUserName() const = 0;
    virtual bool resourcePushed() const = 0;
    virtual void setResourcePushed(bool pushed) = 0;

protected:
    ~ResourceUser() = default;
};

// The users of one record.
class ReferenceList : public PointerArray<ResourceUser> {
public:
    // Frees the list; entries still there are reported first, unless the game
    // core silences release warnings.
    void release();
};

// The part every resource record shares, with the hooks of its type.
class ResourceRecord {
public:
    ResourceRecord(const char* name, const ResourceDescriptor& descriptor);
    virtual ~ResourceRecord();
    ResourceRecord(const ResourceRecord&) = delete;
    ResourceRecord& operator=(const ResourceRecord&) = delete;

    bool has(std::uint32_t bits) const { return (flags & bits) != 0; }

    // Drops the allocation, the debug allocation and the loaded data; the
    // header object stays. True.
    bool deallocate(bool final);
    // Drops everything down to the header object; the record can load again
    // unless it is unavailable (that bit is left as it is).
    void release();
    // The destruction of a record: release, the report of users still
    // registered, then the check that nothing is left loaded. Types with
    // work of their own do it first and call this.
    virtual void dispose();
    // The release check before deletion: changes nothing, reports each part
    // still held (allocation, debug allocation, header, data, the object).
    void checkReleased() const;

    // Type hooks. readHeader makes the object from the stream (bytes read,
    // negative on failure). readData reads the data file; types without one
    // keep the default. allocateObject makes the device and run-time objects;
    // plain types have nothing to do.
    virtual std::int32_t readHeader(DataStream& stream) = 0;
    virtual std::int32_t readData(DataStream& stream);
    virtual bool hasObject() const = 0;
    virtual bool allocateObject();
    virtual void deallocateObject(bool final);
    virtual void dropDebugAllocation();
    virtual void unloadData();
    // Releases the object (given the record's name) and deletes it;
    // hasObject() is false afterwards.
    virtual void deleteObject() = 0;
    virtual void releaseDeviceObjects();

    ReferenceList users;
    char name[kResourceNameLength + 1] = {};
    std::uint32_t flags = 0;
    const char* typeLabel;
    const char* typeName;
    const char* headerMask;
    const char* companionMask;
    const char* dataMask;
    const char* sourceMask;
    const char* sourceName;
};

// The typeless part of every manager; Y3ResourceManager adds the record type.
class ResourceManagerBase {
public:
    ResourceManagerBase(std::int32_t unloadStage, std::int32_t loadStage);
    virtual ~ResourceManagerBase();
    ResourceManagerBase(const ResourceManagerBase&) = delete;
    ResourceManagerBase& operator=(const ResourceManagerBase&) = delete;

    // Called after a successful allocation pass.
    virtual bool onAllocated() { return true; }
    // Called after a deallocation pass.
    virtual void onDeallocated() {}

    // Reads the header from stream, or from the package database when null.
    bool loadHeader(ResourceRecord* record, DataStream* stream);
    // Reads the data from stream, or from the package database when null.
    bool loadData(ResourceRecord* record, DataStream* stream = nullptr);
    // Loads the data when needed, then allocates under the loading lock.
    bool allocate(ResourceRecord* record);
    // (Deallocating and releasing one record are operations of the record.)

    // Allocates every record with users (used when the device is made or
    // restored and after a saved game loads); false when one failed.
    bool allocateAll();
    // Releases every allocated record without users.
    void releaseUnreferenced();
    // Drops every allocation (device lost or released); headers stay.
    void deallocateAll();
    // Once a frame: at most once a second, looks at count / 4 + 1 records
    // (at most 50) and unloads those without users.
    void collectUnused();
    // Releases the device objects of every record with data loaded.
    void releaseDeviceData();
    // Destroys every record and frees the array.
    void releaseAll();

    // Adds or removes a user of a record. They touch only the record and the
    // user, so a record's owner may call them without its manager.
    static bool push(ResourceRecord* record, ResourceUser* user);
    static bool pop(ResourceRecord* record, ResourceUser* user);

    std::uint32_t count() const {
        settle();
        return records_.count();
    }
    ResourceRecord* recordAt(std::uint32_t index) const {
        settle();
        return records_[index];
    }
    // The record of that name, or null.
    ResourceRecord* findRecord(const char* name) const;
    bool ready() const { return ready_; }
    std::int32_t collectionCursor() const { return cursor_; }
    double collectionClock() const { return clock_; }
    void setCollectionClock(double seconds) { clock_ = seconds; }
    std::int32_t unloadStage() const { return unloadStage_; }
    std::int32_t loadStage() const { return loadStage_; }

protected:
    // The record of that name, created and inserted when absent; never null.
    ResourceRecord* findOrCreate(const char* name, bool reportMissing);
    virtual ResourceRecord* createRecord(const char* name) = 0;

private:
    // Position of the name, or of its insertion point with found false.
    std::uint32_t search(const char* name, bool& found) const;
    // The waiting record of that name, or null.
    ResourceRecord* findWaiting(const char* name) const;
    // Adds a new record to the batch; false when memory is exhausted.
    bool addWaiting(ResourceRecord* record);
    // Merges the batch into the array, in name order.
    void settle() const;

    std::int32_t unloadStage_;
    std::int32_t loadStage_;
    std::int32_t cursor_ = 0;
    double clock_ = 0.0;
    bool ready_ = false;
    // The array is settled lazily, also from the const readers.
    mutable PointerArray<ResourceRecord> records_;
    mutable std::vector<ResourceRecord*> waiting_;
    // Open addressing over waiting_ by name hash; a power of two in size,
    // at most half full.
    mutable std::vector<ResourceRecord*> waitingTable_;
};

// T derives from ResourceRecord and is constructed from a name. The stages
// are the loading-progress stages of the unload and allocation passes
// (17: no report).
template <class T, std::int32_t UnloadStage, std::int32_t LoadStage>
class Y3ResourceManager : public ResourceManagerBase {
public:
    Y3ResourceManager() : ResourceManagerBase(UnloadStage, LoadStage) {}
    ~Y3ResourceManager() override { releaseAll(); }

    T* getOrCreate(const char* name, bool reportMissing) {
        return static_cast<T*>(findOrCreate(name, reportMissing));
    }
    T* at(std::uint32_t index) const { return static_cast<T*>(recordAt(index)); }

protected:
    ResourceRecord* createRecord(const char* name) override { return new T(name); }
};
