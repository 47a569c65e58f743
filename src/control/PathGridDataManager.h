// The path-finding grid resources of the scenes, one record per grid name
// (a scene's grid is "grid_" + the scene's name). The header stage is the
// whole load: the ".grid" file is a model container of kind 2 whose
// Y3ModelGrid holds the grid. No data stage, no device data.
#pragma once

#include <memory>

#include "control/Y3ModelGrid.h"
#include "resources/Y3ResourceManager.h"

class PathGridRecord : public ResourceRecord {
public:
    explicit PathGridRecord(const char* name);
    ~PathGridRecord() override;

    // Reads the container; a model of another kind is refused (-1).
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return model != nullptr; }
    // Releases the grid (under the record's name) and deletes it.
    void deleteObject() override;

    // The grid of a loaded record, or null.
    Y3GridData* grid() { return model ? &model->grid : nullptr; }

    std::unique_ptr<Y3ModelGrid> model;
};

// Both loading stages 17: no progress report.
class PathGridDataManager : public Y3ResourceManager<PathGridRecord, 17, 17> {
public:
    // The record of the name, created when absent (never null).
    PathGridRecord* getOrCreate(const char* name) {
        return Y3ResourceManager<PathGridRecord, 17, 17>::getOrCreate(name, true);
    }
    // The grid of the name, its header loaded on first use; null (logged)
    // when it cannot be loaded.
    Y3GridData* acquire(const char* name);
    // The grid of a record, its header loaded on first use; null (logged)
    // when it cannot be loaded.
    Y3GridData* acquire(PathGridRecord* record);
};
