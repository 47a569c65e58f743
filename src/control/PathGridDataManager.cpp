#include "control/PathGridDataManager.h"

#include "foundation/Log.h"

PathGridRecord::PathGridRecord(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::Grid)) {}

PathGridRecord::~PathGridRecord() { dispose(); }

std::int32_t PathGridRecord::readHeader(DataStream& stream) {
    model.reset();
    std::unique_ptr<Y3Model> read;
    const std::int32_t result = Y3Model::readFromStream(stream, read, name);
    if (result < 0) return result;
    if (read->kind() != kModelKindGrid) {
        read->release();
        engineLog().resourceError("Path finding grid [%s]: the file holds a %s model, not a grid", name,
                                  Y3Model::kindName(read->kind()));
        return -1;
    }
    model.reset(static_cast<Y3ModelGrid*>(read.release()));
    return result;
}

void PathGridRecord::deleteObject() {
    if (!model) return;
    model->release(name);
    model.reset();
}

Y3GridData* PathGridDataManager::acquire(const char* name) {
    if (!name || !name[0]) return nullptr;
    return acquire(getOrCreate(name));
}

Y3GridData* PathGridDataManager::acquire(PathGridRecord* record) {
    if (!record) return nullptr;
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record->grid();
}
