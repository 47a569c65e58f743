#include "control/Y3PhysicsRigit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/XmlWriter.h"
#include "platform/physics/PhysicsBackend.h"

namespace {

const char* const kRigitTypeNames[] = {"box", "capsule", "sphere", "convex", "mesh", "cloth", "invalid"};
const char* const kRigitFlagNames[] = {"static",        "trigger",       "controller",
                                       "swept",         "modelLink",     "multimaterial",
                                       "lock-pathfind", "overwrite-pathfind", "cloth"};
const char* const kGroupNames[] = {"Static", "Static invisible", "Main character", "NPC",
                                   "Dynamic", "Dynamic invisible", "Trigger"};
const char* const kJointTypeNames[] = {"Spherical", "Revolute",       "Prismatic",     "Cylindrical", "Fixed",
                                       "Distance",  "Point on plane", "Point on line", "Pulley"};
const char* const kJointFlagNames[] = {"limit enabled",       "spring enabled",       "motor enabled",
                                       "twist limit enabled", "swing limit enabled",  "twist spring enabled",
                                       "swing spring enabled", "breakable",           "collision enable",
                                       "projection enable",   "min distance enable",  "max distance enable"};

// Reads length bytes of a stored name into a 128-byte field: every byte is
// consumed, the first 127 kept; a cut name is logged.
std::int32_t readNameBytes(DataStream& stream, std::uint32_t length, char* field) {
    std::memset(field, 0, Y3PhysicsRigit::kNameSize);
    if (length == 0) return 0;
    if (static_cast<std::int64_t>(length) > bytesLeft(stream)) return -1;
    std::string bytes(length, '\0');
    const std::int32_t result = readExact(stream, bytes.data(), static_cast<std::int32_t>(length));
    if (result < 0) return result;
    const std::size_t kept = std::min<std::size_t>(length, Y3PhysicsRigit::kNameSize - 1);
    std::memcpy(field, bytes.data(), kept);
    if (kept < length)
        engineLog().error("Physics model name [%s] of %u characters cut to %u", field, static_cast<unsigned>(length),
                          static_cast<unsigned>(kept));
    return result;
}

std::int32_t readName8(DataStream& stream, char* field) {
    std::uint8_t length = 0;
    std::int32_t total = 0;
    if (!addField(total, readU8(stream, length))) return total;
    addField(total, readNameBytes(stream, length, field));
    return total;
}

std::int32_t readName16(DataStream& stream, char* field) {
    std::uint16_t length = 0;
    std::int32_t total = 0;
    if (!addField(total, readU16(stream, length))) return total;
    addField(total, readNameBytes(stream, length, field));
    return total;
}

}  // namespace

const char* collisionGroupName(std::uint32_t group) { return group < 7 ? kGroupNames[group] : ""; }

// ---- Y3PhysicsRigit --------------------------------------------------------

Y3PhysicsRigit* Y3PhysicsRigit::create(std::uint32_t kind) {
    switch (kind) {
    case RigitBox: return new Y3PhysicsRigit_BOX;
    case RigitCapsule: return new Y3PhysicsRigit_CAPSULE;
    case RigitSphere: return new Y3PhysicsRigit_SPHERE;
    case RigitConvex: return new Y3PhysicsRigit_CONVEX;
    case RigitMesh: return new Y3PhysicsRigit_MESH;
    case RigitCloth: return new Y3PhysicsRigit_CLOTH;
    default: engineLog().error(" Invalid physics rigit type %i.", static_cast<int>(kind)); return nullptr;
    }
}

const char* Y3PhysicsRigit::typeName(std::uint32_t kind) { return kRigitTypeNames[std::min<std::uint32_t>(kind, 6)]; }

XmlTag& Y3PhysicsRigit::exportXml(XmlTag& parent) const {
    XmlTag& rigit = parent.addChild("rigit");
    rigit.setAttribute("id", "%s", name);
    rigit.setAttribute("type", "%s", typeName(kind()));
    rigit.setAttribute("mass", "%2.4f", static_cast<double>(mass));
    rigit.setAttribute("bone", "%s", bone);
    for (const auto& material : materials) rigit.addChild("material").setAttribute("name", "%s", material.data());
    rigit.setAttribute("collision group", "%s", collisionGroupName(collisionGroup));
    rigit.addMatrix("rigit2parent", localPose);
    XmlTag& flagTag = rigit.addChild("flags");
    for (std::uint32_t bit = 0; bit < 9; ++bit)
        if (flags & (1u << bit)) flagTag.addChildValue("flag", "%s", kRigitFlagNames[bit]);
    return rigit;
}

void Y3PhysicsRigit::scaleShape(const float*, platform::physics::Shape*) const {}

std::int32_t Y3PhysicsRigit::readKindPart(DataStream&, bool) { return 0; }

std::int32_t Y3PhysicsRigit::readHeader(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readU32(stream, flags))) return total;
    if (!addField(total, readName8(stream, name))) return total;
    if (!addField(total, readName8(stream, bone))) return total;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    // Every material takes at least its two length bytes.
    if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / 2) {
        engineLog().error("Physics actor [%s]: %u materials exceed the file", name, static_cast<unsigned>(count));
        return -1;
    }
    materials.assign(count, {});
    for (auto& material : materials)
        if (!addField(total, readName16(stream, material.data()))) return total;
    if (!addField(total, readFloats(stream, localPose.m, 12))) return total;
    if (!addField(total, readFloats(stream, secondPose.m, 12))) return total;
    if (!addField(total, readU32(stream, collisionGroup))) return total;
    if (!addField(total, readF32(stream, mass))) return total;
    for (std::uint32_t& value : values)
        if (!addField(total, readU32(stream, value))) return total;
    addField(total, readKindPart(stream, true));
    return total;
}

std::int32_t Y3PhysicsRigit::readData(DataStream& stream) {
    const std::int32_t arrays = (flags & kRigitCloth) ? 4 : 2;
    std::int32_t total = 0;
    for (std::int32_t i = 0; i < arrays; ++i) {
        bulk[i].clear();
        bulk[i].shrink_to_fit();
        std::uint32_t count = 0;
        if (!addField(total, readU32(stream, count))) return total;
        const std::uint32_t size = static_cast<std::uint32_t>(kRigitBulkElementSize[i]);
        if (count > static_cast<std::uint32_t>(bytesLeft(stream)) / size) {
            engineLog().error("Physics actor [%s]: %u elements exceed the data file", name,
                              static_cast<unsigned>(count));
            return -1;
        }
        bulk[i].resize(static_cast<std::size_t>(count) * size);
        if (count && !addField(total, readExact(stream, bulk[i].data(), static_cast<std::int32_t>(count * size))))
            return total;
    }
    return total;
}

std::uint32_t Y3PhysicsRigit::bulkCount(std::int32_t array) const {
    if (array < 0 || array >= kRigitBulkArrays) return 0;
    return static_cast<std::uint32_t>(bulk[array].size() / static_cast<std::size_t>(kRigitBulkElementSize[array]));
}

// ---- kinds -----------------------------------------------------------------

XmlTag& Y3PhysicsRigit_BOX::exportXml(XmlTag& parent) const {
    XmlTag& rigit = Y3PhysicsRigit::exportXml(parent);
    rigit.addVector3("size", size);
    return rigit;
}

void Y3PhysicsRigit_BOX::scaleShape(const float* scale, platform::physics::Shape* shape) const {
    if (!shape || !scale) return;
    const float scaled[3] = {size[0] * scale[0], size[1] * scale[1], size[2] * scale[2]};
    shape->setDimensions(scaled);
}

std::int32_t Y3PhysicsRigit_BOX::readKindPart(DataStream& stream, bool headerStage) {
    return headerStage ? readFloats(stream, size, 3) : 0;
}

XmlTag& Y3PhysicsRigit_CAPSULE::exportXml(XmlTag& parent) const {
    XmlTag& rigit = Y3PhysicsRigit::exportXml(parent);
    rigit.addChildValue("radius", "%5.2f", static_cast<double>(capsuleRadius));
    rigit.addChildValue("height", "%5.2f", static_cast<double>(capsuleHeight));
    return rigit;
}

void Y3PhysicsRigit_CAPSULE::scaleShape(const float* scale, platform::physics::Shape* shape) const {
    if (!shape || !scale) return;
    shape->setRadius(capsuleRadius * std::min(scale[0], scale[2]));
    shape->setHeight(capsuleHeight * scale[1]);
}

std::int32_t Y3PhysicsRigit_CAPSULE::readKindPart(DataStream& stream, bool headerStage) {
    if (!headerStage) return 0;
    std::int32_t total = 0;
    if (!addField(total, readF32(stream, capsuleHeight))) return total;
    addField(total, readF32(stream, capsuleRadius));
    return total;
}

XmlTag& Y3PhysicsRigit_SPHERE::exportXml(XmlTag& parent) const {
    XmlTag& rigit = Y3PhysicsRigit::exportXml(parent);
    rigit.addChildValue("radius", "%5.2f", static_cast<double>(sphereRadius));
    return rigit;
}

std::int32_t Y3PhysicsRigit_SPHERE::readKindPart(DataStream& stream, bool headerStage) {
    return headerStage ? readF32(stream, sphereRadius) : 0;
}

// ---- Y3PhysicsDataJoint ----------------------------------------------------

Y3PhysicsDataJoint* Y3PhysicsDataJoint::create(std::uint32_t kind) {
    switch (kind) {
    case JointSpherical: return new Y3PhysicsDataJoint_SPHERICAL;
    case JointRevolute: return new Y3PhysicsDataJoint_REVOLUTE;
    case JointPrismatic: return new Y3PhysicsDataJoint_PRISMATIC;
    case JointCylindrical: return new Y3PhysicsDataJoint_CYLINDRICAL;
    case JointFixed: return new Y3PhysicsDataJoint_FIXED;
    case JointDistance: return new Y3PhysicsDataJoint_DISTANCE;
    case JointPointPlane: return new Y3PhysicsDataJoint_POINT_PLANE;
    case JointPointLine: return new Y3PhysicsDataJoint_POINT_LINE;
    case JointPulley: return new Y3PhysicsDataJoint_PULLEY;
    default: engineLog().error(" Invalid physics joint type %i.", static_cast<int>(kind)); return nullptr;
    }
}

const char* Y3PhysicsDataJoint::typeName(std::uint32_t kind) { return kind < 9 ? kJointTypeNames[kind] : "invalid"; }

std::uint32_t Y3PhysicsDataJoint::createJoint(std::uint32_t world, const Matrix34& pose,
                                              const std::vector<std::uint32_t>& actors) const {
    platform::physics::JointDesc desc;
    desc.kind = kind();
    desc.flags = flags;
    for (int end = 0; end < 2; ++end) {
        desc.ends[end].actor = ends[end].actor < actors.size() ? actors[ends[end].actor] : 0;
        std::memcpy(desc.ends[end].anchor, ends[end].anchor, sizeof(ends[end].anchor));
        std::memcpy(desc.ends[end].normal, ends[end].normal, sizeof(ends[end].normal));
        std::memcpy(desc.ends[end].axis, ends[end].axis, sizeof(ends[end].axis));
    }
    desc.maxForce = maxForce;
    desc.maxTorque = maxTorque;
    return platform::physics::backend().createJoint(world, desc, pose.m);
}

XmlTag& Y3PhysicsDataJoint::exportXml(XmlTag& parent) const {
    XmlTag& joint = parent.addChild("joint");
    joint.setAttribute("id", "%s", name);
    joint.setAttribute("type", "%s", typeName(kind()));
    XmlTag& flagTag = joint.addChild("flags");
    for (std::uint32_t bit = 0; bit < 12; ++bit)
        if (flags & (1u << bit)) flagTag.addChildValue("flag", "%s", kJointFlagNames[bit]);
    XmlTag& actors = joint.addChild("actors");
    for (const PhysicsJointEnd& end : ends) {
        XmlTag& actor = actors.addChild("actor");
        actor.setAttribute("index", "%i", static_cast<int>(end.actor));
        actor.addVector3("anchor", end.anchor);
        actor.addVector3("normal", end.normal);
        actor.addVector3("axis", end.axis);
    }
    if (flags & kJointBreakable) {
        XmlTag& breakable = parent.addChild("breakable");
        breakable.addChildValue("maxForce", "%5.2f", static_cast<double>(maxForce));
        breakable.addChildValue("maxTorque", "%5.2f", static_cast<double>(maxTorque));
    }
    return joint;
}

std::int32_t Y3PhysicsDataJoint::readHeader(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readName8(stream, name))) return total;
    if (!addField(total, readU32(stream, flags))) return total;
    for (PhysicsJointEnd& end : ends) {
        if (!addField(total, readU32(stream, end.actor))) return total;
        if (!addField(total, readFloats(stream, end.anchor, 3))) return total;
        if (!addField(total, readFloats(stream, end.normal, 3))) return total;
        if (!addField(total, readFloats(stream, end.axis, 3))) return total;
    }
    if (!addField(total, readF32(stream, maxForce))) return total;
    if (!addField(total, readF32(stream, maxTorque))) return total;
    addField(total, readKindPart(stream));
    return total;
}
