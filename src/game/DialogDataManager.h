// The compiled dialogs that dialog objects play, one Y3DialogData record
// per dialog file, made on request and loaded when first needed. A record
// whose load failed stays invalid and is not tried again.
#pragma once

#include <cstdint>
#include <string>

#include "game/Y3DialogData.h"
#include "resources/DataManager.h"
#include "resources/LoadingProgress.h"
#include "resources/Y3ResourceManager.h"

class DialogDataManager : public DataManager,
                          public Y3ResourceManager<Y3DialogData, kProgressNoReportStage, kProgressNoReportStage> {
public:
    DialogDataManager();
    ~DialogDataManager() override;

    const char* sourceExtension() const override;
    const char* compiledExtension() const override;
    std::int32_t typeNumber() const override;
    const char* title() const override;
    const char* secondText() const override;
    // Dialogs are read on request only: -1.
    std::int32_t readResource(DataStream& stream, const char* name, std::int32_t flag) override;
    // The game does not compile dialog sources: logged, false.
    bool compileFromSource(const char* sourcePath) override;
    // The store of a compile: the record to a memory stream, then to the
    // compiled file beside the source. The game writes no compiled files:
    // the store refuses, and the failure names the file.
    bool storeCompiled(const Y3DialogData& data, const char* sourcePath);
    bool initialize() override { return true; }
    // Checks and deletes every record.
    void release() override { releaseAll(); }

    // The record of that name, or null.
    Y3DialogData* find(const char* name) const { return static_cast<Y3DialogData*>(findRecord(name)); }
    // The record's data, loaded when needed: false when it cannot be read
    // (the record is then invalid for good).
    bool ensureLoaded(Y3DialogData* record);

    // Lower-cases "dialog.label" and splits it at its first "."; false
    // (logged) without one.
    static bool splitLabelName(const char* fullName, std::string& dialog, std::string& label);
    // The label a "dialog.label" request names, its dialog loaded when
    // needed; null (logged) when either cannot be found.
    const DialogLabel* findLabelByName(const char* fullName);
};
