#include "game/QuestDataManager.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "game/QuestLogic.h"
#include "resources/ResourceTypes.h"

Y3QuestData::Y3QuestData(const char* name) : ResourceRecord(name, resourceDescriptor(ResourceKind::Quest)) {}

Y3QuestData::~Y3QuestData() = default;

std::int32_t Y3QuestData::readHeader(DataStream& stream) {
    auto quests = std::make_unique<std::vector<QuestRecord>>();
    const std::int32_t total = readQuestList(stream, *quests, name);
    if (total < 0) return total;
    quests_ = std::move(quests);
    return total;
}

void Y3QuestData::visitObjectActions(const RecordArray* objects, const char* modelName) {
    if (!objects || !modelName || !*modelName) return;
    const std::size_t length = strnlen(modelName, 127);
    const ObjectState* states = objects->as<ObjectState>();
    for (std::int32_t i = 0; i < objects->count; ++i) {
        const ObjectState& state = states[i];
        const bool exact = std::strcmp(state.name, modelName) == 0;
        const bool item = std::strncmp(state.name, modelName, length) == 0 && state.name[length] == ':';
        if (!exact && !item) continue;
        for (std::int32_t kind = 0; kind < 3; ++kind) QuestLogic::applyObjectState(state, kind);
    }
}

namespace {

const DataManagerInfo* questInfo() {
    static const DataManagerInfo unknown = {"", "", "", 0, "", "", ""};
    const DataManagerInfo* info = findDataManagerInfo("QuestDataManager");
    return info ? info : &unknown;
}

}  // namespace

QuestDataManager::QuestDataManager() : info_(questInfo()) {}

QuestDataManager::~QuestDataManager() { release(); }

const char* QuestDataManager::sourceExtension() const { return info_->sourceExtension; }
const char* QuestDataManager::compiledExtension() const { return info_->compiledExtension; }
std::int32_t QuestDataManager::typeNumber() const { return info_->typeNumber; }
const char* QuestDataManager::title() const { return info_->title; }

std::int32_t QuestDataManager::readResource(DataStream& stream, const char* name, std::int32_t) {
    if (!name) return -1;
    const std::int32_t start = stream.tell();
    Y3QuestData* record = getOrCreate(name, false);
    if (!loadHeader(record, &stream)) return -1;
    return stream.tell() - start;
}

bool QuestDataManager::compileFromSource(const char* sourcePath) {
    return engineLog().resourceError("Fail to compile quest data from file [%s]", sourcePath ? sourcePath : "");
}

bool QuestDataManager::initialize() { return initFromPackages(0); }

void QuestDataManager::release() { releaseAll(); }

bool QuestDataManager::selectQuest(QuestRecord& out, const char* name) {
    out.clear();
    bool found = false;
    const char* wanted = name ? name : "";
    for (std::uint32_t i = 0; i < count(); ++i) {
        Y3QuestData* record = at(i);
        if (!record->has(kResourceHeaderLoaded)) {
            if (record->has(kResourceUnavailable) || !loadHeader(record, nullptr)) continue;
        }
        const std::vector<QuestRecord>* quests = record->quests();
        if (!quests) continue;
        for (const QuestRecord& quest : *quests) {
            if (std::strcmp(quest.name, wanted) != 0) continue;
            found = true;
            std::memcpy(out.name, quest.name, sizeof(out.name));
            out.events.insert(out.events.end(), quest.events.begin(), quest.events.end());
            out.objects.insert(out.objects.end(), quest.objects.begin(), quest.objects.end());
        }
    }
    if (!found) engineLog().questError("Can't create quest context with name [%s]: NOT found", wanted);
    return found;
}
