// The compiled quests that the quest engine runs.
//
// A data manager filled from the packages. Its resources are not read yet:
// it initialises with nothing loaded and releases nothing.
#pragma once

#include <cstdint>

#include "resources/DataManager.h"

class QuestDataManager : public DataManager {
public:
    QuestDataManager() = default;
    ~QuestDataManager() override;

    const char* sourceExtension() const override { return ".xls"; }
    const char* compiledExtension() const override { return ".quest"; }
    std::int32_t typeNumber() const override { return 36; }
    const char* title() const override { return "Game quests data"; }
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Compiling is not possible in the game: refused, false.
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override;
    void release() override;
};
