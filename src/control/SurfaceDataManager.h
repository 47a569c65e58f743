// Physics surfaces: how a material behaves in contact (frictions,
// restitution, their combine modes, an optional spring and an optional
// anisotropic friction direction). Actor descriptions name their surfaces
// as materials.
//
// Sources are small text files of `key = value` lines taken by position;
// the compiled ".mat" file is one packed stream record holding the name
// (u8 length and bytes) and the fifteen fields that follow it. The
// `SurfaceDataManager` keeps the surfaces sorted by name and always holds
// the built-in "default".
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "resources/DataManager.h"

class DataStream;
class MemoryStream;

// Flag bits of PhysicsSurface::flags.
constexpr std::uint32_t kSurfaceAnisotropic = 1;
constexpr std::uint32_t kSurfaceSpring = 4;

// Combine modes of the friction and restitution values.
enum SurfaceCombineMode : std::uint32_t {
    CombineAverage = 0,
    CombineMin = 1,
    CombineMultiply = 2,
    CombineMax = 3,
};

struct PhysicsSurface {
    char name[128] = {};
    float dynamicFriction = 1.0f;
    float staticFriction = 1.0f;
    float restitution = 0.0f;
    float dynamicFrictionV = 0.0f;
    float staticFrictionV = 0.0f;
    float anisotropy[3] = {1.0f, 0.0f, 0.0f};
    std::uint32_t flags = 0;
    std::uint32_t frictionCombine = CombineAverage;
    std::uint32_t restitutionCombine = CombineAverage;
    std::uint32_t reserved = 0;
    float springConstant = 0.0f;
    float springDamper = 0.0f;
    float springValue = 0.0f;

    // Fills the surface from a source text file (the lines are logged by
    // their own messages); false on any failure.
    bool import(const char* path);
    // The same over lines already read (path names the source in messages).
    bool importLines(const std::vector<std::string>& lines, const char* path);
    // The compiled content: name length and name, then the fifteen fields
    // (the reserved word written as 0). Bytes or negative.
    std::int32_t write(DataStream& stream) const;
    // Reads the compiled content; negative when it is short.
    std::int32_t read(DataStream& stream);
};

// Reads a compiled ".mat" (the packed record) into surface; false when it
// is damaged.
bool readCompiledSurface(DataStream& stored, PhysicsSurface& surface);
// The compiled ".mat" bytes of a surface: its content as a packed record.
bool compileSurface(const PhysicsSurface& surface, MemoryStream& out);

class SurfaceDataManager : public DataManager {
public:
    // Holds the built-in "default" surface.
    SurfaceDataManager();
    ~SurfaceDataManager() override;

    const char* sourceExtension() const override { return ".txt"; }
    const char* compiledExtension() const override { return ".mat"; }
    std::int32_t typeNumber() const override { return 43; }
    const char* title() const override { return "Physics surfaces DB"; }
    std::int32_t readResource(DataStream&, const char*, std::int32_t) override { return -1; }
    std::int32_t exportResource(const char*, DataStream&) override { return 0; }
    std::int32_t readSingleFile(DataStream&, const char*, std::int32_t) override { return 0; }
    std::int32_t reservedOperation(std::int32_t, std::int32_t) override { return 0; }
    // Compiles the source under the name of its file.
    bool compileFromSource(const char* sourcePath) override;
    bool initialize() override { return true; }
    // Deletes every surface.
    void release() override;

    // Imports the source, builds the compiled record and writes it to the
    // target, replacing an older file; false (logged) when a step fails.
    bool compile(const char* sourcePath, const char* surfaceName, const char* targetPath);

    // The surface of that name, loaded from the packages' ".mat" on its
    // first request; null when there is none (damaged files are logged).
    const PhysicsSurface* request(const char* name);
    // The surface an actor's material names: request()'s, else "default",
    // which is said once for each missing name (not looked for again).
    const PhysicsSurface* surfaceOrDefault(const char* name);
    const PhysicsSurface* find(const char* name) const;
    std::size_t count() const { return surfaces_.size(); }
    const PhysicsSurface* at(std::size_t index) const { return surfaces_[index].get(); }

private:
    std::size_t lowerBound(const char* name) const;
    void insert(std::unique_ptr<PhysicsSurface> surface);

    std::vector<std::unique_ptr<PhysicsSurface>> surfaces_;
    // Names asked for that no package holds.
    std::set<std::string> missing_;
};
