// The actors (rigid bodies) and joints of a physics model description.
//
// `Y3PhysicsRigit` has one class per shape kind and `Y3PhysicsDataJoint` one
// class per joint kind. Each reads its entry of the ".fh4" header (and, for
// actors, its bulk arrays of the ".fy3" data file), writes itself into an
// XML tree for inspection and offers the hooks through which the physics
// backend builds and scales its shape or joint. Kind codes, flag bits and
// collision-group codes are stored in the files: their values are fixed.
//
// Names, bones and materials are kept in 128-byte fields; a longer stored
// name is read whole and cut to its first 127 characters (logged), so such
// a file still loads and nothing overruns.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "foundation/Math.h"

class DataStream;
class XmlTag;

namespace platform::physics {
class Shape;
}

// Shape kinds (header codes).
enum PhysicsRigitKind : std::uint32_t {
    RigitBox = 0,
    RigitCapsule = 1,
    RigitSphere = 2,
    RigitConvex = 3,
    RigitMesh = 4,
    RigitCloth = 5,
    RigitInvalid = 6,
};

// Actor flag bits.
constexpr std::uint32_t kRigitStatic = 0x001;
constexpr std::uint32_t kRigitTrigger = 0x002;
constexpr std::uint32_t kRigitController = 0x004;
constexpr std::uint32_t kRigitSwept = 0x008;
constexpr std::uint32_t kRigitModelLink = 0x010;
constexpr std::uint32_t kRigitMultimaterial = 0x020;
constexpr std::uint32_t kRigitLockPathfind = 0x040;
constexpr std::uint32_t kRigitOverwritePathfind = 0x080;
constexpr std::uint32_t kRigitCloth = 0x100;

// Collision groups; a description created empty is "Dynamic".
constexpr std::uint32_t kCollisionGroupMainCharacter = 2;
constexpr std::uint32_t kCollisionGroupDynamic = 4;

// The name of a collision group code; "" outside 0 to 6.
const char* collisionGroupName(std::uint32_t group);

// The four bulk arrays of an actor's data part: element sizes 12, 20, 48
// and 12 bytes. The project reads the first as vertices (three f32) and the
// second as triangles (three u32 vertex indices, a u32 material index and a
// u32 of flags); the cloth arrays are held as they stand.
constexpr std::int32_t kRigitBulkArrays = 4;
constexpr std::int32_t kRigitBulkElementSize[kRigitBulkArrays] = {12, 20, 48, 12};

class Y3PhysicsRigit {
public:
    static constexpr std::size_t kNameSize = 128;

    virtual ~Y3PhysicsRigit() = default;
    Y3PhysicsRigit(const Y3PhysicsRigit&) = delete;
    Y3PhysicsRigit& operator=(const Y3PhysicsRigit&) = delete;

    // A new, empty object of the kind; any other kind logs
    // " Invalid physics rigit type %i." and gives null.
    static Y3PhysicsRigit* create(std::uint32_t kind);
    // The type name of a kind code ("invalid" outside 0 to 5).
    static const char* typeName(std::uint32_t kind);

    // Slot 0.
    virtual std::uint32_t kind() const { return RigitInvalid; }
    // Slot 1: writes a "rigit" child under parent; returns it.
    virtual XmlTag& exportXml(XmlTag& parent) const;
    // Slot 2: a hook that does nothing in every kind.
    virtual void shapeHook(const float*, platform::physics::Shape*) {}
    // Slot 3: scales the backend's shape (box: dimensions, capsule: radius
    // by the smaller of x and z, height by y; others nothing).
    virtual void scaleShape(const float* scale, platform::physics::Shape* shape) const;
    // Slot 4: a hook that does nothing in every kind.
    virtual void scaleHook(const float*, platform::physics::Shape*) const {}
    // Slots 5 to 7: capsule height or box size y; capsule radius; for the
    // capsule the eleventh float of the local pose. 0.0 otherwise.
    virtual float height() const { return 0.0f; }
    virtual float radius() const { return 0.0f; }
    virtual float poseHeight() const { return 0.0f; }
    // Slot 8: the kind part of the header entry; nothing outside the
    // header stage. Bytes read or negative.
    virtual std::int32_t readKindPart(DataStream& stream, bool headerStage);

    // The entry after its magic and kind: flags, names, materials, poses,
    // group, mass, the three values, then the kind part.
    std::int32_t readHeader(DataStream& stream);
    // The entry's arrays of the data file (two, four for a cloth actor);
    // each replaces the one held. Counts beyond the bytes left are refused.
    std::int32_t readData(DataStream& stream);

    std::uint32_t bulkCount(std::int32_t array) const;

    std::uint32_t flags = 0;
    char name[kNameSize] = {};
    char bone[kNameSize] = {};
    std::vector<std::array<char, kNameSize>> materials;
    std::vector<std::uint8_t> bulk[kRigitBulkArrays];
    Matrix34 localPose{};
    Matrix34 secondPose{};
    std::uint32_t collisionGroup = kCollisionGroupDynamic;
    float mass = 0.0f;
    std::uint32_t values[3] = {};

protected:
    Y3PhysicsRigit() = default;
};

class Y3PhysicsRigit_BOX : public Y3PhysicsRigit {
public:
    std::uint32_t kind() const override { return RigitBox; }
    XmlTag& exportXml(XmlTag& parent) const override;
    void scaleShape(const float* scale, platform::physics::Shape* shape) const override;
    float height() const override { return size[1]; }
    std::int32_t readKindPart(DataStream& stream, bool headerStage) override;
    float size[3] = {};
};

class Y3PhysicsRigit_CAPSULE : public Y3PhysicsRigit {
public:
    std::uint32_t kind() const override { return RigitCapsule; }
    XmlTag& exportXml(XmlTag& parent) const override;
    void scaleShape(const float* scale, platform::physics::Shape* shape) const override;
    float height() const override { return capsuleHeight; }
    float radius() const override { return capsuleRadius; }
    float poseHeight() const override { return localPose.m[10]; }
    std::int32_t readKindPart(DataStream& stream, bool headerStage) override;
    float capsuleHeight = 0.0f;
    float capsuleRadius = 0.0f;
};

class Y3PhysicsRigit_SPHERE : public Y3PhysicsRigit {
public:
    std::uint32_t kind() const override { return RigitSphere; }
    XmlTag& exportXml(XmlTag& parent) const override;
    std::int32_t readKindPart(DataStream& stream, bool headerStage) override;
    float sphereRadius = 0.0f;
};

class Y3PhysicsRigit_CONVEX : public Y3PhysicsRigit {
public:
    std::uint32_t kind() const override { return RigitConvex; }
};

class Y3PhysicsRigit_MESH : public Y3PhysicsRigit {
public:
    std::uint32_t kind() const override { return RigitMesh; }
};

class Y3PhysicsRigit_CLOTH : public Y3PhysicsRigit {
public:
    std::uint32_t kind() const override { return RigitCloth; }
};

// Joint kinds (header codes).
enum PhysicsJointKind : std::uint32_t {
    JointSpherical = 0,
    JointRevolute = 1,
    JointPrismatic = 2,
    JointCylindrical = 3,
    JointFixed = 4,
    JointDistance = 5,
    JointPointPlane = 6,
    JointPointLine = 7,
    JointPulley = 8,
};

// Joint flag bit 7.
constexpr std::uint32_t kJointBreakable = 0x80;

// One end of a joint: the actor index and three vectors.
struct PhysicsJointEnd {
    std::uint32_t actor = 0;
    float anchor[3] = {};
    float normal[3] = {};
    float axis[3] = {};
};

class Y3PhysicsDataJoint {
public:
    static constexpr std::size_t kNameSize = 128;

    virtual ~Y3PhysicsDataJoint() = default;
    Y3PhysicsDataJoint(const Y3PhysicsDataJoint&) = delete;
    Y3PhysicsDataJoint& operator=(const Y3PhysicsDataJoint&) = delete;

    // A new object of the kind, every field zero; any other kind logs
    // " Invalid physics joint type %i." and gives null.
    static Y3PhysicsDataJoint* create(std::uint32_t kind);
    static const char* typeName(std::uint32_t kind);

    // Slot 0: the backend joint in a world at a pose between the given
    // actor handles (one per actor of the model); 0 when it cannot be made.
    virtual std::uint32_t createJoint(std::uint32_t world, const Matrix34& pose,
                                      const std::vector<std::uint32_t>& actors) const;
    // Slot 1.
    virtual std::uint32_t kind() const = 0;
    // Slot 2: writes a "joint" child under parent (and "breakable" beside
    // it when set); returns the "joint" tag.
    XmlTag& exportXml(XmlTag& parent) const;
    // Slot 3: the kind part; -1 for the kinds that have none defined
    // (spherical, revolute, distance, pulley), 0 for the others.
    virtual std::int32_t readKindPart(DataStream&) { return 0; }

    // The entry after its magic and kind: name, flags, ends, maxima, then
    // the kind part.
    std::int32_t readHeader(DataStream& stream);

    char name[kNameSize] = {};
    std::uint32_t flags = 0;
    PhysicsJointEnd ends[2];
    float maxForce = 0.0f;
    float maxTorque = 0.0f;

protected:
    Y3PhysicsDataJoint() = default;
};

template <std::uint32_t Kind, bool Readable>
class Y3PhysicsDataJointOf : public Y3PhysicsDataJoint {
public:
    std::uint32_t kind() const override { return Kind; }
    std::int32_t readKindPart(DataStream&) override { return Readable ? 0 : -1; }
};

using Y3PhysicsDataJoint_SPHERICAL = Y3PhysicsDataJointOf<JointSpherical, false>;
using Y3PhysicsDataJoint_REVOLUTE = Y3PhysicsDataJointOf<JointRevolute, false>;
using Y3PhysicsDataJoint_PRISMATIC = Y3PhysicsDataJointOf<JointPrismatic, true>;
using Y3PhysicsDataJoint_CYLINDRICAL = Y3PhysicsDataJointOf<JointCylindrical, true>;
using Y3PhysicsDataJoint_FIXED = Y3PhysicsDataJointOf<JointFixed, true>;
using Y3PhysicsDataJoint_DISTANCE = Y3PhysicsDataJointOf<JointDistance, false>;
using Y3PhysicsDataJoint_POINT_PLANE = Y3PhysicsDataJointOf<JointPointPlane, true>;
using Y3PhysicsDataJoint_POINT_LINE = Y3PhysicsDataJointOf<JointPointLine, true>;
using Y3PhysicsDataJoint_PULLEY = Y3PhysicsDataJointOf<JointPulley, false>;
