#include "scene/SceneDescription.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "actions/ActionWriter.h"
#include "rain/RainWriter.h"
#include "foundation/DataStream.h"
#include "foundation/PackedStream.h"
#include "foundation/StringHelper.h"

namespace scene_tools {

namespace {

std::string streamBytes(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

bool copyName(const std::string& text, char* field, std::size_t size, std::string& error) {
    if (text.size() >= size || !field) {
        error = "name [" + text + "] is longer than " + std::to_string(size - 1) + " characters";
        return false;
    }
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size());
    return true;
}

// A finite number written in full ("1.5", "-2", "1e3"); false for any
// other text.
bool readFloat(const std::string& text, float& value) {
    try {
        std::size_t used = 0;
        const float parsed = std::stof(text, &used);
        if (used != text.size() || !std::isfinite(parsed)) return false;
        value = parsed;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Reads the options after the fixed words of a line.
struct Options {
    Matrix34 pose = matrix34Identity();
    std::vector<std::pair<std::string, std::vector<std::string>>> named;

    static bool parse(std::istringstream& in, Options& out, std::string& error) {
        std::string word;
        while (in >> word) {
            std::size_t values = 0;
            if (word == "at") values = 3;
            else if (word == "matrix") values = 12;
            else if (word == "colour" || word == "ambient" || word == "diffuse" || word == "specular" ||
                     word == "extents" ||
                     word == "trajectory" || word == "corner")
                values = 3;
            else if (word == "radius" || word == "distance" || word == "texture_set" || word == "lightset") values = 1;
            else if (word == "morning" || word == "day" || word == "evening" || word == "nighttime") values = 1;
            else if (word == "order" || word == "flags" || word == "effect" || word == "texture") values = 1;
            else if (word == "help") values = 2;
            else if (word == "cells") values = 4;
            else {
                error = "unknown option [" + word + "]";
                return false;
            }
            std::vector<std::string> items(values);
            for (std::string& item : items)
                if (!(in >> item)) {
                    error = "option [" + word + "] lacks its values";
                    return false;
                }
            if (word == "at" || word == "matrix") {
                float* target = word == "at" ? out.pose.m + 9 : out.pose.m;
                for (std::size_t i = 0; i < values; ++i)
                    if (!readFloat(items[i], target[i])) {
                        error = "option [" + word + "] takes numbers";
                        return false;
                    }
            } else {
                out.named.emplace_back(word, std::move(items));
            }
        }
        return true;
    }

    const std::vector<std::string>* find(const char* key) const {
        for (const auto& [name, values] : named)
            if (name == key) return &values;
        return nullptr;
    }

    bool number(const char* key, float& value, std::string& error) const {
        const std::vector<std::string>* found = find(key);
        if (!found) return true;
        if (readFloat(found->front(), value)) return true;
        error = std::string("option [") + key + "] takes a number";
        return false;
    }

    // A whole number from 0 to the largest 32-bit signed value, written as
    // one ("7", not "7.0" or "1e20").
    bool wholeNumber(const char* key, std::int32_t& value, std::string& error) const {
        const std::vector<std::string>* found = find(key);
        if (!found) return true;
        std::int32_t parsed = 0;
        if (parseWholeNumber(found->front(), parsed) && parsed >= 0) {
            value = parsed;
            return true;
        }
        error = std::string("option [") + key + "] takes a whole number from 0 to 2147483647, not [" +
                found->front() + "]";
        return false;
    }

    bool colour(const char* key, float (&value)[3], std::string& error) const {
        const std::vector<std::string>* found = find(key);
        if (!found) return true;
        for (std::size_t i = 0; i < 3; ++i)
            if (!readFloat((*found)[i], value[i])) {
                error = std::string("option [") + key + "] takes numbers";
                return false;
            }
        return true;
    }
};

// The pose kind of a name, or -1.
std::int32_t poseKind(const std::string& kind) {
    for (std::uint32_t type = 0; type < 7; ++type) {
        std::string name = poseTypeName(type);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == kind) return static_cast<std::int32_t>(type);
    }
    return -1;
}

// The table a sky begins with: by time of day its colours and fog start,
// the same for every weather.
std::vector<float> defaultSkyTable() {
    struct Time {
        float horizon[3], sky[3], stars[3], clouds[3], fogStart;
    };
    static const Time kTimes[4] = {
        {{0.85f, 0.8f, 0.8f}, {0.7f, 0.6f, 0.6f}, {0.4f, 0.4f, 0.4f}, {0.7f, 0.6f, 0.6f}, 80.0f},
        {{0.85f, 0.85f, 0.85f}, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 100.0f},
        {{0.75f, 0.7f, 0.7f}, {0.4f, 0.3f, 0.3f}, {0.6f, 0.6f, 0.7f}, {0.6f, 0.5f, 0.5f}, 100.0f},
        {{0.01f, 0.01f, 0.05f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, {0.2f, 0.2f, 0.22f}, 100.0f}};
    std::vector<float> table;
    for (int record = 0; record < 16; ++record) {
        const Time& t = kTimes[record / 4];
        // range 0-2, depth 4, depth 0-3, bloom 0-2
        for (float v : {0.5f, 6.0f, 50.0f, 0.5f, 0.0f, -0.2f, 4.0f, 5.0f, 0.6f, 1.0f, 1.0f}) table.push_back(v);
        table.insert(table.end(), t.horizon, t.horizon + 3);
        for (float v : {t.fogStart, 1500.0f, 0.003f}) table.push_back(v);
        table.insert(table.end(), t.sky, t.sky + 3);
        table.insert(table.end(), t.stars, t.stars + 3);
        table.insert(table.end(), t.clouds, t.clouds + 3);
        table.push_back(0.01f);
    }
    return table;
}

// Where each key of a sky line goes in a record, and how many values it
// takes.
struct SkyKey {
    const char* name;
    std::size_t field, count;
};
const SkyKey kSkyKeys[] = {{"skycolor", 17, 3},  {"horizon", 11, 3},    {"starscolor", 20, 3},
                           {"cloudscolor", 23, 3}, {"cloudsspeed", 26, 1}, {"skyfog", 16, 1},
                           {"fog", 14, 2},       {"bloom", 8, 3}};

// "sky <time>|all <weather>|all <key> <values> ..." over the table.
bool parseSkyLine(std::istringstream& in, SceneDescription& out, std::string& error) {
    if (out.skyTable.empty()) out.skyTable = defaultSkyTable();
    std::string time;
    if (!(in >> time)) return true;
    std::string weather;
    static const char* const kTimeNames[4] = {"morning", "day", "evening", "nighttime"};
    static const char* const kWeatherNames[4] = {"clear", "clouds", "rain", "fog"};
    auto codes = [&](const std::string& word, const char* const (&names)[4], std::vector<int>& into) {
        for (int i = 0; i < 4; ++i)
            if (word == "all" || word == names[i]) into.push_back(i);
        if (into.empty()) error = "sky: [" + word + "] is not one of the four";
        return !into.empty();
    };
    std::vector<int> times;
    std::vector<int> weathers;
    if (!(in >> weather)) {
        error = "sky: a time of day needs its weather";
        return false;
    }
    if (!codes(time, kTimeNames, times) || !codes(weather, kWeatherNames, weathers)) return false;
    std::string key;
    while (in >> key) {
        std::size_t field = 0;
        std::size_t count = 0;
        if (key == "depth") field = 3, count = 5;
        for (const SkyKey& k : kSkyKeys)
            if (key == k.name) field = k.field, count = k.count;
        if (count == 0) {
            error = "sky: unknown key [" + key + "]";
            return false;
        }
        std::vector<float> values(count);
        for (float& value : values) {
            std::string text;
            if (!(in >> text) || !readFloat(text, value)) {
                error = "sky: [" + key + "] needs " + std::to_string(count) + " numbers";
                return false;
            }
        }
        // depth: values 1-4 are fields 4-7, value 5 is field 3.
        if (key == "depth") std::rotate(values.begin(), values.begin() + 4, values.end());
        for (int t : times)
            for (int w : weathers)
                std::copy(values.begin(), values.end(), out.skyTable.begin() + (4 * t + w) * 27 + field);
    }
    return true;
}

bool parseLine(const std::string& line, SceneDescription& out, VisibilityBuilder& areas, std::string& error) {
    std::istringstream in(line);
    std::string keyword;
    if (!(in >> keyword) || keyword[0] == '#') return true;
    if (keyword == "sky") {
        out.sky = true;
        return parseSkyLine(in, out, error);
    }
    if (keyword == "actions") {
        out.actions = true;
        return true;
    }
    if (keyword == "rain") {
        out.rain = true;
        std::string rest;
        std::getline(in >> std::ws, rest);
        out.rainSource += rest + "\n";
        return true;
    }
    std::string first;
    std::string second;
    if (!(in >> first)) {
        error = "[" + keyword + "] lacks its name";
        return false;
    }
    if (keyword == "scene") return copyName(first, out.data.name, sizeof(out.data.name), error);
    const bool twoNames = keyword == "model" || keyword == "sprite" || keyword == "light" || keyword == "pose" ||
                          keyword == "waypoint";
    if (twoNames && !(in >> second)) {
        error = "[" + keyword + "] lacks its second name";
        return false;
    }
    Options options;
    if (!Options::parse(in, options, error)) return false;
    if (keyword == "model") {
        SceneModelPlacement& model = out.data.models.emplace_back();
        model.pose = options.pose;
        std::int32_t textureSet = 0;
        if (!options.wholeNumber("texture_set", textureSet, error)) return false;
        model.properties.textureSet = static_cast<std::uint32_t>(textureSet);
        // The placement's property block replaces its model's when the
        // scene loads: the light sets it names by time of day are the ones
        // the model takes (an empty one takes the scene's default).
        static const char* const kTimes[4] = {"morning", "day", "evening", "nighttime"};
        for (int time = 0; time < 4; ++time)
            if (const std::vector<std::string>* set = options.find(kTimes[time]))
                if (!copyName(set->front(), model.properties.lightSets[time], 128, error)) return false;
        return copyName(first, model.name, sizeof(model.name), error) &&
               copyName(second, model.model, sizeof(model.model), error);
    }
    if (keyword == "sprite") {
        SceneSpritePlacement& sprite = out.data.sprites.emplace_back();
        sprite.pose = options.pose;
        return copyName(first, sprite.name, sizeof(sprite.name), error) &&
               copyName(second, sprite.sprite, sizeof(sprite.sprite), error);
    }
    if (keyword == "light") {
        std::unique_ptr<Y3Light> light = Y3Light::create(first == "point" ? 0 : first == "direct" ? 1 : 2);
        if (!light) {
            error = "light kind [" + first + "] is neither point nor direct";
            return false;
        }
        light->pose = options.pose;
        if (!options.number("radius", light->radius, error) || !options.colour("colour", light->colour, error))
            return false;
        if (auto* direct = dynamic_cast<Y3Light_DIRECT*>(light.get()))
            if (!options.number("distance", direct->distance, error)) return false;
        if (const std::vector<std::string>* set = options.find("lightset"))
            for (char* name : light->lightSets)
                if (!copyName(set->front(), name, 128, error)) return false;
        if (!copyName(second, light->name, sizeof(light->name), error)) return false;
        if (const std::vector<std::string>* texture = options.find("texture")) {
            char name[128];
            if (!copyName(texture->front(), name, sizeof(name), error)) return false;
            light->projectedTexture(0).init(name);
        }
        light->setPose(light->pose);
        out.data.lights.push_back(std::move(light));
        return true;
    }
    if (keyword == "pose" || keyword == "waypoint") {
        const std::int32_t kind = poseKind(first);
        if (kind < 0) {
            error = "pose kind [" + first + "] is unknown";
            return false;
        }
        if (second.size() > 127) return copyName(second, nullptr, 128, error);
        // A particle pose names the effect its particle shows.
        const std::vector<std::string>* effect = options.find("effect");
        if (effect && (kind != PoseParticle || effect->front().size() > 127)) {
            error = "only a particle pose names an effect of at most 127 characters";
            return false;
        }
        // A model pose carries the points of its trajectory, a volume pose
        // the corners of its ground polygon, each in order.
        std::vector<PoseVector3> trajectory;
        std::vector<PoseVector3> corners;
        for (const auto& [name, values] : options.named) {
            if (name != "trajectory" && name != "corner") continue;
            const bool corner = name == "corner";
            if (!corner && kind != PoseModel) {
                error = "only a model pose carries a trajectory";
                return false;
            }
            if (corner && kind != PoseVolume) {
                error = "only a volume pose has corners";
                return false;
            }
            PoseVector3& point = (corner ? corners : trajectory).emplace_back();
            for (std::size_t i = 0; i < 3; ++i)
                if (!readFloat(values[i], point.v[i])) {
                    error = "option [" + name + "] takes numbers";
                    return false;
                }
        }
        const auto fill = [&](Y3Pose& pose) {
            if (effect) pose.setResourceName(effect->front().c_str(), false);
            if (!trajectory.empty()) static_cast<Y3Pose_Model&>(pose).trajectory = trajectory;
            if (!corners.empty()) static_cast<Y3Pose_Volume&>(pose).polygon = corners;
        };
        if (keyword == "waypoint") {
            fill(out.waypoints.add(static_cast<std::uint32_t>(kind), second.c_str(), options.pose));
            return true;
        }
        std::unique_ptr<Y3Pose> pose = Y3Pose::create(static_cast<std::uint32_t>(kind));
        pose->pose = options.pose;
        fill(*pose);
        copyName(second, pose->id, sizeof(pose->id), error);
        out.data.poses.push_back(std::move(pose));
        return true;
    }
    if (keyword == "area") {
        if (first.size() > 127) return copyName(first, nullptr, 128, error);
        float extents[3] = {1.0f, 1.0f, 1.0f};
        if (!options.colour("extents", extents, error)) return false;
        areas.addArea(first.c_str(), options.pose.m + 9, extents);
        return true;
    }
    if (keyword == "screen") {
        if (first.size() > 127) return copyName(first, nullptr, 128, error);
        out.actions = true;
        out.actionSource += "screen " + first + "\n";
        return true;
    }
    if (keyword == "action") {
        if (first.size() > 127) return copyName(first, nullptr, 128, error);
        std::int32_t order = 0;
        std::int32_t flags = 0;
        float colour[3] = {1.0f, 1.0f, 1.0f};
        float help[2] = {0.0f, 0.0f};
        if (!options.wholeNumber("order", order, error) || !options.wholeNumber("flags", flags, error) ||
            !options.colour("colour", colour, error))
            return false;
        std::vector<actions_tools::CellRect> rects;
        for (const auto& [name, values] : options.named) {
            float v[4] = {};
            const std::size_t count = name == "cells" ? 4 : name == "help" ? 2 : 0;
            for (std::size_t i = 0; i < count; ++i)
                if (!readFloat(values[i], v[i])) {
                    error = "option [" + name + "] takes numbers";
                    return false;
                }
            if (name == "help") help[0] = v[0], help[1] = v[1];
            if (name == "cells")
                rects.push_back({static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                                 static_cast<int>(v[3])});
        }
        out.actionSource += actions_tools::actionSourceText(first, order, static_cast<int>(help[0]),
                                                            static_cast<int>(help[1]), colour,
                                                            static_cast<unsigned>(flags), rects.data(),
                                                            static_cast<int>(rects.size()));
        return true;
    }
    if (keyword == "lightset") {
        LightSet& set = out.lightSets.emplace_back();
        // Materials lit with the set shine only where it says so.
        for (float& c : set.exterior.specular) c = 0.0f;
        return copyName(first, set.name, sizeof(set.name), error) &&
               options.colour("ambient", set.exterior.ambient, error) &&
               options.colour("diffuse", set.exterior.diffuse, error) &&
               options.colour("specular", set.exterior.specular, error);
    }
    error = "unknown line [" + keyword + "]";
    return false;
}

bool writeFile(const std::string& path, const std::string& bytes, std::string* error) {
    if (!ensurePathFolders(path)) {
        if (error) *error = "can't create the folders of [" + path + "]";
        return false;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        if (error) *error = "can't write [" + path + "]";
        return false;
    }
    return true;
}

}  // namespace

bool parseSceneDescription(std::string_view text, SceneDescription& out, std::string& error) {
    std::istringstream in{std::string(text)};
    std::string line;
    int number = 0;
    VisibilityBuilder areas;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string reason;
        if (!parseLine(line, out, areas, reason)) {
            error = "line " + std::to_string(number) + ": " + reason;
            return false;
        }
    }
    if (!out.data.name[0]) {
        error = "the description names no scene";
        return false;
    }
    out.data.pvs.copyFrom(areas.pvs());
    return true;
}

std::string sceneDataBytes(const SceneData& data) {
    MemoryStream stream(true);
    return data.write(stream) < 0 ? std::string() : streamBytes(stream);
}

std::string lightSetBytes(const LightSet& set) {
    MemoryStream raw(true);
    raw.write(&set, static_cast<std::int32_t>(sizeof(LightSet)));
    MemoryStream record(true);
    return writePackedStream(raw, 6, true, record) < 0 ? std::string() : streamBytes(record);
}

std::string waypointBytes(const WaypointSet& poses) {
    MemoryStream stream(true);
    return poses.writeCompiled(stream) < 0 ? std::string() : streamBytes(stream);
}

std::string sceneActionBytes(const SceneDescription& description) {
    return actions_tools::compileActionSource(description.actionSource, (std::string(description.data.name) + ".as").c_str());
}

std::string skyTableBytes(const std::vector<float>& table) {
    if (table.size() != 16 * 27) return std::string();
    MemoryStream stream;
    for (float value : table)
        if (writeF32(stream, value) < 0) return std::string();
    return streamBytes(stream);
}

bool writeSceneFiles(const SceneDescription& description, const std::string& folder,
                     std::vector<std::string>* written, std::string* error) {
    const std::string scene = description.data.name;
    std::vector<std::pair<std::string, std::string>> files;
    files.emplace_back(scene + ".ms4", sceneDataBytes(description.data));
    if (!description.waypoints.poses().empty()) files.emplace_back(scene + ".wp", waypointBytes(description.waypoints));
    for (const LightSet& set : description.lightSets)
        files.emplace_back(std::string(set.name) + ".ls", lightSetBytes(set));
    if (description.sky)
        files.emplace_back(scene + ".sky",
                           skyTableBytes(description.skyTable.empty() ? defaultSkyTable() : description.skyTable));
    if (description.actions)
        files.emplace_back(scene + ".as", sceneActionBytes(description));
    if (description.rain) {
        // The rain map is named after the scene unless its lines say otherwise.
        rain_tools::RainFiles rain;
        std::string reason;
        if (!rain_tools::writeRainFiles("name " + scene + "\n" + description.rainSource, rain, reason)) {
            if (error) *error = "rain: " + reason;
            return false;
        }
        files.emplace_back(scene + ".rain", rain.header);
        files.emplace_back(scene + ".raindata", rain.data);
    }
    for (const auto& [name, bytes] : files) {
        if (bytes.empty()) {
            if (error) *error = "can't store [" + name + "]";
            return false;
        }
        if (!writeFile(folder + "/" + name, bytes, error)) return false;
        if (written) written->push_back(name);
    }
    return true;
}

}  // namespace scene_tools
