#include "model/ModelWriter.h"

#include <cstdlib>
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

}  // namespace

bool parseModelDescription(std::string_view text, ModelDescription& out, std::string& error) {
    std::istringstream lines{std::string(text)};
    std::string content;
    int line = 0;
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
            out.streams.push_back(std::move(file));
        } else if (keyword == "vertex") {
            if (out.streams.empty()) return fail(error, line, "a vertex before any stream");
            if (!parseVertex(words, *out.streams.back().stream, line, error)) return false;
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

bool writeModelFiles(const ModelDescription& description, const std::string& folder,
                     std::vector<std::string>* written, std::string* error) {
    for (const StreamFile& file : description.streams) {
        const std::string bytes = streamRecordBytes(*file.stream);
        const std::string path = folder + "/" + file.file;
        std::ofstream stored(path, std::ios::binary | std::ios::trunc);
        stored.write(bytes.data(), std::streamsize(bytes.size()));
        if (bytes.empty() || !stored) {
            if (error) *error = "can't write [" + path + "]";
            return false;
        }
        if (written) written->push_back(file.file);
    }
    return true;
}

}  // namespace model_tools
