// The model resource of the path-finding grid (model kind 2): it holds one
// grid, read and written as the body of the model container. It has no
// device data, no data file and no textures.
#pragma once

#include "control/Y3GridData.h"
#include "model/Y3Model.h"

class Y3ModelGrid : public Y3Model {
public:
    Y3ModelGrid() = default;
    // Frees the rows and the search workspace.
    ~Y3ModelGrid() override;

    std::uint32_t kind() const override { return kModelKindGrid; }
    bool allocate(const char*) override { return true; }
    bool deallocate(bool) override { return true; }
    void exportTree(XmlTag&) override {}
    void getBoxSize(float*) const override {}
    bool load(const char*) override { return true; }
    bool validateTextures() override { return true; }
    // Logs "Release path finding grid [name]" under the resource log flag,
    // then frees the grid. True.
    bool release() override;
    // The grid body when the flag is set; 0 and nothing read otherwise.
    std::int32_t read(DataStream& stream, bool body, const char* name) override;
    std::int32_t write(DataStream& stream, bool body, const char* name) override;

    // Release under the resource's name.
    bool release(const char* name);

    Y3GridData grid;
};
