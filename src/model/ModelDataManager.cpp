#include "model/ModelDataManager.h"

#include "effects/RenderObject.h"
#include "foundation/Log.h"
#include "model/ModelContext.h"

namespace {

ModelDataManager* installedManager = nullptr;

}  // namespace

ModelDataManager* modelDataManager() { return installedManager; }
void setModelDataManager(ModelDataManager* manager) { installedManager = manager; }

Y3ModelData::Y3ModelData(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::Model)) {}

Y3ModelData::~Y3ModelData() {
    // A context still attached goes with its record.
    if (renderObject.context) releaseRenderObject(renderObject);
    dispose();
}

ModelContext* Y3ModelData::context() const { return static_cast<ModelContext*>(renderObject.context); }

std::int32_t Y3ModelData::readHeader(DataStream& stream) { return Y3Model::readFromStream(stream, model, name); }

std::int32_t Y3ModelData::readData(DataStream& stream) {
    if (!model) return -1;
    return model->read(stream, false, name);
}

bool Y3ModelData::allocateObject() { return model && model->allocate(name); }

void Y3ModelData::deallocateObject(bool) {
    if (model) model->deallocate(true);
}

void Y3ModelData::deleteObject() {
    if (!model) return;
    if (!model->release()) {
        // Still in use by a context: the model and its meshes stay.
        if (model->gameContext) return;
    }
    model.reset();
}

void Y3ModelData::releaseDeviceObjects() {
    if (model) model->collectUnused();
}

Y3ModelData* ModelDataManager::acquire(const char* name) {
    if (!name || !name[0]) return nullptr;
    Y3ModelData* record = getOrCreate(name, true);
    if (record->has(kResourceAllocated)) return record;
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    if (!allocate(record)) return nullptr;
    engineLog().resourceInfo("Model [%s] loaded", record->name);
    return record;
}

Y3ModelData* ModelDataManager::requestHeader(const char* name) {
    if (!name || !name[0]) return nullptr;
    Y3ModelData* record = getOrCreate(name, true);
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record;
}

void ModelDataManager::cacheStep() {
    if (!Y3Mesh::settings().enableMeshCaching) return;
    releaseDeviceData();
}
