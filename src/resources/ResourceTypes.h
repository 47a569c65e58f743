// The identifying values of the data managers, the resource types of the
// package database, and the descriptor texts of every resource-record type.
//
// The values are fixed: the packages store their files under these masks
// and sources, and messages name resources by these labels.
#pragma once

#include <cstdint>

// A data manager's identifying values (its slots 0 to 5).
struct DataManagerInfo {
    const char* className;
    const char* sourceExtension;
    const char* compiledExtension;
    std::int32_t typeNumber;
    const char* title;
    const char* packageSource;  // empty for most managers
    const char* secondText;     // "@" for the dialog manager, else empty
};

// Every data manager of the system, in table order.
extern const DataManagerInfo kDataManagers[];
extern const std::int32_t kDataManagerCount;
// The entry with that class name, or null.
const DataManagerInfo* findDataManagerInfo(const char* className);

// A resource type of the package database: its title, the type masks under
// which its files are looked up (with the source, where one is given), and
// the header and data labels its records use.
struct ResourceTypeInfo {
    const char* title;
    const char* masks[2];  // unused entries are empty
    const char* source;    // source of the type key; empty for most
    const char* headerLabel;
    const char* dataLabel;  // empty when the type has a single label
};

extern const ResourceTypeInfo kResourceTypes[];
extern const std::int32_t kResourceTypeCount;
// The entry with that title, or null.
const ResourceTypeInfo* findResourceType(const char* title);

// The descriptor texts a resource-record type gives its records.
struct ResourceDescriptor {
    const char* typeLabel;      // long label, the first "%s" of most messages
    const char* typeName;       // short type name
    const char* headerMask;     // mask of the header file in the packages
    const char* companionMask;  // companion header file (".events" for animations)
    const char* dataMask;       // mask of the data file; empty: no data file
    const char* sourceMask;     // the tools' source file; not used when loading
    const char* sourceName;     // the source argument of package lookups
};

// The record types of the resource managers.
enum class ResourceKind : std::int32_t {
    Model,
    Sprite,
    Particle,
    SceneData,
    Light,
    Font,
    Waypoints,
    SceneActions,
    Grid,
    Dialog,
    Quest,
    Sky,
    RainMap,
    Animation,
    AnimationMap,
    AnimationRules,
    Morph,
    PhysicsModel,
    Movie,
    Count,
};

const ResourceDescriptor& resourceDescriptor(ResourceKind kind);
