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
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Trigger.h"
#include "scene/Y3Pose.h"
#include "sound/SoundCore.h"

namespace {

bool idLess(const std::unique_ptr<Y3Pose>& pose, const char* wanted) { return std::strcmp(pose->id, wanted) < 0; }

float squaredDistance(const float* a, const float* b) {
    float sum = 0.0f;
    for (int k = 0; k < 3; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
    return sum;
}

// Model flag bits the refresh reads.
constexpr std::uint32_t kRefreshObjectShown = 0x2;
constexpr std::uint32_t kRefreshObjectKept = 0x4;
constexpr std::uint32_t kRefreshControlKept = 0x4;
constexpr std::uint32_t kRefreshControlLive = 0x10;

// Whether the pose's model is to be made again.
bool wantsRefresh(const Model* model, bool first, bool second) {
    if (!model) return true;
    if (!(model->stateWords[0] & kRefreshObjectShown) || !(model->controlFlags & kRefreshControlLive)) return false;
    if (second) return true;
    if (model->controlFlags & kRefreshControlKept) return false;
    return first || !(model->stateWords[0] & kRefreshObjectKept);
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

Waypoints::Waypoints(Scene* owner, StoredResourceRecord* record) : owner(owner), record(record) {}

Waypoints::~Waypoints() = default;

const char* Waypoints::resourceUserName() const { return owner ? owner->getName() : ""; }

bool Waypoints::initialize() {
    const std::string* bytes = record && gameCore.waypoints ? gameCore.waypoints->resourceBytes(record->name) : nullptr;
    if (!bytes) return true;
    MemoryStream stream(const_cast<char*>(bytes->data()), static_cast<std::int32_t>(bytes->size()));
    std::vector<std::unique_ptr<Y3Pose>> read;
    if (readWaypointResource(stream, read, record->name) < 0) return false;
    for (std::unique_ptr<Y3Pose>& pose : read) add(std::move(pose));
    return true;
}

bool Waypoints::push() {
    if (!record || !ResourceManagerBase::push(record, this)) return false;
    // A pop cleared the links: each pose finds its object again. The
    // trigger waypoints make their triggers at the first push; the "$"
    // models are made by the refresh, so until then there is none to find.
    for (const std::unique_ptr<Y3Pose>& pose : poses) {
        if (pose->hasSpawned()) continue;
        if (pose->type() == PoseModel && pose->getResourceName()[0] == '$') {
            pose->attach();
        } else if (pose->type() == PoseTrigger) {
            const std::int32_t made = owner ? owner->triggers->findTrigger(pose->id) : -1;
            if (made >= 0)
                static_cast<Y3Pose_Trigger&>(*pose).link = owner->triggers->handles()[static_cast<std::size_t>(made)];
            else if (!pose->spawn(0)) engineLog().error("Can't create trigger of waypoint [%s]", pose->id);
        }
    }
    return true;
}

bool Waypoints::pop() {
    if (!record) return false;
    const bool popped = ResourceManagerBase::pop(record, this);
    // The objects stay the scene's; the poses let go of them until the
    // next push finds them again.
    for (const std::unique_ptr<Y3Pose>& pose : poses) pose->detach();
    return popped;
}

void Waypoints::add(std::unique_ptr<Y3Pose> pose) {
    auto at = std::upper_bound(poses.begin(), poses.end(), pose->id,
                               [](const char* wanted, const std::unique_ptr<Y3Pose>& other) {
                                   return std::strcmp(wanted, other->id) < 0;
                               });
    poses.insert(at, std::move(pose));
}

Y3Pose* Waypoints::find(std::int32_t kind, const char* name, bool report) const {
    Y3Pose* found = nullptr;
    if (name && name[0]) {
        auto at = std::lower_bound(poses.begin(), poses.end(), name, idLess);
        if (at != poses.end() && std::strcmp((*at)->id, name) == 0) found = at->get();
    }
    if (!found && report) engineLog().error("Can't find [%s] with name [%s]", waypointKindName(kind), name ? name : "");
    return found;
}

Y3Pose* Waypoints::searchNearest(const char* prefix, const float* position) const {
    const std::size_t length = prefix ? strnlen(prefix, 128) : 0;
    Y3Pose* best = nullptr;
    float bestDistance = 0.0f;
    for (const std::unique_ptr<Y3Pose>& pose : poses) {
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
    ObjectRepository* objects = gameCore.objects;
    for (const std::unique_ptr<Y3Pose>& entry : poses) {
        if (entry->type() != PoseModel) continue;
        auto& pose = static_cast<Y3Pose_Model&>(*entry);
        if (pose.model[0] != '$') continue;
        GameObject* old = pose.link.index() && objects ? objects->getObject(pose.link) : nullptr;
        Model* oldModel = dynamic_cast<Model*>(old);
        if (old && !wantsRefresh(oldModel, first, second)) continue;
        if (gameCore.sound) gameCore.sound->lock();
        if (old && objects) {
            // The new model keeps the old one's handle, so links to it hold.
            objects->setRequestedIndex(static_cast<std::int32_t>(pose.link.index()));
            pose.release();
        }
        pose.spawn(0);
        // A failed re-creation must not hand the handle to the next object.
        if (objects) objects->setRequestedIndex(0);
        if (gameCore.sound) gameCore.sound->unlock();
    }
}

WaypointDataManager::WaypointDataManager()
    : StoredDataManager({.className = "WaypointDataManager",
                         .kind = ResourceKind::Waypoints,
                         .exportFailure = "Can't export to file waypoint resource [%s]"}) {}

bool WaypointDataManager::compileFromSource(const char* sourcePath) {
    const std::string path = sourcePath ? sourcePath : "";
    if (skippedSource(path)) return true;
    Log& log = engineLog();
    std::unique_ptr<WinFileStream> source = openFileStream(FilePath(path));
    if (!source) return log.error("Can't open waypoint source file [%s]", path.c_str());
    Waypoints read(nullptr, nullptr);
    while (source->tell() < source->size()) {
        std::unique_ptr<Y3Pose> pose;
        const std::int32_t result = Y3Pose::createFromText(*source, path.c_str(), pose);
        if (result == -2 || result == 0) break;
        if (result < 0 || !pose) {
            skipToNextRecord(*source);
            continue;
        }
        if (read.find(-1, pose->id, false)) {
            log.error("Ignore waypoint name duplicate [%s]", pose->id);
            continue;
        }
        pose->clearLink();
        read.add(std::move(pose));
    }
    MemoryStream compiled(true);
    std::int32_t total = 0;
    bool stored = addField(total, writeU32(compiled, static_cast<std::uint32_t>(read.poses.size())));
    for (const std::unique_ptr<Y3Pose>& pose : read.poses)
        if (stored) stored = addField(total, pose->writeBinary(compiled));
    if (!stored) return log.resourceError("Can't save waypoints[%s] data to RAM file", path.c_str());
    // The game stores nothing: refused before the destination is touched.
    return storeBesideSource(compiled, path.c_str(), "Failed while write waypoints to file [%s]");
}

Waypoints* WaypointDataManager::create(Scene* owner, StoredResourceRecord* record) {
    if (record && record->has(kResourceUnavailable))
        engineLog().error("Can't crate waypoint resources [%s]", record->name);
    return new Waypoints(owner, record);
}
