#include "support/PackageFixture.h"

#include <algorithm>
#include <cstdio>

#include "foundation/AppPaths.h"
#include "package/PackageWriter.h"
#include "resources/PackageDatabase.h"
#include "resources/ResourceRules.h"

namespace testing_support {
namespace {

std::string folderText(int folder) {
    char text[16];
    std::snprintf(text, sizeof(text), "%03i", folder);
    return text;
}

}  // namespace

std::string fixturePackagePath(const std::string& root, const FixturePackage& package) {
    std::string name = expandPackageName(package.rule, folderText(package.folder), package.language);
    std::replace(name.begin(), name.end(), '\\', '/');
    return root + "/" + name;
}

std::string fixturePackageBytes(const FixturePackage& package, int packageNumber) {
    package_tool::Manifest manifest;
    manifest.packageNumber = static_cast<std::uint8_t>(packageNumber);
    manifest.folderNumber = static_cast<std::uint8_t>(package.folder);
    manifest.versions.push_back("fixture");
    for (const FixtureFile& file : package.files) {
        auto section = std::find_if(manifest.sections.begin(), manifest.sections.end(), [&](const auto& s) {
            return s.mask == file.mask && s.source == file.source;
        });
        if (section == manifest.sections.end()) {
            manifest.sections.push_back({file.mask, file.source, "fixture " + file.mask, "", {}});
            section = manifest.sections.end() - 1;
        }
        package_tool::StoredFile stored;
        stored.name = file.name;
        stored.bytes = file.bytes;
        stored.packed = file.packed;
        stored.empty = file.empty;
        stored.stamp = file.stamp;
        section->files.push_back(std::move(stored));
    }
    std::string bytes;
    package_tool::buildPackage(manifest, bytes);
    return bytes;
}

bool writeDataRoot(const std::string& root, const std::vector<FixturePackage>& packages) {
    std::vector<std::string> rules;
    std::string text = "# fixture rules\n";
    bool ok = true;
    for (const FixturePackage& package : packages) {
        auto at = std::find(rules.begin(), rules.end(), package.rule);
        if (at == rules.end()) {
            rules.push_back(package.rule);
            text += "[" + package.rule + "]\n" + package.item + "\n";
            at = rules.end() - 1;
        }
        const int number = static_cast<int>(at - rules.begin());
        ok = writeFile(fixturePackagePath(root, package), fixturePackageBytes(package, number)) && ok;
    }
    return writeFile(root + "/data.txt", text) && ok;
}

ScopedPackageDatabase::ScopedPackageDatabase(const std::string& root)
    : core_(true), database_(std::make_unique<PackageDatabase>()), installed_(gameCore.packages, database_.get()) {
    core_.paths().setPath(PathLanguage, "en");
    core_.paths().setPath(PathDataRootInput, root);
}

ScopedPackageDatabase::~ScopedPackageDatabase() = default;

bool ScopedPackageDatabase::build() { return database_->build(); }

FilePackageDBData& ScopedPackageDatabase::data() { return database_->data(); }

}  // namespace testing_support
