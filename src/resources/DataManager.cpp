#include "resources/DataManager.h"

#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/PackageDatabase.h"

namespace {

bool isSet(const char* text) { return text && text[0]; }

const char* orEmpty(const char* text) { return text ? text : ""; }

}  // namespace

std::int32_t DataManager::exportResource(const char*, DataStream&) { return 0; }

std::int32_t DataManager::readSingleFile(DataStream&, const char*, std::int32_t) { return 0; }

std::int32_t DataManager::reservedOperation(std::int32_t, std::int32_t) { return 0; }

bool DataManager::saveCompiledStream(DataStream&, const char*) {
    return engineLog().error("Stream save not possible in release exe");
}

bool DataManager::storeBesideSource(DataStream& compiled, const char* sourcePath, const char* failureFormat) {
    std::string name, destination;
    compiledPathOf(sourcePath ? sourcePath : "", name, destination);
    if (saveCompiledStream(compiled, destination.c_str())) return true;
    return engineLog().error(failureFormat, destination.c_str());
}

void DataManager::compiledPathOf(const std::string& path, std::string& name, std::string& target) const {
    const std::size_t slash = path.find_last_of("/\\");
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name + orEmpty(compiledExtension());
}

bool DataManager::initFromPackages(std::int32_t flag) {
    if (isSet(singleFileMask()) && isSet(singleFileName())) {
        if (!initFromSingleFile(0)) return engineLog().error("Can't initialize %s from single file", title());
        return true;
    }
    bool result = true;
    FilePackageDBData* packages = packageData();
    if (!packages) return result;
    const char* mask = orEmpty(compiledExtension());
    const char* source = orEmpty(packageSource());
    const std::int32_t count = packages->countFiles(mask, source);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t id = packages->fileIdAt(mask, i, source);
        const char* name = orEmpty(fileName(id));
        MemoryStream stream;
        if (!loadResourceById(id, stream)) {
            result = engineLog().error("Skip resource [%s]", name);
            continue;
        }
        if (readResource(stream, name, flag) < 0) result = engineLog().error("Can't read resource [%s] data", name);
    }
    return result;
}

bool DataManager::initFromSingleFile(std::int32_t flag) {
    const char* name = orEmpty(singleFileName());
    const char* source = orEmpty(packageSource());
    const char* mask = orEmpty(singleFileMask());
    MemoryStream stream;
    if (!loadResource(mask, name, source, stream))
        return engineLog().error("Expected single file data for package [%s]", title());
    if (readSingleFile(stream, name, flag) >= 0) return true;
    FilePackageDBData* packages = packageData();
    const std::string path = packages ? resourcePath(packages->find(mask, name, source)) : std::string();
    return engineLog().error("Can't read single file data from package [%s](file [%s])", title(),
                             path.empty() ? "invalid" : path.c_str());
}
