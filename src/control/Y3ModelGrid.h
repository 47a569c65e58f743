// The model resource of the path-finding grid (kind 2). Its least form: the
// header file's common part is read and written, the grid itself has no
// body yet and nothing to allocate.
#pragma once

#include "model/Y3Model.h"

class Y3ModelGrid : public Y3Model {
public:
    std::uint32_t kind() const override { return kModelKindGrid; }
    bool allocate(const char*) override { return true; }
    bool deallocate(bool) override { return true; }
    void exportTree(XmlTag&) override {}
    void getBoxSize(float*) const override {}
    bool load(const char*) override { return true; }
    bool validateTextures() override { return true; }
    bool release() override { return true; }
    std::int32_t read(DataStream&, bool, const char*) override { return 0; }
    std::int32_t write(DataStream&, bool, const char*) override { return 0; }
};
