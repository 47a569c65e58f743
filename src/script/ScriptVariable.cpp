#include "script/ScriptVariable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/StringHelper.h"
#include "script/VariablesCore.h"

namespace {

// Deepest nesting a stored record may have; deeper data is refused rather
// than recursed into.
constexpr int kMaxDepth = 256;
// Smallest full node record: name length, type and child count.
constexpr std::int32_t kMinRecordBytes = 1 + 4 + 4;

const char* const kTypeNames[] = {"empty", "boolean", "string", "wstring", "number", "invalid", "array", "2d-array"};

std::string narrow(const std::u16string& text) { return toMultiByteString(text, 0); }
std::u16string widen(const std::string& text) { return toWideString(text, 0); }

// The framed error report; node may be null (its location is then "locales").
bool report(const ScriptVariable* node, const char* message) {
    std::string location;
    VariablesCore::locate(node, location);
    Log& log = engineLog();
    const std::string dashes(80, '-');
    log.error("\n\n\n%s", dashes.c_str());
    log.error("Reached error at variable [%s]", location.c_str());
    log.error("%s", message);
    log.error("%s\n\n\n", dashes.c_str());
    log.flush();
    return false;
}

bool reportf(const ScriptVariable* node, const char* format, ...) ENGINE_PRINTF(2, 3);
// report() of a printf message (a null format reports an empty one).
bool vreportf(const ScriptVariable* node, const char* format, va_list args) {
    char buffer[2048];
    buffer[0] = 0;
    if (format) std::vsnprintf(buffer, sizeof(buffer), format, args);
    return report(node, buffer);
}

bool reportf(const ScriptVariable* node, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const bool result = vreportf(node, format, args);
    va_end(args);
    return result;
}

// Splits a dotted path at its first ".": the component's length and the
// rest (null when there is none).
std::size_t firstComponent(const char* path, const char*& rest) {
    const char* dot = std::strchr(path, '.');
    rest = dot ? dot + 1 : nullptr;
    return dot ? static_cast<std::size_t>(dot - path) : std::strlen(path);
}

ScriptVariable* findChild(const ScriptVariable* node, const char* component, std::size_t length) {
    for (std::int32_t i = 0; i < node->childCount(); ++i) {
        ScriptVariable* c = node->child(i);
        if (std::strlen(c->name()) == length && std::memcmp(c->name(), component, length) == 0) return c;
    }
    return nullptr;
}

void appendPath(std::string& path, const char* name) {
    const std::size_t limit = ScriptVariable::kPathBufferSize - 1;
    if (!path.empty() && path.size() < limit) path += '.';
    const std::size_t room = limit > path.size() ? limit - path.size() : 0;
    path.append(name, std::min(room, std::strlen(name)));
}

}  // namespace

ScriptVariable::ScriptVariable(const char* name, std::int32_t type) : type_(type) { setName(name); }

ScriptVariable::~ScriptVariable() { releaseValues(); }

const char* ScriptVariable::typeName(std::int32_t type) {
    if (type < 0 || type > TypeArray2D) return kTypeNames[TypeInvalid];
    return kTypeNames[type];
}

void ScriptVariable::setName(const char* name) { copyString64(name, name_); }

void ScriptVariable::freeValue() {
    std::string().swap(text_);
    std::u16string().swap(wideText_);
}

void ScriptVariable::setBool(bool flag) {
    freeValue();
    type_ = TypeBoolean;
    flag_ = flag;
}

void ScriptVariable::setString(const char* text) {
    freeValue();
    type_ = TypeString;
    if (text) text_ = text;
}

void ScriptVariable::setWString(const char16_t* text) {
    freeValue();
    type_ = TypeWString;
    if (text) wideText_ = text;
}

void ScriptVariable::setWString(const std::u16string& text) {
    freeValue();
    type_ = TypeWString;
    // Stops at an embedded terminator, as the zero-terminated form does.
    wideText_ = text.c_str();
}

void ScriptVariable::setNumber(float value) {
    freeValue();
    type_ = TypeNumber;
    number_ = value;
}

bool ScriptVariable::toBool() const {
    switch (type_) {
        case TypeBoolean:
            return flag_;
        case TypeString:
        case TypeWString: {
            const std::string text = toString();
            return !(text[0] == '0' || text == "false");
        }
        case TypeNumber:
            return number_ != 0.0f;
        default:
            return false;
    }
}

float ScriptVariable::toFloat() const {
    switch (type_) {
        case TypeBoolean:
            return flag_ ? 1.0f : 0.0f;
        case TypeString:
        case TypeWString:
            return static_cast<float>(std::atof(toString().c_str()));
        case TypeNumber:
            return number_;
        default:
            return 0.0f;
    }
}

std::string ScriptVariable::toString() const {
    switch (type_) {
        case TypeEmpty:
            return {};
        case TypeBoolean:
            return flag_ ? "true" : "false";
        case TypeString:
            return text_;
        case TypeWString:
            return narrow(wideText_);
        case TypeNumber: {
            char buffer[128];
            std::snprintf(buffer, sizeof(buffer), "%f", static_cast<double>(number_));
            return buffer;
        }
        default:
            return typeName(type_);
    }
}

std::u16string ScriptVariable::toWString() const {
    if (type_ == TypeWString) return wideText_;
    return widen(toString());
}

ScriptVariable* ScriptVariable::child(std::int32_t index) const {
    if (index < 0 || index >= childCount()) return nullptr;
    return children_[static_cast<std::size_t>(index)].get();
}

bool ScriptVariable::childName(std::int32_t index, std::string& name) const {
    const ScriptVariable* c = child(index);
    if (!c) return false;
    name = c->name_;
    return true;
}

ScriptVariable* ScriptVariable::getChild(std::int32_t index) {
    if (!hasIndex(index)) {
        reportError("Cannot find variable by index [%i]", index);
        return nullptr;
    }
    return children_[static_cast<std::size_t>(index - 1)].get();
}

ScriptVariable* ScriptVariable::resolvePath(ScriptVariable* node, const char* path) {
    if (!node) {
        report(nullptr, "Requested variable object has NULL ptr");
        return nullptr;
    }
    if (!path) {
        report(node, "Then variable name pattern is NULL");
        return nullptr;
    }
    // One level: the first segment below this node, the rest below the
    // child it names. A failure reports at every level it passes, from the
    // deepest out, each with the path of its own level.
    const char* rest = nullptr;
    const std::size_t length = firstComponent(path, rest);
    ScriptVariable* child = findChild(node, path, length);
    ScriptVariable* found = child && rest ? resolvePath(child, rest) : child;
    if (!found) reportf(node, "Variable path [%s] is invalid", path);
    return found;
}

ScriptVariable* ScriptVariable::get(ScriptVariable* node, std::int32_t index, std::int32_t index2) {
    if (!node) return report(nullptr, "Request variable object at NULL ptr"), nullptr;
    ScriptVariable* first = node->getChild(index);
    if (!first) return node->reportError("Script variable child has NULL PTR"), nullptr;
    return first->getChild(index2);
}

ScriptVariable* ScriptVariable::get(ScriptVariable* node, const char* path, std::int32_t index) {
    if (!node) return report(nullptr, "Request variable object at NULL ptr"), nullptr;
    ScriptVariable* first = resolvePath(node, path);
    if (!first) return node->reportError("Script variable child has NULL PTR"), nullptr;
    return first->getChild(index);
}

ScriptVariable* ScriptVariable::get(ScriptVariable* node, const char* path, const char* path2) {
    if (!node) return report(nullptr, "Request variable object at NULL ptr"), nullptr;
    ScriptVariable* first = resolvePath(node, path);
    if (!first) return node->reportError("Script variable child has NULL PTR"), nullptr;
    return resolvePath(first, path2);
}

ScriptVariable* ScriptVariable::get(ScriptVariable* node, std::int32_t index, const char* path) {
    if (!node) return report(nullptr, "Request variable object at NULL ptr"), nullptr;
    ScriptVariable* first = node->getChild(index);
    if (!first) return node->reportError("Script variable child has NULL PTR"), nullptr;
    return resolvePath(first, path);
}

bool ScriptVariable::test(const ScriptVariable* node, const char* path) {
    if (!path) return report(node, "Requested TEST pattern has NULL ptr");
    if (!node) return report(nullptr, "Requested TEST variable object at NULL ptr");
    const ScriptVariable* current = node;
    const char* component = path;
    while (component) {
        const char* rest = nullptr;
        const std::size_t length = firstComponent(component, rest);
        current = findChild(current, component, length);
        if (!current) return false;
        component = rest;
    }
    return true;
}

bool ScriptVariable::test(const ScriptVariable* node, std::int32_t index, std::int32_t index2) {
    if (!node) return report(nullptr, "Request variable object test at NULL ptr");
    return node->hasIndex(index) && node->child(index - 1)->hasIndex(index2);
}

bool ScriptVariable::test(const ScriptVariable* node, const char* path, std::int32_t index) {
    if (!node) return report(nullptr, "Request variable object test at NULL ptr");
    if (!test(node, path)) return false;
    const ScriptVariable* first = const_cast<ScriptVariable*>(node)->resolvePath(path);
    return first && first->hasIndex(index);
}

bool ScriptVariable::test(const ScriptVariable* node, const char* path, const char* path2) {
    if (!node) return report(nullptr, "Request variable object test at NULL ptr");
    if (!test(node, path)) return false;
    const ScriptVariable* first = const_cast<ScriptVariable*>(node)->resolvePath(path);
    return first && test(first, path2);
}

bool ScriptVariable::test(const ScriptVariable* node, std::int32_t index, const char* path) {
    if (!node) return report(nullptr, "Request variable object test at NULL ptr");
    return node->hasIndex(index) && test(node->child(index - 1), path);
}

ScriptVariable* ScriptVariable::appendChild(const char* name, std::int32_t type) {
    children_.push_back(std::make_unique<ScriptVariable>(name, type));
    return children_.back().get();
}

void ScriptVariable::resizeChildren(std::int32_t count) {
    if (count < 0) count = 0;
    while (childCount() > count) children_.pop_back();
    while (childCount() < count) children_.push_back(std::make_unique<ScriptVariable>());
}

void ScriptVariable::takeChildren(ScriptVariable& source) {
    for (auto& c : source.children_) children_.push_back(std::move(c));
    source.children_.clear();
}

bool ScriptVariable::createPath(const char* path) {
    if (!path) return false;
    char work[kPathBufferSize];
    std::snprintf(work, sizeof(work), "%s", path);
    ScriptVariable* current = this;
    const char* component = work;
    while (component) {
        const char* rest = nullptr;
        std::size_t length = firstComponent(component, rest);
        if (length > kNameSize - 1) length = kNameSize - 1;
        ScriptVariable* next = findChild(current, component, length);
        if (!next) {
            char name[kNameSize] = {};
            std::memcpy(name, component, length);
            next = current->appendChild(name, TypeArray);
        }
        current = next;
        component = rest;
    }
    return true;
}

bool ScriptVariable::equals(const ScriptVariable& other) const {
    if (type_ != other.type_) return false;
    switch (type_) {
        case TypeBoolean:
            return flag_ == other.flag_;
        case TypeString:
            return text_ == other.text_;
        case TypeWString:
            return wideText_ == other.wideText_;
        case TypeNumber:
            return number_ == other.number_;
        default:
            return true;
    }
}

void ScriptVariable::copyFrom(const ScriptVariable& source) {
    const char* dot = std::strrchr(source.name_, '.');
    char name[kNameSize];
    copyString64(dot ? dot + 1 : source.name_, name);
    std::memcpy(name_, name, kNameSize);
    freeValue();
    type_ = source.type_;
    flag_ = source.flag_;
    number_ = source.number_;
    if (type_ == TypeString) text_ = source.text_;
    if (type_ == TypeWString) wideText_ = source.wideText_;
}

std::int32_t ScriptVariable::countNodes() const {
    std::int32_t count = 0;
    for (const auto& c : children_) count += 1 + c->countNodes();
    return count;
}

std::int32_t ScriptVariable::countChanged() const {
    std::int32_t count = changed() ? 1 : 0;
    for (const auto& c : children_) count += c->countChanged();
    return count;
}

void ScriptVariable::releaseValues() {
    freeValue();
    // Children release their own subtrees as they are destroyed.
    std::vector<std::unique_ptr<ScriptVariable>>().swap(children_);
}

bool ScriptVariable::reportError(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    const bool result = vreportf(this, format, args);
    va_end(args);
    return result;
}

std::weak_ptr<ScriptVariable*> ScriptVariable::lifeToken() {
    if (!life_) life_ = std::make_shared<ScriptVariable*>(this);
    return life_;
}

// ---- stored records ----
//
// Full node record: u8 name length (0..63), the name, u32 type, the value
// by type (1: u8; 2: u16 byte count and bytes; 3: u16 unit count and UTF-16
// units; 4: f32; others nothing), u32 child count, the children.
// Changed-value record: u32 path length, the dotted path, u32 type, value.

std::int32_t ScriptVariable::writeValue(DataStream& stream) const {
    switch (type_) {
        case TypeBoolean:
            return writeU8(stream, flag_ ? 1 : 0);
        case TypeString: {
            std::int32_t total = 0;
            const std::size_t n = std::min<std::size_t>(text_.size(), 0xFFFF);
            if (n < text_.size())
                engineLog().warning("Variable [%s]: text of %zu bytes stored as its first 65535", name_, text_.size());
            if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(n)))) return total;
            if (n && !addField(total, stream.write(text_.data(), static_cast<std::int32_t>(n)))) return total;
            return total;
        }
        case TypeWString: {
            std::int32_t total = 0;
            const std::size_t n = std::min<std::size_t>(wideText_.size(), 0xFFFF);
            if (n < wideText_.size())
                engineLog().warning("Variable [%s]: text of %zu characters stored as its first 65535", name_,
                                    wideText_.size());
            if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(n)))) return total;
            for (std::size_t i = 0; i < n; ++i)
                if (!addField(total, writeU16(stream, static_cast<std::uint16_t>(wideText_[i])))) return total;
            return total;
        }
        case TypeNumber:
            return writeF32(stream, number_);
        default:
            return 0;
    }
}

namespace {

// Writes the changed-value records of node's subtree; top contributes no
// path component and is never written itself.
std::int32_t writeChanged(const ScriptVariable& node, DataStream& stream, std::string& path, bool top) {
    std::int32_t total = 0;
    const std::size_t before = path.size();
    if (!top) appendPath(path, node.name());
    if (!top && node.changed()) {
        if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(path.size())))) return total;
        if (!path.empty() && !addField(total, stream.write(path.data(), static_cast<std::int32_t>(path.size()))))
            return total;
        if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(node.type())))) return total;
        if (!addField(total, node.writeValue(stream))) return total;
    }
    for (std::int32_t i = 0; i < node.childCount(); ++i)
        if (!addField(total, writeChanged(*node.child(i), stream, path, false))) return total;
    path.resize(before);
    return total;
}

std::int32_t writeFull(const ScriptVariable& node, DataStream& stream) {
    std::int32_t total = 0;
    const std::size_t nameLength = std::strlen(node.name());
    if (!addField(total, writeU8(stream, static_cast<std::uint8_t>(nameLength)))) return total;
    if (nameLength && !addField(total, stream.write(node.name(), static_cast<std::int32_t>(nameLength))))
        return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(node.type())))) return total;
    if (!addField(total, node.writeValue(stream))) return total;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(node.childCount())))) return total;
    for (std::int32_t i = 0; i < node.childCount(); ++i)
        if (!addField(total, writeFull(*node.child(i), stream))) return total;
    return total;
}

}  // namespace

std::int32_t ScriptVariable::write(DataStream& stream, bool changedOnly, std::string& path) const {
    if (!changedOnly) return writeFull(*this, stream);
    return writeChanged(*this, stream, path, true);
}

std::int32_t ScriptVariable::readValue(DataStream& stream) {
    std::int32_t total = 0;
    std::uint32_t type = 0;
    if (!addField(total, readU32(stream, type))) return total;
    const bool keep = changed();
    switch (type) {
        case TypeBoolean: {
            std::uint8_t flag = 0;
            if (!addField(total, readU8(stream, flag))) return total;
            if (!keep) setBool(flag != 0);
            return total;
        }
        case TypeString: {
            std::uint16_t n = 0;
            if (!addField(total, readU16(stream, n))) return total;
            std::string text(n, '\0');
            if (n && !addField(total, readExact(stream, text.data(), n))) return total;
            if (!keep) setString(text.c_str());
            return total;
        }
        case TypeWString: {
            std::uint16_t n = 0;
            if (!addField(total, readU16(stream, n))) return total;
            std::u16string text(n, u'\0');
            for (std::uint16_t i = 0; i < n; ++i) {
                std::uint16_t unit = 0;
                if (!addField(total, readU16(stream, unit))) return total;
                text[i] = static_cast<char16_t>(unit);
            }
            if (!keep) setWString(text);
            return total;
        }
        case TypeNumber: {
            float value = 0.0f;
            if (!addField(total, readF32(stream, value))) return total;
            if (!keep) setNumber(value);
            return total;
        }
        default:
            freeValue();
            type_ = static_cast<std::int32_t>(type);
            return total;
    }
}

namespace {

std::int32_t readFull(ScriptVariable& node, DataStream& stream, bool merge, int depth) {
    if (depth > kMaxDepth) return node.reportError("Variable [%s]: records nested deeper than %i", node.name(), kMaxDepth), -1;
    std::int32_t total = 0;
    std::uint8_t nameLength = 0;
    if (!addField(total, readU8(stream, nameLength))) return total;
    if (nameLength > ScriptVariable::kNameSize - 1)
        return node.reportError("Variable record name is %u bytes long: at most 63 allowed", nameLength), -1;
    char name[ScriptVariable::kNameSize] = {};
    if (nameLength && !addField(total, readExact(stream, name, nameLength))) return total;
    if (merge) {
        if (std::strcmp(name, node.name()) != 0) return node.reportError("Variables data structure has been changed"), -1;
    } else {
        node.setType(ScriptVariable::TypeInvalid);
        node.setName(name);
    }
    if (!addField(total, node.readValue(stream))) return total;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream) / kMinRecordBytes))
        return node.reportError("Variable [%s] declares %u children: more than the data holds", node.name(), count), -1;
    if (merge) {
        if (count != static_cast<std::uint32_t>(node.childCount()))
            return node.reportError("Variable [%s] change elements count, exit, than run again", node.name()), -1;
    } else {
        node.resizeChildren(static_cast<std::int32_t>(count));
    }
    for (std::uint32_t i = 0; i < count; ++i)
        if (!addField(total, readFull(*node.child(static_cast<std::int32_t>(i)), stream, merge, depth + 1))) return total;
    return total;
}

}  // namespace

std::int32_t ScriptVariable::read(DataStream& stream, bool merge) { return readFull(*this, stream, merge, 0); }
