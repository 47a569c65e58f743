#include "resources/PackageDatabase.h"

#include "app/GameCore.h"
#include "foundation/AppPaths.h"
#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "resources/ResourceRules.h"

namespace {

constexpr int kSlotFolderNumber = 23;
constexpr int kSlotLanguage = 24;
// Folder numbers are stored in one byte.
constexpr int kMaxFolders = 256;

// A package name is resolved against the data root unless it is absolute.
std::string packagePath(const AppPaths& paths, const std::string& name) {
    const bool absolute = (!name.empty() && (name[0] == '\\' || name[0] == '/')) ||
                          (name.size() >= 2 && name[1] == ':');
    if (absolute) return name;
    FilePath path(paths.get(PathDataRoot));
    path.append(name);
    return path.toString();
}

PackageDatabase* holder() { return gameCore.packages; }

}  // namespace

PackageDatabase::PackageDatabase() : data_(std::make_unique<FilePackageDBData>()) {}

PackageDatabase::~PackageDatabase() = default;

bool PackageDatabase::build() {
    built_ = false;
    data_->close();
    AppPaths* paths = gameCore.paths;
    if (!paths) {
        engineLog().resourceError("Can't initialize resource rules from file [%s]", "");
        return false;
    }
    const std::string rulesFile = paths->get(PathRulesFile);
    ResourceRules rules;
    if (!parseResourceRules(rulesFile, rules)) {
        engineLog().resourceError("Can't initialize resource rules from file [%s]", logPath(rulesFile).c_str());
        return false;
    }
    // The slots set from here on are inputs that no step of the build reads
    // through a derived slot: the path table is rebuilt once, at the end.
    AppPaths::BatchedBuild batch(*paths);
    paths->setPath(kSlotLanguage, paths->get(PathLanguage));
    paths->setPath(kSlotFolderNumber, "00");
    paths->setPath(PathPackageBase, paths->get(PathExeFolder2));
    if (!loadPackages(rules)) {
        engineLog().resourceError("Fail to build data packages DB");
        return false;
    }
    paths->setPath(PathPackageBase, paths->get(PathDataFolderInput));
    built_ = true;
    return true;
}

bool PackageDatabase::loadPackages(const ResourceRules& rules) {
    AppPaths& paths = *gameCore.paths;
    bool anyFile = false;
    for (int d = 0; d < kMaxFolders; ++d) {
        paths.setPathFormat(kSlotFolderNumber, "%03i", d);
        bool used = false;
        for (int i = 0;; ++i) {
            std::string name;
            const int result = enumeratePackage(rules, i, &name);
            if (result == kRulesSkipped) continue;
            if (result == kRulesNoItems && d == 0)
                engineLog().warning("Package [%s] has no items: the packages listed after it are not loaded",
                                    rules.packages[static_cast<std::size_t>(i)].name.c_str());
            if (result < 0) break;
            // A name without "#" is the same file in every folder: it is
            // loaded with folder "000" only.
            if (d > 0 && !rules.packages[static_cast<std::size_t>(i)].hash) continue;
            const std::string path = packagePath(paths, name);
            if (platform::pathKind(path) != platform::PathKind::File) continue;
            used = true;
            anyFile = true;
            if (gameCore.debugFlags & DebugResourceLog)
                engineLog().resourceInfo("Load package [%s]", logPath(path).c_str());
            if (!data_->loadPackage(path, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(d)))
                return false;
        }
        if (!used) {
            data_->setFolderCount(d - 1);
            break;
        }
        data_->setFolderCount(d);
    }
    if (!anyFile)
        engineLog().systemError("No package file found under data root [%s]", logPath(paths.get(PathDataRoot)).c_str());
    return true;
}

bool PackageDatabase::loadResource(std::string_view mask, std::string_view name, std::string_view source,
                                   MemoryStream& destination) {
    const std::uint32_t id = data_->find(mask, name, source);
    if (id == 0) {
        const std::string n(name), m(mask), s(source);
        engineLog().resourceError("\t\tFailed load resource [%s%s] with mask [%s]: NOT FOUND", n.c_str(), m.c_str(),
                                  s.c_str());
        return false;
    }
    return loadResourceById(id, destination);
}

bool PackageDatabase::loadResourceById(std::uint32_t id, MemoryStream& destination) {
    const PackageFileEntry* entry = data_->entry(id);
    if (!entry) {
        engineLog().resourceError("Can't load invalid file handler");
        return false;
    }
    destination.release();
    std::int32_t read = 0;
    std::uint32_t size = 0;
    if (DataFileMap* map = useMaps_ ? data_->openMap(id, &size) : nullptr) {
        MemoryStream view(const_cast<std::uint8_t*>(map->data), static_cast<std::int32_t>(map->size));
        read = readPackedStream(static_cast<std::int32_t>(map->size), destination, true, view);
        data_->closeMap(id);
    } else {
        DataStream* stream = data_->openFile(id, &size, false);
        if (!stream) {
            if (entry->size > 0) {
                engineLog().resourceError("\t\tFailed load resource [%s]: READ OPENING FAILED",
                                          data_->resourcePath(id).c_str());
                return false;
            }
            return true;
        }
        // An empty entry is an empty file; reading a record here without a
        // length would trust whatever header follows.
        read = size > 0 ? readPackedStream(static_cast<std::int32_t>(size), destination, false, *stream) : 0;
        data_->closeFile(id);
    }
    if (read < 0) {
        destination.release();
        engineLog().resourceError("\t\tFailed load resource [%s]: READ FAILED", data_->resourcePath(id).c_str());
        return false;
    }
    return true;
}

bool buildPackageDB() {
    if (!holder()) {
        engineLog().resourceError("Fail to build data packages DB");
        return false;
    }
    return holder()->build();
}

bool loadResource(std::string_view mask, std::string_view name, std::string_view source, MemoryStream& destination) {
    if (!holder()) {
        const std::string n(name), m(mask), s(source);
        engineLog().resourceError("\t\tFailed load resource [%s%s] with mask [%s]: NOT FOUND", n.c_str(), m.c_str(),
                                  s.c_str());
        return false;
    }
    return holder()->loadResource(mask, name, source, destination);
}

bool loadResourceById(std::uint32_t id, MemoryStream& destination) {
    if (!holder()) {
        engineLog().resourceError("Can't load invalid file handler");
        return false;
    }
    return holder()->loadResourceById(id, destination);
}

FilePackageDBData* packageData() { return holder() ? &holder()->data() : nullptr; }

const char* fileName(std::uint32_t id) { return packageData() ? packageData()->fileName(id) : nullptr; }

std::string resourcePath(std::uint32_t id) { return packageData() ? packageData()->resourcePath(id) : std::string(); }

std::int32_t countNameVariants(std::string_view mask, std::string_view prefix, std::string_view source) {
    return packageData() ? packageData()->countNameVariants(mask, prefix, source) : 0;
}
