// The sky descriptions: per weather and time of day, the sky colours, fog,
// depth and bloom values and the cloud speed.
//
// A data manager filled from the packages. Its resources are not read yet:
// it initialises with nothing loaded and releases nothing.
#pragma once

#include <cstdint>

#include "resources/DataManager.h"

class SkyDataManager : public DataManager {
public:
    SkyDataManager() = default;
    ~SkyDataManager() override;

    const char* sourceExtension() const override { return ".txt"; }
    const char* compiledExtension() const override { return ".sky"; }
    std::int32_t typeNumber() const override { return 42; }
    const char* title() const override { return "Sky colors DB"; }
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Compiling is not possible in the game: refused, false.
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override;
    void release() override;
};
