// Fuzz target of the script-variable files: the single stored file of a
// tree, the attachable variable resource and the saved changed values.
#include <string>

#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "variables/VariableWriter.h"

namespace fuzzing {

namespace {

const char kBaseTree[] =
    "system.volume number 0.5\n"
    "system.title string Demo\n"
    "system.wide wstring Wide\n"
    "system.on boolean 1\n"
    "quests.first.state number 2\n"
    "quests.first.name string First\n"
    "grid 2d-array\n";

// Globals holding the base tree.
void fillBase(ScriptGlobals& globals) { loadGlobals(globals, kBaseTree); }

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

std::string saved(ScriptGlobals& globals) {
    MemoryStream stream;
    fuzzCheck(globals.saveState(stream) >= 0, "variables: saving the changed values failed");
    return bytesOf(stream);
}

}  // namespace

void loadGlobals(ScriptGlobals& globals, const char* text) {
    ScriptVariable root("root", ScriptVariable::TypeArray);
    std::string error;
    fuzzCheck(variable_tools::parseVariableText(text, root, error), "variables: a seed tree does not parse");
    MemoryStream file;
    variable_tools::writeVariableTree(root, file);
    file.setPosition(0);
    fuzzCheck(globals.readSingleFile(file, "globals", 0) > 0, "variables: a seed tree does not read");
}

// First byte: 0 a single file (read, written, read again: the two writes
// must match), 1 a resource attached to the base tree, 2 a save block of
// changed values (restored, saved, restored elsewhere: the two saves match).
int fuzzVariables(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    MemoryStream input(const_cast<std::uint8_t*>(data) + 1, static_cast<std::int32_t>(size - 1));
    switch (data[0] % 3) {
        case 0: {
            ScriptGlobals first;
            if (first.readSingleFile(input, "fuzz", 0) < 0) break;
            MemoryStream written;
            fuzzCheck(first.writeSingleFile(written, "fuzz") >= 0, "variables: a tree read cannot be written");
            written.setPosition(0);
            ScriptGlobals second;
            fuzzCheck(second.readSingleFile(written, "again", 0) == written.size(),
                      "variables: a written tree does not read back whole");
            MemoryStream again;
            second.writeSingleFile(again, "again");
            fuzzCheck(bytesOf(again) == bytesOf(written), "variables: a tree changed through its file");
            break;
        }
        case 1: {
            ScriptGlobals globals;
            fillBase(globals);
            globals.attachResource(input, "fuzz", (data[0] & 4) != 0);
            MemoryStream written;
            fuzzCheck(globals.writeSingleFile(written, "fuzz") >= 0, "variables: a tree with a resource cannot be written");
            break;
        }
        default: {
            ScriptGlobals first;
            fillBase(first);
            if (first.loadState(input) < 0) break;
            const std::string block = saved(first);
            ScriptGlobals second;
            fillBase(second);
            MemoryStream stream(const_cast<char*>(block.data()), static_cast<std::int32_t>(block.size()));
            fuzzCheck(second.loadState(stream) == static_cast<std::int32_t>(block.size()),
                      "variables: a saved block does not restore whole");
            fuzzCheck(saved(second) == block, "variables: changed values differ after a restore");
            break;
        }
    }
    forgetLog();
    return 0;
}

void seedVariables(std::vector<std::string>& out) {
    ScriptGlobals base;
    fillBase(base);
    MemoryStream tree;
    base.writeSingleFile(tree, "base");
    out.push_back(std::string(1, '\0') + bytesOf(tree));

    ScriptVariable extra("extra", ScriptVariable::TypeArray);
    std::string error;
    variable_tools::parseVariableText("a.b number 3\na.c string text\nd wstring wide\n", extra, error);
    for (const char* path : {"quests", "system.more", ""}) {
        MemoryStream resource;
        variable_tools::writeVariableResource(path, extra, resource);
        out.push_back(std::string(1, '\1') + bytesOf(resource));
    }

    ScriptGlobals globals;
    fillBase(globals);
    for (const char* path : {"system.volume", "system.title", "system.wide", "quests.first.state"}) {
        ScriptVariable* node = globals.root()->resolvePath(path);
        if (!node) continue;
        if (node->type() == ScriptVariable::TypeNumber) node->setNumber(0.25f);
        else if (node->type() == ScriptVariable::TypeString) node->setString("changed");
        else node->setWString(u"changed");
        node->setChanged(true);
    }
    out.push_back(std::string(1, '\2') + saved(globals));
}

}  // namespace fuzzing
