// The XML dump of a variable subtree, the exchange of leaf values with
// tools.ini and the still frames built from a node's "sf" child.
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/Log.h"
#include "foundation/XmlWriter.h"
#include "platform/FileSystem.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"

namespace {

constexpr const char* kDumpStyleSheet = "R:\\.doc\\xsl\\vardump.xsl";

StillFrameBuilders gStillFrames;

// The node's table of still frames, logged when it is missing.
ScriptVariable* stillFrameTree(ScriptVariable& node) {
    ScriptVariable* sf = node.test("sf") ? node.resolvePath("sf") : nullptr;
    if (!sf) engineLog().error("Can't find variable child [sf]");
    return sf;
}

void addElement(XmlTag& parent, const ScriptVariable& node) {
    XmlTag& tag = parent.addChild("var");
    for (std::int32_t i = 0; i < node.childCount(); ++i) addElement(tag, *node.child(i));
    if (node.type() != ScriptVariable::TypeEmpty) tag.addChildValue("value", "%s", node.toString().c_str());
    tag.setAttribute("id", "%s", node.name());
    tag.setAttribute("type", "%s", ScriptVariable::typeName(node.type()));
}

// "%s%s%s": prefix, "." when the prefix is not empty, name.
std::string leafKey(const std::string& prefix, const char* name) {
    return prefix.empty() ? std::string(name) : prefix + "." + name;
}

void exportLeaves(const ScriptVariable& node, const std::string& prefix, IniCategory& section) {
    const std::string key = leafKey(prefix, node.name());
    if (node.childCount() == 0) {
        section.getVariable(key).setString(node.toString().c_str());
        return;
    }
    for (std::int32_t i = 0; i < node.childCount(); ++i) exportLeaves(*node.child(i), key, section);
}

void importLeaves(ScriptVariable& node, const std::string& prefix, IniCategory& section) {
    const std::string key = leafKey(prefix, node.name());
    if (node.childCount() > 0) {
        for (std::int32_t i = 0; i < node.childCount(); ++i) importLeaves(*node.child(i), key, section);
        return;
    }
    IniVariable& variable = section.getVariable(key, true);
    // A value the script loads is a change of the game like any other.
    const std::int32_t type = node.type();
    if (type == ScriptVariable::TypeBoolean || type == ScriptVariable::TypeString || type == ScriptVariable::TypeNumber)
        node.setChanged(true);
    switch (type) {
        case ScriptVariable::TypeBoolean: {
            bool flag = node.toBool();
            variable.getBool(flag, flag);
            node.setBool(flag);
            break;
        }
        case ScriptVariable::TypeString: {
            const std::string current = node.toString();
            std::string text;
            variable.getString(text, current.c_str());
            node.setString(text.c_str());
            break;
        }
        case ScriptVariable::TypeNumber: {
            float value = node.toFloat();
            variable.getFloat(value, value);
            node.setNumber(value);
            break;
        }
        default:
            break;
    }
}

const char* toolsIniPath() { return gameCore.paths ? gameCore.paths->get(PathToolsIni).c_str() : ""; }

}  // namespace

bool ScriptVariable::dump(bool alternate) {
    std::string location;
    if (!VariablesCore::locate(this, location)) return engineLog().error("Could locate current variable");
    engineLog().info("Dump script variable [%s]", location.c_str());
    if (!gameCore.paths) return engineLog().error("Can't dump script variable [%s]: no paths", location.c_str());
    gameCore.paths->setPath(PathVariableDumpName, location);
    // The folder form names the file after the location itself.
    const std::string path = alternate ? gameCore.paths->get(PathVariableDumpFolder) + ".xml"
                                       : gameCore.paths->get(PathVariableDumpFile);
    XmlWriter document;
    addElement(document.addTag("globals"), *this);
    return document.saveFile(false, path.c_str(), "", kDumpStyleSheet, nullptr);
}

bool ScriptVariable::toolsSave(const char* section, const char* prefix) {
    const std::string path = toolsIniPath();
    IniFile store;
    if (platform::pathKind(path) == platform::PathKind::File && readIniFile(store, path, false) < 0)
        return engineLog().error("Failed read INI data from [%s]", logPath(path).c_str());
    exportLeaves(*this, prefix ? prefix : "", store.getCategory(section ? section : ""));
    if (!writeIniFile(store, 0, path)) return engineLog().error("Failed write INI data to [%s]", logPath(path).c_str());
    return true;
}

bool ScriptVariable::toolsLoad(const char* section, const char* prefix) {
    const std::string path = toolsIniPath();
    if (path.empty() || platform::pathKind(path) != platform::PathKind::File)
        return engineLog().error("Can't read tools variable: [tools.ini] NOT exist");
    IniFile store;
    if (readIniFile(store, path, false) < 0)
        return engineLog().error("Failed read INI data from [%s]", logPath(path).c_str());
    importLeaves(*this, prefix ? prefix : "", store.getCategory(section ? section : ""));
    return true;
}

void setStillFrameBuilders(const StillFrameBuilders& builders) { gStillFrames = builders; }

bool ScriptVariable::optimize_image_Create() {
    ScriptVariable* sf = stillFrameTree(*this);
    if (!sf) return false;
    // The rows are the cells of the table's first column; a failed row does
    // not stop the others.
    const std::int32_t rows = sf->childCount() > 0 ? sf->child(0)->childCount() : 0;
    bool all = true;
    for (std::int32_t row = 1; row <= rows; ++row)
        if (!buildStillFrameFromVariable(nullptr, row, true)) all = false;
    return all;
}

bool ScriptVariable::buildStillFrameFromVariable(const char* itemName, std::int32_t row, bool rebuildText) {
    if (!gStillFrames.buildRow)
        return engineLog().error("Can't build stillframe of [%s]: no still-frame builder", name());
    return gStillFrames.buildRow(*this, itemName, row, rebuildText);
}

bool ScriptVariable::replaceImageByElement(const char* itemName, const char* element, bool rebuildText) {
    ScriptVariable* sf = stillFrameTree(*this);
    if (!sf) return false;
    ScriptVariable* names = sf->childCount() > 0 ? sf->child(0) : nullptr;
    for (std::int32_t i = 0; names && element && i < names->childCount(); ++i)
        if (std::strcmp(names->child(i)->name(), element) == 0)
            return buildStillFrameFromVariable(itemName, i + 1, rebuildText);
    return sf->reportError("Can't replace SF image [%s] : element [%s] not found", itemName ? itemName : "NULL",
                       element ? element : "NULL");
}
