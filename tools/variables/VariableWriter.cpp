#include "variables/VariableWriter.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/StringHelper.h"
#include "script/ScriptVariable.h"

namespace variable_tools {
namespace {

// UTF-8 to UTF-16; a malformed byte becomes U+FFFD.
std::u16string fromUtf8(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint32_t code = 0xFFFD;
        std::size_t length = 1;
        if (c < 0x80) {
            code = c;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
        }
        if (length > 1) {
            if (i + length > text.size()) {
                length = 1;
            } else {
                code = c & (0x7F >> length);
                for (std::size_t k = 1; k < length; ++k) {
                    const unsigned char n = static_cast<unsigned char>(text[i + k]);
                    if ((n & 0xC0) != 0x80) {
                        code = 0xFFFD;
                        length = 1;
                        break;
                    }
                    code = (code << 6) | (n & 0x3F);
                }
            }
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

int typeCode(const std::string& name) {
    for (int t = ScriptVariable::TypeEmpty; t <= ScriptVariable::TypeArray2D; ++t)
        if (name == ScriptVariable::typeName(t) && t != ScriptVariable::TypeInvalid) return t;
    return -1;
}

}  // namespace

bool parseVariableText(const std::string& text, ScriptVariable& root, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        const std::size_t pathEnd = line.find_first_of(" \t", start);
        const std::string path = line.substr(start, pathEnd == std::string::npos ? std::string::npos : pathEnd - start);
        std::string typeName, value;
        if (pathEnd != std::string::npos) {
            const std::size_t typeStart = line.find_first_not_of(" \t", pathEnd);
            if (typeStart != std::string::npos) {
                const std::size_t typeEnd = line.find_first_of(" \t", typeStart);
                typeName = line.substr(typeStart, typeEnd == std::string::npos ? std::string::npos : typeEnd - typeStart);
                if (typeEnd != std::string::npos) value = line.substr(typeEnd + 1);
            }
        }
        const int type = typeCode(typeName);
        if (type < 0) {
            error = "line " + std::to_string(number) + ": unknown type [" + typeName + "]";
            return false;
        }
        for (std::size_t from = 0;;) {
            const std::size_t dot = path.find('.', from);
            const std::size_t length = (dot == std::string::npos ? path.size() : dot) - from;
            if (length == 0 || length > ScriptVariable::kNameSize - 1) {
                error = "line " + std::to_string(number) + ": bad path [" + path + "]";
                return false;
            }
            if (dot == std::string::npos) break;
            from = dot + 1;
        }
        if (path.size() > ScriptVariable::kPathBufferSize - 1 || !root.createPath(path.c_str())) {
            error = "line " + std::to_string(number) + ": bad path [" + path + "]";
            return false;
        }
        ScriptVariable* node = root.resolvePath(path.c_str());
        switch (type) {
            case ScriptVariable::TypeBoolean:
                node->setBool(value == "true" || value == "1" || value == "yes");
                break;
            case ScriptVariable::TypeString:
                node->setString(toMultiByteString(fromUtf8(value)).c_str());
                break;
            case ScriptVariable::TypeWString:
                node->setWString(fromUtf8(value));
                break;
            case ScriptVariable::TypeNumber: {
                char* end = nullptr;
                const float parsed = std::strtof(value.c_str(), &end);
                if (value.empty() || (end && *end && *end != ' ')) {
                    error = "line " + std::to_string(number) + ": bad number [" + value + "]";
                    return false;
                }
                node->setNumber(parsed);
                break;
            }
            default:
                node->freeValue();
                node->setType(type);
                break;
        }
    }
    return true;
}

int writeVariableTree(const ScriptVariable& root, DataStream& out) { return root.write(out); }

int writeVariableResource(const std::string& attachPath, const ScriptVariable& tree, DataStream& out) {
    if (attachPath.size() > ScriptVariable::kPathBufferSize - 1) return -1;
    std::int32_t total = 0;
    if (!addField(total, writeU16(out, static_cast<std::uint16_t>(attachPath.size())))) return total;
    if (!attachPath.empty() &&
        !addField(total, out.write(attachPath.data(), static_cast<std::int32_t>(attachPath.size()))))
        return total;
    addField(total, tree.write(out));
    return total;
}

bool saveStream(DataStream& stream, const std::string& path) {
    const std::int32_t size = stream.size();
    std::vector<char> bytes(static_cast<std::size_t>(size));
    if (size > 0 && stream.readAt(0, bytes.data(), size) != size) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

}  // namespace variable_tools
