// Model resources for the tests: models described in the model writer's
// text, written by the writer into a models package of a temporary data
// root, whose package database and model data manager are installed for
// the scope, so that models load as the game loads them.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "resources/PackageDatabase.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace model_test {

// A prop of one element: a box of half size 0.5 at the origin on each
// level.
inline std::string boxModel(const std::string& name) {
    return "model " + name + "\nelement body\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\nlod\nbox 0.5 0.5 0.5\n";
}

// The header and data files of the first model of a description; empty
// when the description is refused.
inline std::vector<testing_support::FixtureFile> modelFiles(const std::string& text) {
    model_tools::ModelDescription description;
    std::string error;
    if (!model_tools::parseModelDescription(text, description, error) || description.models.empty()) return {};
    model_tools::ModelFile& file = description.models.front();
    std::vector<testing_support::FixtureFile> files = {
        {".mh4", file.name, model_tools::modelFileBytes(*file.model, file.name, true), {}},
        {".my3", file.name, model_tools::modelFileBytes(*file.model, file.name, false), {}}};
    for (model_tools::ModelFile& made : description.models) made.model->release();
    return files;
}

class ScopedModelResources {
public:
    // A box model of each name, then the models of the descriptions and
    // the files, in a package database installed for the scope.
    explicit ScopedModelResources(std::initializer_list<const char*> boxes,
                                  std::initializer_list<std::string> descriptions = {},
                                  std::vector<testing_support::FixtureFile> files = {})
        : savedPaths_(gameCore.paths), savedPackages_(gameCore.packages), savedManager_(modelDataManager()) {
        testing_support::FixturePackage package;
        package.rule = "models.pak";
        for (const char* name : boxes)
            for (auto& file : modelFiles(boxModel(name))) package.files.push_back(file);
        for (const std::string& text : descriptions)
            for (auto& file : modelFiles(text)) package.files.push_back(file);
        for (auto& file : files) package.files.push_back(file);
        setModelDataManager(&manager);
        ready = testing_support::writeDataRoot(dir_.path(), {package});
        paths_.setPath(PathLanguage, "en");
        paths_.setPath(PathDataRootInput, dir_.path());
        gameCore.paths = &paths_;
        gameCore.packages = &database_;
        ready = ready && database_.build();
    }
    ~ScopedModelResources() {
        manager.releaseAll();
        setModelDataManager(savedManager_);
        gameCore.packages = savedPackages_;
        gameCore.paths = savedPaths_;
    }
    ScopedModelResources(const ScopedModelResources&) = delete;
    ScopedModelResources& operator=(const ScopedModelResources&) = delete;

    bool ready = false;
    ModelDataManager manager;

private:
    testing_support::TempDir dir_;
    AppPaths paths_;
    PackageDatabase database_;
    AppPaths* savedPaths_;
    PackageDatabase* savedPackages_;
    ModelDataManager* savedManager_;
};

}  // namespace model_test
