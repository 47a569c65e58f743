#include "effects/SkyDataManager.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/Log.h"
#include "foundation/TextFile.h"

namespace {

const char* const kTimes[4] = {"morning", "day", "evening", "nighttime"};
const char* const kWeathers[4] = {"clear", "clouds", "rain", "fog"};
constexpr float kByteToUnit = 0.003921569f;  // 1 / 255

float* recordOf(SkyTable& table, int index) { return table.data() + index * kSkyRecordFields; }

void setColour(float* field, float r, float g, float b) {
    field[0] = r;
    field[1] = g;
    field[2] = b;
}

// The compile defaults of one record by its time of day.
void fillCompileDefaults(float* record, int time) {
    static const float kLoad[3] = {0.5f, 6.0f, 50.0f};
    std::copy(kLoad, kLoad + 3, record);
    const float rest[] = {0.5f, 0.0f, -0.2f, 4.0f, 5.0f, 0.6f, 1.0f, 1.0f};
    std::copy(std::begin(rest), std::end(rest), record + SkyFieldDepth4);
    struct TimeDefaults {
        float horizon[3], sky[3], stars[3], clouds[3], fogStart;
    };
    static const TimeDefaults kByTime[4] = {
        {{0.85f, 0.8f, 0.8f}, {0.7f, 0.6f, 0.6f}, {0.4f, 0.4f, 0.4f}, {0.7f, 0.6f, 0.6f}, 80.0f},
        {{0.85f, 0.85f, 0.85f}, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, 100.0f},
        {{0.75f, 0.7f, 0.7f}, {0.4f, 0.3f, 0.3f}, {0.6f, 0.6f, 0.7f}, {0.6f, 0.5f, 0.5f}, 100.0f},
        {{0.01f, 0.01f, 0.05f}, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}, {0.2f, 0.2f, 0.22f}, 100.0f}};
    const TimeDefaults& d = kByTime[time];
    std::copy(d.horizon, d.horizon + 3, record + SkyFieldHorizon);
    record[SkyFieldFogStart] = d.fogStart;
    record[SkyFieldFogEnd] = 1500.0f;
    record[SkyFieldSkyFog] = 0.003f;
    std::copy(d.sky, d.sky + 3, record + SkyFieldSky);
    std::copy(d.stars, d.stars + 3, record + SkyFieldStars);
    std::copy(d.clouds, d.clouds + 3, record + SkyFieldClouds);
    record[SkyFieldCloudSpeed] = 0.01f;
}

// One description's lower-cased text and the block being read.
struct SkyText {
    const char* name;
    const std::string& text;
    int time, weather;

    // Where the value text of the key starts in the block of the time and
    // weather, or npos. Each search runs on to the end of the text.
    std::size_t findKey(const char* key) const {
        std::size_t at = text.find(std::string("[") + kTimes[time] + "]");
        if (at == std::string::npos) return at;
        at = text.find(std::string("(") + kWeathers[weather] + ")", at);
        if (at == std::string::npos) return at;
        at = text.find(key, at);
        return at == std::string::npos ? at : at + std::strlen(key);
    }

    // The number whose scan starts at 'from'; 'end' is set where the number
    // stops. 0 when no digit or minus sign comes before the end.
    float number(std::size_t from, std::size_t& end) const {
        std::size_t start = from;
        while (start < text.size() && !std::isdigit(static_cast<unsigned char>(text[start])) && text[start] != '-')
            ++start;
        end = start;
        if (start + 1 >= text.size()) {
            end = text.size();
            return 0.0f;
        }
        while (end < text.size() && !std::strchr(" \t\r,", text[end])) ++end;
        return std::strtof(text.substr(start, end - start).c_str(), nullptr);
    }

    // Three numbers of 0..255, as colour components.
    void colour(const char* key, float* field) const {
        std::size_t at = findKey(key);
        if (at == std::string::npos) return;
        ++at;  // the scan starts at the second character after the key
        for (int i = 0; i < 3; ++i) field[i] = number(at, at) * kByteToUnit;
    }

    void single(const char* key, float& field) const {
        const std::size_t at = findKey(key);
        if (at == std::string::npos) return;
        std::size_t end = 0;
        field = number(at + 1, end);
    }

    // Argument n (1-based) of a multi-argument key. The arguments are read
    // in turn, at least the first two (a key of several arguments given
    // one is not read), each further one only when a comma follows the
    // previous number somewhere in the text.
    void argument(const char* key, int n, float& field) const {
        std::size_t at = findKey(key);
        if (at == std::string::npos) return;
        ++at;
        float value = 0.0f;
        for (int i = 1; i <= std::max(n, 2); ++i) {
            if (i > 1 && text.find(',', at) == std::string::npos) {
                engineLog().error("Sky [%s]: Expected %i arg for [%s] (%s:%s)", name, i, key, kWeathers[weather],
                                  kTimes[time]);
                return;
            }
            const float read = number(at, at);
            if (i == n) value = read;
        }
        field = value;
    }
};

}  // namespace

void fillSkyLoadDefaults(SkyTable& table) {
    static const float kLoad[kSkyRecordFields] = {0.5f, 6.0f, 50.0f, 0.8f, 0.1f, -2.0f, 4.0f, 4.0f, 0.4f,
                                                  1.0f, 0.9f, 0.85f, 0.85f, 0.85f, 100.0f, 1500.0f, 0.002f, 1.0f,
                                                  1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 0.01f};
    for (int r = 0; r < kSkyRecordCount; ++r) std::copy(kLoad, kLoad + kSkyRecordFields, recordOf(table, r));
}

void parseSkyText(const char* name, const std::string& source, SkyTable& table) {
    for (int r = 0; r < kSkyRecordCount; ++r) fillCompileDefaults(recordOf(table, r), r / 4);
    std::string text = source;
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int time = 0; time < 4; ++time)
        for (int weather = 0; weather < 4; ++weather) {
            const SkyText block{name ? name : "", text, time, weather};
            float* record = recordOf(table, 4 * time + weather);
            block.colour("skycolor", record + SkyFieldSky);
            block.colour("horizontcolor", record + SkyFieldHorizon);
            block.colour("cloudscolor", record + SkyFieldClouds);
            block.colour("starscolor", record + SkyFieldStars);
            block.single("cloudsspeed", record[SkyFieldCloudSpeed]);
            block.single("skyfog", record[SkyFieldSkyFog]);
            block.argument("fogtime", 1, record[SkyFieldFogStart]);
            block.argument("fogtime", 2, record[SkyFieldFogEnd]);
            for (int n = 1; n <= 4; ++n) block.argument("depth", n, record[SkyFieldDepth + n - 1]);
            block.argument("depth", 5, record[SkyFieldDepth4]);
            for (int n = 1; n <= 3; ++n) block.argument("bloom", n, record[SkyFieldBloom + n - 1]);
        }
}

Y3SkyDataInstance::Y3SkyDataInstance(const char* name)
    : StoredResourceRecord(name, resourceDescriptor(ResourceKind::Sky)) {}

std::int32_t Y3SkyDataInstance::readHeader(DataStream& stream) {
    SkyTable table;
    fillSkyLoadDefaults(table);
    // The records are little-endian floats, as this machine's.
    static_assert(std::endian::native == std::endian::little, "sky records are read in place");
    std::int32_t total = 0;
    for (int r = 0; r < kSkyRecordCount; ++r)
        if (!addField(total, readExact(stream, recordOf(table, r), kSkyRecordBytes))) {
            loaded_ = false;
            engineLog().error("Can't load sky [%s] data", name);
            return -1;
        }
    table_ = table;
    loaded_ = true;
    return total;
}

SkyDataManager::SkyDataManager() : StoredDataManager({.className = "SkyDataManager", .kind = ResourceKind::Sky}) {}

ResourceRecord* SkyDataManager::createRecord(const char* name) { return new Y3SkyDataInstance(name); }

bool SkyDataManager::compileFromSource(const char* sourcePath) {
    const std::string path = sourcePath ? sourcePath : "";
    std::string name;
    std::string target;
    compiledPathOf(path, name, target);
    return import(path.c_str(), target.c_str(), name.c_str());
}

bool SkyDataManager::import(const char* sourcePath, const char* targetPath, const char* name) {
    Log& log = engineLog();
    std::unique_ptr<WinFileStream> source = openFileStream(FilePath(sourcePath ? sourcePath : ""));
    if (!source) return log.error("Sky: Can't open source file [%s]", sourcePath ? sourcePath : "");
    std::string text;
    readStreamToString(text, *source);
    SkyTable table;
    fillSkyLoadDefaults(table);
    parseSkyText(name, text, table);
    MemoryStream compiled;
    if (compiled.write(table.data(), kSkyTableBytes) != kSkyTableBytes)
        return log.error("Can't write sky %s data to RAM package", name ? name : "");
    // The game cannot store compiled data: refused before the target is
    // opened, so an older file is kept.
    return saveCompiledStream(compiled, targetPath ? targetPath : "");
}
