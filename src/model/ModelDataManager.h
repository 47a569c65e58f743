// The model resources: one record per model name, kept by the render core's
// model data manager. The header stage reads the ".mh4" file into a
// Y3Model, the data stage reads the ".my3" file into it, allocation makes
// the device data of its meshes.
#pragma once

#include <memory>

#include "model/ObjectContext.h"
#include "model/Y3Model.h"
#include "resources/Y3ResourceManager.h"

class ModelContext;

class Y3ModelData : public ResourceRecord {
public:
    explicit Y3ModelData(const char* name);
    ~Y3ModelData() override;

    std::int32_t readHeader(DataStream& stream) override;
    std::int32_t readData(DataStream& stream) override;
    bool hasObject() const override { return model != nullptr; }
    bool allocateObject() override;
    void deallocateObject(bool final) override;
    // Releases the model; a model a context still uses is kept (logged).
    void deleteObject() override;
    // The mesh caching step of the model.
    void releaseDeviceObjects() override;

    std::unique_ptr<Y3Model> model;
    // The render object of the resource; its context is the ModelContext of
    // the models pushed on this resource, null while none is pushed.
    RenderObject renderObject;
    ModelContext* context() const;
    // Level-of-detail ranges, squared, -1 when not set, in this order.
    enum LodRange { RangeLod1, RangeLod2, RangeHide, RangeFillLight, RangeNoLight, RangeTextureLod, RangeCount };
    float lodRanges[RangeCount] = {-1.0f, -1.0f, -1.0f, -1.0f, -1.0f, -1.0f};
    // Set when lod1, lod2 or hide is positive or texture_lod is 0 or more.
    bool hasRanges = false;
};

// Unload stage 2, allocation stage 8.
class ModelDataManager : public Y3ResourceManager<Y3ModelData, 2, 8> {
public:
    // The record of the name, its header and data loaded and the model
    // allocated; null (logged) when any stage fails.
    Y3ModelData* acquire(const char* name);
    // The record of the name with its header loaded; null (logged by the
    // load) when the header cannot be had.
    Y3ModelData* requestHeader(const char* name);
    // The mesh caching pass: every loaded model releases the device data
    // its meshes did not use for a while. Nothing without
    // "enable_mesh_caching".
    void cacheStep();
};

// The manager the model objects reach their resources through (the render
// core installs its own); null when none is installed.
ModelDataManager* modelDataManager();
void setModelDataManager(ModelDataManager* manager);
