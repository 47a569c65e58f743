// The physics description writer: physics model files (".fh4" header,
// ".fy3" data) and compiled physics surfaces (".mat") from a readable text,
// written byte by byte from the formats (it shares no code with the
// engine's readers), so that tests, fuzz seeds and the demo build their
// physics data with it.
//
// Description lines ("#" starts a comment; blank lines are skipped):
//   model <name>
//       starts a physics model: <name>.fh4 and <name>.fy3
//   actor <kind> <name> [bone <b>] [flags <f>[,<f>...]] [group <n>]
//         [mass <m>] [size <x> <y> <z>] [height <h>] [radius <r>]
//         [at <x> <y> <z>] [material <m>]... [magic <n>]
//       adds an actor entry. <kind> is box, capsule, sphere, convex, mesh,
//       cloth or a number (any u32, so damaged entries can be written);
//       flags are the names "static", "trigger", "controller", "swept",
//       "modelLink", "multimaterial", "lock-pathfind", "overwrite-pathfind",
//       "cloth" or a number; "at" is the position of the local pose
//       (rotation identity); the kind part holds size (box), height and
//       radius (capsule) or radius (sphere).
//   vertex <x> <y> <z>
//       appends to the last actor's first data array
//   triangle <a> <b> <c> [material <m>] [flags <f>]
//       appends to the last actor's second data array
//   clothdata <n3> <n4>
//       the last actor's third and fourth arrays: n3 and n4 zeroed entries
//       (written only for actors flagged "cloth")
//   joint <kind> <name> [flags <f>[,<f>...]] [actors <a> <b>]
//         [maxforce <f>] [maxtorque <t>]
//       adds a joint entry; <kind> is spherical, revolute, prismatic,
//       cylindrical, fixed, distance, pointplane, pointline, pulley or a
//       number; flags are the joint flag names with "_" for spaces
//       ("limit_enabled", "breakable", ...) or a number
//   surface <name> [dynamic <f>] [static <f>] [restitution <f>]
//           [frictioncombine <mode>] [restitutioncombine <mode>]
//           [spring <k> <d> <v>] [anisotropic <dv> <sv> <x> <y> <z>]
//       a compiled surface <name>.mat; modes average, min, multiply, max
//
// The formats, little-endian:
//   .fh4  u32 actor count, actor entries, u32 joint count, joint entries.
//         Actor: u32 magic 0xF07729A9, u32 kind, u32 flags, u8 name length
//         and name, u8 bone length and bone, u32 material count and each
//         material (u16 length and bytes), local pose (12 f32: rotation
//         rows, position), second pose (12 f32, identity here), u32
//         collision group, f32 mass, 3 u32 (0 here), the kind part.
//         Joint: u32 magic 0x00AF8111, u32 kind, u8 name length and name,
//         u32 flags, two ends (u32 actor, anchor, normal, axis: 3 f32
//         each), f32 maximum force, f32 maximum torque.
//   .fy3  per actor: u32 count and count x 12 bytes (vertices: three f32),
//         u32 count and count x 20 bytes (triangles: three u32 vertex
//         indices, a u32 material index and a u32 of flags); a cloth actor
//         adds u32 count and count x 48 bytes, u32 count and count x 12.
//   .mat  a packed record: u8 1, u32 packed size, u32 unpacked size, zlib
//         data of: u8 name length and name, 8 f32 (dynamic and static
//         friction, restitution, the two anisotropic frictions, the
//         anisotropy direction), u32 flags (1 anisotropic, 4 spring), u32
//         friction combine, u32 restitution combine, u32 0, 3 f32 spring
//         (constant, damper, target value).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace physics_tools {

struct ActorEntry {
    std::uint32_t magic = 0xF07729A9u;
    std::uint32_t kind = 0;
    std::uint32_t flags = 0;
    std::string name;
    std::string bone;
    std::vector<std::string> materials;
    float position[3] = {};
    std::uint32_t group = 4;
    float mass = 1.0f;
    float size[3] = {1.0f, 1.0f, 1.0f};
    float height = 1.0f;
    float radius = 0.5f;
    std::vector<float> vertices;
    std::vector<std::uint32_t> triangles;
    std::uint32_t clothCounts[2] = {};
};

struct JointEntry {
    std::uint32_t kind = 4;
    std::string name;
    std::uint32_t flags = 0;
    std::uint32_t actors[2] = {0, 0};
    float maxForce = 0.0f;
    float maxTorque = 0.0f;
};

struct PhysicsModelFile {
    std::string name;
    std::vector<ActorEntry> actors;
    std::vector<JointEntry> joints;
};

struct SurfaceFile {
    std::string name;
    float dynamicFriction = 1.0f;
    float staticFriction = 1.0f;
    float restitution = 0.0f;
    float anisotropic[5] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
    std::uint32_t flags = 0;
    std::uint32_t frictionCombine = 0;
    std::uint32_t restitutionCombine = 0;
    float spring[3] = {};
};

struct PhysicsDescription {
    std::vector<PhysicsModelFile> models;
    std::vector<SurfaceFile> surfaces;
};

struct WrittenFile {
    std::string name;  // with its extension
    std::string bytes;
};

// Parses a description; false with a message naming the line.
bool parsePhysicsDescription(const std::string& text, PhysicsDescription& out, std::string& error);

std::string headerBytes(const PhysicsModelFile& model);
std::string dataBytes(const PhysicsModelFile& model);
std::string surfaceBytes(const SurfaceFile& surface);
// Every file of the description, models first.
std::vector<WrittenFile> physicsFiles(const PhysicsDescription& description);
// Writes them into a folder; false with a message.
bool writePhysicsFiles(const PhysicsDescription& description, const std::string& folder,
                       std::vector<std::string>* written, std::string* error);

}  // namespace physics_tools
