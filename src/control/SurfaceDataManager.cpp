#include "control/SurfaceDataManager.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/Log.h"
#include "foundation/PackedStream.h"
#include "foundation/TextFile.h"
#include "platform/FileSystem.h"
#include "resources/PackageDatabase.h"

namespace {

// A source always reaches its anisotropy line; an anisotropic one reaches
// the last direction line.
constexpr std::size_t kSurfaceLines = 12;
constexpr std::size_t kAnisotropicSurfaceLines = 17;

const char* const kCombineNames[] = {"average", "min", "multiply", "max"};

// The text after the first "=" without its surrounding blanks; false when
// the line has no "=".
bool lineValue(const std::string& line, std::string& value) {
    const std::size_t at = line.find('=');
    if (at == std::string::npos) return false;
    const std::size_t first = line.find_first_not_of(" \t", at + 1);
    const std::size_t last = line.find_last_not_of(" \t\r\n");
    value = first == std::string::npos || last < first ? std::string() : line.substr(first, last - first + 1);
    return true;
}

bool readFloatLine(const std::string& line, float& out) {
    std::string value;
    if (!lineValue(line, value)) return false;
    out = static_cast<float>(std::atof(value.c_str()));
    return true;
}

bool readCombineLine(const std::string& line, std::uint32_t& out) {
    std::string value;
    if (!lineValue(line, value)) return false;
    for (std::uint32_t mode = 0; mode < 4; ++mode)
        if (value == kCombineNames[mode]) {
            out = mode;
            return true;
        }
    return false;
}

bool readBoolLine(const std::string& line, bool& out) {
    std::string value;
    if (!lineValue(line, value)) return false;
    if (value == "true")
        out = true;
    else if (value == "false")
        out = false;
    else
        return false;
    return true;
}

// The key of a line, for messages.
std::string lineLabel(const std::string& line) {
    std::string key = line.substr(0, line.find('='));
    const std::size_t last = key.find_last_not_of(" \t");
    return last == std::string::npos ? std::string() : key.substr(0, last + 1);
}

bool floatLines(const std::vector<std::string>& lines, std::size_t first, float* const* targets, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& line = lines[first + i];
        if (!readFloatLine(line, *targets[i]))
            return engineLog().error("Can`t read [%s] from line [%s]", lineLabel(line).c_str(), line.c_str());
    }
    return true;
}

int compareNames(const char* a, const char* b) { return std::strncmp(a, b, 128); }

}  // namespace

bool PhysicsSurface::import(const char* path) {
    TextFile file;
    loadTextFileLines(FilePath(path ? path : ""), file, false);
    if (file.lines.empty()) return engineLog().error("Can`t import surface [%s]", path ? path : "");
    return importLines(file.lines, path);
}

bool PhysicsSurface::importLines(const std::vector<std::string>& lines, const char* path) {
    Log& log = engineLog();
    path = path ? path : "";
    if (lines.size() < kSurfaceLines) return log.error("Can`t import surface [%s]", path);
    std::string value;
    if (!lineValue(lines[1], value)) return log.error("Can`t read surface name from line [%s]", lines[1].c_str());
    copyName128(name, value.c_str());
    if (!readFloatLine(lines[2], dynamicFriction))
        return log.error("Can`t read dynamic friction from line [%s]", lines[2].c_str());
    if (!readFloatLine(lines[3], staticFriction))
        return log.error("Can`t read static friction from line [%s]", lines[3].c_str());
    if (!readFloatLine(lines[4], restitution))
        return log.error("Can`t restitution from line [%s]", lines[4].c_str());
    if (!readCombineLine(lines[5], restitutionCombine))
        return log.error("Can`t read restitution combine mode from line [%s]", lines[5].c_str());
    if (!readCombineLine(lines[6], frictionCombine))
        return log.error("Can`t read friction combine mode from line [%s]", lines[6].c_str());
    bool on = false;
    if (!readBoolLine(lines[7], on)) return log.error("Can`t read spring status from line [%s]", lines[7].c_str());
    if (on) {
        flags |= kSurfaceSpring;
        float* const spring[] = {&springConstant, &springDamper, &springValue};
        if (!floatLines(lines, 8, spring, 3)) return false;
    }
    if (!readBoolLine(lines[11], on))
        return log.error("Can`t read [%s] from line [%s]", lineLabel(lines[11]).c_str(), lines[11].c_str());
    if (on) {
        if (lines.size() < kAnisotropicSurfaceLines) return log.error("Can`t import surface [%s]", path);
        flags |= kSurfaceAnisotropic;
        float* const direction[] = {&anisotropy[0], &anisotropy[1], &anisotropy[2]};
        if (!floatLines(lines, 14, direction, 3)) return false;
        float* const frictions[] = {&dynamicFrictionV, &staticFrictionV};
        if (!floatLines(lines, 12, frictions, 2)) return false;
    }
    return true;
}

std::int32_t PhysicsSurface::write(DataStream& stream) const {
    std::int32_t total = 0;
    if (!addField(total, writeString8(stream, name))) return total;
    const float head[] = {dynamicFriction, staticFriction, restitution, dynamicFrictionV, staticFrictionV,
                          anisotropy[0],   anisotropy[1],  anisotropy[2]};
    for (float value : head)
        if (!addField(total, writeF32(stream, value))) return total;
    for (std::uint32_t value : {flags, frictionCombine, restitutionCombine, 0u})
        if (!addField(total, writeU32(stream, value))) return total;
    for (float value : {springConstant, springDamper, springValue})
        if (!addField(total, writeF32(stream, value))) return total;
    return total;
}

std::int32_t PhysicsSurface::read(DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, readString8(stream, name, sizeof(name)))) return total;
    float* const head[] = {&dynamicFriction, &staticFriction, &restitution,   &dynamicFrictionV,
                           &staticFrictionV, &anisotropy[0],  &anisotropy[1], &anisotropy[2]};
    for (float* value : head)
        if (!addField(total, readF32(stream, *value))) return total;
    for (std::uint32_t* value : {&flags, &frictionCombine, &restitutionCombine, &reserved})
        if (!addField(total, readU32(stream, *value))) return total;
    for (float* value : {&springConstant, &springDamper, &springValue})
        if (!addField(total, readF32(stream, *value))) return total;
    return total;
}

bool readCompiledSurface(DataStream& stored, PhysicsSurface& surface) {
    MemoryStream unpacked;
    if (readPackedStream(-1, unpacked, false, stored) < 0) return false;
    PhysicsSurface read;
    if (read.read(unpacked) < 0) return false;
    surface = read;
    return true;
}

bool compileSurface(const PhysicsSurface& surface, MemoryStream& out) {
    MemoryStream content;
    if (surface.write(content) < 0) return false;
    content.setPosition(0);
    return writePackedStream(content, 9, true, out) >= 0;
}

SurfaceDataManager::SurfaceDataManager() {
    release();
    auto builtIn = std::make_unique<PhysicsSurface>();
    copyName128(builtIn->name, "default");
    insert(std::move(builtIn));
}

SurfaceDataManager::~SurfaceDataManager() { release(); }

void SurfaceDataManager::release() {
    surfaces_.clear();
    missing_.clear();
}

bool SurfaceDataManager::compileFromSource(const char* sourcePath) {
    const std::string path = sourcePath ? sourcePath : "";
    std::string name;
    std::string target;
    compiledPathOf(path, name, target);
    return compile(path.c_str(), name.c_str(), target.c_str());
}

bool SurfaceDataManager::compile(const char* sourcePath, const char* surfaceName, const char* targetPath) {
    Log& log = engineLog();
    PhysicsSurface surface;
    copyName128(surface.name, surfaceName ? surfaceName : "");
    if (!surface.import(sourcePath))
        return log.error("Can't compile physics surface [%s]: Internal structure error", sourcePath ? sourcePath : "");
    MemoryStream compiled;
    if (!compileSurface(surface, compiled))
        return log.error("Can't save physics surface [%s] data to RAM file", surface.name);
    const char* target = targetPath ? targetPath : "";
    std::unique_ptr<WinFileStream> file(
        WinFileStream::open(target, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
    if (!file) return log.error("Can't save physics surface to [%s]: IO error", target);
    if (file->write(compiled.data(), compiled.size()) != compiled.size())
        return log.error("Can't save physics surface to [%s]: IO write error", target);
    return true;
}

std::size_t SurfaceDataManager::lowerBound(const char* name) const {
    std::size_t low = 0;
    std::size_t high = surfaces_.size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (compareNames(surfaces_[mid]->name, name) < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

void SurfaceDataManager::insert(std::unique_ptr<PhysicsSurface> surface) {
    const std::size_t at = lowerBound(surface->name);
    surfaces_.insert(surfaces_.begin() + static_cast<std::ptrdiff_t>(at), std::move(surface));
}

const PhysicsSurface* SurfaceDataManager::find(const char* name) const {
    name = name ? name : "";
    const std::size_t at = lowerBound(name);
    return at < surfaces_.size() && compareNames(surfaces_[at]->name, name) == 0 ? surfaces_[at].get() : nullptr;
}

const PhysicsSurface* SurfaceDataManager::request(const char* name) {
    if (const PhysicsSurface* known = find(name)) return known;
    MemoryStream stored;
    if (!name || !name[0] || !loadResource(compiledExtension(), name, "", stored)) return nullptr;
    auto surface = std::make_unique<PhysicsSurface>();
    if (!readCompiledSurface(stored, *surface)) {
        engineLog().error("Invalid data format in [%s]", name);
        return nullptr;
    }
    // Kept under the name it was asked by.
    copyName128(surface->name, name);
    const PhysicsSurface* result = surface.get();
    insert(std::move(surface));
    return result;
}

const PhysicsSurface* SurfaceDataManager::surfaceOrDefault(const char* name) {
    name = name ? name : "";
    if (!missing_.count(name)) {
        if (const PhysicsSurface* surface = request(name)) return surface;
        missing_.insert(name);
        engineLog().error("Physics surface [%s] not found: \"default\" used", name);
    }
    return find("default");
}
