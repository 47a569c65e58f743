// The screen actions: clickable regions of the screens with their cursor
// hints and handlers.
//
// A data manager filled from the packages. Its resources are not read yet:
// it initialises with nothing loaded and releases nothing.
#pragma once

#include <cstdint>

#include "resources/DataManager.h"

class SceneActionDataManager : public DataManager {
public:
    SceneActionDataManager() = default;
    ~SceneActionDataManager() override;

    const char* sourceExtension() const override { return ".txt"; }
    const char* compiledExtension() const override { return ".as"; }
    std::int32_t typeNumber() const override { return 45; }
    const char* title() const override { return "Screen actions data"; }
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Compiling is not possible in the game: refused, false.
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override;
    void release() override;
};
