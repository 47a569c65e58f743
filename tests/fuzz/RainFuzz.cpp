// Fuzz targets of the sky and rain files: the bytes are read as a compiled
// sky table (".sky"), a rain map's header form (".rain") or its data form
// (".raindata", after a header from the rain-map writer). A refused file
// leaves nothing loaded; an accepted rain map names only segments it has,
// holds one entry a cell and 1,600 drop vertices a segment.
#include <memory>
#include <string>

#include "effects/RainMap.h"
#include "effects/SkyDataManager.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "model/Y3MeshStream.h"
#include "rain/RainWriter.h"
#include "scene/SceneDescription.h"

namespace fuzzing {

namespace {

rain_tools::RainFiles rainSeed(const char* text) {
    rain_tools::RainFiles files;
    std::string error;
    rain_tools::writeRainFiles(text, files, error);
    return files;
}

const char* const kRainTexts[] = {
    "name plain\n",
    "name yard\norigin -5 0 -5\ngrid 2 2\ncell 0 0 1\nbox 8 8 12 12 3\nframes 2 4\n",
    "grid 3 1\ncell 2 0 -4\nindex 1 0 0\ntextures a b\n",
};

void addDamaged(std::vector<std::string>& out, const std::string& file) {
    out.push_back(file);
    out.push_back(file.substr(0, file.size() / 2));
    std::string flipped = file;
    for (std::size_t at = 5; at < flipped.size(); at += 4093) flipped[at] = char(flipped[at] ^ (1 << (at % 8)));
    out.push_back(flipped);
}

}  // namespace

int fuzzSky(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    Y3SkyDataInstance sky("fuzz");
    const std::int32_t result = sky.readHeader(in);
    fuzzCheck((result >= 0) == (sky.records() != nullptr), "sky: records without a successful read");
    fuzzCheck(result < 0 || size >= std::size_t(kSkyTableBytes), "sky: a short table was accepted");
    sky.release();
    forgetLog();
    return 0;
}

void seedSky(std::vector<std::string>& out) {
    scene_tools::SceneDescription description;
    std::string error;
    if (!scene_tools::parseSceneDescription("scene s\nsky\nsky day clouds skycolor 1 0 0.5 cloudsspeed 0.2\n",
                                            description, error))
        return;
    addDamaged(out, scene_tools::skyTableBytes(description.skyTable));
}

int fuzzRain(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    Y3RainMapData record("fuzz");
    const std::int32_t result = record.readHeader(in);
    fuzzCheck((result >= 0) == record.hasObject(), "rain: rain data without a successful read");
    if (record.data) {
        fuzzCheck(record.data->settings.dropTexture[127] == 0 && record.data->settings.rippleTexture[127] == 0,
                  "rain: a texture name without its end");
        fuzzCheck(record.data->name[127] == 0, "rain: a name without its end");
    }
    record.release();
    forgetLog();
    return 0;
}

void seedRain(std::vector<std::string>& out) {
    for (const char* text : kRainTexts) addDamaged(out, rainSeed(text).header);
}

int fuzzRainData(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 22)) return 0;
    std::string header = rainSeed("name fuzz\n").header;
    MemoryStream headerStream(header.data(), static_cast<std::int32_t>(header.size()));
    Y3RainMapData record("fuzz");
    fuzzCheck(record.readHeader(headerStream) >= 0, "raindata: the writer's header was refused");
    std::string bytes(reinterpret_cast<const char*>(data), size);
    MemoryStream in(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    const std::int32_t result = record.readData(in);
    const RainData& rain = *record.data;
    if (result < 0) {
        fuzzCheck(rain.segments.empty() && rain.indexTable.empty() && !rain.emptyCell,
                  "raindata: a refused file left cells");
    } else {
        fuzzCheck(rain.indexTable.size() == std::size_t(rain.width) * std::size_t(rain.height),
                  "raindata: an index table of another size than the grid");
        for (std::int32_t entry : rain.indexTable)
            fuzzCheck(entry >= -1 && entry < std::int32_t(rain.segments.size()), "raindata: an entry past the segments");
        for (const RainSegment& segment : rain.segments)
            fuzzCheck(segment.stream && segment.stream->getFormat() == kRainVertexFormat &&
                          segment.stream->getCount() == kRainVerticesPerCell,
                      "raindata: a segment that is no cell of drops");
        fuzzCheck(rain.emptyCell != nullptr, "raindata: no empty-cell stream");
    }
    record.release();
    forgetLog();
    return 0;
}

void seedRainData(std::vector<std::string>& out) {
    for (const char* text : kRainTexts) addDamaged(out, rainSeed(text).data);
}

}  // namespace fuzzing
