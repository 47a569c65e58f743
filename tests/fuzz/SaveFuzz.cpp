// Fuzz targets of save files: the file around the game data (screenshot,
// header, footer and the packed data record), and the game data itself as
// the game core restores it.
#include <filesystem>
#include <memory>
#include <string>

#include "app/GameCore.h"
#include "app/SaveGame.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/IniFile.h"
#include "foundation/PackedStream.h"
#include "foundation/TimeCore.h"
#include "fuzz/FuzzTarget.h"
#include "game/QuestData.h"
#include "game/QuestLogic.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "package/PackageWriter.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "scene/SceneContext.h"
#include "scene/SceneDescription.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"

namespace fuzzing {

namespace {

// A data root with the scene "quay" and the model "crate" (two elements,
// an action), so that saved scenes and models restore. Removed at exit.
class QuayRoot {
public:
    QuayRoot() {
        root_ = makeTempFolder("engine-fuzz-save");
        if (root_.empty()) return;
        writeFile(root_ + "/data.txt", "[quay.pak]\n.* >> data\n");
        package_tool::Manifest manifest;
        auto add = [&](const std::string& mask, const std::string& name, std::string bytes) {
            package_tool::StoredFile file;
            file.name = name;
            file.bytes = std::move(bytes);
            file.packed = false;
            manifest.sections.push_back({mask, "", "quay " + mask, "", {file}});
        };
        std::string error;
        scene_tools::SceneDescription scene;
        if (scene_tools::parseSceneDescription("scene quay\nlightset quay_default ambient 0.2 0.2 0.2\n", scene, error)) {
            add(".ms4", "quay", scene_tools::sceneDataBytes(scene.data));
            add(".sky", "quay", "sky");
            for (const LightSet& set : scene.lightSets) add(".ls", set.name, scene_tools::lightSetBytes(set));
        }
        const std::string level = "lod\nbox 0.5 0.5 0.5\n";
        model_tools::ModelDescription model;
        if (model_tools::parseModelDescription("model crate\nelement body\n" + level + level + level +
                                                   "element lid\n" + level + level + level +
                                                   "action open - size 0.5 0.5 0.5 spot 0 0.5 0\n",
                                               model, error) &&
            !model.models.empty()) {
            model_tools::ModelFile& file = model.models.front();
            add(".mh4", "crate", model_tools::modelFileBytes(*file.model, "crate", true));
            add(".my3", "crate", model_tools::modelFileBytes(*file.model, "crate", false));
            for (model_tools::ModelFile& made : model.models) made.model->release();
        }
        std::string bytes;
        if (!package_tool::buildPackage(manifest, bytes)) return;
        writeFile(root_ + "/quay.pak", bytes);
        paths.setPath(PathLanguage, "en");
        paths.setPath(PathDataRootInput, root_);
    }
    ~QuayRoot() {
        std::error_code error;
        if (!root_.empty()) std::filesystem::remove_all(root_, error);
    }
    QuayRoot(const QuayRoot&) = delete;
    QuayRoot& operator=(const QuayRoot&) = delete;

    AppPaths paths;

private:
    std::string root_;
};

QuayRoot& quayRoot() {
    static QuayRoot root;
    return root;
}

// A game core with what a saved game's data restores into: the object
// repository, the clocks, the settings, the global variables, the save
// game, and the package of a scene with a model; no script engine,
// renderer or sound. Made once per process.
class SaveEnvironment {
public:
    SaveEnvironment() {
        gameCore.paths = &quayRoot().paths;
        gameCore.packages = &packages;
        packages.build();
        setModelDataManager(&models);
        gameCore.lightSets = &lightSets;
        gameCore.skyData = &skies;
        gameCore.objects = &objects;
        gameCore.clocks = &clocks;
        gameCore.settings = &settings;
        gameCore.variables = &variables;
        loadGlobals(variables.globals(), "system.volume number 0.5\nsystem.title string Demo\n");
        game = std::make_unique<SaveGame>();
        gameCore.game = game.get();
    }

    // The game data as the game core writes it.
    std::string gameData() {
        MemoryStream stream;
        gameCore.save_all(stream);
        return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
    }

    // What a failed or finished load leaves behind goes, as the save game's
    // own load failure does it.
    void reset() {
        game->releaseScenes();
        game->releaseUnreferencedData();
        objects.releaseUnreferenced();
    }

    PackageDatabase packages;
    ModelDataManager models;
    LightSetLibrary lightSets;
    SkyDataManager skies;
    ObjectRepository objects;
    TimeCore clocks;
    IniFile settings;
    VariablesCore variables;
    std::unique_ptr<SaveGame> game;
};

SaveEnvironment& environment() {
    static SaveEnvironment* made = new SaveEnvironment;  // lives until the process ends
    return *made;
}

// A whole save file around the game data.
std::string saveFile(const std::string& gameData, const std::u16string& displayName, bool pack) {
    SaveHeader header;
    header.image.create(false, 48, 32);
    std::uint8_t* pixels = header.image.pixels();
    for (std::uint32_t i = 0; i < 48 * 32 * 3; ++i) pixels[i] = static_cast<std::uint8_t>(i * 131 + i / 97);
    header.gameTime = 1234.5;
    header.displayName = displayName;
    MemoryStream file;
    SaveGame::writeHeader(file, header);
    MemoryStream data;
    data.write(gameData.data(), static_cast<std::int32_t>(gameData.size()));
    data.setPosition(0);
    writePackedStream(data, 6, pack, file);
    SaveGame::writeFooter(file, header);
    return std::string(reinterpret_cast<const char*>(file.data()), static_cast<std::size_t>(file.size()));
}

}  // namespace

// Reads the file as the loader does: footer, screenshot and header, then the
// packed game data record.
int fuzzSaveFile(const std::uint8_t* data, std::size_t size) {
    if (size > (4u << 20)) return 0;
    MemoryStream file(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    SaveHeader footer;
    if (SaveGame::readFooter(file, footer)) {
        fuzzCheck(footer.displayName.size() <= kSaveNameMaximum, "savefile: a display name beyond its limit");
        fuzzCheck(footer.imageSize + 4ull <= size, "savefile: the image runs past the file");
    }
    file.setPosition(0);
    SaveHeader header;
    if (SaveGame::readHeader(file, header) >= 0) {
        MemoryStream gameData;
        if (readPackedStream(0, gameData, true, file) >= 0)
            fuzzCheck(gameData.size() >= 0 && gameData.tell() == 0, "savefile: the game data is not at its start");
    }
    forgetLog();
    return 0;
}

void seedSaveFile(std::vector<std::string>& out) {
    const std::string data = environment().gameData();
    out.push_back(saveFile(data, u"Lighthouse, evening", true));
    std::string older = saveFile(data, u"x", true);
    older[older.size() - 16] ^= 0x5A;  // the footer tag of an older file
    out.push_back(older);
}

// Restores the game data into the environment's game core.
int fuzzSaveData(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    SaveEnvironment& env = environment();
    MemoryStream stream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
    gameCore.load_all(stream);
    // Every slot of the object table is a free index or a record of the data
    // (4 bytes or more each), or one of the few thousand objects a save does
    // not write: the table never outgrows that.
    constexpr std::size_t kUnwrittenSlots = 4096;
    fuzzCheck(env.objects.count() <= size + kUnwrittenSlots, "savedata: an object table larger than its data");
    env.reset();
    forgetLog();
    return 0;
}

void seedSaveData(std::vector<std::string>& out) {
    SaveEnvironment& env = environment();
    out.push_back(env.gameData());
    // A game with texts, a scene list and a changed global.
    env.game->scene = "harbour";
    env.game->onProgress = "game.onProgress";
    env.game->scenes = {1, 2};
    env.game->currentIndex = 1;
    gameCore.setCameraMask("camera_main");
    if (ScriptVariable* volume = env.variables.globals().root()->resolvePath("system.volume")) {
        volume->setNumber(0.25f);
        volume->setChanged(true);
    }
    out.push_back(env.gameData());
    env.game->scenes.clear();
    env.game->currentIndex = -1;
    // A scene with two crates: one moved, hidden in part and with its action
    // switched on and its ranges set, one hidden.
    Scene* quay = SceneContext::createScene(env.game->sceneData().get("quay", true));
    if (quay && quay->initialize(matrix34Identity())) {
        env.game->scenes = {quay->id};
        env.game->currentIndex = 0;
        Matrix34 pose = matrix34Identity();
        pose.m[9] = 2.0f;
        auto* crate = static_cast<Model*>(quay->createModel("crate", "crate_a", pose, 0));
        auto* other = static_cast<Model*>(quay->createModel("crate", "crate_b", matrix34Identity(), 0));
        if (crate && other) {
            pose.m[11] = -3.0f;
            crate->setWorldMatrix(pose);
            crate->setElementVisible(1, false);
            ObjectState state{};
            std::snprintf(state.name, sizeof(state.name), "crate_a:open");
            QuestLogic::applyObjectState(state, 2);
            if (!crate->actionItems.empty()) crate->actionItems[0].maxRange3d = 6.0f;
            other->setVisible(false, 0.0f);
            const std::string withModels = env.gameData();
            out.push_back(withModels);
            // Cut inside the second crate's record.
            out.push_back(withModels.substr(0, withModels.size() - 40));
        }
    } else {
        delete quay;
    }
    env.reset();
}

}  // namespace fuzzing
