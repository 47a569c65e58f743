#include "animation/AnimationDataManager.h"

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/FilePackageDBData.h"
#include "resources/PackageDatabase.h"

Y3AnimData::Y3AnimData(const char* recordName)
    : ResourceRecord(recordName, resourceDescriptor(ResourceKind::Animation)) {}

Y3AnimData::~Y3AnimData() { dispose(); }

std::int32_t Y3AnimData::readHeader(DataStream& stream) { return loadAnimationData(data, name, stream); }

void Y3AnimData::deleteObject() {
    if (data) data->release();
    delete data;
    data = nullptr;
}

bool Y3AnimData::pushReference(ResourceUser* instance) { return ResourceManagerBase::push(this, instance); }

bool Y3AnimData::popReference(ResourceUser* instance) { return ResourceManagerBase::pop(this, instance); }

bool MorphDataManager::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath ? sourcePath : "");
}

bool AnimationTrackerMapManager::compileFromSource(const char* sourcePath) {
    Log& log = engineLog();
    log.error("Animation map compiler not work in game mode");
    return log.error("Can't compile animation map file [%s]", sourcePath ? sourcePath : "");
}

AnimationMapData* AnimationTrackerMapManager::findMapForModel(const char* resourceName, std::string* chosen) {
    const char* name = resourceName ? resourceName : "";
    if (!findRecord(name)) {
        FilePackageDBData* packages = packageData();
        if (!packages || packages->find(".amap", name, "") == 0) name = "default";
    }
    if (chosen) *chosen = name;
    AnimationMapData* record = getOrCreate(name, true);
    if (!record->has(kResourceHeaderLoaded)) {
        if (record->has(kResourceUnavailable) || !loadHeader(record, nullptr)) return nullptr;
    }
    return record;
}

bool AnimCtrlRulesManager::compileFromSource(const char* sourcePath) {
    Log& log = engineLog();
    log.error("animation rules compilation NOT possible in game");
    log.error("Can't compile animation rules file [%s]", sourcePath ? sourcePath : "");
    return true;
}
