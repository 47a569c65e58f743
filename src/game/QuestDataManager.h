// The compiled quests that the quest engine runs: every ".quest" file of
// the packages is read into the record of its name at start and parsed into
// its quest list. A quest may be spread over several files; selecting it
// merges the parts in the records' order.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "game/QuestData.h"
#include "resources/DataManager.h"
#include "resources/LoadingProgress.h"
#include "resources/Y3ResourceManager.h"

struct DataManagerInfo;

// One ".quest" resource: its quest list while the header is loaded.
class Y3QuestData : public ResourceRecord {
public:
    explicit Y3QuestData(const char* name);
    ~Y3QuestData() override;

    // Parses the quest list; negative (logged) on damaged data, nothing kept.
    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return quests_ != nullptr; }
    void deleteObject() override { quests_.reset(); }

    // The quest list, or null before the load and after release.
    const std::vector<QuestRecord>* quests() const { return quests_.get(); }

    // Applies to the scene every state that belongs to one model: the state
    // named exactly as the model, then those named "model:item".
    static void visitObjectActions(const RecordArray* objects, const char* modelName);

private:
    std::unique_ptr<std::vector<QuestRecord>> quests_;
};

class QuestDataManager : public DataManager,
                         public Y3ResourceManager<Y3QuestData, kProgressNoReportStage, kProgressNoReportStage> {
public:
    QuestDataManager();
    ~QuestDataManager() override;

    const char* sourceExtension() const override;
    const char* compiledExtension() const override;
    std::int32_t typeNumber() const override;
    const char* title() const override;
    // Takes one stored file into the record of its name: bytes read or -1.
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // Not possible in the game: logged, false.
    bool compileFromSource(const char* sourcePath) override;
    // Reads every stored ".quest" file; false when one failed.
    bool initialize() override;
    // Checks and destroys every record.
    void release() override;

    // The record of that name, or null.
    Y3QuestData* find(const char* name) const { return static_cast<Y3QuestData*>(findRecord(name)); }

    // Empties out and merges into it every quest of that name of every
    // resource, in resource order; resources not loaded are loaded, those
    // that failed before are passed over. False (logged) when none matched.
    bool selectQuest(QuestRecord& out, const char* name);

private:
    const DataManagerInfo* info_;
};
