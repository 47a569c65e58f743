#include "game/SceneActionDataManager.h"

#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "effects/Sprite.h"
#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/TextFile.h"
#include "foundation/Log.h"
#include "game/QuestLogic.h"
#include "scene/Scene.h"

namespace {

const DataManagerInfo* actionsInfo() {
    static const DataManagerInfo unknown = {"", "", "", 0, "", "", ""};
    const DataManagerInfo* info = findDataManagerInfo("SceneActionDataManager");
    return info ? info : &unknown;
}

constexpr const char kSpritePrefix[] = "spr:";

// The screen's sprite: the scene sprite named like the selected screen.
Sprite* screenSprite() {
    Scene* scene = gameCore.currentScene();
    GameObject* object = scene ? scene->lookupSprite(gameCore.scene_getActionsName()) : nullptr;
    return object && object->getType() == ObjectSprite ? static_cast<Sprite*>(object) : nullptr;
}

// The quest object's action number through the selected quest's states; a
// missing state is made with -1.
bool questObjectLive(const std::string& object) {
    QuestLogic* logic = gameCore.questLogic;
    if (!logic) return false;
    const ObjectState* state = logic->state.getObject(logic->quest.name, object.c_str());
    return state && state->action >= 0;
}

}  // namespace

const char* SceneScreenActions::resourceUserName() const { return owner ? owner->getName() : ""; }

SceneActionData* SceneScreenActions::data() const {
    return gameCore.screenActions ? gameCore.screenActions->dataOf(record) : nullptr;
}

ActionScreen* SceneScreenActions::currentScreen() const {
    if (!selected[0]) return nullptr;
    SceneActionData* actions = data();
    if (!actions) return engineLog().error("Can't load screen data source"), nullptr;
    const std::int32_t index = actions->find(selected);
    if (index < 0) return engineLog().error("Current selected screen is invalid: Maybe screens structure changed?"), nullptr;
    return &actions->screens[static_cast<std::size_t>(index)];
}

bool SceneScreenActions::selectScreen(const char* name) {
    if (!name || !name[0]) {
        std::memset(selected, 0, sizeof(selected));
        return true;
    }
    SceneActionData* actions = data();
    if (!actions) return engineLog().error("Can't load screen data source");
    if (actions->find(name) < 0)
        return engineLog().error("Can't select screen [%s]: screen with specified name NOT exist", name);
    copyName128(selected, name);
    gameCore.onScreenSwitched();
    return true;
}

std::int32_t SceneScreenActions::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeString16(stream, selected, sizeof(selected)))) return total;
    if (!addField(total, writeU32(stream, state)) || !addField(total, writeI32(stream, cursor)) ||
        !addField(total, writeI32(stream, values[1])))
        return total;
    addField(total, writeI32(stream, values[0]));
    return total;
}

std::int32_t SceneScreenActions::read(DataStream& stream) {
    std::memset(selected, 0, sizeof(selected));
    std::int32_t total = 0;
    if (!addField(total, readString16(stream, selected, sizeof(selected)))) {
        engineLog().error("Scene [%s] screen actions: the selected screen name is damaged", resourceUserName());
        return total;
    }
    if (!addField(total, readU32(stream, state)) || !addField(total, readI32(stream, cursor)) ||
        !addField(total, readI32(stream, values[1])) || !addField(total, readI32(stream, values[0])))
        return total;
    state &= ~kScreenActionsPushed;
    return total;
}

std::int32_t screenActionAt(const ActionScreen& screen, std::int32_t x, std::int32_t y) {
    if (x < 0 || x >= kActionGridWidth || y < 0 || y >= kActionGridHeight) return -1;
    std::int32_t best = -1;
    std::int32_t bestOrder = -1;
    const std::int32_t count = static_cast<std::int32_t>(screen.actions.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const ScreenAction& action = screen.actions[static_cast<std::size_t>(i)];
        if (!action.cell(x, y) || (bestOrder >= 0 && action.order < bestOrder)) continue;
        if (!screenActionEnabled(action)) continue;
        best = i;
        bestOrder = action.order;
    }
    return best;
}

bool screenActionEnabled(const ScreenAction& action) {
    const char* name = action.name;
    const std::size_t length = strnlen(name, 127);
    // The object part: after the first ":" (not at the start).
    const char* colon = static_cast<const char*>(std::memchr(name, ':', length));
    const std::string part = colon && colon != name ? std::string(colon + 1, name + length) : std::string(name, length);
    const std::size_t equals = part.find('=');
    const bool withValue = equals != std::string::npos && equals > 0;
    const std::string object = withValue ? part.substr(0, equals) : part;
    if (!questObjectLive(object)) return false;
    if (std::strncmp(name, kSpritePrefix, sizeof(kSpritePrefix) - 1) != 0) return true;
    Sprite* sprite = screenSprite();
    if (!sprite) return false;
    if (!withValue) {
        const std::int32_t element = sprite->findElement(object.c_str());
        if (element >= 0) return sprite->elementVisible(element);
        const std::string prefix = object + "=";
        const std::int32_t linked = sprite->findObject(prefix.c_str());
        if (linked < 0) return engineLog().error("Expected 1:N linked sprite with name [%s???]", prefix.c_str());
        return linked > 0;
    }
    const char* full = name + sizeof(kSpritePrefix) - 1;
    const std::int32_t element = sprite->findElement(full);
    if (element < 0) return engineLog().error("Expected full 1:1 linked sprite [%s] for layer [%s]", full, name);
    return sprite->elementVisible(element);
}

SceneActionDataManager::SceneActionDataManager() : info_(actionsInfo()) {}

SceneActionDataManager::~SceneActionDataManager() { releaseAll(); }

const char* SceneActionDataManager::sourceExtension() const { return info_->sourceExtension; }
const char* SceneActionDataManager::compiledExtension() const { return info_->compiledExtension; }
std::int32_t SceneActionDataManager::typeNumber() const { return info_->typeNumber; }
const char* SceneActionDataManager::title() const { return info_->title; }
const char* SceneActionDataManager::secondText() const { return info_->secondText; }

std::int32_t SceneActionDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

SceneActionData* SceneActionDataManager::dataOf(Y3SceneActionData* record) {
    if (!record) return nullptr;
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record->data();
}

std::int32_t SceneActionDataManager::exportResource(const char* name, DataStream& stream) {
    SceneActionData* data = name && name[0] ? dataOf(getOrCreate(name, true)) : nullptr;
    const std::int32_t written = data ? writeSceneActions(*data, stream) : -1;
    if (written < 0) return engineLog().error("Can't export to file screen actions resource [%s]", name ? name : ""), -1;
    return written;
}

bool SceneActionDataManager::compileFromSource(const char* sourcePath) {
    const char* path = sourcePath ? sourcePath : "";
    Log& log = engineLog();
    std::unique_ptr<WinFileStream> source = openFileStream(FilePath(path));
    if (!source) return log.error("Can't open actions source file [%s]", path);
    SceneActionData data;
    readSceneActionSource(*source, data, path);
    MemoryStream compiled(true);
    if (writeSceneActions(data, compiled) < 0) return log.resourceError("Can't save actions [%s] data to RAM file", path);
    // The game stores nothing: refused before the destination is touched.
    return storeBesideSource(compiled, path, "Failed while write actions to file [%s]");
}

SceneScreenActions* SceneActionDataManager::create(Scene* owner, Y3SceneActionData* record) {
    if (record && record->has(kResourceUnavailable))
        engineLog().error("Can't create screen actions resources [%s]", record->name);
    return new SceneScreenActions(owner, record);
}

bool SceneActionDataManager::push(SceneScreenActions& holder) {
    return holder.record && ResourceManagerBase::push(holder.record, &holder);
}

bool SceneActionDataManager::pop(SceneScreenActions& holder) {
    return holder.record && ResourceManagerBase::pop(holder.record, &holder);
}
