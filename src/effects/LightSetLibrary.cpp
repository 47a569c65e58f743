#include "effects/LightSetLibrary.h"

#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "resources/PackageDatabase.h"

namespace {

constexpr std::size_t kNameLength = sizeof(LightSet::name) - 1;

void setName(LightSet& set, const char* name) {
    std::memset(set.name, 0, sizeof(set.name));
    std::strncpy(set.name, name, kNameLength);
}

void setColor(float (&color)[3], float value) { color[0] = color[1] = color[2] = value; }

// The set for sprites: lit by its global colour alone.
void makeSpriteSet(LightSet& set) {
    for (LightSet::Entry* entry : {&set.exterior, &set.interior}) {
        setColor(entry->global, 1.0f);
        setColor(entry->main, 0.0f);
        setColor(entry->ambient, 1.0f);
        setColor(entry->diffuse, 0.0f);
        setColor(entry->specular, 0.0f);
        setColor(entry->env, 1.0f);
    }
}

std::int32_t readColor(DataStream& stream, float (&color)[3]) {
    std::int32_t total = 0;
    for (float& value : color)
        if (!addField(total, readF32(stream, value))) return total;
    return total;
}

// The compiled set, field by field in its stored order (304 bytes).
std::int32_t readLightSet(DataStream& stream, LightSet& set) {
    std::int32_t total = 0;
    if (!addField(total, readExact(stream, set.name, sizeof(set.name)))) return total;
    if (!addField(total, readU32(stream, set.state))) return total;
    for (LightSet::Entry* entry : {&set.exterior, &set.interior})
        for (float(*color)[3] : {&entry->global, &entry->main, &entry->ambient, &entry->diffuse, &entry->specular,
                                 &entry->env})
            if (!addField(total, readColor(stream, *color))) return total;
    for (float* value : {&set.shadowPower, &set.shadowDensity, &set.shadowLength, &set.shadowSoft})
        if (!addField(total, readF32(stream, *value))) return total;
    addField(total, readColor(stream, set.shadowColor));
    return total;
}

bool inPackages(const char* name) {
    FilePackageDBData* packages = packageData();
    return packages && packages->find(".ls", name, "") != 0;
}

}  // namespace

LightSetLibrary::~LightSetLibrary() { release(); }

std::int32_t LightSetLibrary::readResource(DataStream&, const char*, std::int32_t) {
    engineLog().error("This resource (LSL) loaded at request base only");
    return -1;
}

bool LightSetLibrary::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath);
}

bool LightSetLibrary::initialize() {
    release();
    for (const char* name : {"selection_default", "default", "lsdefaultsprite"}) {
        if (inPackages(name) || find(name)) continue;
        auto set = std::make_unique<LightSet>();
        setName(*set, name);
        if (std::strcmp(name, "lsdefaultsprite") == 0) makeSpriteSet(*set);
        insert(std::move(set));
    }
    return true;
}

void LightSetLibrary::release() { sets_.clear(); }

std::size_t LightSetLibrary::lowerBound(const char* name) const {
    std::size_t low = 0;
    std::size_t high = sets_.size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (std::strcmp(sets_[mid]->name, name) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

LightSet* LightSetLibrary::find(const char* name) const {
    if (!name) return nullptr;
    const std::size_t at = lowerBound(name);
    return at < sets_.size() && std::strcmp(sets_[at]->name, name) == 0 ? sets_[at].get() : nullptr;
}

void LightSetLibrary::insert(std::unique_ptr<LightSet> set) {
    const std::size_t at = lowerBound(set->name);
    sets_.insert(sets_.begin() + static_cast<std::ptrdiff_t>(at), std::move(set));
}

LightSet* LightSetLibrary::request(const char* name, bool quiet) {
    if (!name) name = "default";
    if (!name[0]) {
        engineLog().scriptError("Can't request lightset with empty NAME!! []");
        return nullptr;
    }
    char key[kNameLength + 1] = {};
    std::strncpy(key, name, kNameLength);
    if (LightSet* known = find(key)) return known;
    auto set = std::make_unique<LightSet>();
    setName(*set, key);
    if (!load(*set, key, false, quiet)) return nullptr;
    LightSet* result = set.get();
    insert(std::move(set));
    return result;
}

bool readStoredLightSet(DataStream& stored, LightSet& set) {
    // The stored set is itself a packed record.
    MemoryStream unpacked;
    return readPackedStream(-1, unpacked, false, stored) >= 0 && readLightSet(unpacked, set) >= 0;
}

bool LightSetLibrary::load(LightSet& set, const char* name, bool refresh, bool quiet) {
    Log& log = engineLog();
    if (refresh) return log.error("Refresh load NOT valid in release exe");
    MemoryStream stored;
    if (!loadResource(compiledExtension(), name, "", stored)) {
        if (!quiet) log.warning("Cannot find lightset with name [%s]. Created default lightset with used name", name);
        return false;
    }
    LightSet read;
    if (!readStoredLightSet(stored, read)) return log.error("Invalid data format in [%s]", name);
    set = read;
    set.state |= kLightSetLoaded;
    setName(set, name);
    return true;
}
