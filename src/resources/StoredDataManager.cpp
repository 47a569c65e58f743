#include "resources/StoredDataManager.h"

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

// Identity of a manager missing from the table: a build fault, caught by
// the tests; the manager stays usable and names itself by its class.
const DataManagerInfo* infoFor(const char* className) {
    if (const DataManagerInfo* info = findDataManagerInfo(className)) return info;
    static const DataManagerInfo unknown = {"", "", "", 0, "", "", ""};
    return &unknown;
}

}  // namespace

StoredResourceRecord::StoredResourceRecord(const char* name, const ResourceDescriptor& descriptor)
    : ResourceRecord(name, descriptor) {}

StoredResourceRecord::~StoredResourceRecord() = default;

std::int32_t StoredResourceRecord::readHeader(DataStream& stream) {
    const std::int32_t count = bytesLeft(stream);
    if (count < 0) return -1;
    auto bytes = std::make_unique<std::string>(static_cast<std::size_t>(count), '\0');
    if (count > 0 && readExact(stream, bytes->data(), count) < 0) return -1;
    bytes_ = std::move(bytes);
    return count;
}

void StoredResourceRecord::deleteObject() { bytes_.reset(); }

StoredDataManager::StoredDataManager(const Options& options)
    : ResourceManagerBase(kProgressNoReportStage, kProgressNoReportStage),
      options_(options),
      info_(infoFor(options.className)) {}

StoredDataManager::~StoredDataManager() { releaseAll(); }

ResourceRecord* StoredDataManager::createRecord(const char* name) {
    return new StoredResourceRecord(name, resourceDescriptor(options_.kind));
}

StoredResourceRecord* StoredDataManager::getOrCreate(const char* name, bool reportMissing) {
    return static_cast<StoredResourceRecord*>(findOrCreate(name, reportMissing));
}

StoredResourceRecord* StoredDataManager::find(const char* name) const {
    return static_cast<StoredResourceRecord*>(findRecord(name));
}

StoredResourceRecord* StoredDataManager::at(std::uint32_t index) const {
    return static_cast<StoredResourceRecord*>(recordAt(index));
}

const std::string* StoredDataManager::resourceBytes(const char* name) {
    if (!name || !name[0]) return nullptr;
    StoredResourceRecord* record = getOrCreate(name, true);
    if (!record->has(kResourceHeaderLoaded) && !loadHeader(record, nullptr)) return nullptr;
    return record->bytes();
}

std::int32_t StoredDataManager::readResource(DataStream& stream, const char* name, std::int32_t) {
    if (!options_.readAllAtStart || !name) return -1;
    StoredResourceRecord* record = getOrCreate(name, false);
    if (!loadHeader(record, &stream)) return -1;
    const std::string* bytes = record->bytes();
    return bytes ? static_cast<std::int32_t>(bytes->size()) : -1;
}

std::int32_t StoredDataManager::exportResource(const char* name, DataStream& stream) {
    if (!options_.exportFailure) return 0;
    const std::string* bytes = resourceBytes(name);
    if (!bytes) return engineLog().error(options_.exportFailure, name ? name : ""), -1;
    if (bytes->empty()) return 0;
    const std::int32_t written = stream.write(bytes->data(), static_cast<std::int32_t>(bytes->size()));
    if (written != static_cast<std::int32_t>(bytes->size())) return engineLog().error(options_.exportFailure, name), -1;
    return written;
}

bool StoredDataManager::compileFromSource(const char* sourcePath) {
    const char* path = sourcePath ? sourcePath : "";
    // A manager without messages of its own goes as far as the store, which
    // this program refuses.
    if (!options_.compileReason && !options_.compileFailure) {
        MemoryStream compiled;
        return saveCompiledStream(compiled, path);
    }
    Log& log = engineLog();
    if (options_.compileReason) log.error("%s", options_.compileReason);
    if (options_.compileFailure) log.resourceError(options_.compileFailure, path);
    return false;
}

bool StoredDataManager::initialize() {
    if (!options_.readAllAtStart) return true;
    return initFromPackages(0);
}

void StoredDataManager::release() { releaseAll(); }
