// A render data manager of the tests: records without a data file whose
// header is read from memory, and which count their device allocations,
// as the model, sprite and particle managers register theirs with the
// render core.
#pragma once

#include <string>

#include "foundation/DataStream.h"
#include "render/RenderCore.h"
#include "resources/Y3ResourceManager.h"

namespace render_test {

const ResourceDescriptor kCountingDescriptor = {"test mesh", "mesh", ".tmh", "", "", ".txt", ""};

class CountingRecord : public ResourceRecord {
public:
    explicit CountingRecord(const char* name) : ResourceRecord(name, kCountingDescriptor) {}
    ~CountingRecord() override { delete object; }

    std::int32_t readHeader(DataStream&) override {
        object = new int(1);
        return 1;
    }
    bool hasObject() const override { return object != nullptr; }
    bool allocateObject() override {
        ++allocations;
        return true;
    }
    void deallocateObject(bool) override { ++deallocations; }
    void deleteObject() override {
        delete object;
        object = nullptr;
    }

    int* object = nullptr;
    int allocations = 0;
    int deallocations = 0;
};

struct CountingUser : ResourceUser {
    const char* resourceUserName() const override { return "user"; }
    bool resourcePushed() const override { return pushed; }
    void setResourcePushed(bool value) override { pushed = value; }
    bool pushed = false;
};

class CountingManager : public Y3ResourceManager<CountingRecord, 17, 17> {
public:
    // A record with its header read, as the first push of a user loads it.
    // The packages hold no file of this type: the record is taken as one
    // whose header file they hold.
    CountingRecord* loaded(const char* name) {
        CountingRecord* record = getOrCreate(name, false);
        record->flags &= ~kResourceUnavailable;
        MemoryStream header;
        header.write("h", 1);
        header.setPosition(0);
        return loadHeader(record, &header) ? record : nullptr;
    }
    // A loaded record, used by user when one is given, and allocated, as
    // the resources a scene draws are.
    CountingRecord* allocated(const char* name, CountingUser* user = nullptr) {
        CountingRecord* record = loaded(name);
        if (!record || (user && !push(record, user)) || !allocate(record)) return nullptr;
        return record;
    }
};

// Registers a manager with a render core for its lifetime.
class ScopedRenderManager {
public:
    ScopedRenderManager(RenderCore& render, RenderDataManager role, ResourceManagerBase& manager)
        : render_(render), role_(role) {
        render_.registerDataManager(role_, &manager);
    }
    ~ScopedRenderManager() { render_.registerDataManager(role_, nullptr); }
    ScopedRenderManager(const ScopedRenderManager&) = delete;
    ScopedRenderManager& operator=(const ScopedRenderManager&) = delete;

private:
    RenderCore& render_;
    RenderDataManager role_;
};


}  // namespace render_test
