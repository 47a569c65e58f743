// A game core that can save and restore: the scene-load fixture with the
// paths of a user folder and a data folder in temporary folders, a render
// core for the screenshot and thumbnails, the input core and a variables
// core whose global tree comes from a small text through the variable-file
// writer. Lua knows "Variable" besides "World", "Time" and "Game".
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/SceneLoadFixture.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "input/InputCore.h"
#include "platform/FileSystem.h"
#include "render/RenderCore.h"
#include "resources/PackageDatabase.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "script/lua/VariableScript.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"
#include "variables/VariableWriter.h"

namespace testing_support {

class SaveFileFixture {
public:
    // moreVariables: further lines of the global variables' text.
    explicit SaveFileFixture(const std::string& moreVariables = "")
        : savedRender_(gameCore.render), savedInput_(gameCore.input), savedVariables_(gameCore.variables) {
        paths.setPath(PathAppData, user.path());
        paths.setPath(PathDataFolderInput, data.path());
        gameCore.paths = &paths;
        gameCore.render = &render;
        gameCore.input = &input;
        gameCore.variables = &variables;
        ScriptVariable root("root", ScriptVariable::TypeArray);
        std::string error;
        EXPECT_TRUE(variable_tools::parseVariableText(
                        "system.volume number 0.5\nsystem.title string Demo\n" + moreVariables, root, error))
            << error;
        MemoryStream file;
        EXPECT_GT(variable_tools::writeVariableTree(root, file), 0);
        file.setPosition(0);
        EXPECT_GT(variables.globals().readSingleFile(file, "globals", 0), 0);
        registerVariableClass(f.lua.state, f.lua.engine);
        f.game->readSettings();
    }
    ~SaveFileFixture() {
        f.game->releaseScenes();
        gameCore.variables = savedVariables_;
        gameCore.input = savedInput_;
        gameCore.render = savedRender_;
        gameCore.paths = nullptr;  // the script fixture gives back the paths it found
    }
    SaveFileFixture(const SaveFileFixture&) = delete;
    SaveFileFixture& operator=(const SaveFileFixture&) = delete;

    // Runs Lua inside a posted event, where loads are allowed.
    bool runPosted(const std::string& code) {
        static int counter = 0;
        const std::string name = "posted_" + std::to_string(++counter);
        if (!f.lua.load("function " + name + "()\n" + code + "\nend\nsendEvent('" + name + "')")) return false;
        f.runEvents();
        return true;
    }
    // A Lua global as text: booleans as "true" and "false", nil as "nil".
    std::string text(const char* name) {
        lua_State* state = f.lua.state;
        lua_getglobal(state, name);
        std::string value = "nil";
        if (lua_isboolean(state, -1))
            value = lua_toboolean(state, -1) ? "true" : "false";
        else if (const char* t = lua_tostring(state, -1))
            value = t;
        lua_pop(state, 1);
        return value;
    }
    // The host path of a slot's file in the user's save folder.
    std::string userSave(const std::string& slot) {
        paths.setPath(PathSaveName, slot);
        return platform::hostPath(paths.get(PathUserSaveFile));
    }
    std::string userSaveFolder() { return platform::hostPath(paths.get(PathUserSaveFolder)); }
    std::string dataSaveFolder() { return platform::hostPath(paths.get(PathDataSaveFolder)); }
    ScriptVariable* global(const char* path) { return variables.globals().root()->resolvePath(path); }

private:
    RenderCore* savedRender_;
    InputCore* savedInput_;
    VariablesCore* savedVariables_;

public:
    SceneLoadFixture f;  // first: its script fixture restores the game core last
    TempDir user;
    TempDir data;
    AppPaths paths;
    RenderCore render;
    InputCore input;
    VariablesCore variables;
};

// Packages written into a data root of their own, named by the save
// fixture's paths, with their database installed in the game core while
// this exists.
class InstalledPackages {
public:
    InstalledPackages(SaveFileFixture& s, const std::vector<FixturePackage>& packages)
        : usePackages_(gameCore.packages, &packages_) {
        EXPECT_TRUE(writeDataRoot(root_.path(), packages));
        s.paths.setPath(PathLanguage, "en");
        s.paths.setPath(PathDataRootInput, root_.path());
        built = packages_.build();
    }

    bool built = false;

private:
    TempDir root_;
    PackageDatabase packages_;
    ScopedCoreMember<PackageDatabase> usePackages_;
};

inline std::uint32_t u32At(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

// A save file's game data: the packed record found through the footer and
// unpacked (plain); withData gives the same file around other game data,
// header and packing intact.
struct SaveFileData {
    explicit SaveFileData(std::string file) : good(std::move(file)) {
        const std::size_t size = good.size();
        if (size < 20) return;
        dataStart = u32At(good, size - 8) + 12;
        if (dataStart + 9 > size) return;
        packed = good[dataStart] == 1;  // u8 1, u32 packed size, u32 size, bytes
        dataEnd = dataStart + 9 + u32At(good, dataStart + 1);
        MemoryStream stream;
        stream.write(good.data(), static_cast<std::int32_t>(size));
        stream.setPosition(static_cast<std::int32_t>(dataStart));
        MemoryStream data;
        unpacked = readPackedStream(0, data, true, stream) > 0;
        plain.assign(reinterpret_cast<const char*>(data.data()), static_cast<std::size_t>(data.size()));
    }
    std::string withData(const std::string& bytes) const {
        MemoryStream source;
        source.write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        MemoryStream packedData;
        EXPECT_GT(writePackedStream(source, 6, true, packedData), 0);
        return good.substr(0, dataStart) +
               std::string(reinterpret_cast<const char*>(packedData.data()),
                           static_cast<std::size_t>(packedData.size())) +
               good.substr(dataEnd);
    }
    std::string good, plain;
    std::size_t dataStart = 0, dataEnd = 0;
    bool packed = false, unpacked = false;
};

}  // namespace testing_support
