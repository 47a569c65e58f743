// Waypoint poses: named placements of a scene, each an id, a 3-by-4 pose
// and, by kind, the data of the one scene object the pose stands for.
//
// Seven kinds exist (the codes are stored: fixed). A pose that spawns an
// object (trigger, model, particle, light) reaches it only through `link`,
// a repository handle; a dead handle reads as none and is cleared where it
// is met. The owner (the waypoint data or the scene) drives the life of the
// spawned object: spawn or ensureSpawned, attach after a saved game was
// loaded, refresh after edits, release before the pose is deleted.
//
// Three stored forms: text (CRLF lines; numbers as upper-case hex of their
// little-endian bytes, so they read back bit for bit), binary (behind the
// magic 0x3261AEFE) and the exporter's XML tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Math.h"
#include "foundation/StringHelper.h"
#include "scene/GameObject.h"

class DataStream;
class XmlTag;

// Kind codes of the poses (stored: fixed).
enum Y3PoseType : std::uint32_t {
    PosePoint = 0,
    PoseTrigger = 1,
    PoseModel = 2,
    PoseCamera = 3,
    PoseParticle = 4,
    PoseLight = 5,
    PoseVolume = 6,
    PoseTypeCount = 7,
};

// The magic word of a binary pose record (bytes FE AE 61 32).
constexpr std::uint32_t kPoseBinaryMagic = 0x3261AEFE;

// A 3-float point of a trajectory or a ground polygon.
struct PoseVector3 {
    float v[3] = {0.0f, 0.0f, 0.0f};
};

// The type name of a code ("Point" ... "Volume", "((ANY))" for 7); "" above.
const char* poseTypeName(std::uint32_t type);

class Y3Pose {
public:
    explicit Y3Pose(const char* name = nullptr);
    // The scene's dynamic waypoints: a Point with an id and a pose.
    Y3Pose(const char* name, const Matrix34& pose);
    virtual ~Y3Pose() = default;
    Y3Pose(const Y3Pose&) = delete;
    Y3Pose& operator=(const Y3Pose&) = delete;

    // A new pose of a kind at its defaults, or null (codes 7 and above are
    // logged).
    static std::unique_ptr<Y3Pose> create(std::uint32_t type);

    virtual bool attach() { return true; }
    virtual bool detach() { return true; }
    virtual bool hasTrajectory() const { return false; }
    virtual std::uint32_t type() const { return PosePoint; }
    // The kind's binary body; byte count or the first negative result (a
    // body without fields reports 1).
    virtual std::int32_t writeBody(DataStream&) { return 1; }
    virtual std::int32_t readBody(DataStream&) { return 1; }
    // The kind's text lines; byte count or negative.
    virtual std::int32_t writeText(DataStream&) { return 1; }
    virtual std::int32_t readText(DataStream&, const char* /*fileName*/) { return 1; }
    // Makes the spawned object exist and match the pose.
    virtual bool ensureSpawned() { return true; }
    virtual bool sameGroup(const Y3Pose&) const { return false; }
    virtual bool hasSpawned() const { return false; }
    // Creates the scene object; flags value 2 passes creation flag 2 on.
    virtual bool spawn(std::uint32_t /*flags*/) { return true; }
    virtual void release() {}
    virtual void refresh(bool /*full*/) {}
    virtual void clearLink() {}
    virtual void keepSpawned() {}
    virtual void setPose(const Matrix34& value) { pose = value; }
    virtual bool getSize(float*) const { return false; }
    virtual bool setSize(const float*) { return false; }
    virtual std::int32_t getTextureSet() const { return 0; }
    virtual bool setTextureSet(std::int32_t, bool) { return false; }
    virtual const char* getResourceName() const { return ""; }
    virtual bool setResourceName(const char*, bool) { return false; }
    virtual const char* getAnimation() const { return ""; }
    virtual bool setAnimation(const char*, bool) { return false; }
    virtual const char* getFaceAnimation() const { return ""; }
    virtual bool setFaceAnimation(const char*, bool) { return false; }
    // The tree form: one child of parent (index < 0: no "No" attribute).
    virtual void exportTree(XmlTag& parent, int index) const;
    // This pose takes other's link; other's becomes 0.
    virtual void takeLink(Y3Pose&) {}
    // Copies this pose's kind data into other of the same kind.
    virtual void copyTo(Y3Pose&) const {}

    // Text form: the three common lines, then the kind's lines.
    std::int32_t write(DataStream& stream);
    // Reads "id" and "pose", then the kind's lines.
    std::int32_t read(DataStream& stream, const char* fileName);
    // Reads a whole text record: bytes consumed and the pose; -1 for an
    // unknown type, -2 at the end of the text, or the reader's result.
    static std::int32_t createFromText(DataStream& stream, const char* fileName, std::unique_ptr<Y3Pose>& out);
    // Binary form; byte count or the first negative result.
    std::int32_t writeBinary(DataStream& stream);
    // out is set as soon as the pose exists (the caller owns it then); -1
    // for a wrong magic or type.
    static std::int32_t readBinary(DataStream& stream, std::unique_ptr<Y3Pose>& out);

    // The pose's position on the 1024 x 768 screen through the current
    // scene's camera; its own x and y without one.
    void screenPosition(float* xy) const;
    const float* position() const { return &pose.m[9]; }

    // The id: at most 127 characters, always terminated.
    char id[128] = {};
    // X, Y and Z axis rows, then the position.
    Matrix34 pose{};

protected:
    // Adds the tree child with "No" and "name"; the kind's attributes follow.
    XmlTag& treeChild(XmlTag& parent, const char* element, int index) const;
    // Adds the pose rows "x", "y", "z", "c" (and "size" when given).
    void treeRows(XmlTag& child, const float* size) const;
};

using Y3Pose_Point = Y3Pose;

class Y3Pose_Trigger : public Y3Pose {
public:
    explicit Y3Pose_Trigger(const char* name = nullptr) : Y3Pose(name) {}
    std::uint32_t type() const override { return PoseTrigger; }
    bool attach() override;
    bool detach() override;
    std::int32_t writeBody(DataStream& stream) override;
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeText(DataStream& stream) override;
    std::int32_t readText(DataStream& stream, const char* fileName) override;
    bool hasSpawned() const override { return link.index() != 0; }
    bool spawn(std::uint32_t flags) override;
    void release() override;
    void clearLink() override { link = GameObjectLink{}; }
    bool getSize(float* out) const override;
    bool setSize(const float* value) override;
    void exportTree(XmlTag& parent, int index) const override;
    void takeLink(Y3Pose& other) override;
    void copyTo(Y3Pose& other) const override;

    float size[3] = {0.5f, 0.35f, 0.5f};
    GameObjectLink link;
};

class Y3Pose_Model : public Y3Pose {
public:
    explicit Y3Pose_Model(const char* name = nullptr) : Y3Pose(name) {}
    ~Y3Pose_Model() override;
    std::uint32_t type() const override { return PoseModel; }
    bool attach() override;
    bool detach() override;
    bool hasTrajectory() const override { return !trajectory.empty(); }
    std::int32_t writeBody(DataStream& stream) override;
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeText(DataStream& stream) override;
    std::int32_t readText(DataStream& stream, const char* fileName) override;
    bool ensureSpawned() override;
    bool sameGroup(const Y3Pose& other) const override;
    bool hasSpawned() const override { return link.index() != 0; }
    bool spawn(std::uint32_t flags) override;
    void release() override;
    void refresh(bool full) override;
    void clearLink() override { link = GameObjectLink{}; }
    void keepSpawned() override;
    // The placement is instancePose: a model pose keeps its own.
    void setPose(const Matrix34&) override {}
    bool getSize(float* out) const override;
    bool setSize(const float* value) override;
    std::int32_t getTextureSet() const override { return textureSet; }
    bool setTextureSet(std::int32_t value, bool respawn) override;
    const char* getResourceName() const override { return model; }
    bool setResourceName(const char* name, bool respawn) override;
    const char* getAnimation() const override { return animation; }
    bool setAnimation(const char* name, bool replay) override;
    const char* getFaceAnimation() const override { return faceAnimation; }
    bool setFaceAnimation(const char* name, bool replay) override;
    void exportTree(XmlTag& parent, int index) const override;
    void takeLink(Y3Pose& other) override;
    void copyTo(Y3Pose& other) const override;

    std::int32_t textureSet = 0;
    float size[3] = {1.0f, 1.0f, 1.0f};
    // Where the model is placed; remembers where it was when released.
    Matrix34 instancePose{};
    GameObjectLink link;
    // '^' first: an action-model trigger; '$' first: a randomised NPC group.
    char model[128] = {};
    char animation[128] = {};
    char faceAnimation[128] = {};
    std::vector<PoseVector3> trajectory;
};

class Y3Pose_Camera : public Y3Pose {
public:
    explicit Y3Pose_Camera(const char* name = nullptr) : Y3Pose(name) {}
    std::uint32_t type() const override { return PoseCamera; }
    std::int32_t writeBody(DataStream& stream) override;
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeText(DataStream& stream) override;
    std::int32_t readText(DataStream& stream, const char* fileName) override;
    void exportTree(XmlTag& parent, int index) const override;
    void copyTo(Y3Pose& other) const override;

    // The end of a line camera's segment when its position is not zero.
    Matrix34 pose2{};
    // Four 36-byte limit records: up, down, left, right.
    std::uint8_t limits[144] = {};
    float minRange = 1.0f;
    float maxRange = 100.0f;
};

// Particle and light poses share one layout; the kind decides what spawns.
class Y3Pose_Resource : public Y3Pose {
public:
    explicit Y3Pose_Resource(const char* name) : Y3Pose(name) {}
    std::int32_t writeBody(DataStream& stream) override;
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeText(DataStream& stream) override;
    std::int32_t readText(DataStream& stream, const char* fileName) override;
    bool hasSpawned() const override { return link.index() != 0; }
    void clearLink() override { link = GameObjectLink{}; }
    bool getSize(float* out) const override;
    bool setSize(const float* value) override;
    const char* getResourceName() const override { return resourceName; }
    bool setResourceName(const char* name, bool respawn) override;
    bool detach() override;
    bool ensureSpawned() override;
    // Deletes the spawned particle or light from its scene.
    void release() override;
    void exportTree(XmlTag& parent, int index) const override;
    void takeLink(Y3Pose& other) override;
    void copyTo(Y3Pose& other) const override;

    float size[3] = {1.0f, 1.0f, 1.0f};
    GameObjectLink link;
    // Empty: the pose spawns nothing.
    char resourceName[128] = {};

protected:
    // The kinds' destructors: a pose still linked is reported and released.
    void releaseBeforeDelete();
    // The text key of the resource name and the tree element.
    virtual const char* resourceKey() const = 0;
};

class Y3Pose_Particle : public Y3Pose_Resource {
public:
    explicit Y3Pose_Particle(const char* name = nullptr) : Y3Pose_Resource(name) {}
    ~Y3Pose_Particle() override;
    std::uint32_t type() const override { return PoseParticle; }
    bool attach() override;
    bool spawn(std::uint32_t flags) override;
    void refresh(bool full) override;
    void keepSpawned() override;

protected:
    const char* resourceKey() const override { return "particle"; }
};

class Y3Pose_Light : public Y3Pose_Resource {
public:
    explicit Y3Pose_Light(const char* name = nullptr) : Y3Pose_Resource(name) {}
    ~Y3Pose_Light() override;
    std::uint32_t type() const override { return PoseLight; }
    bool attach() override;
    bool spawn(std::uint32_t flags) override;
    void refresh(bool full) override;

protected:
    const char* resourceKey() const override { return "light"; }
};

class Y3Pose_Volume : public Y3Pose {
public:
    explicit Y3Pose_Volume(const char* name = nullptr) : Y3Pose(name) {}
    std::uint32_t type() const override { return PoseVolume; }
    std::int32_t writeBody(DataStream& stream) override;
    std::int32_t readBody(DataStream& stream) override;
    std::int32_t writeText(DataStream& stream) override;
    std::int32_t readText(DataStream& stream, const char* fileName) override;
    // A volume keeps its pose when set through the generic setter.
    void setPose(const Matrix34&) override {}
    // A volume exports nothing.
    void exportTree(XmlTag&, int) const override {}
    void copyTo(Y3Pose& other) const override;

    // The smallest vertical offset of point above the polygon's triangles
    // (each edge with the pose's position) inside the band (lower, upper)
    // over a triangle that holds the point; 2 x lower when none does.
    float heightAbove(const float* point, float lower, float upper) const;

    // Corners of the ground polygon around the pose's position.
    std::vector<PoseVector3> polygon;
};

// The camera-pose kind of an id by its suffix: "" 0, ".fixed" 1, ".line" 2,
// ".pair" 3, ".flyer" 4.
std::int32_t cameraPoseKind(const char* id);

// The pose a camera takes at a camera waypoint: unit axes, the view axis
// reversed (a waypoint's third axis points where it looks, a camera's
// toward the camera). The first axis turns with it, so the result stays a
// rotation that blends.
Matrix34 cameraPoseOfWaypoint(const Matrix34& waypoint);

// A pose's binary form: its 12 floats.
std::int32_t writePoseMatrix(DataStream& stream, const Matrix34& pose);
std::int32_t readPoseMatrix(DataStream& stream, Matrix34& pose);

// The perpendicular distance from point to the segment a-b; 10000 when the
// segment has no length or the foot lies outside it.
float distanceToSegment(const float* point, const float* a, const float* b);

// A u32 count, then count x 12 bytes; byte count or the first negative.
std::int32_t writeVector3Array(const std::vector<PoseVector3>& array, DataStream& stream);
// Replaces the array; a count the stream cannot hold is refused (-1).
std::int32_t readVector3Array(std::vector<PoseVector3>& array, DataStream& stream);

// The default body animation of a character model ("chr_..."): of the
// animation names that hold the longest start of the model name (shortened
// from the end down to 4 characters, 5 ending in '_', then from one
// character further on), the first holding "stay", "speak", "sit" or
// "idle" in that order and no ".face", else the first without ".face".
std::string characterDefaultAnimation(const char* modelName, const NameArray& animations);
