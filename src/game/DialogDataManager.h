// The compiled dialogs that dialog objects play.
//
// A data manager filled from the packages. Its resources are not read yet:
// it initialises with nothing loaded and releases nothing.
#pragma once

#include <cstdint>

#include "resources/DataManager.h"

class DialogDataManager : public DataManager {
public:
    DialogDataManager() = default;
    ~DialogDataManager() override;

    const char* sourceExtension() const override { return ".xls"; }
    const char* compiledExtension() const override { return ".dlg"; }
    std::int32_t typeNumber() const override { return 37; }
    const char* title() const override { return "Game dialogs data"; }
    const char* secondText() const override { return "@"; }
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Compiling is not possible in the game: refused, false.
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override;
    void release() override;
};
