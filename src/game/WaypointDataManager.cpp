#include "game/WaypointDataManager.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/Log.h"
#include "foundation/TextFile.h"
#include "foundation/TextRecord.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "scene/Y3Pose.h"
#include "sound/SoundCore.h"

namespace {

const DataManagerInfo* waypointsInfo() {
    static const DataManagerInfo unknown = {"", "", "", 0, "", "", ""};
    const DataManagerInfo* info = findDataManagerInfo("WaypointDataManager");
    return info ? info : &unknown;
}

bool idLess(const std::unique_ptr<Y3Pose>& pose, const char* wanted) { return std::strcmp(pose->id, wanted) < 0; }

float squaredDistance(const float* a, const float* b) {
    float sum = 0.0f;
    for (int k = 0; k < 3; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return sum;
}

// Bits of the model's two state words that the refresh reads.
constexpr std::uint32_t kRefreshLowShown = 0x2;      // L1
constexpr std::uint32_t kRefreshLowActive = 0x4;     // L2
constexpr std::uint32_t kRefreshHighKept = 0x4;      // H2
constexpr std::uint32_t kRefreshHighVisible = 0x10;  // H4

// Whether the pose's model is to be made again.
bool wantsRefresh(const Model* model, bool first, bool second) {
    if (!model) return true;
    if (!(model->stateWords[0] & kRefreshLowShown) || !(model->stateWords[1] & kRefreshHighVisible)) return false;
    if (second) return true;
    if (model->stateWords[1] & kRefreshHighKept) return false;
    return first || !(model->stateWords[0] & kRefreshLowActive);
}

// The five ranges of a model's first action item, or the defaults.
struct ActionRanges {
    float values[5];
};

ActionRanges firstItemRanges(const Model* model) {
    if (model && !model->actionItems.empty()) {
        const ModelActionItem& item = model->actionItems.front();
        return {{item.maxRange3d, item.minRange3d, item.minRange2d, item.maxRange2d, item.minSize2d}};
    }
    const ModelActionRanges& d = ModelActionItemData::defaultRanges();
    return {{d.maxRange3d, d.minRange3d, d.minRange2d, d.maxRange2d, d.minSize2d}};
}

void setFirstItemRanges(ModelActionItem& item, const ActionRanges& ranges) {
    item.maxRange3d = ranges.values[0];
    item.minRange3d = ranges.values[1];
    item.minRange2d = ranges.values[2];
    item.maxRange2d = ranges.values[3];
    item.minSize2d = ranges.values[4];
}

// Moves the stream past the rest of a record that failed to read: to the
// next "type" line or the end.
void skipToNextRecord(DataStream& stream) {
    std::string line(static_cast<std::size_t>(kRecordLineSize), '\0');
    while (stream.tell() < stream.size()) {
        const std::int32_t start = stream.tell();
        const std::int32_t lineNumber = stream.lineNumber;
        if (readRecordLine(stream, line.data()) <= 0) return;
        if (std::strncmp(line.c_str(), "type ", 5) == 0) {
            stream.setPosition(start);
            stream.lineNumber = lineNumber;
            return;
        }
    }
}

// A source name like "name#01.txt": "#" seven characters from its end and
// "." four.
bool skippedSource(const std::string& path) {
    const std::size_t n = path.size();
    return n > 6 && path[n - 7] == '#' && path[n - 4] == '.';
}

}  // namespace

const char* waypointKindName(std::int32_t kind) {
    static const char* const names[] = {"Point", "Trigger", "Model", "Camera", "Particle", "Light", "Volume"};
    return kind >= 0 && kind < 7 ? names[kind] : "((ANY))";
}

// --- The set ----------------------------------------------------------------

WaypointData::~WaypointData() {
    allocated = false;
    releaseInstances();
}

void WaypointData::releaseInstances() {
    for (const std::unique_ptr<Y3Pose>& pose : poses) pose->release();
}

bool WaypointData::allocate() {
    if (allocated) return engineLog().error("Can't allocate waypoints data: Already allocated");
    bool all = true;
    for (const std::unique_ptr<Y3Pose>& pose : poses) {
        if (pose->spawn(0)) continue;
        engineLog().error("Can't initialize waypoint %s", pose->id);
        all = false;
    }
    allocated = all;
    return allocated;
}

bool WaypointData::deallocate() {
    if (!allocated) return engineLog().error("Can't deallocate waypoints data: Allocate first");
    allocated = false;
    releaseInstances();
    return true;
}

std::int32_t WaypointData::read(DataStream& stream, const char* resourceName) {
    allocated = false;
    releaseInstances();
    return readWaypointResource(stream, poses, resourceName ? resourceName : "");
}

std::int32_t WaypointData::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(poses.size())))) return total;
    for (const std::unique_ptr<Y3Pose>& pose : poses)
        if (!addField(total, pose->writeBinary(stream))) return total;
    return total;
}

std::int32_t WaypointData::exportText(DataStream& stream) const {
    std::int32_t total = 0;
    for (const std::unique_ptr<Y3Pose>& pose : poses)
        if (!addField(total, pose->write(stream))) return total;
    return total;
}

bool WaypointData::add(std::unique_ptr<Y3Pose> pose) {
    if (!pose || find(pose->id)) return false;
    auto at = std::upper_bound(poses.begin(), poses.end(), pose->id,
                               [](const char* wanted, const std::unique_ptr<Y3Pose>& other) {
                                   return std::strcmp(wanted, other->id) < 0;
                               });
    poses.insert(at, std::move(pose));
    return true;
}

Y3Pose* WaypointData::find(const char* id) const {
    if (!id || !id[0]) return nullptr;
    auto at = std::lower_bound(poses.begin(), poses.end(), id, idLess);
    return at != poses.end() && std::strcmp((*at)->id, id) == 0 ? at->get() : nullptr;
}

// --- The record ---------------------------------------------------------------

WaypointDataInstance::WaypointDataInstance(const char* name)
    : ResourceRecord(name, resourceDescriptor(ResourceKind::Waypoints)) {}

WaypointDataInstance::~WaypointDataInstance() = default;

std::int32_t WaypointDataInstance::readHeader(DataStream& stream) {
    auto data = std::make_unique<WaypointData>();
    const std::int32_t total = data->read(stream, name);
    if (total < 0) return total;
    data_ = std::move(data);
    return total;
}

void WaypointDataInstance::deleteObject() {
    if (data_ && data_->allocated) data_->deallocate();
    data_.reset();
}

// --- The scene's holder -------------------------------------------------------

const char* Waypoints::resourceUserName() const { return owner ? owner->getName() : ""; }

WaypointData* Waypoints::data() const {
    return gameCore.waypoints ? gameCore.waypoints->dataOf(record) : nullptr;
}

bool Waypoints::initialize() {
    WaypointData* set = data();
    if (!set || !set->allocate())
        return engineLog().error("Waypoints initialize: Can't load WP [%s] data", record ? record->name : "");
    return true;
}

bool Waypoints::push() {
    const bool pushed = record && ResourceManagerBase::push(record, this);
    WaypointData* set = data();
    bool all = set != nullptr;
    // After a pop each pose finds its object again; the "$" models are made
    // by the refresh, so there may be none to find.
    if (set)
        for (const std::unique_ptr<Y3Pose>& pose : set->poses) {
            if (pose->hasSpawned()) continue;
            if (pose->type() != PoseTrigger) {
                pose->attach();
                continue;
            }
            const std::int32_t made = owner ? owner->triggers->findTrigger(pose->id) : -1;
            if (made >= 0)
                static_cast<Y3Pose_Trigger&>(*pose).link = owner->triggers->handles()[static_cast<std::size_t>(made)];
            else if (!pose->spawn(0)) all = engineLog().error("Can't create trigger of waypoint [%s]", pose->id);
        }
    if (!all) return engineLog().error("Waypoints PUSH: Can't load WP [%s] data", record ? record->name : "");
    return pushed;
}

bool Waypoints::pop() {
    const bool popped = record && ResourceManagerBase::pop(record, this);
    WaypointData* set = data();
    if (!set) return engineLog().error("Waypoints POP: Can't load WP [%s] data", record ? record->name : "");
    // The objects stay the scene's; the poses let go of them until the
    // next push finds them again.
    for (const std::unique_ptr<Y3Pose>& pose : set->poses) pose->detach();
    return popped;
}

void Waypoints::releaseInstances() {
    WaypointData* set = record && record->has(kResourceHeaderLoaded) ? record->data() : nullptr;
    if (set && set->allocated) set->deallocate();
}

Y3Pose* Waypoints::find(std::int32_t kind, const char* name, bool report) const {
    const WaypointData* set = data();
    Y3Pose* found = set ? set->find(name) : nullptr;
    if (!found && report) engineLog().error("Can't find [%s] with name [%s]", waypointKindName(kind), name ? name : "");
    return found;
}

Y3Pose* Waypoints::searchNearest(const char* prefix, const float* position) const {
    const WaypointData* set = data();
    if (!set || !position) return nullptr;
    const std::size_t length = prefix ? strnlen(prefix, 128) : 0;
    Y3Pose* best = nullptr;
    float bestDistance = 0.0f;
    for (const std::unique_ptr<Y3Pose>& pose : set->poses) {
        if (pose->type() != PosePoint && pose->type() != PoseModel) continue;
        if (length && std::strncmp(pose->id, prefix, length) != 0) continue;
        const float distance = squaredDistance(pose->pose.m + 9, position);
        if (!best || distance < bestDistance) {
            best = pose.get();
            bestDistance = distance;
        }
    }
    return best;
}

void Waypoints::refreshLinkedModels(bool first, bool second) {
    const WaypointData* set = data();
    if (!set) return;
    ObjectRepository* objects = gameCore.objects;
    for (const std::unique_ptr<Y3Pose>& entry : set->poses) {
        if (entry->type() != PoseModel) continue;
        auto& pose = static_cast<Y3Pose_Model&>(*entry);
        if (pose.model[0] != '$') continue;
        GameObject* old = pose.link.index() && objects ? objects->getObject(pose.link) : nullptr;
        Model* oldModel = dynamic_cast<Model*>(old);
        if (old && !wantsRefresh(oldModel, first, second)) continue;
        if (gameCore.sound) gameCore.sound->lock();
        ActionRanges ranges{};
        if (old) {
            ranges = firstItemRanges(oldModel);
            // The new model keeps the old one's handle, so links to it hold.
            if (objects) objects->setRequestedIndex(static_cast<std::int32_t>(pose.link.index()));
            pose.release();
        }
        pose.spawn(0);
        // A failed re-creation must not hand the handle to the next object.
        if (objects) objects->setRequestedIndex(0);
        GameObject* made = old && objects && pose.link.index() ? objects->getObject(pose.link) : nullptr;
        if (made && made->getType() == ObjectModel) {
            auto* model = static_cast<Model*>(made);
            model->syncActionItems();
            if (!model->actionItems.empty()) setFirstItemRanges(model->actionItems.front(), ranges);
        }
        if (gameCore.sound) gameCore.sound->unlock();
    }
}

// --- The manager --------------------------------------------------------------

WaypointDataManager::WaypointDataManager() : info_(waypointsInfo()) {}

WaypointDataManager::~WaypointDataManager() { releaseAll(); }

const char* WaypointDataManager::sourceExtension() const { return info_->sourceExtension; }
const char* WaypointDataManager::compiledExtension() const { return info_->compiledExtension; }
std::int32_t WaypointDataManager::typeNumber() const { return info_->typeNumber; }
const char* WaypointDataManager::title() const { return info_->title; }
const char* WaypointDataManager::secondText() const { return info_->secondText; }

std::int32_t WaypointDataManager::readResource(DataStream&, const char*, std::int32_t) { return -1; }

WaypointData* WaypointDataManager::dataOf(WaypointDataInstance* record) {
    if (!record) return nullptr;
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record->data();
}

std::int32_t WaypointDataManager::exportResource(const char* name, DataStream& stream) {
    WaypointData* data = name && name[0] ? dataOf(getOrCreate(name, true)) : nullptr;
    const std::int32_t written = data ? data->exportText(stream) : -1;
    if (written < 0) return engineLog().error("Can't export to file waypoint resource [%s]", name ? name : ""), -1;
    return written;
}

bool WaypointDataManager::compileFromSource(const char* sourcePath) {
    const std::string path = sourcePath ? sourcePath : "";
    if (skippedSource(path)) return true;
    Log& log = engineLog();
    std::unique_ptr<WinFileStream> source = openFileStream(FilePath(path));
    if (!source) return log.error("Can't open waypoint source file [%s]", path.c_str());
    WaypointData read;
    while (source->tell() < source->size()) {
        std::unique_ptr<Y3Pose> pose;
        const std::int32_t result = Y3Pose::createFromText(*source, path.c_str(), pose);
        if (result == -2 || result == 0) break;
        if (result < 0 || !pose) {
            skipToNextRecord(*source);
            continue;
        }
        if (read.find(pose->id)) {
            log.error("Ignore waypoint name duplicate [%s]", pose->id);
            continue;
        }
        pose->clearLink();
        read.add(std::move(pose));
    }
    MemoryStream compiled(true);
    if (read.write(compiled) < 0) return log.resourceError("Can't save waypoints[%s] data to RAM file", path.c_str());
    // The game stores nothing: refused before the destination is touched.
    return storeBesideSource(compiled, path.c_str(), "Failed while write waypoints to file [%s]");
}

Waypoints* WaypointDataManager::create(Scene* owner, WaypointDataInstance* record) {
    if (record && record->has(kResourceUnavailable))
        engineLog().error("Can't crate waypoint resources [%s]", record->name);
    return new Waypoints(owner, record);
}
