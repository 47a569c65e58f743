#include "script/VariablesCore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"

namespace {

constexpr std::uint32_t kMaxPath = ScriptVariable::kPathBufferSize - 1;
// Smallest changed-value record: path length and type.
constexpr std::int32_t kMinChangedRecordBytes = 8;

std::int32_t gTempVarsCount = 10;

// Appends "." and name, keeping the text within 1,023 characters.
void appendLocation(std::string& text, const char* name) {
    if (text.size() < kMaxPath) text += '.';
    const std::size_t room = kMaxPath > text.size() ? kMaxPath - text.size() : 0;
    text.append(name, std::min(room, std::strlen(name)));
}

bool search(const ScriptVariable* node, const ScriptVariable* sought, std::string& text) {
    const std::size_t before = text.size();
    appendLocation(text, node->name());
    if (node == sought) return true;
    for (std::int32_t i = 0; i < node->childCount(); ++i)
        if (search(node->child(i), sought, text)) return true;
    text.resize(before);
    return false;
}

}  // namespace

std::int32_t scriptTempVarsCount() { return gTempVarsCount; }

void setScriptTempVarsCount(std::int32_t count) { gTempVarsCount = std::clamp(count, 0, kMaxTempVars); }

void readScriptSettings(IniFile& settings) {
    const IniVariable& key = settings.getCategory("script").getVariable("temp_vars_count", true);
    if (key.value().empty()) {
        setScriptTempVarsCount(10);
        return;
    }
    // The leading integer; a huge one saturates before the clamp.
    const long long value = std::strtoll(key.value().c_str(), nullptr, 10);
    setScriptTempVarsCount(static_cast<std::int32_t>(std::clamp<long long>(value, 0, kMaxTempVars)));
}

// ---- ScriptVariableTemplate ----

ScriptVariableTemplate::~ScriptVariableTemplate() = default;

ScriptVariable* ScriptVariableTemplate::ensureRoot() {
    if (!root_) root_ = std::make_unique<ScriptVariable>("root");
    return root_.get();
}

bool ScriptVariableTemplate::attach(ScriptVariable& root, const char* path, ScriptVariable& source, bool update) {
    if (!ScriptVariable::test(&root, path)) {
        root.createPath(path);
    } else if (!update) {
        return source.reportError("Try to twice attach existing element [%s]", source.name());
    }
    ScriptVariable* node = ScriptVariable::resolvePath(&root, path);
    if (!node) return root.reportError("Can't find node [%s]", path);
    if (!update) {
        node->copyFrom(source);
        node->takeChildren(source);
        return true;
    }
    if (!node->changed() && !node->equals(source)) {
        engineLog().info("Update variable value [%s]", source.name());
        node->copyFrom(source);
    }
    for (std::int32_t i = 0; i < source.childCount(); ++i) {
        ScriptVariable* c = source.child(i);
        if (!attach(*node, c->name(), *c, true)) {
            char path[2048];
            std::snprintf(path, sizeof(path), "%s.%s", source.name(), c->name());
            return engineLog().error("Fail map variable [%s]", path);
        }
    }
    return true;
}

std::int32_t ScriptVariableTemplate::readResource(DataStream& stream, const char* name, std::int32_t update) {
    if (!name) name = "";
    std::int32_t total = 0;
    std::uint16_t pathLength = 0;
    if (!addField(total, readU16(stream, pathLength))) return total;
    if (pathLength > kMaxPath) {
        engineLog().error("Can't read script variables data from variable resource [%s]", name);
        return -1;
    }
    std::string path(pathLength, '\0');
    if (pathLength && !addField(total, readExact(stream, path.data(), pathLength))) return total;
    path.resize(std::strlen(path.c_str()));
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    auto node = std::make_unique<ScriptVariable>();
    const std::int32_t body = node->read(stream, false);
    if (body < 0) {
        engineLog().error("Can't read script variables data from variable resource [%s]", name);
        return body;
    }
    total += body;
    ScriptVariable* root = ensureRoot();
    if (!attach(*root, path.c_str(), *node, update != 0)) {
        engineLog().error("Fail, while attach variable [%s] data", node->name());
        return -1;
    }
    return total;
}

std::int32_t ScriptVariableTemplate::readSingleFile(DataStream& stream, const char* name, std::int32_t flag) {
    if (flag) return -1;
    ScriptVariable* root = ensureRoot();
    root->releaseValues();
    const std::int32_t result = root->read(stream, false);
    if (result < 0) engineLog().error("Can't read single-file variables [%s] data", name ? name : "");
    return result;
}

std::int32_t ScriptVariableTemplate::writeSingleFile(DataStream& stream, const char* name) {
    if (!root_) {
        engineLog().error("Can't write single data package to %s: Create first", name ? name : "");
        return -1;
    }
    // Only a memory stream is grown ahead; reserving in a file stream would
    // write zeros in front of the record.
    if (auto* memory = dynamic_cast<MemoryStream*>(&stream)) memory->reserve(64 * root_->countNodes());
    return root_->write(stream);
}

std::int32_t ScriptVariableTemplate::saveState(DataStream& stream) {
    if (!root_) {
        engineLog().error("[%s] data not created", title());
        return -1;
    }
    // The root has no path and is never written, so it is not counted.
    std::int32_t count = root_->countChanged();
    if (root_->changed()) {
        --count;
        engineLog().warning("[%s] value assigned to the tree's root [%s] is not saved: only its descendants are",
                            title(), root_->name());
    }
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(count)))) return total;
    std::string path;
    addField(total, root_->write(stream, true, path));
    return total;
}

std::int32_t ScriptVariableTemplate::loadState(DataStream& stream, bool apply) {
    if (!root_) {
        engineLog().error("[%s] data not created", title());
        return -1;
    }
    std::int32_t total = 0;
    std::uint32_t count = 0;
    if (!addField(total, readU32(stream, count))) return total;
    if (count > static_cast<std::uint32_t>(bytesLeft(stream) / kMinChangedRecordBytes)) {
        engineLog().error("[%s] saved variables: %u records are more than the data holds", title(), count);
        return -1;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t length = 0;
        if (!addField(total, readU32(stream, length))) return total;
        if (length > kMaxPath) {
            engineLog().error("[%s] saved variable path of %u bytes: at most %u allowed", title(), length, kMaxPath);
            return -1;
        }
        std::string path(length, '\0');
        if (length && !addField(total, readExact(stream, path.data(), static_cast<std::int32_t>(length))))
            return total;
        path.resize(std::strlen(path.c_str()));
        if (!apply) {
            ScriptVariable scratch;
            if (!addField(total, scratch.readValue(stream))) return total;
        } else if (ScriptVariable::test(root_.get(), path.c_str())) {
            ScriptVariable* node = ScriptVariable::resolvePath(root_.get(), path.c_str());
            if (!node) {
                engineLog().error("Can't find saved variable [%s]. Data format is changed until last save",
                                  path.c_str());
                return -1;
            }
            node->setChanged(false);
            if (!addField(total, node->readValue(stream))) return total;
            node->setChanged(true);
        } else {
            engineLog().warning("Variable format changed: Ignoring deleted variable [%s]", path.c_str());
            ScriptVariable scratch;
            if (!addField(total, scratch.readValue(stream))) return total;
        }
    }
    return total;
}

// ---- VariablesCore ----

VariablesCore::VariablesCore()
    : globals_(std::make_unique<ScriptGlobals>()), locales_(std::make_unique<ScriptLocales>()) {}

VariablesCore::~VariablesCore() = default;

bool VariablesCore::initialize() {
    const bool globals = globals_->initFromPackages(0);
    const bool locales = locales_->initFromPackages(0);
    return globals && locales;
}

std::int32_t VariablesCore::write(DataStream& stream) { return globals_->saveState(stream); }

std::int32_t VariablesCore::read(DataStream& stream) { return globals_->loadState(stream); }

void VariablesCore::makeScratchTrees(std::int32_t count) {
    count = std::clamp(count, 0, kMaxTempVars);
    scratch_.clear();
    scratch_.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 1; i <= count; ++i) {
        char name[ScriptVariable::kNameSize];
        std::snprintf(name, sizeof(name), "locales_temp%i", i);
        scratch_.push_back(std::make_unique<ScriptVariable>(name));
    }
}

bool VariablesCore::locate(const ScriptVariable* node, std::string& location) {
    VariablesCore* core = gameCore.variables;
    if (node && core) {
        location = "globals";
        if (core->globals_->root() && search(core->globals_->root(), node, location)) return true;
        location = "locales";
        if (core->locales_->root() && search(core->locales_->root(), node, location)) return true;
    }
    location = "locales";
    return false;
}
