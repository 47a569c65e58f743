#include "model/ModelWriter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "animation/ModelAnimation.h"
#include "foundation/DataStream.h"
#include "foundation/Matrix.h"

namespace model_tools {

namespace {

bool fail(std::string& error, int line, const std::string& reason) {
    error = "line " + std::to_string(line) + ": " + reason;
    return false;
}

bool readFloats(std::istringstream& words, float* out, int count) {
    for (int i = 0; i < count; ++i)
        if (!(words >> out[i])) return false;
    return true;
}

bool readWord(std::istringstream& words, std::uint32_t& out) {
    std::string word;
    if (!(words >> word)) return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(word.c_str(), &end, 0);
    if (*end || value > 0xFFFFFFFFull) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

// One "vertex" line's components, set on a new vertex of the stream.
bool parseVertex(std::istringstream& words, Y3MeshStream& stream, int line, std::string& error) {
    const std::int32_t index = stream.append();
    if (index < 0) return fail(error, line, "the stream cannot grow");
    std::string name;
    while (words >> name) {
        bool present = false;
        bool read = true;
        float values[4] = {};
        if (name == "p" || name == "n" || name == "b") {
            read = readFloats(words, values, 3);
            const D3DXVECTOR3 v{values[0], values[1], values[2]};
            if (name == "p") present = stream.hasPosition(), stream.setPosition(index, v);
            else if (name == "n") present = stream.hasNormal(), stream.setNormal(index, v);
            else present = stream.hasBinormal(), stream.setBinormal(index, v);
        } else if (name == "t" || name == "t2" || name == "lm") {
            read = readFloats(words, values, 2);
            const D3DXVECTOR2 v{values[0], values[1]};
            if (name == "t") present = stream.hasUV(), stream.setUV(index, v);
            else if (name == "t2") present = stream.hasUV2(), stream.setUV2(index, v);
            else present = stream.hasLightmapUV(), stream.setLightmapUV(index, v);
        } else if (name == "c") {
            std::uint32_t colour = 0;
            read = readWord(words, colour);
            present = stream.hasColor();
            stream.setColor(index, colour);
        } else if (name == "i") {
            std::uint32_t packed = 0;
            for (int k = 0; k < 4 && read; ++k) {
                std::uint32_t one = 0;
                read = readWord(words, one) && one <= 255;
                packed |= one << (8 * k);
            }
            present = stream.hasBlendIndices();
            stream.setBlendIndices(index, packed);
        } else if (name == "w") {
            read = readFloats(words, values, 4);
            present = stream.hasBlendWeights();
            stream.setBlendWeights(index, D3DXVECTOR4{values[0], values[1], values[2], values[3]});
        } else {
            return fail(error, line, "unknown vertex component [" + name + "]");
        }
        if (!read) return fail(error, line, "bad values of component [" + name + "]");
        if (!present)
            return fail(error, line,
                        "format " + std::to_string(stream.getFormat()) + " has no component [" + name + "]");
    }
    return true;
}

// A "subset" line: the four numbers, then the material's optional fields.
bool parseSubset(std::istringstream& words, Y3Mesh& mesh, int line, std::string& error) {
    std::int32_t numbers[4] = {};
    for (std::int32_t& n : numbers)
        if (!(words >> n)) return fail(error, line, "expected: subset <stream> <start index> <index count> <vertex count>");
    MeshSubset& sub = mesh.addSubset();
    sub.stream = numbers[0];
    sub.startIndex = numbers[1];
    sub.indexCount = numbers[2];
    sub.vertexCount = numbers[3];
    sub.triangleCount = sub.indexCount / 3;
    static const char* const kLinks[MaterialData::kLinkCount] = {"diffuse", "lightmap", "environment", "terrain"};
    std::string name;
    while (words >> name) {
        const auto link = std::find(std::begin(kLinks), std::end(kLinks), name);
        if (name == "kind" || name == "bones" || name == "face") {
            std::uint32_t value = 0;
            if (!readWord(words, value)) return fail(error, line, "bad value of [" + name + "]");
            if (name == "face" && value > 2) return fail(error, line, "face mode is not 0 to 2");
            if (name == "kind") sub.material.head.kind = value;
            else if (name == "face") sub.material.head.faceMode = value;
            else sub.material.head.boneInfluences = std::int32_t(value);
        } else if (name == "instanced") {
            // Models showing this level may be drawn merged into groups
            // ("min_instances_per_group").
            sub.material.head.word8 = 1;
        } else if (name == "group") {
            // The material's draw-order group (signed).
            std::int32_t value = 0;
            if (!(words >> value)) return fail(error, line, "bad value of [group]");
            sub.material.head.groupBase = static_cast<std::uint32_t>(value);
        } else if (name == "interior") {
            // Lit by interior lights and the interior colours of light sets.
            sub.material.head.lightSetIndex = 1;
        } else if (link != std::end(kLinks)) {
            std::string texture;
            if (!(words >> texture) || texture.size() >= TextureLink::kNameSize)
                return fail(error, line, "bad texture name of [" + name + "]");
            sub.material.links[link - std::begin(kLinks)].init(texture.c_str());
        } else {
            return fail(error, line, "unknown subset field [" + name + "]");
        }
    }
    return true;
}

// The parent links and inverse bind matrices of a mesh's bones, made again
// after every bone line: bones are kept in name order, so a new bone moves
// the indices that the parent links hold. Bones without a rest transform
// keep their matrices as they are.
void linkBones(Y3Mesh& mesh, const std::vector<std::pair<std::string, std::string>>& parents) {
    std::vector<MeshBone>& bones = mesh.skin().bones;
    auto indexOf = [&](const std::string& name) -> std::int32_t {
        for (std::size_t i = 0; i < bones.size(); ++i)
            if (name == bones[i].name) return static_cast<std::int32_t>(i);
        return -1;
    };
    for (MeshBone& bone : bones) bone.paletteWord &= ~0xFF00u;
    for (const auto& [child, parent] : parents) {
        const std::int32_t c = indexOf(child);
        const std::int32_t p = indexOf(parent);
        if (c >= 0 && p >= 0 && p < 255) bones[std::size_t(c)].paletteWord |= std::uint32_t(p + 1) << 8;
    }
    for (MeshBone& bone : bones) {
        bool rested = false;
        for (std::uint8_t b : bone.block) rested = rested || b != 0;
        if (!rested) continue;
        // The rest pose in model space: own rest, then each parent's.
        Matrix34 world = meshBoneRest(bone).toMatrix();
        const MeshBone* at = &bone;
        for (std::size_t depth = 0; depth < bones.size(); ++depth) {
            const std::int32_t p = meshBoneParent(*at);
            if (p < 0 || std::size_t(p) >= bones.size()) break;
            at = &bones[std::size_t(p)];
            world = multiplyTransforms(world, meshBoneRest(*at).toMatrix());
        }
        Matrix34 inverse;
        matrix34Inverse(world, inverse);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c) bone.matrices[0].m[r][c] = inverse.m[r * 3 + c];
    }
}


// A "bone" line, inserted in name order.
bool parseBone(std::istringstream& words, Y3Mesh& mesh, std::vector<std::pair<std::string, std::string>>& parents,
               int line, std::string& error) {
    static const char* const kUsage =
        "expected: bone <name> <palette slot> [parent <name>] [rest <qx> <qy> <qz> <qw> <tx> <ty> <tz>] "
        "[channel <1-8>] [pose <1-8> <qx> <qy> <qz> <qw> <tx> <ty> <tz>] [rootmotion] [flag28] [partial]";
    std::string name;
    std::int32_t slot = 0;
    if (!readName(words, name) || !(words >> slot)) return fail(error, line, "expected: bone <name> <palette slot>");
    if (name.size() >= sizeof(MeshBone::name)) return fail(error, line, "bone name [" + name + "] is too long");
    if (slot < -1 || slot > 254) return fail(error, line, "palette slot " + std::to_string(slot) + " is not -1 to 254");
    MeshBone bone;
    std::memcpy(bone.name, name.data(), name.size());
    bone.paletteWord = std::uint32_t(slot + 1);
    std::vector<std::pair<std::int32_t, BoneTransform>> poses;
    std::string word;
    while (words >> word) {
        if (word == "parent") {
            std::string parent;
            if (!readName(words, parent) || parent.size() >= sizeof(MeshBone::name)) return fail(error, line, kUsage);
            parents.emplace_back(name, parent);
        } else if (word == "rest") {
            BoneTransform rest;
            if (!readFloats(words, &rest.rotation.x, 4) || !readFloats(words, rest.translation, 3))
                return fail(error, line, kUsage);
            std::memcpy(bone.block, rest.values(), sizeof(bone.block));
        } else if (word == "channel") {
            std::int32_t channel = 0;
            if (!(words >> channel) || channel < 1 || channel > 8) return fail(error, line, kUsage);
            bone.paletteWord |= std::uint32_t(channel) << 16;
        } else if (word == "pose") {
            // The bone's pose for one mouth shape, kept in the skin record
            // of its channel.
            std::int32_t shape = 0;
            BoneTransform pose;
            if (!(words >> shape) || shape < 1 || shape > 8 || !readFloats(words, &pose.rotation.x, 4) ||
                !readFloats(words, pose.translation, 3))
                return fail(error, line, kUsage);
            poses.emplace_back(shape - 1, pose);
        } else if (word == "rootmotion") {
            bone.paletteWord |= kMeshBoneRootMotion;
        } else if (word == "flag28") {
            bone.paletteWord |= kMeshBoneBit28;
        } else if (word == "partial") {
            bone.paletteWord |= kMeshBonePartial;
        } else {
            return fail(error, line, kUsage);
        }
    }
    const std::int32_t channel = std::int32_t((bone.paletteWord >> 16) & 0xFu);
    if (!poses.empty()) {
        if (channel == 0) return fail(error, line, "a bone pose needs the bone's channel");
        std::vector<MeshSkinRecord>& records = mesh.skin().records;
        if (records.size() < std::size_t(channel)) records.resize(std::size_t(channel));
        for (const auto& [shape, pose] : poses)
            std::memcpy(records[std::size_t(channel - 1)].bytes + 40 * shape, pose.values(), 40);
    }
    std::vector<MeshBone>& bones = mesh.skin().bones;
    const auto at = std::lower_bound(bones.begin(), bones.end(), bone, [](const MeshBone& a, const MeshBone& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    bones.insert(at, bone);
    linkBones(mesh, parents);
    return true;
}

void copyText(char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::strncpy(field, text.c_str(), size - 1);
}

// The trailing "at x y z" (and other named vectors) of a line.
bool readOptions(std::istringstream& words, std::initializer_list<std::pair<const char*, float*>> options) {
    std::string word;
    while (words >> word) {
        bool known = false;
        for (const auto& [name, target] : options)
            if (word == name) {
                if (!readFloats(words, target, 3)) return false;
                known = true;
            }
        if (!known) return false;
    }
    return true;
}

// The lines of a model resource; false (error set) for one it cannot read.
bool parseModelLine(const std::string& keyword, std::istringstream& words, ModelDescription& out, Y3Mesh*& mesh,
                    int& lodIndex, int line, std::string& error) {
    if (keyword == "model") {
        ModelFile file;
        std::string kind = "default";
        if (!(words >> file.name)) return fail(error, line, "expected: model <name> [default|sprite]");
        words >> kind;
        if (kind != "default" && kind != "sprite") return fail(error, line, "unknown model kind [" + kind + "]");
        file.model = Y3Model::create(kind == "sprite" ? kModelKindSprite : kModelKindDefault);
        out.models.push_back(std::move(file));
        mesh = nullptr;
        return true;
    }
    static const char* const kKeywords[] = {"source", "sprite",   "textureset", "lightset", "rule",   "animation",
                                            "element", "lod",     "light",      "particle", "action"};
    if (std::find(std::begin(kKeywords), std::end(kKeywords), keyword) == std::end(kKeywords))
        return fail(error, line, "unknown keyword [" + keyword + "]");
    if (out.models.empty()) return fail(error, line, "[" + keyword + "] before any model");
    Y3Model& model = *out.models.back().model;
    if (keyword == "source") {
        if (!readFloats(words, model.sourcePlacement.m + 9, 3)) return fail(error, line, "expected: source <x> <y> <z>");
        return true;
    }
    if (keyword == "sprite") {
        if (model.kind() != kModelKindSprite) return fail(error, line, "a sprite in a model that is not a sprite model");
        SpriteElementData sprite;
        std::string name, texture, flag;
        int x = 0, y = 0, dx = 0, dy = 0;
        if (!(words >> name >> texture >> x >> y >> dx >> dy >> sprite.depth))
            return fail(error, line, "expected: sprite <name> <texture> <x> <y> <dx> <dy> <depth> [flags]");
        copyText(sprite.name, sizeof(sprite.name), name);
        copyText(sprite.texture, sizeof(sprite.texture), texture);
        sprite.x = static_cast<std::int16_t>(x);
        sprite.y = static_cast<std::int16_t>(y);
        sprite.dx = static_cast<std::int16_t>(dx);
        sprite.dy = static_cast<std::int16_t>(dy);
        while (words >> flag) {
            if (flag == "animated") sprite.flags |= 1;
            else if (flag == "has-alpha") sprite.flags |= 2;
            else return fail(error, line, "unknown sprite flag [" + flag + "]");
        }
        static_cast<Y3ModelSprite&>(model).elements.push_back(sprite);
        return true;
    }
    if (model.kind() != kModelKindDefault) return fail(error, line, "[" + keyword + "] in a sprite model");
    auto& target = static_cast<Y3ModelDefault&>(model);
    if (keyword == "textureset") {
        if (!(words >> target.properties.textureSet)) return fail(error, line, "expected: textureset <n>");
    } else if (keyword == "lightset") {
        static const char* const kModes[4] = {"morning", "day", "evening", "nighttime"};
        std::string mode, name;
        if (!(words >> mode >> name)) return fail(error, line, "expected: lightset <mode> <name>");
        const auto found = std::find(std::begin(kModes), std::end(kModes), mode);
        if (found == std::end(kModes)) return fail(error, line, "unknown light mode [" + mode + "]");
        copyText(target.properties.lightSets[found - std::begin(kModes)], 128, name);
    } else if (keyword == "rule") {
        ModelPropertyRule rule;
        if (!(words >> rule.name)) return fail(error, line, "expected: rule <name>");
        target.properties.rules.push_back(rule);
    } else if (keyword == "animation") {
        if (target.properties.rules.empty()) return fail(error, line, "an animation before any rule");
        ModelPropertyAnimation animation;
        std::string flag;
        if (!(words >> animation.name >> animation.speed)) return fail(error, line, "expected: animation <name> <speed>");
        while (words >> flag) {
            const auto found = std::find_if(std::begin(kModelAnimationFlagNames), std::end(kModelAnimationFlagNames),
                                            [&](const char* name) { return flag == name; });
            if (found == std::end(kModelAnimationFlagNames)) return fail(error, line, "unknown flag [" + flag + "]");
            animation.flags |= 1u << (found - std::begin(kModelAnimationFlagNames));
        }
        target.properties.rules.back().animations.push_back(animation);
    } else if (keyword == "element") {
        auto element = std::make_unique<ModelElementData>();
        std::string name, option;
        if (!(words >> name)) return fail(error, line, "expected: element <name> [extra <a> <b> <c>] [flags <n>]");
        if (name.size() > 127) return fail(error, line, "element name longer than 127 characters");
        copyText(element->name, sizeof(element->name), name);
        while (words >> option) {
            if (option == "extra") {
                if (!(words >> element->extra[0] >> element->extra[1] >> element->extra[2]))
                    return fail(error, line, "expected: extra <a> <b> <c>");
                element->flags |= kElementExtraWords;
            } else if (option == "flags") {
                std::uint32_t value = 0;
                if (!readWord(words, value)) return fail(error, line, "expected: flags <n>");
                element->flags |= value;
            } else {
                return fail(error, line, "unknown element option [" + option + "]");
            }
        }
        target.elements.push_back(std::move(element));
        lodIndex = 0;
        mesh = nullptr;
    } else if (keyword == "lod") {
        if (target.elements.empty()) return fail(error, line, "a lod before any element");
        if (lodIndex >= 3) return fail(error, line, "an element has three levels of detail");
        mesh = &target.elements.back()->lods[lodIndex++];
    } else if (keyword == "light") {
        std::string type, name;
        if (!(words >> type >> name) || (type != "point" && type != "directional"))
            return fail(error, line, "expected: light <point|directional> <name> [at <x> <y> <z>]");
        std::unique_ptr<Y3Light> light = Y3Light::create(type == "point" ? 0 : 1);
        copyText(light->name, sizeof(light->name), name);
        if (!readOptions(words, {{"at", light->pose.m + 9}})) return fail(error, line, "bad light option");
        light->setPose(light->pose);
        target.lights.push_back(std::move(light));
    } else if (keyword == "particle") {
        ModelParticleAttachment particle;
        std::string names[3];
        if (!(words >> names[0] >> names[1] >> names[2]))
            return fail(error, line, "expected: particle <name> <data> <bone> [at <x> <y> <z>]");
        for (int i = 0; i < 3; ++i) copyText(particle.names[i], 128, names[i]);
        particle.matrix[0] = particle.matrix[4] = particle.matrix[8] = 1.0f;
        if (!readOptions(words, {{"at", particle.matrix + 9}})) return fail(error, line, "bad particle option");
        target.particles.push_back(particle);
    } else if (keyword == "action") {
        ModelActionItemData action;
        std::string name, bone;
        if (!(words >> name >> bone)) return fail(error, line, "expected: action <name> <bone> [options]");
        copyText(action.name, sizeof(action.name), name);
        copyText(action.bone, sizeof(action.bone), bone);
        if (!readOptions(words, {{"size", action.size}, {"spot", action.spot}, {"at", action.actionToParent.m + 9}}))
            return fail(error, line, "bad action option");
        target.actions.push_back(action);
    } else {
        return fail(error, line, "unknown keyword [" + keyword + "]");
    }
    return true;
}

}  // namespace

std::string modelFileBytes(Y3Model& model, const std::string& name, bool header) {
    MemoryStream out;
    const std::int32_t result = header ? model.writeToStream(out, name.c_str()) : model.write(out, false, name.c_str());
    if (result < 0) return {};
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

bool parseModelDescription(std::string_view text, ModelDescription& out, std::string& error) {
    std::istringstream lines{std::string(text)};
    std::string content;
    int line = 0;
    Y3MeshStream* current = nullptr;  // the stream vertex lines go into
    Y3Mesh* mesh = nullptr;  // the mesh its lines go into
    int lodIndex = 0;
    // Each mesh's "parent" links by name, resolved after every bone line.
    std::map<const Y3Mesh*, std::vector<std::pair<std::string, std::string>>> boneParents;
    while (std::getline(lines, content)) {
        ++line;
        content = content.substr(0, content.find('#'));
        std::istringstream words(content);
        std::string keyword;
        if (!(words >> keyword)) continue;
        if (keyword == "stream") {
            StreamFile file;
            std::int32_t code = -1;
            std::string rest;
            if (!(words >> file.file >> code) || (words >> rest))
                return fail(error, line, "expected: stream <file> <format code>");
            file.stream.reset(Y3MeshStream::create(code, 0));
            if (!file.stream) return fail(error, line, "format code " + std::to_string(code) + " is not 0 to 48");
            current = file.stream.get();
            out.streams.push_back(std::move(file));
        } else if (keyword == "vertex") {
            if (!current) return fail(error, line, "a vertex before any stream");
            if (!parseVertex(words, *current, line, error)) return false;
        } else if (keyword == "mesh") {
            MeshFile file;
            std::string option;
            if (!(words >> file.headerFile >> file.dataFile))
                return fail(error, line, "expected: mesh <header file> <data file> [skintail]");
            if (words >> option) {
                if (option != "skintail") return fail(error, line, "unknown mesh option [" + option + "]");
                file.skinTail = true;
            }
            file.mesh = std::make_unique<Y3Mesh>();
            mesh = file.mesh.get();
            out.meshes.push_back(std::move(file));
        } else if (keyword == "meshstream" || keyword == "index" || keyword == "subset" || keyword == "bone" ||
                   keyword == "box") {
            if (!mesh) return fail(error, line, "[" + keyword + "] before any mesh");
            if (keyword == "meshstream") {
                std::int32_t code = -1;
                std::string rest;
                if (!(words >> code) || (words >> rest)) return fail(error, line, "expected: meshstream <format code>");
                current = Y3MeshStream::create(code, 0);
                if (!current) return fail(error, line, "format code " + std::to_string(code) + " is not 0 to 48");
                mesh->addStream(current);
            } else if (keyword == "index") {
                std::uint32_t value = 0;
                while (!(words >> std::ws).eof()) {
                    if (!readWord(words, value)) return fail(error, line, "bad index value");
                    mesh->editIndices().push_back(value);
                }
            } else if (keyword == "subset") {
                if (!parseSubset(words, *mesh, line, error)) return false;
            } else if (keyword == "box") {
                float half[3];
                if (!readFloats(words, half, 3) || !readOptions(words, {{"at", mesh->boxPlacement.m[3]}}))
                    return fail(error, line, "expected: box <hx> <hy> <hz> [at <x> <y> <z>]");
                std::memcpy(mesh->boxBlock, half, sizeof(half));
            } else if (!parseBone(words, *mesh, boneParents[mesh], line, error)) {
                return false;
            }
        } else if (!parseModelLine(keyword, words, out, mesh, lodIndex, line, error)) {
            return false;
        }
    }
    return true;
}

std::string streamRecordBytes(const Y3MeshStream& stream) {
    MemoryStream out;
    if (stream.writeStreamRecord(out) < 0) return {};
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

std::string meshPartBytes(Y3Mesh& mesh, bool skinTail, bool header) {
    MemoryStream out;
    if (mesh.write(out, skinTail, header) < 0) return {};
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

namespace {

bool storeFile(const std::string& folder, const std::string& name, const std::string& bytes,
               std::vector<std::string>* written, std::string* error) {
    const std::string path = folder + "/" + name;
    std::ofstream stored(path, std::ios::binary | std::ios::trunc);
    stored.write(bytes.data(), std::streamsize(bytes.size()));
    if (bytes.empty() || !stored) {
        if (error) *error = "can't write [" + path + "]";
        return false;
    }
    if (written) written->push_back(name);
    return true;
}

}  // namespace

bool writeModelFiles(const ModelDescription& description, const std::string& folder,
                     std::vector<std::string>* written, std::string* error) {
    for (const StreamFile& file : description.streams)
        if (!storeFile(folder, file.file, streamRecordBytes(*file.stream), written, error)) return false;
    for (const MeshFile& file : description.meshes) {
        if (!storeFile(folder, file.headerFile, meshPartBytes(*file.mesh, file.skinTail, true), written, error) ||
            !storeFile(folder, file.dataFile, meshPartBytes(*file.mesh, file.skinTail, false), written, error))
            return false;
    }
    for (const ModelFile& file : description.models) {
        const std::string header = modelFileBytes(*file.model, file.name, true);
        const std::string data = modelFileBytes(*file.model, file.name, false);
        if (!storeFile(folder, file.name + ".mh4", header, written, error)) return false;
        // A sprite model has no data body: its data file is empty.
        if (data.empty() && file.model->kind() == kModelKindSprite) {
            std::ofstream(folder + "/" + file.name + ".my3", std::ios::binary | std::ios::trunc);
            if (written) written->push_back(file.name + ".my3");
        } else if (!storeFile(folder, file.name + ".my3", data, written, error)) {
            return false;
        }
    }
    return true;
}

// A name word; a name in double quotes may hold blanks ("bip01 head").
bool readName(std::istream& words, std::string& name) {
    if (!(words >> name)) return false;
    if (name.empty() || name[0] != '"') return true;
    name.erase(0, 1);
    while (name.empty() || name.back() != '"') {
        std::string more;
        if (!(words >> more)) return false;
        name += ' ' + more;
    }
    name.pop_back();
    return true;
}

}  // namespace model_tools
