#include "rain/RainWriter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

namespace rain_tools {

namespace {

constexpr int kDrops = 400;
constexpr std::int16_t kMissing = -32000;
constexpr std::uint32_t kStreamMagic = 0x89EFA012u;
constexpr std::uint32_t kDropFormat = 16;

// The 91 settings words in their stored order.
struct Settings {
    float sizeMin = 0.2f, sizeMax = 0.5f;
    std::int32_t phaseBase = 16, framesUsed = 3, framesInStrip = 4;
    float dropPass[2] = {0.15f, 0.1f};
    std::int32_t setting7 = 0, phaseScale = 50;
    float dropColour[3] = {0.6f, 0.6f, 0.6f};
    float setting12 = 0.3f;
    float ripplePass[3] = {0.2f, 8.0f, 15.0f};
    std::int32_t rippleSpeed = 4;
    float rippleColour[3] = {0.05f, 0.05f, 0.05f};
    float setting20 = 2.0f;
    float bounds[6] = {-100.0f, -100.0f, -100.0f, 100.0f, 100.0f, 100.0f};
    std::string dropTexture = "p_liquid_splat", rippleTexture = "p_spark_tail";
};

void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}
void putI(std::string& out, std::int32_t v) { put32(out, std::uint32_t(v)); }
void putF(std::string& out, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    put32(out, bits);
}
void putName(std::string& out, const std::string& name) {
    std::string field(128, '\0');
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 127), field.begin());
    out += field;
}

std::string settingsBytes(const Settings& s) {
    std::string out;
    putF(out, s.sizeMin);
    putF(out, s.sizeMax);
    putI(out, s.phaseBase);
    putI(out, s.framesUsed);
    putI(out, s.framesInStrip);
    putF(out, s.dropPass[0]);
    putF(out, s.dropPass[1]);
    putI(out, s.setting7);
    putI(out, s.phaseScale);
    for (float v : s.dropColour) putF(out, v);
    putF(out, s.setting12);
    for (float v : s.ripplePass) putF(out, v);
    putI(out, s.rippleSpeed);
    for (float v : s.rippleColour) putF(out, v);
    putF(out, s.setting20);
    for (float v : s.bounds) putF(out, v);
    putName(out, s.dropTexture);
    putName(out, s.rippleTexture);
    return out;
}

std::int16_t heightCode(float height) {
    if (!std::isfinite(height)) return kMissing;
    return std::int16_t(std::clamp(std::trunc(height * 32.0f), -32768.0f, 32767.0f));
}

// One cell's drop stream record: magic, format, count, then 1,600 vertices
// of position, normal (phase, 1, 0), corner offset and (u, cycle length).
void putCell(std::string& out, const Settings& s, float baseX, float baseZ, const std::int16_t* heights,
             std::mt19937& random) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    put32(out, kStreamMagic);
    put32(out, kDropFormat);
    put32(out, kDrops * 4);
    const int framesUsed = std::max(s.framesUsed, 1);
    const float strip = float(std::max(s.framesInStrip, 1));
    static const float kCorners[4][2] = {{-0.5f, 1.0f}, {-0.5f, 0.0f}, {0.5f, 0.0f}, {0.5f, 1.0f}};
    int drop = 0;
    for (int c = 0; c < 10; ++c)
        for (int d = 0; d < 10; ++d)
            for (int a = 0; a < 2; ++a)
                for (int b = 0; b < 2; ++b, ++drop) {
                    const float r1 = unit(random), r2 = unit(random), r3 = unit(random), r4 = unit(random);
                    const float x = baseX + float(c) + 0.5f * float(a) + 0.5f * r1 - 0.25f;
                    const float z = baseZ + float(d) + 0.5f * float(b) + 0.5f * r2 - 0.25f;
                    const float y = float(heights[drop]) / 32.0f;
                    const float size = s.sizeMin + r3 * (s.sizeMax - s.sizeMin);
                    const float length = float(s.phaseScale) * size + float(s.phaseBase);
                    const float phase = r4 * length;
                    const int frame = int(random() % std::uint32_t(framesUsed));
                    const float u0 = float(frame) / strip, u1 = float(frame + 1) / strip;
                    for (int v = 0; v < 4; ++v) {
                        putF(out, x);
                        putF(out, y);
                        putF(out, z);
                        putF(out, phase);
                        putF(out, 1.0f);
                        putF(out, 0.0f);
                        putF(out, kCorners[v][0]);
                        putF(out, kCorners[v][1]);
                        putF(out, v < 2 ? u0 : u1);
                        putF(out, length);
                    }
                }
}

template <class... T>
bool readAll(std::istringstream& line, T&... values) {
    return bool((line >> ... >> values));
}

}  // namespace

bool writeRainFiles(std::string_view text, RainFiles& out, std::string& error) {
    Settings s;
    std::string name;
    float origin[3] = {};
    std::int32_t width = 0, height = 0;
    std::uint32_t seed = 1;
    struct Ground {
        float x0, z0, x1, z1, height;
    };
    std::vector<Ground> ground;
    std::vector<std::pair<std::int64_t, std::int32_t>> forced;
    std::istringstream lines{std::string(text)};
    std::string raw;
    int number = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(lines, raw)) {
        ++number;
        if (const auto hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
        std::istringstream line(raw);
        std::string key;
        if (!(line >> key)) continue;
        bool ok = true;
        if (key == "name") {
            std::getline(line >> std::ws, name);
            while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
            if (name.size() > 127) return fail("a name of more than 127 characters");
        } else if (key == "origin") {
            ok = readAll(line, origin[0], origin[1], origin[2]);
        } else if (key == "grid") {
            ok = readAll(line, width, height) && width >= 0 && height >= 0 && std::int64_t(width) * height <= 65536;
        } else if (key == "seed") {
            ok = readAll(line, seed);
        } else if (key == "dropsize") {
            ok = readAll(line, s.sizeMin, s.sizeMax);
        } else if (key == "phase") {
            ok = readAll(line, s.phaseBase, s.phaseScale);
        } else if (key == "frames") {
            ok = readAll(line, s.framesUsed, s.framesInStrip);
        } else if (key == "droppass") {
            ok = readAll(line, s.dropPass[0], s.dropPass[1]);
        } else if (key == "dropcolour") {
            ok = readAll(line, s.dropColour[0], s.dropColour[1], s.dropColour[2]);
        } else if (key == "ripplepass") {
            ok = readAll(line, s.ripplePass[0], s.ripplePass[1], s.ripplePass[2]);
        } else if (key == "ripplespeed") {
            ok = readAll(line, s.rippleSpeed);
        } else if (key == "ripplecolour") {
            ok = readAll(line, s.rippleColour[0], s.rippleColour[1], s.rippleColour[2]);
        } else if (key == "extra") {
            ok = readAll(line, s.setting7, s.setting12, s.setting20);
        } else if (key == "bounds") {
            ok = readAll(line, s.bounds[0], s.bounds[1], s.bounds[2], s.bounds[3], s.bounds[4], s.bounds[5]);
        } else if (key == "textures") {
            ok = readAll(line, s.dropTexture, s.rippleTexture) && s.dropTexture.size() <= 127 &&
                 s.rippleTexture.size() <= 127;
        } else if (key == "cell") {
            std::int32_t x = 0, z = 0;
            float h = 0.0f;
            ok = readAll(line, x, z, h);
            const float x0 = origin[0] + 10.0f * float(x), z0 = origin[2] + 10.0f * float(z);
            if (ok) ground.push_back({x0, z0, x0 + 10.0f, z0 + 10.0f, h});
        } else if (key == "box") {
            Ground g{};
            ok = readAll(line, g.x0, g.z0, g.x1, g.z1, g.height);
            if (ok) ground.push_back(g);
        } else if (key == "index") {
            std::int32_t x = 0, z = 0, entry = 0;
            ok = readAll(line, x, z, entry) && x >= 0 && z >= 0 && x < width && z < height;
            if (ok) forced.push_back({std::int64_t(z) * width + x, entry});
        } else {
            return fail("unknown key \"" + key + "\"");
        }
        if (!ok) return fail("bad values for \"" + key + "\"");
    }

    out.header.clear();
    const auto length = std::uint16_t(name.size());
    out.header.push_back(char(length & 0xFF));
    out.header.push_back(char(length >> 8));
    out.header += name;
    out.header += settingsBytes(s);

    std::vector<std::int32_t> table(std::size_t(width) * std::size_t(height), -1);
    std::string segments;
    std::uint32_t segmentCount = 0;
    std::mt19937 random(seed);
    for (std::int32_t z = 0; z < height; ++z)
        for (std::int32_t x = 0; x < width; ++x) {
            const float baseX = origin[0] + 10.0f * float(x), baseZ = origin[2] + 10.0f * float(z);
            std::int16_t heights[kDrops];
            bool any = false;
            int i = 0;
            for (int c = 0; c < 10; ++c)
                for (int d = 0; d < 10; ++d)
                    for (int a = 0; a < 2; ++a)
                        for (int b = 0; b < 2; ++b, ++i) {
                            const float px = baseX + float(c) + 0.5f * float(a);
                            const float pz = baseZ + float(d) + 0.5f * float(b);
                            bool found = false;
                            float best = 0.0f;
                            for (const Ground& g : ground)
                                if (px >= g.x0 && px < g.x1 && pz >= g.z0 && pz < g.z1 && (!found || g.height > best)) {
                                    best = g.height;
                                    found = true;
                                }
                            heights[i] = found ? heightCode(best) : kMissing;
                            any = any || found;
                        }
            if (!any) continue;
            table[std::size_t(z) * std::size_t(width) + std::size_t(x)] = std::int32_t(segmentCount++);
            putCell(segments, s, baseX, baseZ, heights, random);
        }
    for (const auto& [at, entry] : forced) table[std::size_t(at)] = entry;

    out.data.clear();
    putI(out.data, width);
    putI(out.data, height);
    for (float v : origin) putF(out.data, v);
    put32(out.data, std::uint32_t(table.size()));
    for (std::int32_t entry : table) putI(out.data, entry);
    put32(out.data, segmentCount);
    out.data += segments;
    return true;
}

}  // namespace rain_tools
