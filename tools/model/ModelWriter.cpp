#include "model/ModelWriter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "foundation/DataStream.h"

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
        if (name == "kind" || name == "bones") {
            std::uint32_t value = 0;
            if (!readWord(words, value)) return fail(error, line, "bad value of [" + name + "]");
            if (name == "kind") sub.material.head.kind = value;
            else sub.material.head.boneInfluences = std::int32_t(value);
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

// A "bone" line, inserted in name order.
bool parseBone(std::istringstream& words, Y3Mesh& mesh, int line, std::string& error) {
    std::string name;
    std::int32_t slot = 0;
    std::string rest;
    if (!(words >> name >> slot) || (words >> rest)) return fail(error, line, "expected: bone <name> <palette slot>");
    if (name.size() >= sizeof(MeshBone::name)) return fail(error, line, "bone name [" + name + "] is too long");
    if (slot < -1 || slot > 254) return fail(error, line, "palette slot " + std::to_string(slot) + " is not -1 to 254");
    MeshBone bone;
    std::memcpy(bone.name, name.data(), name.size());
    bone.paletteWord = std::uint32_t(slot + 1);
    std::vector<MeshBone>& bones = mesh.skin().bones;
    const auto at = std::lower_bound(bones.begin(), bones.end(), bone, [](const MeshBone& a, const MeshBone& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    bones.insert(at, bone);
    return true;
}

}  // namespace

bool parseModelDescription(std::string_view text, ModelDescription& out, std::string& error) {
    std::istringstream lines{std::string(text)};
    std::string content;
    int line = 0;
    Y3MeshStream* current = nullptr;  // the stream vertex lines go into
    auto lastMesh = [&out]() { return out.meshes.empty() ? nullptr : out.meshes.back().mesh.get(); };
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
            out.meshes.push_back(std::move(file));
        } else if (keyword == "meshstream" || keyword == "index" || keyword == "subset" || keyword == "bone") {
            Y3Mesh* mesh = lastMesh();
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
            } else if (!parseBone(words, *mesh, line, error)) {
                return false;
            }
        } else {
            return fail(error, line, "unknown keyword [" + keyword + "]");
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
    return true;
}

}  // namespace model_tools
