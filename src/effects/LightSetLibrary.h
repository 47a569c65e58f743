// The light sets: named groups of light settings that scenes, areas and
// cameras select.
//
// A data manager filled from the packages. Its resources are not read yet:
// it initialises with nothing loaded and releases nothing.
#pragma once

#include <cstdint>

#include "resources/DataManager.h"

class LightSetLibrary : public DataManager {
public:
    LightSetLibrary() = default;
    ~LightSetLibrary() override;

    const char* sourceExtension() const override { return ".txt"; }
    const char* compiledExtension() const override { return ".ls"; }
    std::int32_t typeNumber() const override { return 41; }
    const char* title() const override { return "Lightset DB"; }
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Compiling is not possible in the game: refused, false.
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override;
    void release() override;
};
