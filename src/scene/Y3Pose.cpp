#include "scene/Y3Pose.h"

#include <cmath>
#include <cstring>
#include <string>

#include "effects/Light.h"
#include "effects/Particle.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "foundation/TextRecord.h"
#include "foundation/XmlWriter.h"
#include "scene/CameraCore.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/Y3PoseLocal.h"
#include "scene/Trigger.h"

using namespace pose_detail;

namespace {

const char* const kTypeNames[PoseTypeCount + 1] = {"Point",    "Trigger", "Model",  "Camera",
                                                   "Particle", "Light",   "Volume", "((ANY))"};

}  // namespace

namespace pose_detail {

std::int32_t writeString(DataStream& stream, const std::string& line) {
    return stream.write(line.data(), static_cast<std::int32_t>(line.size()));
}

// "key value\r\n"; the line's length or a negative result.
std::int32_t writeLine(DataStream& stream, const char* key, const std::string& value) {
    return writeString(stream, std::string(key) + " " + value + "\r\n");
}

std::int32_t writeHexLine(DataStream& stream, const char* key, const void* bytes, std::int32_t count) {
    return writeLine(stream, key, hexEncode(static_cast<const std::uint8_t*>(bytes), count));
}

std::int32_t readField(DataStream& stream, const char* key, std::string& value, std::int32_t& total,
                       const char* fileName, bool optional) {
    value.assign(static_cast<std::size_t>(kValueSize), '\0');
    std::int32_t consumed = 0;
    const std::int32_t result = readValidData(stream, key, "", consumed, value.data(), kValueSize, fileName, false);
    if (result == -3 && optional) {
        value.clear();
        return 0;
    }
    if (result < 0) return result;
    value.resize(std::strlen(value.c_str()));
    total += consumed;
    return 0;
}

// Reads a hex field of exactly count bytes; -1 for a bad value.
std::int32_t readHexField(DataStream& stream, const char* key, void* out, std::int32_t count, std::int32_t& total,
                          const char* fileName) {
    std::string value;
    const std::int32_t result = readField(stream, key, value, total, fileName, false);
    if (result < 0) return result;
    if (!hexDecode(value, count, static_cast<std::uint8_t*>(out))) {
        textRecordError(stream, fileName, "Bad hex value of field [%s]", key);
        return -1;
    }
    return 0;
}

// Reads a count line and the line of that many 3-float points.
std::int32_t readPointsText(DataStream& stream, const char* countKey, const char* itemsKey,
                            std::vector<PoseVector3>& points, std::int32_t& total, const char* fileName) {
    std::uint32_t count = 0;
    std::int32_t result = readHexField(stream, countKey, &count, 4, total, fileName);
    if (result < 0) return result;
    // A line holds at most this many points: a larger count cannot be read.
    if (count > static_cast<std::uint32_t>(kValueSize / 24)) {
        textRecordError(stream, fileName, "Too many points in field [%s]: %u", countKey, count);
        return -1;
    }
    points.assign(count, PoseVector3{});
    std::vector<std::uint8_t> bytes(count * 12u + 1u);
    result = readHexField(stream, itemsKey, bytes.data(), static_cast<std::int32_t>(count * 12u), total, fileName);
    if (result < 0) return result;
    if (count) std::memcpy(points.data(), bytes.data(), count * 12u);
    return 0;
}

std::string pointsHex(const std::vector<PoseVector3>& points) {
    return hexEncode(reinterpret_cast<const std::uint8_t*>(points.data()), static_cast<std::int32_t>(points.size() * 12));
}

std::int32_t writePointsText(DataStream& stream, const char* countKey, const char* itemsKey,
                             const std::vector<PoseVector3>& points) {
    // The line ("key hex") is read through a buffer of kValueSize bytes with
    // its terminator; more points than fit could not be read back.
    const std::size_t fit = (static_cast<std::size_t>(kValueSize) - 2 - std::strlen(itemsKey)) / 24;
    if (points.size() > fit) {
        engineLog().error("Can't write waypoint field [%s]: %zu points, a line holds %zu", itemsKey, points.size(),
                          fit);
        return -1;
    }
    std::int32_t total = 0;
    if (!addField(total, writeCount(stream, countKey, points.size()))) return total;
    addField(total, writeLine(stream, itemsKey, pointsHex(points)));
    return total;
}

std::int32_t writeCount(DataStream& stream, const char* key, std::size_t count) {
    const std::uint32_t value = static_cast<std::uint32_t>(count);
    return writeHexLine(stream, key, &value, 4);
}

void absolute(float* size) {
    for (int i = 0; i < 3; ++i) size[i] = std::fabs(size[i]);
}

// A name behind a length prefix of 1 or 2 bytes, into a 128-byte field; a
// longer name than the field holds is refused.
std::int32_t writeName(DataStream& stream, const char* text, int width) {
    const std::size_t length = std::strlen(text);
    std::int32_t total = 0;
    if (!addField(total, width == 1 ? writeU8(stream, static_cast<std::uint8_t>(length))
                                    : writeU16(stream, static_cast<std::uint16_t>(length))))
        return total;
    if (length) addField(total, stream.write(text, static_cast<std::int32_t>(length)));
    return total;
}

std::int32_t readName(DataStream& stream, char* field, int width, const char* what) {
    std::int32_t total = 0;
    std::uint32_t length = 0;
    if (width == 1) {
        std::uint8_t value = 0;
        if (!addField(total, readU8(stream, value))) return total;
        length = value;
    } else {
        std::uint16_t value = 0;
        if (!addField(total, readU16(stream, value))) return total;
        length = value;
    }
    std::memset(field, 0, 128);
    if (length > 127) {
        engineLog().error("Can't read waypoint %s: name of %u bytes", what, length);
        return -1;
    }
    if (length) addField(total, readExact(stream, field, static_cast<std::int32_t>(length)));
    return total;
}

// The link word of a binary record: written as it is, read as no link (a
// handle from stored data would point at an unrelated live object).
std::int32_t readLinkWord(DataStream& stream, GameObjectLink& link) {
    std::uint32_t ignored = 0;
    link = GameObjectLink{};
    return readU32(stream, ignored);
}

GameObject* resolve(GameObjectLink link) {
    return gameCore.objects && link.index() ? gameCore.objects->getObject(link) : nullptr;
}

// The scene an object belongs to, or null.
Scene* sceneOf(const GameObject* object) {
    GameObject* scene = object ? resolve(GameObjectLink{object->getSceneLink()}) : nullptr;
    return scene && scene->getType() == ObjectScene ? static_cast<Scene*>(scene) : nullptr;
}

}  // namespace pose_detail

const char* poseTypeName(std::uint32_t type) { return type <= PoseTypeCount ? kTypeNames[type] : ""; }

Y3Pose::Y3Pose(const char* name) {
    if (name) std::strncpy(id, name, sizeof(id) - 1);
    pose = matrix34Identity();
}

Y3Pose::Y3Pose(const char* name, const Matrix34& value) : Y3Pose(name) { pose = value; }

std::unique_ptr<Y3Pose> Y3Pose::create(std::uint32_t type) {
    switch (type) {
    case PosePoint: return std::make_unique<Y3Pose>();
    case PoseTrigger: return std::make_unique<Y3Pose_Trigger>();
    case PoseModel: return std::make_unique<Y3Pose_Model>();
    case PoseCamera: return std::make_unique<Y3Pose_Camera>();
    case PoseParticle: return std::make_unique<Y3Pose_Particle>();
    case PoseLight: return std::make_unique<Y3Pose_Light>();
    case PoseVolume: return std::make_unique<Y3Pose_Volume>();
    default: engineLog().error("Can't create Y3Pose: invalid type requested: 0x%08X", type); return nullptr;
    }
}

// --- Text form --------------------------------------------------------------

std::int32_t Y3Pose::write(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeString(stream, std::string("\r\n\r\ntype ") + poseTypeName(type()) + "\r\n"))) return total;
    if (!addField(total, writeLine(stream, "id", id))) return total;
    if (!addField(total, writeHexLine(stream, "pose", pose.m, 48))) return total;
    // A kind without lines reports 1 and adds nothing.
    const std::int32_t body = writeText(stream);
    if (body < 0) return body;
    return type() == PosePoint ? total : total + body;
}

std::int32_t Y3Pose::read(DataStream& stream, const char* fileName) {
    std::int32_t total = 0;
    std::string value;
    std::int32_t result = readField(stream, "id", value, total, fileName, false);
    if (result < 0) return result;
    copyName(id, sizeof(id), value.c_str());
    if ((result = readHexField(stream, "pose", pose.m, 48, total, fileName)) < 0) return result;
    const std::int32_t body = readText(stream, fileName);
    if (body < 0) return body;
    return type() == PosePoint ? total : total + body;
}

std::int32_t Y3Pose::createFromText(DataStream& stream, const char* fileName, std::unique_ptr<Y3Pose>& out) {
    out.reset();
    std::string value(static_cast<std::size_t>(kValueSize), '\0');
    std::int32_t consumed = 0;
    const std::int32_t result = readValidData(stream, "type", "", consumed, value.data(), kValueSize, fileName, true);
    if (result < 0) return result;
    std::uint32_t type = 0;
    while (type <= PoseTypeCount && std::strcmp(kTypeNames[type], value.c_str()) != 0) ++type;
    if (type > PoseTypeCount) {
        textRecordError(stream, fileName, "Unknown waypoint type [%s]", value.c_str());
        return -1;
    }
    std::unique_ptr<Y3Pose> pose = create(type);
    if (!pose) return -1;
    const std::int32_t read = pose->read(stream, fileName);
    if (read < 0) return read;
    out = std::move(pose);
    return consumed + read;
}

// --- Binary form ------------------------------------------------------------

std::int32_t Y3Pose::writeBinary(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, kPoseBinaryMagic))) return total;
    if (!addField(total, writeU32(stream, type()))) return total;
    if (!addField(total, writeName(stream, id, 1))) return total;
    if (!addField(total, writePoseMatrix(stream, pose))) return total;
    const std::int32_t body = writeBody(stream);
    if (body < 0) return body;
    return type() == PosePoint ? total : total + body;
}

std::int32_t Y3Pose::readBinary(DataStream& stream, std::unique_ptr<Y3Pose>& out) {
    out.reset();
    std::int32_t total = 0;
    std::uint32_t magic = 0;
    if (!addField(total, readU32(stream, magic))) return total;
    if (magic != kPoseBinaryMagic) return engineLog().error("Can't read waypoint: bad magic 0x%08X", magic), -1;
    std::uint32_t type = 0;
    if (!addField(total, readU32(stream, type))) return total;
    out = create(type);
    if (!out) return -1;
    if (!addField(total, readName(stream, out->id, 1, "id"))) return total;
    if (!addField(total, readPoseMatrix(stream, out->pose))) return total;
    const std::int32_t body = out->readBody(stream);
    if (body < 0) return body;
    return type == PosePoint ? total : total + body;
}

// --- Tree form --------------------------------------------------------------

XmlTag& Y3Pose::treeChild(XmlTag& parent, const char* element, int index) const {
    XmlTag& child = parent.addChild(element);
    if (index >= 0) child.setAttribute("No", "%i", index);
    child.setAttribute("name", "%s", id);
    return child;
}

void Y3Pose::treeRows(XmlTag& child, const float* size) const {
    const char* const rows[4] = {"x", "y", "z", "c"};
    auto vector = [&child](const char* rowName, const float* v) {
        XmlTag& row = child.addChild(rowName);
        row.setAttribute("class", "Vector");
        row.setAttribute("x", "%f", static_cast<double>(v[0]));
        row.setAttribute("y", "%f", static_cast<double>(v[1]));
        row.setAttribute("z", "%f", static_cast<double>(v[2]));
    };
    for (int i = 0; i < 4; ++i) vector(rows[i], pose.m + 3 * i);
    if (size) vector("size", size);
}

void Y3Pose::exportTree(XmlTag& parent, int index) const { treeRows(treeChild(parent, "point", index), nullptr); }

void Y3Pose::screenPosition(float* xy) const {
    xy[0] = pose.m[9];
    xy[1] = pose.m[10];
    if (!gameCore.currentScene()) return;
    if (const CameraCore* camera = gameCore.scene_getCamera(nullptr)) camera->projectToScreen(position(), xy);
}

// --- Trigger ----------------------------------------------------------------

std::int32_t Y3Pose_Trigger::writeBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeFloats(stream, size, 3))) return total;
    addField(total, writeU32(stream, link.value));
    return total;
}

std::int32_t Y3Pose_Trigger::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readFloats(stream, size, 3))) return total;
    absolute(size);
    addField(total, readLinkWord(stream, link));
    return total;
}

std::int32_t Y3Pose_Trigger::writeText(DataStream& stream) { return writeHexLine(stream, "size", size, 12); }

std::int32_t Y3Pose_Trigger::readText(DataStream& stream, const char* fileName) {
    std::int32_t total = 0;
    const std::int32_t result = readHexField(stream, "size", size, 12, total, fileName);
    if (result < 0) return result;
    absolute(size);
    return total;
}

bool Y3Pose_Trigger::attach() {
    if (link.index()) return true;
    const std::int32_t found = gameCore.scene_findTrigger(id);
    link = GameObjectLink{found > 0 ? static_cast<std::uint32_t>(found) : 0u};
    if (!link.index()) engineLog().error("Can't push WP trigger [%s]: Trigger NOT created. Waypoints data changed??", id);
    return true;
}

bool Y3Pose_Trigger::detach() {
    link = GameObjectLink{};
    return true;
}

bool Y3Pose_Trigger::spawn(std::uint32_t) {
    link = GameObjectLink{};
    Scene* scene = gameCore.currentScene();
    if (!scene) return false;
    TriggerDescription description;
    description.name = id;
    description.pose = pose;
    std::memcpy(description.size, size, sizeof(description.size));
    link = GameObjectLink::fromObject(scene->triggers->addTrigger(description));
    return link.index() != 0;
}

void Y3Pose_Trigger::release() {
    GameObject* object = resolve(link);
    link = GameObjectLink{};
    if (object && !deleteSceneTrigger(object)) engineLog().error("Fail to release trigger %s", id);
}

bool Y3Pose_Trigger::getSize(float* out) const {
    for (int i = 0; i < 3; ++i) out[i] = size[i];
    return true;
}

bool Y3Pose_Trigger::setSize(const float* value) {
    for (int i = 0; i < 3; ++i) size[i] = std::fabs(value[i]);
    refresh(false);
    return true;
}

void Y3Pose_Trigger::exportTree(XmlTag& parent, int index) const {
    treeRows(treeChild(parent, "trigger", index), size);
}

void Y3Pose_Trigger::takeLink(Y3Pose& other) {
    if (other.type() != type()) return;
    auto& from = static_cast<Y3Pose_Trigger&>(other);
    link = from.link;
    from.link = GameObjectLink{};
}

void Y3Pose_Trigger::copyTo(Y3Pose& other) const {
    if (other.type() != type()) return;
    auto& to = static_cast<Y3Pose_Trigger&>(other);
    std::memcpy(to.size, size, sizeof(size));
    to.link = GameObjectLink{};
}

// --- Camera -----------------------------------------------------------------

std::int32_t Y3Pose_Camera::writeBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, stream.write(limits, sizeof(limits)))) return total;
    if (!addField(total, writeF32(stream, minRange))) return total;
    if (!addField(total, writeF32(stream, maxRange))) return total;
    addField(total, writePoseMatrix(stream, pose2));
    return total;
}

std::int32_t Y3Pose_Camera::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readExact(stream, limits, sizeof(limits)))) return total;
    if (!addField(total, readF32(stream, minRange))) return total;
    if (!addField(total, readF32(stream, maxRange))) return total;
    addField(total, readPoseMatrix(stream, pose2));
    return total;
}

std::int32_t Y3Pose_Camera::writeText(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeHexLine(stream, "limit", limits, sizeof(limits)))) return total;
    if (!addField(total, writeHexLine(stream, "min_range", &minRange, 4))) return total;
    if (!addField(total, writeHexLine(stream, "max_range", &maxRange, 4))) return total;
    addField(total, writeHexLine(stream, "pose2", pose2.m, 48));
    return total;
}

std::int32_t Y3Pose_Camera::readText(DataStream& stream, const char* fileName) {
    std::int32_t total = 0;
    std::int32_t result = 0;
    if ((result = readHexField(stream, "limit", limits, sizeof(limits), total, fileName)) < 0) return result;
    if ((result = readHexField(stream, "min_range", &minRange, 4, total, fileName)) < 0) return result;
    if ((result = readHexField(stream, "max_range", &maxRange, 4, total, fileName)) < 0) return result;
    if ((result = readHexField(stream, "pose2", pose2.m, 48, total, fileName)) < 0) return result;
    return total;
}

void Y3Pose_Camera::exportTree(XmlTag& parent, int index) const {
    XmlTag& child = treeChild(parent, "camera", index);
    // Each limit attribute shows the first number of its 36-byte record
    // (records: up, down, left, right).
    auto first = [this](int record) {
        float value = 0.0f;
        std::memcpy(&value, limits + 36 * record, 4);
        return static_cast<double>(value);
    };
    child.setAttribute("limitLeft", "%f", first(2));
    child.setAttribute("limitRight", "%f", first(3));
    child.setAttribute("limitUp", "%f", first(0));
    child.setAttribute("limitDown", "%f", first(1));
    child.setAttribute("min_range", "%f", static_cast<double>(minRange));
    child.setAttribute("max_range", "%f", static_cast<double>(maxRange));
    treeRows(child, nullptr);
}

void Y3Pose_Camera::copyTo(Y3Pose& other) const {
    if (other.type() != type()) return;
    auto& to = static_cast<Y3Pose_Camera&>(other);
    std::memcpy(to.limits, limits, sizeof(limits));
    to.minRange = minRange;
    to.maxRange = maxRange;
    to.pose2 = pose2;
}

// --- Particle and light ----------------------------------------------------

std::int32_t Y3Pose_Resource::writeBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, link.value))) return total;
    if (!addField(total, writeFloats(stream, size, 3))) return total;
    addField(total, writeName(stream, resourceName, 1));
    return total;
}

std::int32_t Y3Pose_Resource::readBody(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readLinkWord(stream, link))) return total;
    if (!addField(total, readFloats(stream, size, 3))) return total;
    absolute(size);
    addField(total, readName(stream, resourceName, 1, resourceKey()));
    return total;
}

std::int32_t Y3Pose_Resource::writeText(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeHexLine(stream, "size", size, 12))) return total;
    addField(total, writeLine(stream, resourceKey(), resourceName));
    return total;
}

std::int32_t Y3Pose_Resource::readText(DataStream& stream, const char* fileName) {
    std::memset(resourceName, 0, sizeof(resourceName));
    std::int32_t total = 0;
    std::int32_t result = readHexField(stream, "size", size, 12, total, fileName);
    if (result < 0) return result;
    absolute(size);
    std::string value;
    if ((result = readField(stream, resourceKey(), value, total, fileName, false)) < 0) return result;
    copyName(resourceName, sizeof(resourceName), value.c_str());
    return total;
}

bool Y3Pose_Resource::getSize(float* out) const {
    for (int i = 0; i < 3; ++i) out[i] = size[i];
    return true;
}

bool Y3Pose_Resource::setSize(const float* value) {
    for (int i = 0; i < 3; ++i) size[i] = std::fabs(value[i]);
    refresh(false);
    return true;
}

bool Y3Pose_Resource::setResourceName(const char* name, bool respawn) {
    copyName(resourceName, sizeof(resourceName), name);
    if (respawn) ensureSpawned();
    return true;
}

bool Y3Pose_Resource::detach() {
    link = GameObjectLink{};
    return true;
}

void Y3Pose_Resource::exportTree(XmlTag& parent, int index) const {
    treeRows(treeChild(parent, resourceKey(), index), size);
}

void Y3Pose_Resource::takeLink(Y3Pose& other) {
    if (other.type() != type()) return;
    auto& from = static_cast<Y3Pose_Resource&>(other);
    link = from.link;
    from.link = GameObjectLink{};
}

void Y3Pose_Resource::copyTo(Y3Pose& other) const {
    if (other.type() != type()) return;
    auto& to = static_cast<Y3Pose_Resource&>(other);
    std::memcpy(to.size, size, sizeof(size));
    to.link = link;
    std::memcpy(to.resourceName, resourceName, sizeof(resourceName));
}

void Y3Pose_Resource::releaseBeforeDelete() {
    if (!link.index()) return;
    if (type() == PoseParticle)
        engineLog().error("Expected waypoint [%s] particle [%s] release call before delete", id, resourceName);
    else
        engineLog().error("Expected waypoint [%s] light [%s] release call before delete", id, resourceName);
    release();
}

bool Y3Pose_Resource::ensureSpawned() {
    if (!resolve(link)) link = GameObjectLink{};
    if (!link.index() && !spawn(0)) return false;
    refresh(false);
    return true;
}

void Y3Pose_Resource::release() {
    GameObject* object = resolve(link);
    link = GameObjectLink{};
    if (!object) return;
    Scene* scene = sceneOf(object);
    const bool deleted =
        scene && (type() == PoseParticle ? scene->deleteParticle(object) : scene->deleteLight(object));
    if (!deleted) engineLog().error("Fail to release WP %s %s", resourceKey(), id);
}

// Particle and light objects are made by the scene effects; until those
// exist the game core makes none, and the poses report that.

Y3Pose_Particle::~Y3Pose_Particle() { releaseBeforeDelete(); }

bool Y3Pose_Particle::attach() {
    if (link.index()) return true;
    link = GameObjectLink{gameCore.scene_findParticle(id, true)};
    if (!link.index()) engineLog().warning("Can't push WP particle [%s]: Particle NOT created", id);
    return true;
}

bool Y3Pose_Particle::spawn(std::uint32_t) {
    if (GameObject* object = resolve(link)) {
        engineLog().error("Particle [%s]>[%s] already exist", id, object->getName());
        return false;
    }
    link = GameObjectLink{};
    if (!resourceName[0]) return true;
    const char* name = resourceName[0] == '-' ? resourceName + 1 : resourceName;
    GameObject* particle = gameCore.scene_createParticle(name, id, pose);
    if (!particle) return false;
    link = GameObjectLink::fromObject(particle);
    refresh(true);
    return true;
}

// The id names the particle, optionally followed by "--" and the model
// (and ".bone") it is linked to; the particle takes the name, the link,
// the pose's size and the pose.
void Y3Pose_Particle::refresh(bool) {
    auto* particle = dynamic_cast<Particle*>(resolve(link));
    if (!particle) return;
    Log& log = engineLog();
    std::string own = id, parent, bone;
    if (const std::size_t split = own.find("--"); split != std::string::npos) {
        parent = own.substr(split + 2);
        own.resize(split);
        if (const std::size_t dot = parent.find('.'); dot != std::string::npos) {
            bone = parent.substr(dot + 1);
            parent.resize(dot);
        }
    }
    if (!particle->checkUniqueName(own.c_str()))
        log.error("Can't rename particle [%s] to [%s]", particle->getName(), id);
    particle->unlink();
    if (!parent.empty()) {
        const Scene* scene = gameCore.currentScene();
        if (GameObject* object = scene ? scene->lookupModel(parent.c_str()) : nullptr;
            object && !particle->link.set(bone.empty() ? nullptr : bone.c_str(), object, matrix34Identity()))
            log.error("Fail load particle [%s] (%s)", id, parent.c_str());
    }
    particle->updateBounds(size);
    particle->setPose(pose);
}
void Y3Pose_Particle::keepSpawned() {}

Y3Pose_Light::~Y3Pose_Light() { releaseBeforeDelete(); }

bool Y3Pose_Light::attach() {
    if (link.index()) return true;
    link = GameObjectLink::fromObject(gameCore.scene_findLight(id, true));
    if (!link.index()) engineLog().error("Can't push WP light [%s]: Light NOT created", id);
    return true;
}

bool Y3Pose_Light::spawn(std::uint32_t) {
    if (GameObject* object = resolve(link)) {
        engineLog().error("Light [%s]>[%s] already exist", id, object->getName());
        return false;
    }
    link = GameObjectLink{};
    Scene* scene = gameCore.currentScene();
    if (GameObject* existing = scene ? gameCore.scene_findLight(id, false) : nullptr) {
        engineLog().info("Import scene light [%s] to waypoint light", id);
        link = GameObjectLink::fromObject(existing);
        refresh(true);
        return true;
    }
    if (!resourceName[0]) return true;
    GameObject* light = gameCore.scene_addLight(resourceName, id, pose);
    if (!light) return engineLog().error("Can't create light [%s] instance [%s]", resourceName, id);
    link = GameObjectLink::fromObject(light);
    refresh(true);
    return true;
}

void Y3Pose_Light::refresh(bool) {
    // The light takes the pose's id as its name, unless another light of
    // the scene has it.
    GameObject* light = resolve(link);
    if (!light || light->getType() != ObjectLight || std::strcmp(light->getName(), id) == 0) return;
    const Scene* scene = gameCore.currentScene();
    if (const GameObject* other = scene ? scene->lookupLight(id) : nullptr; other && other != light) {
        engineLog().error("Can't rename light [%s] to [%s]", light->getName(), id);
        return;
    }
    if (auto* own = dynamic_cast<Light*>(light)) own->checkUniqueName(id);
}

// --- Volume -----------------------------------------------------------------

std::int32_t Y3Pose_Volume::writeBody(DataStream& stream) { return writeVector3Array(polygon, stream); }
std::int32_t Y3Pose_Volume::readBody(DataStream& stream) { return readVector3Array(polygon, stream); }

std::int32_t Y3Pose_Volume::writeText(DataStream& stream) {
    return writePointsText(stream, "count", "items", polygon);
}

std::int32_t Y3Pose_Volume::readText(DataStream& stream, const char* fileName) {
    std::int32_t total = 0;
    const std::int32_t result = readPointsText(stream, "count", "items", polygon, total, fileName);
    return result < 0 ? result : total;
}

void Y3Pose_Volume::copyTo(Y3Pose& other) const {
    if (other.type() == type()) static_cast<Y3Pose_Volume&>(other).polygon = polygon;
}

float Y3Pose_Volume::heightAbove(const float* point, float lower, float upper) const {
    const std::size_t count = polygon.size();
    for (std::size_t i = 0; i < count; ++i) {
        const float* corners[3] = {polygon[i].v, polygon[(i + 1) % count].v, position()};
        float best = 1e8f;
        bool counted = false;
        for (const float* corner : corners) {
            const float d = point[1] - corner[1];
            if (lower < d && d < upper) {
                counted = true;
                if (d < best) best = d;
            }
        }
        if (!counted) continue;
        // Barycentric test on the ground plane (heights set to 0).
        const float e0x = corners[1][0] - corners[0][0], e0z = corners[1][2] - corners[0][2];
        const float e1x = corners[2][0] - corners[0][0], e1z = corners[2][2] - corners[0][2];
        const float px = point[0] - corners[0][0], pz = point[2] - corners[0][2];
        const float det = e0x * e1z - e1x * e0z;
        if (det == 0.0f) continue;
        const float u = (px * e1z - e1x * pz) / det;
        const float v = (e0x * pz - px * e0z) / det;
        if (u > 0.0f && v > 0.0f && u + v < 1.0f) return best;
    }
    return 2.0f * lower;
}

// --- Helpers ----------------------------------------------------------------

std::int32_t cameraPoseKind(const char* text) {
    const char* const suffixes[5] = {"", ".fixed", ".line", ".pair", ".flyer"};
    const std::size_t length = text ? std::strlen(text) : 0;
    std::int32_t kind = 0;
    for (std::int32_t i = 0; i < 5; ++i) {
        const std::size_t n = std::strlen(suffixes[i]);
        if (n <= length && std::strcmp(text + length - n, suffixes[i]) == 0) kind = i;
    }
    return kind;
}

std::int32_t writePoseMatrix(DataStream& stream, const Matrix34& pose) { return writeFloats(stream, pose.m, 12); }
std::int32_t readPoseMatrix(DataStream& stream, Matrix34& pose) { return readFloats(stream, pose.m, 12); }

Matrix34 cameraPoseOfWaypoint(const Matrix34& waypoint) {
    Matrix34 p = waypoint;
    for (int i = 0; i < 3; ++i) vector3Normalize(p.m + 3 * i);
    for (int k = 0; k < 3; ++k) {
        p.m[k] = -p.m[k];
        p.m[6 + k] = -p.m[6 + k];
    }
    return p;
}

float distanceToSegment(const float* point, const float* a, const float* b) {
    float d[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float length = vector3Length(d);
    if (!(length > 0.0f)) return 10000.0f;
    for (float& c : d) c /= length;
    const float p[3] = {point[0] - a[0], point[1] - a[1], point[2] - a[2]};
    const float s = vector3Dot(p, d);
    if (s < -0.001f || s > length) return 10000.0f;
    const float off[3] = {p[0] - s * d[0], p[1] - s * d[1], p[2] - s * d[2]};
    return vector3Length(off);
}

std::int32_t writeVector3Array(const std::vector<PoseVector3>& array, DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(array.size())))) return total;
    for (const PoseVector3& point : array)
        if (!addField(total, writeFloats(stream, point.v, 3))) return total;
    return total;
}

std::int32_t readVector3Array(std::vector<PoseVector3>& array, DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t count = 0;
    array.clear();
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / 12u)
        return engineLog().error("Can't read point array: %u points past the end of the data", count), -1;
    array.resize(count);
    for (PoseVector3& point : array)
        if (!addField(total, readFloats(stream, point.v, 3))) return total;
    return total;
}
