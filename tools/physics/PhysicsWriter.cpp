#include "physics/PhysicsWriter.h"

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace physics_tools {

namespace {

const char* const kActorKinds[] = {"box", "capsule", "sphere", "convex", "mesh", "cloth"};
const char* const kActorFlags[] = {"static",        "trigger",            "controller",
                                   "swept",         "modelLink",          "multimaterial",
                                   "lock-pathfind", "overwrite-pathfind", "cloth"};
const char* const kJointKinds[] = {"spherical", "revolute",   "prismatic", "cylindrical", "fixed",
                                   "distance",  "pointplane", "pointline", "pulley"};
const char* const kJointFlags[] = {"limit_enabled",       "spring_enabled",       "motor_enabled",
                                   "twist_limit_enabled", "swing_limit_enabled",  "twist_spring_enabled",
                                   "swing_spring_enabled", "breakable",           "collision_enable",
                                   "projection_enable",   "min_distance_enable",  "max_distance_enable"};
const char* const kCombineModes[] = {"average", "min", "multiply", "max"};

template <std::size_t N>
bool lookup(const char* const (&names)[N], const std::string& word, std::uint32_t& out) {
    for (std::size_t i = 0; i < N; ++i)
        if (word == names[i]) {
            out = static_cast<std::uint32_t>(i);
            return true;
        }
    char* end = nullptr;
    const unsigned long value = std::strtoul(word.c_str(), &end, 0);
    if (word.empty() || *end) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

// A comma-separated list of flag names (bit numbers of the table) or numbers.
template <std::size_t N>
bool flagList(const char* const (&names)[N], const std::string& list, std::uint32_t& out) {
    out = 0;
    std::stringstream words(list);
    std::string word;
    while (std::getline(words, word, ',')) {
        std::uint32_t bit = 0;
        bool named = false;
        for (std::size_t i = 0; i < N; ++i)
            if (word == names[i]) {
                bit = 1u << i;
                named = true;
            }
        if (!named && !lookup(names, word, bit)) return false;
        out |= bit;
    }
    return true;
}

void putU8(std::string& out, std::uint8_t v) { out.push_back(static_cast<char>(v)); }
void putU16(std::string& out, std::uint16_t v) {
    putU8(out, static_cast<std::uint8_t>(v));
    putU8(out, static_cast<std::uint8_t>(v >> 8));
}
void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) putU8(out, static_cast<std::uint8_t>(v >> (8 * i)));
}
void putF32(std::string& out, float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    putU32(out, bits);
}

class Words {
public:
    explicit Words(const std::string& line) : stream_(line) {}
    bool next(std::string& word) { return static_cast<bool>(stream_ >> word); }
    bool number(float& out) {
        std::string word;
        if (!next(word)) return false;
        char* end = nullptr;
        out = std::strtof(word.c_str(), &end);
        return !*end;
    }
    bool integer(std::uint32_t& out) {
        std::string word;
        if (!next(word)) return false;
        char* end = nullptr;
        out = static_cast<std::uint32_t>(std::strtoul(word.c_str(), &end, 0));
        return !*end;
    }

private:
    std::istringstream stream_;
};

bool parseActor(Words& words, ActorEntry& actor) {
    std::string word;
    if (!words.next(word) || !lookup(kActorKinds, word, actor.kind)) return false;
    if (!words.next(actor.name)) return false;
    while (words.next(word)) {
        bool ok = true;
        if (word == "bone")
            ok = words.next(actor.bone);
        else if (word == "flags")
            ok = words.next(word) && flagList(kActorFlags, word, actor.flags);
        else if (word == "group")
            ok = words.integer(actor.group);
        else if (word == "mass")
            ok = words.number(actor.mass);
        else if (word == "size")
            ok = words.number(actor.size[0]) && words.number(actor.size[1]) && words.number(actor.size[2]);
        else if (word == "height")
            ok = words.number(actor.height);
        else if (word == "radius")
            ok = words.number(actor.radius);
        else if (word == "at")
            ok = words.number(actor.position[0]) && words.number(actor.position[1]) && words.number(actor.position[2]);
        else if (word == "material")
            ok = words.next(word) && (actor.materials.push_back(word), true);
        else if (word == "magic")
            ok = words.integer(actor.magic);
        else
            ok = false;
        if (!ok) return false;
    }
    return true;
}

bool parseJoint(Words& words, JointEntry& joint) {
    std::string word;
    if (!words.next(word) || !lookup(kJointKinds, word, joint.kind)) return false;
    if (!words.next(joint.name)) return false;
    while (words.next(word)) {
        bool ok = true;
        if (word == "flags")
            ok = words.next(word) && flagList(kJointFlags, word, joint.flags);
        else if (word == "actors")
            ok = words.integer(joint.actors[0]) && words.integer(joint.actors[1]);
        else if (word == "maxforce")
            ok = words.number(joint.maxForce);
        else if (word == "maxtorque")
            ok = words.number(joint.maxTorque);
        else
            ok = false;
        if (!ok) return false;
    }
    return true;
}

bool parseSurface(Words& words, SurfaceFile& surface) {
    std::string word;
    if (!words.next(surface.name)) return false;
    while (words.next(word)) {
        bool ok = true;
        if (word == "dynamic")
            ok = words.number(surface.dynamicFriction);
        else if (word == "static")
            ok = words.number(surface.staticFriction);
        else if (word == "restitution")
            ok = words.number(surface.restitution);
        else if (word == "frictioncombine")
            ok = words.next(word) && lookup(kCombineModes, word, surface.frictionCombine);
        else if (word == "restitutioncombine")
            ok = words.next(word) && lookup(kCombineModes, word, surface.restitutionCombine);
        else if (word == "spring") {
            ok = words.number(surface.spring[0]) && words.number(surface.spring[1]) && words.number(surface.spring[2]);
            surface.flags |= 4;
        } else if (word == "anisotropic") {
            for (float& value : surface.anisotropic) ok = ok && words.number(value);
            surface.flags |= 1;
        } else {
            ok = false;
        }
        if (!ok) return false;
    }
    return true;
}

}  // namespace

bool parsePhysicsDescription(const std::string& text, PhysicsDescription& out, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        Words words(line);
        std::string command;
        if (!words.next(command)) continue;
        PhysicsModelFile* model = out.models.empty() ? nullptr : &out.models.back();
        ActorEntry* actor = model && !model->actors.empty() ? &model->actors.back() : nullptr;
        bool ok = true;
        if (command == "model") {
            out.models.emplace_back();
            ok = words.next(out.models.back().name);
        } else if (command == "actor" && model) {
            model->actors.emplace_back();
            ok = parseActor(words, model->actors.back());
        } else if (command == "vertex" && actor) {
            float v[3];
            ok = words.number(v[0]) && words.number(v[1]) && words.number(v[2]);
            actor->vertices.insert(actor->vertices.end(), v, v + 3);
        } else if (command == "triangle" && actor) {
            std::uint32_t t[5] = {};
            ok = words.integer(t[0]) && words.integer(t[1]) && words.integer(t[2]);
            std::string word;
            while (ok && words.next(word)) {
                if (word == "material")
                    ok = words.integer(t[3]);
                else if (word == "flags")
                    ok = words.integer(t[4]);
                else
                    ok = false;
            }
            actor->triangles.insert(actor->triangles.end(), t, t + 5);
        } else if (command == "clothdata" && actor) {
            ok = words.integer(actor->clothCounts[0]) && words.integer(actor->clothCounts[1]);
        } else if (command == "joint" && model) {
            model->joints.emplace_back();
            ok = parseJoint(words, model->joints.back());
        } else if (command == "surface") {
            out.surfaces.emplace_back();
            ok = parseSurface(words, out.surfaces.back());
        } else {
            ok = false;
        }
        if (!ok) {
            error = "line " + std::to_string(number) + ": can't read [" + line + "]";
            return false;
        }
    }
    return true;
}

std::string headerBytes(const PhysicsModelFile& model) {
    std::string out;
    putU32(out, static_cast<std::uint32_t>(model.actors.size()));
    for (const ActorEntry& actor : model.actors) {
        putU32(out, actor.magic);
        putU32(out, actor.kind);
        putU32(out, actor.flags);
        putU8(out, static_cast<std::uint8_t>(actor.name.size()));
        out += actor.name.substr(0, 255);
        putU8(out, static_cast<std::uint8_t>(actor.bone.size()));
        out += actor.bone.substr(0, 255);
        putU32(out, static_cast<std::uint32_t>(actor.materials.size()));
        for (const std::string& material : actor.materials) {
            putU16(out, static_cast<std::uint16_t>(material.size()));
            out += material;
        }
        const float local[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, actor.position[0], actor.position[1], actor.position[2]};
        const float second[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
        for (float v : local) putF32(out, v);
        for (float v : second) putF32(out, v);
        putU32(out, actor.group);
        putF32(out, actor.mass);
        for (int i = 0; i < 3; ++i) putU32(out, 0);
        if (actor.kind == 0)
            for (float v : actor.size) putF32(out, v);
        if (actor.kind == 1) {
            putF32(out, actor.height);
            putF32(out, actor.radius);
        }
        if (actor.kind == 2) putF32(out, actor.radius);
    }
    putU32(out, static_cast<std::uint32_t>(model.joints.size()));
    for (const JointEntry& joint : model.joints) {
        putU32(out, 0x00AF8111u);
        putU32(out, joint.kind);
        putU8(out, static_cast<std::uint8_t>(joint.name.size()));
        out += joint.name.substr(0, 255);
        putU32(out, joint.flags);
        for (std::uint32_t actor : joint.actors) {
            putU32(out, actor);
            // Anchor (0, 0, 0), normal (0, 1, 0), axis (1, 0, 0).
            const float vectors[9] = {0, 0, 0, 0, 1, 0, 1, 0, 0};
            for (float v : vectors) putF32(out, v);
        }
        putF32(out, joint.maxForce);
        putF32(out, joint.maxTorque);
    }
    return out;
}

std::string dataBytes(const PhysicsModelFile& model) {
    std::string out;
    for (const ActorEntry& actor : model.actors) {
        putU32(out, static_cast<std::uint32_t>(actor.vertices.size() / 3));
        for (float v : actor.vertices) putF32(out, v);
        putU32(out, static_cast<std::uint32_t>(actor.triangles.size() / 5));
        for (std::uint32_t v : actor.triangles) putU32(out, v);
        if (actor.flags & 0x100) {
            putU32(out, actor.clothCounts[0]);
            out.append(static_cast<std::size_t>(actor.clothCounts[0]) * 48, '\0');
            putU32(out, actor.clothCounts[1]);
            out.append(static_cast<std::size_t>(actor.clothCounts[1]) * 12, '\0');
        }
    }
    return out;
}

std::string surfaceBytes(const SurfaceFile& surface) {
    std::string content;
    putU8(content, static_cast<std::uint8_t>(surface.name.size()));
    content += surface.name.substr(0, 255);
    putF32(content, surface.dynamicFriction);
    putF32(content, surface.staticFriction);
    putF32(content, surface.restitution);
    for (float v : surface.anisotropic) putF32(content, v);
    putU32(content, surface.flags);
    putU32(content, surface.frictionCombine);
    putU32(content, surface.restitutionCombine);
    putU32(content, 0);
    for (float v : surface.spring) putF32(content, v);
    uLongf packedSize = compressBound(static_cast<uLong>(content.size()));
    std::string packed(packedSize, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(content.data()),
              static_cast<uLong>(content.size()), 9);
    packed.resize(packedSize);
    std::string out;
    putU8(out, 1);
    putU32(out, static_cast<std::uint32_t>(packed.size()));
    putU32(out, static_cast<std::uint32_t>(content.size()));
    return out + packed;
}

std::vector<WrittenFile> physicsFiles(const PhysicsDescription& description) {
    std::vector<WrittenFile> files;
    for (const PhysicsModelFile& model : description.models) {
        files.push_back({model.name + ".fh4", headerBytes(model)});
        files.push_back({model.name + ".fy3", dataBytes(model)});
    }
    for (const SurfaceFile& surface : description.surfaces)
        files.push_back({surface.name + ".mat", surfaceBytes(surface)});
    return files;
}

bool writePhysicsFiles(const PhysicsDescription& description, const std::string& folder,
                       std::vector<std::string>* written, std::string* error) {
    for (const WrittenFile& file : physicsFiles(description)) {
        const std::string path = folder + "/" + file.name;
        std::ofstream out(path, std::ios::binary);
        if (!out || !out.write(file.bytes.data(), static_cast<std::streamsize>(file.bytes.size()))) {
            if (error) *error = "can't write [" + path + "]";
            return false;
        }
        if (written) written->push_back(path);
    }
    return true;
}

}  // namespace physics_tools
