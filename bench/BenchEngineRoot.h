// A benchmark's engine ground: a data root written from a manifest and the
// game core's members that read it (log, paths, package database, object
// repository, light sets, skies, the scene and model data managers), set
// back and the root removed at exit. A bench declares it before the scene
// and the models it makes, so that these go first.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "BenchPackage.h"
#include "app/GameCore.h"
#include "effects/LightSetLibrary.h"
#include "effects/SkyDataManager.h"
#include "foundation/AppPaths.h"
#include "foundation/Log.h"
#include "model/ModelDataManager.h"
#include "package/PackageWriter.h"
#include "resources/PackageDatabase.h"
#include "scene/ObjectRepository.h"
#include "scene/SceneDataManager.h"

namespace bench_package {

class EngineRoot {
public:
    EngineRoot(const std::string& kind, const package_tool::Manifest& manifest)
        : path_(writeDataRoot(kind, manifest)) {
        gameCore.log = &log;
        gameCore.paths = &paths;
        gameCore.packages = &database;
        gameCore.objects = &objects;
        gameCore.lightSets = &lightSets;
        gameCore.skyData = &skies;
        setSceneDataManager(&scenes);
        setModelDataManager(&models);
        paths.setPath(PathLanguage, "en");
        paths.setPath(PathDataRootInput, path_);
        built_ = database.build();
    }
    ~EngineRoot() {
        models.releaseAll();
        setModelDataManager(nullptr);
        setSceneDataManager(nullptr);
        gameCore.skyData = nullptr;
        gameCore.lightSets = nullptr;
        gameCore.objects = nullptr;
        gameCore.packages = nullptr;
        gameCore.paths = nullptr;
        gameCore.log = nullptr;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    EngineRoot(const EngineRoot&) = delete;
    EngineRoot& operator=(const EngineRoot&) = delete;
    // The package database was built from the root.
    bool built() const { return built_; }

private:
    std::string path_;
    bool built_ = false;

public:
    Log log;
    AppPaths paths;
    PackageDatabase database;
    ObjectRepository objects;
    LightSetLibrary lightSets;
    SkyDataManager skies;
    SceneDataManager scenes;
    ModelDataManager models;
};

}  // namespace bench_package
