#include "shaderpack/ShaderPacker.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <cstdio>
#include <sstream>

#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "render/shaders/Container.h"
#include "render/shaders/MultyShader.h"
#include "render/shaders/ShaderProgramTable.h"

using platform::d3d9::ShaderBody;
using platform::d3d9::ShaderConstant;

namespace {

using Macros = std::map<std::string, std::string>;

// Integer expressions of the conditional directives.
class Expression {
public:
    Expression(const std::string& text, const Macros& macros, int depth = 0)
        : text_(text), macros_(macros), depth_(depth) {}

    bool evaluate(long& value, std::string& error) {
        value = orExpression();
        skipSpace();
        if (!error_.empty() || pos_ != text_.size()) {
            error = error_.empty() ? "unexpected [" + text_.substr(pos_) + "] in #if" : error_;
            return false;
        }
        return true;
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool take(const char* op) {
        skipSpace();
        const std::size_t n = std::char_traits<char>::length(op);
        if (text_.compare(pos_, n, op) != 0) return false;
        // "<" must not take the first half of "<=", "&" of "&&" and so on.
        if (n == 1 && pos_ + 1 < text_.size() && std::string("=&|").find(text_[pos_ + 1]) != std::string::npos &&
            std::string("<>=!&|").find(op[0]) != std::string::npos)
            return false;
        pos_ += n;
        return true;
    }
    std::string identifier() {
        skipSpace();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }
    long orExpression() {
        long v = andExpression();
        while (take("||")) v = (andExpression() != 0) || v != 0;
        return v;
    }
    long andExpression() {
        long v = comparison();
        while (take("&&")) v = (comparison() != 0) && v != 0;
        return v;
    }
    long comparison() {
        long v = sum();
        for (;;) {
            if (take("==")) v = v == sum();
            else if (take("!=")) v = v != sum();
            else if (take("<=")) v = v <= sum();
            else if (take(">=")) v = v >= sum();
            else if (take("<")) v = v < sum();
            else if (take(">")) v = v > sum();
            else return v;
        }
    }
    long sum() {
        long v = product();
        for (;;) {
            if (take("+")) v += product();
            else if (take("-")) v -= product();
            else return v;
        }
    }
    long product() {
        long v = unary();
        for (;;) {
            if (take("*")) {
                v *= unary();
            } else if (take("/")) {
                const long d = unary();
                if (d == 0) {
                    error_ = "division by zero in #if";
                    return 0;
                }
                v /= d;
            } else {
                return v;
            }
        }
    }
    long unary() {
        if (take("!")) return !unary();
        if (take("-")) return -unary();
        if (take("(")) {
            const long v = orExpression();
            if (!take(")")) error_ = "missing ) in #if";
            return v;
        }
        skipSpace();
        if (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
            std::size_t used = 0;
            const long v = std::stol(text_.substr(pos_), &used, 0);
            pos_ += used;
            return v;
        }
        const std::string name = identifier();
        if (name.empty()) {
            error_ = "expected a value in #if";
            return 0;
        }
        if (name == "defined") {
            const bool parenthesis = take("(");
            const std::string what = identifier();
            if (parenthesis && !take(")")) error_ = "missing ) after defined";
            return macros_.count(what) ? 1 : 0;
        }
        const auto found = macros_.find(name);
        if (found == macros_.end() || found->second.empty()) return 0;
        if (depth_ > 16) {
            error_ = "macro [" + name + "] expands too deep";
            return 0;
        }
        long v = 0;
        std::string inner;
        Expression nested(found->second, macros_, depth_ + 1);
        if (!nested.evaluate(v, inner)) error_ = inner;
        return v;
    }

    std::string text_;
    const Macros& macros_;
    int depth_;
    std::size_t pos_ = 0;
    std::string error_;
};

std::string trim(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

// The text without its comment; the comment itself into comment.
std::string splitComment(const std::string& line, std::string& comment) {
    const std::size_t at = line.find("//");
    comment = at == std::string::npos ? std::string() : line.substr(at + 2);
    return at == std::string::npos ? line : line.substr(0, at);
}

struct TypeInfo {
    std::uint8_t parameterClass, rows, columns, registersPerElement;
};

bool typeInfo(const std::string& type, TypeInfo& info) {
    if (type == "float") info = {0, 1, 1, 1};
    else if (type == "float2") info = {1, 1, 2, 1};
    else if (type == "float3") info = {1, 1, 3, 1};
    else if (type == "float4") info = {1, 1, 4, 1};
    else if (type == "float4x4") info = {3, 4, 4, 4};  // one column a register
    else return false;
    return true;
}

// One line of a #define that carries a constant.
bool defineConstant(const std::string& name, const std::string& expression, const std::string& annotation,
                    bool vertex, ShaderConstant& constant, std::string& why) {
    // TYPE, an optional [COUNT], a colon and cN.
    char type[32] = {};
    int elements = 1, reg = -1, used = 0;
    const char* text = annotation.c_str();
    bool parsed = std::sscanf(text, " %31[A-Za-z0-9_] %n", type, &used) == 1;
    text += parsed ? used : 0;
    if (parsed && *text == '[') {
        used = 0;
        parsed = std::sscanf(text, "[ %d ] %n", &elements, &used) == 1 && used > 0;
        text += used;
    }
    used = 0;
    parsed = parsed && std::sscanf(text, ": c%d %n", &reg, &used) == 1 && text[used] == 0;
    if (!parsed) {
        why = "constant [" + name + "]: the comment must read TYPE : cN or TYPE[COUNT] : cN";
        return false;
    }
    TypeInfo info{};
    if (!typeInfo(type, info)) {
        why = "constant [" + name + "]: unknown type [" + std::string(type) + "]";
        return false;
    }
    const std::string bank = vertex ? "vc[" : "pc[";
    const std::size_t at = expression.find(bank);
    if (at == std::string::npos || std::stoi(expression.substr(at + 3)) != reg) {
        why = "constant [" + name + "]: the expression does not start at " + bank + std::to_string(reg) + "]";
        return false;
    }
    if (elements < 1 || elements > 300) {
        why = "constant [" + name + "]: " + std::to_string(elements) + " elements";
        return false;
    }
    constant.name = name;
    constant.registerSet = 2;  // float4 registers
    constant.registerIndex = std::uint16_t(reg);
    constant.registerCount = std::uint16_t(info.registersPerElement * elements);
    constant.parameterClass = info.parameterClass;
    constant.parameterType = 3;  // float
    constant.rows = info.rows;
    constant.columns = info.columns;
    constant.elements = std::uint16_t(elements);
    return true;
}

bool samplerConstant(const std::string& line, ShaderConstant& constant, bool& isSampler, std::string& why) {
    isSampler = line.find("uniform") != std::string::npos && line.find("sampler") != std::string::npos;
    if (!isSampler) return true;
    int binding = -1, used = 0;
    char type[32] = {}, name[128] = {};
    if (std::sscanf(line.c_str(), " layout ( binding = %d ) uniform %31s %127[A-Za-z0-9_] ; %n", &binding, type, name,
                    &used) != 3 ||
        used == 0 || line[std::size_t(used)] != 0 ||
        (std::string(type) != "sampler2D" && std::string(type) != "samplerCube")) {
        why = "a sampler must read layout(binding = N) uniform sampler2D|samplerCube NAME;";
        return false;
    }
    constant.name = name;
    constant.registerSet = 3;  // sampler: the register is the texture stage
    constant.registerIndex = std::uint16_t(binding);
    constant.registerCount = 1;
    constant.parameterClass = 4;                                   // object
    constant.parameterType = std::string(type) == "sampler2D" ? 12 : 14;  // sampler 2D, cube
    constant.rows = constant.columns = 1;
    constant.elements = 1;
    if (constant.registerIndex < 16) return true;
    why = "sampler [" + constant.name + "] past stage 15";
    return false;
}

// A source split once into what the constant collection reads: its
// directives and its sampler lines, with their line numbers.
struct SourceLine {
    int number;
    bool directive;
    std::string word, rest;  // directive: the word after '#' and the rest of the text
    std::string code;        // sampler line: the text without its comment
    std::string comment;
};

std::vector<SourceLine> splitSource(const std::string& text) {
    std::vector<SourceLine> result;
    std::istringstream lines(text);
    std::string raw, line;
    int number = 0, lineStart = 0;
    while (std::getline(lines, raw)) {
        ++number;
        if (line.empty()) lineStart = number;
        if (!raw.empty() && raw.back() == '\\') {
            line += raw.substr(0, raw.size() - 1) + " ";
            continue;
        }
        line += raw;
        SourceLine entry;
        entry.number = lineStart;
        const std::string code = trim(splitComment(line, entry.comment));
        line.clear();
        if (code.empty()) continue;
        entry.directive = code[0] == '#';
        if (entry.directive) {
            std::istringstream directive(code.substr(1));
            directive >> entry.word;
            std::getline(directive, entry.rest);
            entry.rest = trim(entry.rest);
        } else if (code.find("uniform") != std::string::npos && code.find("sampler") != std::string::npos) {
            entry.code = code;
        } else {
            continue;
        }
        result.push_back(std::move(entry));
    }
    // The end of the text, for an unclosed conditional.
    SourceLine last;
    last.number = number;
    last.directive = true;
    last.word = "#end";
    result.push_back(std::move(last));
    return result;
}

bool collectConstants(const std::string& fileName, const std::vector<SourceLine>& source,
                      const std::vector<std::pair<std::string, std::string>>& defines, bool vertex,
                      std::vector<ShaderConstant>& constants, std::string& error) {
    constants.clear();
    Macros macros(defines.begin(), defines.end());
    // Per open conditional: whether this branch is on, whether one branch
    // was taken, and whether the enclosing text is on.
    struct Level {
        bool on, taken, outer;
    };
    std::vector<Level> levels;
    auto active = [&] { return levels.empty() || levels.back().on; };
    int lineStart = 0;
    auto fail = [&](const std::string& why) {
        error = fileName + ":" + std::to_string(lineStart) + ": " + why;
        return false;
    };
    for (const SourceLine& entry : source) {
        lineStart = entry.number;
        const std::string& word = entry.word;
        const std::string& rest = entry.rest;
        if (entry.directive) {
            if (word == "#end") {
                break;
            } else if (word == "if" || word == "ifdef" || word == "ifndef") {
                bool value = false;
                if (active()) {
                    long v = 0;
                    std::string why;
                    if (word == "if" && !Expression(rest, macros).evaluate(v, why)) return fail(why);
                    value = word == "if" ? v != 0 : (macros.count(rest) != 0) == (word == "ifdef");
                }
                levels.push_back({active() && value, value, active()});
            } else if (word == "elif") {
                if (levels.empty()) return fail("#elif without #if");
                Level& level = levels.back();
                long v = 0;
                std::string why;
                if (level.outer && !level.taken && !Expression(rest, macros).evaluate(v, why)) return fail(why);
                level.on = level.outer && !level.taken && v != 0;
                level.taken = level.taken || level.on;
            } else if (word == "else") {
                if (levels.empty()) return fail("#else without #if");
                Level& level = levels.back();
                level.on = level.outer && !level.taken;
                level.taken = true;
            } else if (word == "endif") {
                if (levels.empty()) return fail("#endif without #if");
                levels.pop_back();
            } else if (!active()) {
                continue;
            } else if (word == "define") {
                std::size_t end = 0;
                while (end < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[end])) || rest[end] == '_'))
                    ++end;
                if (end == 0) return fail("a #define without a name");
                const std::string name = rest.substr(0, end);
                const bool function = end < rest.size() && rest[end] == '(';
                if (function) end = rest.find(')', end) == std::string::npos ? rest.size() : rest.find(')', end) + 1;
                const std::string expression = trim(rest.substr(end));
                macros[name] = function ? std::string() : expression;
                if (expression.find("vc[") != std::string::npos || expression.find("pc[") != std::string::npos) {
                    ShaderConstant constant;
                    std::string why;
                    if (!defineConstant(name, expression, entry.comment, vertex, constant, why)) return fail(why);
                    constants.push_back(constant);
                }
            } else if (word == "undef") {
                macros.erase(rest);
            }
            continue;
        }
        if (!active()) continue;
        ShaderConstant sampler;
        bool isSampler = false;
        std::string why;
        if (!samplerConstant(entry.code, sampler, isSampler, why)) return fail(why);
        if (isSampler) constants.push_back(sampler);
    }
    if (!levels.empty()) return fail("#if without #endif");
    // Names are unique; float registers do not overlap.
    for (std::size_t i = 0; i < constants.size(); ++i)
        for (std::size_t j = i + 1; j < constants.size(); ++j) {
            const ShaderConstant& a = constants[i];
            const ShaderConstant& b = constants[j];
            if (a.name == b.name) return fail("constant [" + a.name + "] declared twice");
            if (a.registerSet == b.registerSet && a.registerIndex < b.registerIndex + b.registerCount &&
                b.registerIndex < a.registerIndex + a.registerCount)
                return fail("constants [" + a.name + "] and [" + b.name + "] share registers");
        }
    return true;
}

}  // namespace

bool collectShaderConstants(const std::string& fileName, const std::string& text,
                            const std::vector<std::pair<std::string, std::string>>& defines, bool vertex,
                            std::vector<ShaderConstant>& constants, std::string& error) {
    return collectConstants(fileName, splitSource(text), defines, vertex, constants, error);
}

namespace {

// The carried sources, split once.
struct SplitSources {
    const std::vector<SourceLine>* find(std::int32_t id) {
        auto found = lines.find(id);
        if (found != lines.end()) return &found->second;
        for (const ShaderSourceText& text : shaderSourceTexts())
            if (text.id == id) {
                names[id] = text.fileName;
                return &(lines[id] = splitSource(text.text));
            }
        return nullptr;
    }
    std::map<std::int32_t, std::vector<SourceLine>> lines;
    std::map<std::int32_t, std::string> names;
};

// One body: the global defines, the program's own, then the define named
// after its entry point; the constants its source declares under them.
bool addBody(std::vector<PackedShader>& shaders, SplitSources& sources, const ShaderDefineList& globals, const char* name,
             std::int32_t sourceId, bool pixel, const char* profile, const char* entryPoint,
             const ShaderDefineList* own, std::string& error) {
    const std::vector<SourceLine>* source = sources.find(sourceId);
    if (!source) {
        error = std::string("program [") + name + "]: no source " + std::to_string(sourceId);
        return false;
    }
    PackedShader shader;
    shader.body.kind = pixel ? 1 : 0;
    shader.body.profile = profile;
    shader.body.entryPoint = entryPoint;
    shader.body.sourceId = sourceId;
    shader.body.defines = globals.defines();
    if (own) shader.body.defines.insert(shader.body.defines.end(), own->defines().begin(), own->defines().end());
    shader.body.defines.emplace_back(entryPoint, "");
    if (!collectConstants(sources.names[sourceId], *source, shader.body.defines, !pixel, shader.body.constants,
                          error)) {
        error = std::string("program [") + name + "]: " + error;
        return false;
    }
    shader.key = ShaderProgramTable::fullName(profile, name);
    shaders.push_back(std::move(shader));
    return true;
}

}  // namespace

bool forEachFamilyPermutation(const std::function<bool(MultyShader&, bool pixel, const char* name)>& visit) {
    MultyShaderDynamic20 dynamic;
    MultyShaderWater20 water;
    MultyShaderWaterNorm20 waterNorm;
    MultyShaderParticle20 particle;
    MultyShaderVertexDebug vertexDebug;
    char name[256];
    for (MultyShader* family : std::initializer_list<MultyShader*>{&dynamic, &water, &waterNorm, &particle,
                                                                   &vertexDebug}) {
        for (bool more = family->nextVertex(true); more; more = family->nextVertex(false)) {
            family->vertexName(name);
            if (!visit(*family, false, name)) return false;
        }
        for (bool more = family->nextPixel(true); more; more = family->nextPixel(false)) {
            family->pixelName(name);
            if (!visit(*family, true, name)) return false;
        }
    }
    return true;
}

bool buildShaderBodies(std::vector<PackedShader>& shaders, std::string& error) {
    shaders.clear();
    ShaderDefineList globals;
    setGlobalShaderDefines(globals, GlobalShaderDefines{});
    SplitSources sources;
    // The standalone rows the two load passes read; the family rows above
    // them are named by their families.
    for (const ShaderProgramRow& row : ShaderProgramTable::vertexRows())
        if (row.index < kStandaloneVertexPrograms &&
            !addBody(shaders, sources, globals, row.name, row.sourceId, false, kVertexProfiles[0], row.name, nullptr, error))
            return false;
    for (const ShaderProgramRow& row : ShaderProgramTable::pixelRows())
        if (row.index < kStandalonePixelPrograms &&
            !addBody(shaders, sources, globals, row.name, row.sourceId, true, kPixelProfiles[row.profile], row.name, nullptr,
                     error))
            return false;
    // Every permutation the shader core's family walks load, with the
    // profiles of the load passes (both index 0).
    ShaderDefineList own;
    const bool walked = forEachFamilyPermutation([&](MultyShader& family, bool pixel, const char* name) {
        own.clear();
        family.appendDefines(own);
        return addBody(shaders, sources, globals, name, family.sourceId, pixel, pixel ? kPixelProfiles[0] : kVertexProfiles[0],
                       pixel ? "PS_MultyShader" : "VS_MultyShader", &own, error);
    });
    if (!walked) return false;
    std::sort(shaders.begin(), shaders.end(),
              [](const PackedShader& a, const PackedShader& b) { return a.key < b.key; });
    return true;
}

bool writeShaderPackage(const std::string& path, const std::vector<PackedShader>& shaders, std::string& error) {
    std::vector<const PackedShader*> sorted;
    for (const PackedShader& shader : shaders) sorted.push_back(&shader);
    // Unsigned byte order, as the lookup's binary search expects.
    std::sort(sorted.begin(), sorted.end(),
              [](const PackedShader* a, const PackedShader* b) { return a->key < b->key; });
    Container container("shader package", 0);
    container.reserveEntries(std::int32_t(sorted.size()));
    for (const PackedShader* shader : sorted) {
        const std::vector<std::uint8_t> bytes = platform::d3d9::writeShaderBody(shader->body);
        if (!container.append(shader->key, bytes.data(), std::int32_t(bytes.size()))) {
            error = "entry [" + shader->key + "] is empty, too long or not unique";
            return false;
        }
    }
    MemoryStream content(true);
    // A raw record: the game maps the file and reads the bodies where they
    // lie, where a packed one would be unpacked into memory first.
    if (container.write(content) < 0 || !writePackedFile(path, content, 9, false)) {
        error = "can't write [" + path + "]";
        return false;
    }
    return true;
}

bool packAllShaders(const std::string& path, std::string& error) {
    std::vector<PackedShader> shaders;
    return buildShaderBodies(shaders, error) && writeShaderPackage(path, shaders, error);
}
