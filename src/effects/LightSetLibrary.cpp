#include "effects/LightSetLibrary.h"

#include <cstdio>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/FilePath.h"
#include "foundation/TextFile.h"
#include "foundation/PackedStream.h"
#include "foundation/StringHelper.h"
#include "render/DXTextureHandler.h"
#include "render/VideoSetup.h"
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

// Reads one number from text at position: characters other than digits,
// '.' and ',' are skipped; a space, line feed or carriage return after at
// least one collected character ends it. False when nothing was collected
// or the collected text is no number.
bool readNumber(const std::string& text, std::size_t& position, float& value) {
    std::string collected;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if ((c >= '0' && c <= '9') || c == '.' || c == ',') {
            collected += c;
        } else if (!collected.empty() && (c == ' ' || c == '\n' || c == '\r')) {
            ++position;
            break;
        }
    }
    if (collected.empty()) return false;
    const float read = parseFloat(collected.c_str());
    // Without a minus only the not-a-number answer is negative.
    if (read < 0.0f) return false;
    value = read;
    return true;
}

// Where the value of key in section starts, or npos.
std::size_t findValue(const std::string& text, const char* section, const char* key) {
    const std::size_t at = text.find(section);
    if (at == std::string::npos) return at;
    const std::size_t keyAt = text.find(key, at + std::strlen(section));
    return keyAt == std::string::npos ? keyAt : keyAt + std::strlen(key);
}

void readTextNumber(const std::string& text, const char* section, const char* key, float& value) {
    std::size_t position = findValue(text, section, key);
    if (position != std::string::npos) readNumber(text, position, value);
}

void readTextColor(const std::string& text, const char* section, const char* key, float (&color)[3]) {
    std::size_t position = findValue(text, section, key);
    if (position == std::string::npos) return;
    for (float& value : color) {
        float read = 0.0f;
        if (!readNumber(text, position, read)) return;
        value = read * 0.003921569f;
    }
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

void parseLightSetText(const std::string& text, LightSet& set) {
    const struct {
        const char* section;
        LightSet::Entry* entry;
    } entries[] = {{"exterior", &set.exterior}, {"interior", &set.interior}};
    for (const auto& e : entries) {
        readTextColor(text, e.section, "ambient", e.entry->ambient);
        readTextColor(text, e.section, "diffuse", e.entry->diffuse);
        readTextColor(text, e.section, "specular", e.entry->specular);
        readTextColor(text, e.section, "env", e.entry->env);
        readTextColor(text, e.section, "global", e.entry->global);
        readTextColor(text, e.section, "main", e.entry->main);
    }
    readTextNumber(text, "shadow", "power", set.shadowPower);
    readTextNumber(text, "shadow", "density", set.shadowDensity);
    readTextNumber(text, "shadow", "length", set.shadowLength);
    readTextColor(text, "shadow", "color", set.shadowColor);
    readTextNumber(text, "shadow", "soft", set.shadowSoft);
}

bool lightSetShaderSupport() { return textureEnvironment().videoSetup().details != VideoDetailsMinimum; }

bool LightSetLibrary::compileFromSource(const char* sourcePath) {
    std::string name;
    std::string target;
    compiledPathOf(sourcePath ? sourcePath : "", name, target);
    return compile(sourcePath, target.c_str());
}

bool LightSetLibrary::compile(const char* sourcePath, const char* destinationPath) {
    Log& log = engineLog();
    const char* source = sourcePath ? sourcePath : "";
    const char* destination = destinationPath ? destinationPath : "";
    std::unique_ptr<WinFileStream> file = openFileStream(FilePath(source));
    if (!file) return log.error("Cannot open lightset source file [%s]", source);
    std::string text;
    readStreamToString(text, *file);
    LightSet set;
    parseLightSetText(text, set);
    MemoryStream compiled;
    if (compiled.write(&set, static_cast<std::int32_t>(sizeof(set))) != static_cast<std::int32_t>(sizeof(set)))
        return log.error("Failed while write to file [%s]", destination);
    // Refused before the destination is opened: an older compiled set
    // stays as it was.
    if (!saveCompiledStream(compiled, destination)) return log.error("Failed while write to file [%s]", destination);
    log.info("Compiled lightset [%s]", destination);
    return true;
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
    // Without shaders the set's fixed-function variant is read.
    char resource[kNameLength + 1] = {};
    if (lightSetShaderSupport()) {
        std::strncpy(resource, name, kNameLength);
    } else {
        std::snprintf(resource, sizeof(resource), "%.*s-ffp", static_cast<int>(kNameLength - 4), name);
    }
    MemoryStream stored;
    if (!loadResource(compiledExtension(), resource, "", stored)) {
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
