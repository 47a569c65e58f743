// The light database: one record per light name ("<scene>.<light>" for the
// lights of a scene), holding the light resource (Y3Light) that Light
// objects place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "effects/Y3Light.h"
#include "foundation/StringHelper.h"

// Bits of Y3LightData::flags.
constexpr std::uint32_t kLightDataLoaded = 0x2;
constexpr std::uint32_t kLightDataAllocated = 0x100;
// The record failed (a light is not made of it; its use is reported once).
constexpr std::uint32_t kLightDataFailed = 0x8000;
// The record asks to be allocated as soon as it is loaded.
constexpr std::uint32_t kLightDataAllocateOnLoad = 0x100000;

class Y3LightData {
public:
    explicit Y3LightData(const char* name);
    // Gives back the light's device data.
    ~Y3LightData();
    Y3LightData(const Y3LightData&) = delete;
    Y3LightData& operator=(const Y3LightData&) = delete;

    bool loaded() const { return (flags & kLightDataLoaded) != 0; }
    bool allocated() const { return (flags & kLightDataAllocated) != 0; }
    // Takes a copy of the light as its data; the loaded flag follows.
    bool load(const Y3Light* source);
    // Makes the light's device data (its projected textures) under the
    // record's error log ("Allocation failed", "Already allocated. Try to
    // allocate twice"); the allocated flag follows the result.
    bool allocate();
    // "Y3Light [name]: message" on the resource channel; false.
    bool logError(const char* message) const;

    char name[128] = {};
    std::uint32_t flags = 0;
    std::unique_ptr<Y3Light> light;
    // The pushed lights placing this resource.
    std::vector<void*> instances;
    // The light objects made of this record, pushed or not: while one
    // exists the record stays in the database.
    std::uint32_t holders = 0;
};

class LightDataManager {
public:
    // The record of that name (its first 127 characters), created when
    // absent.
    Y3LightData* getOrCreate(const char* name);
    Y3LightData* find(const char* name) const;
    std::size_t count() const { return records_.size(); }
    void clear() { records_.clear(); }
    // Drops the record of that name unless a light object is made of it;
    // true when it went.
    bool drop(const char* name);

private:
    // By name: a scene's load adds one record per light.
    std::unordered_map<std::string, std::unique_ptr<Y3LightData>, NameHash, std::equal_to<>> records_;
};

// The light database of the renderer: the one the render core installs
// (its records and their textures go while the core releases), or, without
// a render core (tools, tests), one of the process.
LightDataManager& lightDataManager();
void setLightDataManager(LightDataManager* manager);

// The record name of a light of a scene or model: "<owner>.<light>", cut to
// 127 characters.
std::string lightRecordName(const char* owner, const Y3Light& light);

// The light resource "<owner>.<light>" (cut to 127 characters) of a light
// of a scene or model: found or made, loaded from the light when it is not
// loaded yet and, with allocateOnLoad, allocated under the loading lock
// ("Load first", "Already allocated. Try to allocate twice", "Allocation
// failed"). "Load failed" is reported on the record when it stays without
// data. Never null.
Y3LightData* loadLightResource(const char* owner, const Y3Light& light, bool allocateOnLoad);
