#include "resources/Y3ResourceManager.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/MersenneTwister.h"
#include "foundation/TimeCore.h"
#include "resources/PackageDatabase.h"

namespace {

// The flag of GameCore::flags that silences release warnings at exit.
constexpr std::uint32_t kGameFlagQuietRelease = 0x80000000u;

// The collector runs at most once this often, in seconds.
constexpr double kCollectPeriod = 1.0;
// A collection clock above this restarts at 0 rather than keeping the rest.
constexpr double kCollectClockLimit = 2.0;
constexpr std::uint32_t kCollectBudgetMax = 50;

bool quietRelease() { return (gameCore.flags & kGameFlagQuietRelease) != 0; }

bool realStage(std::int32_t stage) { return stage >= 0 && stage < kProgressStageCount; }

// Loading never reaches the game as one long frame: the world clock starts
// counting afresh.
void resetWorldClock() {
    if (gameCore.clocks) gameCore.clocks->worldTime.reset();
}

double realTimeStep() { return gameCore.clocks ? gameCore.clocks->realTime.stepLength : 0.0; }

const char* orEmpty(const char* text) { return text ? text : ""; }

std::uint32_t findStoredFile(const char* mask, const char* name, const char* source) {
    FilePackageDBData* packages = packageData();
    return packages ? packages->find(orEmpty(mask), orEmpty(name), orEmpty(source)) : 0;
}

bool loadStoredFile(const char* mask, const char* name, const char* source, MemoryStream& stream) {
    return loadResource(orEmpty(mask), orEmpty(name), orEmpty(source), stream);
}

int compareNames(const char* a, const char* b) { return std::strncmp(a, b, kResourceNameLength); }

// FNV-1a of the name as it is kept (at most 127 characters).
std::size_t nameHash(const char* name) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::int32_t i = 0; i < kResourceNameLength && name[i]; ++i) {
        h ^= static_cast<unsigned char>(name[i]);
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h ^ (h >> 29));
}

}  // namespace

void ReferenceList::release() {
    if (count() > 0 && !quietRelease())
        engineLog().resourceError("Found %i unreferenced instanced. Require release", static_cast<int>(count()));
    PointerArray<ResourceUser>::release();
}

ResourceRecord::ResourceRecord(const char* recordName, const ResourceDescriptor& descriptor)
    : typeLabel(descriptor.typeLabel),
      typeName(descriptor.typeName),
      headerMask(descriptor.headerMask),
      companionMask(descriptor.companionMask),
      dataMask(descriptor.dataMask),
      sourceMask(descriptor.sourceMask),
      sourceName(descriptor.sourceName) {
    std::strncpy(name, orEmpty(recordName), kResourceNameLength);
    name[kResourceNameLength] = 0;
}

ResourceRecord::~ResourceRecord() { users.release(); }

std::int32_t ResourceRecord::readData(DataStream&) { return 0; }
bool ResourceRecord::allocateObject() { return true; }
void ResourceRecord::deallocateObject(bool) {}
void ResourceRecord::dropDebugAllocation() {}
void ResourceRecord::unloadData() {}
void ResourceRecord::releaseDeviceObjects() {}

bool ResourceRecord::deallocate(bool final) {
    if (has(kResourceAllocated)) {
        flags &= ~kResourceAllocated;
        deallocateObject(final);
    }
    if (has(kResourceAllocatedDebug)) {
        flags &= ~kResourceAllocatedDebug;
        dropDebugAllocation();
    }
    if (has(kResourceDataLoaded)) unloadData();
    flags &= ~kResourceDataLoaded;
    return true;
}

void ResourceRecord::release() {
    if (has(kResourceAllocated)) deallocate(false);
    if (has(kResourceDataLoaded)) unloadData();
    flags &= ~kResourceDataLoaded;
    if (has(kResourceHeaderLoaded)) deleteObject();
    flags &= ~kResourceHeaderLoaded;
}

void ResourceRecord::dispose() {
    release();
    Log& log = engineLog();
    if (users.count() > 0 && !quietRelease()) {
        log.resourceError("Resource %s [%s] has lost references to %s(s):", typeLabel, name, typeName);
        for (std::uint32_t i = 0; i < users.count(); ++i) {
            const ResourceUser* user = users[i];
            log.message(" [%i]->%s", static_cast<int>(i), user ? user->resourceUserName() : "NULL");
        }
    }
    users.PointerArray<ResourceUser>::release();
    checkReleased();
}

void ResourceRecord::checkReleased() const {
    Log& log = engineLog();
    if (has(kResourceAllocated)) log.resourceError("~%s(%s): need deallocate resource", typeLabel, name);
    if (has(kResourceAllocatedDebug)) log.resourceError("~%s(%s): need deallocate resource debug", typeLabel, name);
    if (has(kResourceHeaderLoaded)) log.resourceError("~%s(%s): need release RAM header data", typeLabel, name);
    if (has(kResourceDataLoaded)) log.resourceError("~%s(%s): need release RAM data", typeLabel, name);
    if (hasObject())
        log.resourceError("~%s(%s): need release resource data (Flags order logic failed)", typeLabel, name);
}

ResourceManagerBase::ResourceManagerBase(std::int32_t unloadStage, std::int32_t loadStage)
    : unloadStage_(unloadStage), loadStage_(loadStage), clock_(MersenneTwister::range(0.0, 1.0)) {}

ResourceManagerBase::~ResourceManagerBase() { releaseAll(); }

std::uint32_t ResourceManagerBase::search(const char* name, bool& found) const {
    std::uint32_t low = 0;
    std::uint32_t high = records_.count();
    found = false;
    while (low < high) {
        const std::uint32_t mid = (low + high) / 2;
        const int order = compareNames(records_[mid]->name, name);
        if (order == 0) {
            found = true;
            return mid;
        }
        if (order > 0)
            high = mid;
        else
            low = mid + 1;
    }
    return low;
}

ResourceRecord* ResourceManagerBase::findRecord(const char* name) const {
    name = orEmpty(name);
    bool found = false;
    const std::uint32_t index = search(name, found);
    return found ? records_[index] : findWaiting(name);
}

ResourceRecord* ResourceManagerBase::findWaiting(const char* name) const {
    if (waiting_.empty()) return nullptr;
    const std::size_t mask = waitingTable_.size() - 1;
    for (std::size_t slot = nameHash(name) & mask; waitingTable_[slot]; slot = (slot + 1) & mask)
        if (compareNames(waitingTable_[slot]->name, name) == 0) return waitingTable_[slot];
    return nullptr;
}

bool ResourceManagerBase::addWaiting(ResourceRecord* record) {
    try {
        if ((waiting_.size() + 1) * 2 > waitingTable_.size()) {
            std::vector<ResourceRecord*> table(std::max<std::size_t>(16, waitingTable_.size() * 2), nullptr);
            const std::size_t mask = table.size() - 1;
            for (ResourceRecord* r : waiting_) {
                std::size_t slot = nameHash(r->name) & mask;
                while (table[slot]) slot = (slot + 1) & mask;
                table[slot] = r;
            }
            waitingTable_.swap(table);
        }
        waiting_.push_back(record);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::size_t mask = waitingTable_.size() - 1;
    std::size_t slot = nameHash(record->name) & mask;
    while (waitingTable_[slot]) slot = (slot + 1) & mask;
    waitingTable_[slot] = record;
    return true;
}

void ResourceManagerBase::settle() const {
    if (waiting_.empty()) return;
    std::sort(waiting_.begin(), waiting_.end(),
              [](const ResourceRecord* a, const ResourceRecord* b) { return compareNames(a->name, b->name) < 0; });
    const std::uint32_t held = records_.count();
    const std::uint32_t added = static_cast<std::uint32_t>(waiting_.size());
    if (records_.reserve(held + added)) {
        for (ResourceRecord* record : waiting_) records_.append(record);
        // Merge from the back: the array's old records and the sorted batch.
        ResourceRecord** data = records_.data();
        std::uint32_t i = held;
        std::uint32_t j = added;
        std::uint32_t w = held + added;
        while (j > 0) {
            if (i > 0 && compareNames(data[i - 1]->name, waiting_[j - 1]->name) > 0)
                data[--w] = data[--i];
            else
                data[--w] = waiting_[--j];
        }
    } else {
        // The array cannot grow (memory exhausted): the records stay outside
        // it, unavailable, and are never freed.
        for (ResourceRecord* record : waiting_) {
            engineLog().resourceError("Fail while create %s [%s]: out of memory", record->typeLabel, record->name);
            record->flags |= kResourceUnavailable;
        }
    }
    waiting_.clear();
    if (waitingTable_.size() <= 1024)
        std::fill(waitingTable_.begin(), waitingTable_.end(), nullptr);
    else
        std::vector<ResourceRecord*>().swap(waitingTable_);
}

ResourceRecord* ResourceManagerBase::findOrCreate(const char* name, bool reportMissing) {
    name = orEmpty(name);
    bool found = false;
    const std::uint32_t index = search(name, found);
    if (found) return records_[index];
    if (ResourceRecord* waiting = findWaiting(name)) return waiting;

    ResourceRecord* record = createRecord(name);
    if (findStoredFile(record->headerMask, record->name, record->sourceName) == 0) {
        record->flags |= kResourceUnavailable;
        if (reportMissing)
            engineLog().resourceError("Fail while create %s [%s]: Resource file [%s%s] not found", record->typeLabel,
                                      record->name, record->name, record->headerMask);
    } else {
        record->flags &= ~kResourceUnavailable;
    }
    if (!addWaiting(record)) {
        // The array cannot grow (memory exhausted): the caller still gets a
        // record, unavailable, which stays outside the array and is never freed.
        engineLog().resourceError("Fail while create %s [%s]: out of memory", record->typeLabel, record->name);
        record->flags |= kResourceUnavailable;
    }
    return record;
}

bool ResourceManagerBase::loadHeader(ResourceRecord* record, DataStream* stream) {
    if (!record || record->has(kResourceUnavailable)) return false;
    Log& log = engineLog();
    if (record->has(kResourceHeaderLoaded))
        return log.resourceError("Can't twice load %s [%s] header resource: Already in RAM", record->typeLabel,
                                 record->name);
    record->flags |= kResourceUnavailable;
    try {
        MemoryStream memory;
        DataStream* source = stream;
        if (!source) {
            if (!loadStoredFile(record->headerMask, record->name, record->sourceName, memory))
                return log.resourceError("Can't load %s resource [%s] header: header resource not found",
                                         record->typeLabel, record->name);
            source = &memory;
        }
        const std::int32_t result = record->readHeader(*source);
        if (result < 0 || !record->hasObject()) {
            if (result < 0)
                log.resourceError("Fail read %s [%s] header", record->typeLabel, record->name);
            else
                log.resourceError("Fail while load %s [%s] header", record->typeLabel, record->name);
            // A reader that failed after making its object must not leak it.
            if (record->hasObject()) record->deleteObject();
            return false;
        }
    } catch (...) {
        log.resourceError("Exception: Failed to load %s [%s] header", record->typeLabel, record->name);
        try {
            if (record->hasObject()) record->deleteObject();
        } catch (...) {
        }
        return false;
    }
    record->flags &= ~kResourceUnavailable;
    resetWorldClock();
    record->flags |= kResourceHeaderLoaded;
    return true;
}

bool ResourceManagerBase::loadData(ResourceRecord* record, DataStream* stream) {
    if (!record || record->has(kResourceUnavailable)) return false;
    Log& log = engineLog();
    if (!record->has(kResourceHeaderLoaded))
        return log.resourceError("Can't load %s [%s] data resource: First load header", record->typeLabel,
                                 record->name);
    if (record->has(kResourceDataLoaded))
        return log.resourceError("Can't twice load %s [%s] data resource: Already in RAM", record->typeLabel,
                                 record->name);
    record->flags |= kResourceUnavailable;
    if (record->dataMask && record->dataMask[0]) {
        try {
            MemoryStream memory;
            if (!stream && !loadStoredFile(record->dataMask, record->name, record->sourceName, memory))
                return log.resourceError("Can't load %s resource [%s] data: resource not found", record->typeLabel,
                                         record->name);
            const std::int32_t result = record->readData(stream ? *stream : memory);
            if (result < 0) return log.resourceError("Fail read %s [%s] data", record->typeLabel, record->name);
            if (!record->hasObject())
                return log.resourceError("Fail while load %s [%s] data", record->typeLabel, record->name);
        } catch (...) {
            log.resourceError("Exception: Failed to load %s [%s] data", record->typeLabel, record->name);
            // The header flag would otherwise claim an object that is gone.
            try {
                if (record->hasObject()) record->deleteObject();
            } catch (...) {
            }
            record->flags &= ~kResourceHeaderLoaded;
            return false;
        }
    }
    record->flags |= kResourceDataLoaded;
    record->flags &= ~kResourceUnavailable;
    resetWorldClock();
    return true;
}

bool ResourceManagerBase::allocate(ResourceRecord* record) {
    if (!record || record->has(kResourceUnavailable)) return false;
    if (record->has(kResourceAllocated)) return true;
    if (!record->has(kResourceDataLoaded) && !loadData(record)) return false;
    record->flags |= kResourceUnavailable;
    bool allocated = false;
    {
        LoadingLockGuard lock;
        try {
            allocated = record->allocateObject();
        } catch (...) {
            allocated = false;
        }
    }
    record->flags &= ~kResourceUnavailable;
    if (!allocated)
        return engineLog().resourceError("Can't allocate %s [%s]: Allocation failed", record->typeLabel,
                                         record->name);
    record->flags |= kResourceAllocated;
    resetWorldClock();
    return true;
}

bool ResourceManagerBase::allocateAll() {
    settle();
    const bool real = realStage(loadStage_);
    float step = 1.0f;
    if (real) {
        std::uint32_t pending = 0;
        for (std::uint32_t i = 0; i < records_.count(); ++i)
            if (records_[i]->users.count() > 0 && !records_[i]->has(kResourceAllocated)) ++pending;
        if (pending > 0) step = 1.0f / static_cast<float>(pending);
    }
    bool ok = true;
    std::uint32_t handled = 0;
    for (std::uint32_t i = 0; i < records_.count(); ++i) {
        ResourceRecord* record = records_[i];
        if (record->users.count() == 0 || record->has(kResourceAllocated)) continue;
        bool allocated = record->has(kResourceAllocated);
        if (!allocated && !record->has(kResourceUnavailable)) {
            const bool header = record->has(kResourceHeaderLoaded) || loadHeader(record, nullptr);
            allocated = header && allocate(record);
        }
        if (!allocated) {
            engineLog().resourceError("Can't allocate %s resource [%s]", record->typeLabel, record->name);
            ok = false;
        }
        if (real)
            reportLoadingProgress(loadStage_, static_cast<float>(handled) * step);
        else
            reportLoadingProgress(kProgressRefreshStage, 0.0f);
        ++handled;
    }
    if (real) reportLoadingProgress(loadStage_, 1.0f);
    ready_ = ok && onAllocated();
    return ready_;
}

void ResourceManagerBase::releaseUnreferenced() {
    settle();
    ready_ = false;
    const bool real = realStage(unloadStage_);
    std::uint32_t total = 0;
    for (std::uint32_t i = 0; i < records_.count(); ++i)
        if (records_[i]->has(kResourceAllocated) && records_[i]->users.count() == 0) ++total;
    std::uint32_t released = 0;
    for (std::uint32_t i = 0; i < records_.count(); ++i) {
        ResourceRecord* record = records_[i];
        if (!record->has(kResourceAllocated) || record->users.count() > 0) continue;
        record->release();
        if (real)
            reportLoadingProgress(unloadStage_, static_cast<float>(released) / static_cast<float>(total));
        else
            reportLoadingProgress(kProgressRefreshStage, 0.0f);
        ++released;
    }
    if (real) reportLoadingProgress(unloadStage_, 1.0f);
}

void ResourceManagerBase::deallocateAll() {
    settle();
    for (std::uint32_t i = 0; i < records_.count(); ++i) {
        ResourceRecord* record = records_[i];
        if (record->has(kResourceAllocated)) {
            record->flags &= ~kResourceAllocated;
            record->deallocateObject(true);
            if (record->has(kResourceAllocatedDebug)) {
                record->flags &= ~kResourceAllocatedDebug;
                record->dropDebugAllocation();
            }
            if (record->has(kResourceDataLoaded)) record->unloadData();
            record->flags &= ~kResourceDataLoaded;
        }
        reportLoadingProgress(kProgressRefreshStage, 0.0f);
    }
    ready_ = false;
    onDeallocated();
}

void ResourceManagerBase::collectUnused() {
    clock_ += realTimeStep();
    if (clock_ < kCollectPeriod) return;
    if (clock_ > kCollectClockLimit)
        clock_ = 0.0;
    else
        clock_ -= kCollectPeriod;
    settle();
    std::uint32_t budget = std::min<std::uint32_t>(records_.count() / 4 + 1, kCollectBudgetMax);
    while (budget > 0 && records_.count() > 0) {
        --budget;
        if (cursor_ < 0 || static_cast<std::uint32_t>(cursor_) >= records_.count()) cursor_ = 0;
        ResourceRecord* record = records_[static_cast<std::uint32_t>(cursor_)];
        if (record->users.count() == 0) {
            if (record->has(kResourceAllocated)) record->deallocate(false);
            if (record->has(kResourceHeaderLoaded)) record->release();
        }
        ++cursor_;
        if (static_cast<std::uint32_t>(cursor_) >= records_.count()) cursor_ = 0;
    }
}

void ResourceManagerBase::releaseDeviceData() {
    settle();
    for (std::uint32_t i = 0; i < records_.count(); ++i)
        if (records_[i]->has(kResourceDataLoaded)) records_[i]->releaseDeviceObjects();
}

void ResourceManagerBase::releaseAll() {
    settle();
    for (std::uint32_t i = 0; i < records_.count(); ++i) {
        ResourceRecord* record = records_[i];
        record->dispose();
        delete record;
        records_[i] = nullptr;
    }
    records_.release();
    cursor_ = 0;
}

bool ResourceManagerBase::push(ResourceRecord* record, ResourceUser* user) {
    if (!record || !user) return false;
    Log& log = engineLog();
    if (user->resourcePushed()) return log.error("Can't push %s [%s] twice", record->typeLabel, user->resourceUserName());
    if (record->has(kResourceUnavailable) && !record->has(kResourcePlaceholder)) {
        log.resourceError("Can't push %s: resourse [%s] is invalid", record->typeLabel, record->name);
        return log.error("Can't push %s instance to %s resource repository", record->typeLabel, record->typeName);
    }
    if (record->users.indexOf(user) >= 0) {
        log.resourceError("Can't push %s [%s] to %s [%s]: Already registered", record->typeName,
                          user->resourceUserName(), record->typeLabel, record->name);
        return log.error("Can't push %s instance to %s resource repository", record->typeLabel, record->typeName);
    }
    if (!record->users.append(user))
        return log.error("Can't push %s instance to %s resource repository", record->typeLabel, record->typeName);
    user->setResourcePushed(true);
    return true;
}

bool ResourceManagerBase::pop(ResourceRecord* record, ResourceUser* user) {
    if (!record || !user) return false;
    Log& log = engineLog();
    if (!user->resourcePushed())
        return log.error("Can't pop %s [%s]: push first", record->typeLabel, user->resourceUserName());
    const std::int32_t index = record->users.indexOf(user);
    if (index < 0) {
        log.resourceError("Can't delete %s [%s] from %s references list [%s]", record->typeName,
                          user->resourceUserName(), record->typeLabel, record->name);
        return log.error("Can't pop %s instance from %s resources repository", record->typeLabel, record->typeName);
    }
    record->users.removeAt(static_cast<std::uint32_t>(index));
    user->setResourcePushed(false);
    return true;
}
