#include "particle/ParticleWriter.h"

#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "foundation/DataStream.h"
#include "render/TextureLink.h"

namespace particle_tools {

namespace {

constexpr std::size_t kEmissionBytes = 14616;
constexpr std::size_t kLifeBytes = 12184;
constexpr std::size_t kAtlasBytes = 40;
constexpr std::size_t kTableEntries = 100;

template <class T>
void put(std::string& block, std::size_t offset, T value) {
    std::memcpy(block.data() + offset, &value, sizeof(value));
}

void putTable(std::string& block, std::size_t offset, double first, double last) {
    for (std::size_t k = 0; k < kTableEntries; ++k)
        put(block, offset + 8 * k, first + (last - first) * static_cast<double>(k) / 99.0);
}

void putName(std::string& block, std::size_t offset, const std::string& name) {
    std::memcpy(block.data() + offset, name.data(), std::min<std::size_t>(name.size(), 127));
}

struct Layer {
    std::string emission = std::string(kEmissionBytes, '\0');
    std::string life = std::string(kLifeBytes, '\0');
    std::string atlas = std::string(kAtlasBytes, '\0');
    std::string texture;
    std::string blending;  // "", "additive" or "alpha"
    float tint[4] = {1, 1, 1, 1};
    std::uint32_t parameters[3] = {};

    explicit Layer(const std::string& name) {
        putName(emission, 0, name);
        putName(life, 0, name);
        put(emission, 9800, 1.0f);
        put(emission, 9808, std::uint8_t{1});
        putTable(emission, 5000, 1.0, 1.0);
        putTable(emission, 5800, 1.0, 1.0);
        putTable(emission, 9816, 1.0, 1.0);
        putTable(emission, 10616, 1.0, 1.0);
        putTable(emission, 12216, 1.0, 1.0);
        putTable(emission, 13016, 1.0, 1.0);
        putTable(life, 176, 1.0, 1.0);
        for (std::size_t channel = 0; channel < 4; ++channel) putTable(life, 4976 + 800 * channel, 1.0, 1.0);
        setFrames(1, 1);
    }
    void setFrames(std::int32_t rows, std::int32_t columns) {
        put(atlas, 8, rows);
        put(atlas, 20, columns);
        put(atlas, 16, rows > 0 ? 1.0f / static_cast<float>(rows) : 0.0f);
        put(atlas, 28, columns > 0 ? 1.0f / static_cast<float>(columns) : 0.0f);
    }
};

struct Effect {
    std::string name, sound;
    std::uint32_t flags = 0;
    std::uint32_t kind = 1;
    std::string limits = std::string(52, '\0');
    std::string render = std::string(28, '\0');
    std::vector<Layer> layers;

    Effect() {
        put(limits, 0, std::int32_t{100});
        put(render, 0, 1.0f);
        put(render, 16, 1.0f);
    }
};

// Reads the numbers of a line; false when a word is not a number.
bool numbers(std::istringstream& words, std::vector<double>& out) {
    std::string word;
    while (words >> word) {
        std::istringstream number(word);
        double value = 0.0;
        if (!(number >> value) || !number.eof()) return false;
        out.push_back(value);
    }
    return true;
}

std::string restOfLine(std::istringstream& words) {
    std::string rest;
    std::getline(words >> std::ws, rest);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r' || rest.back() == '\t')) rest.pop_back();
    return rest;
}

// Applies one effect or layer line; the reason in error when it is wrong.
bool applyLine(Effect& effect, const std::string& key, std::istringstream& words, std::string& error) {
    if (key == "name" || key == "sound") {
        std::string& field = key == "name" ? effect.name : effect.sound;
        field = restOfLine(words);
        if (field.size() > 127) return error = "a name holds at most 127 characters", false;
        return true;
    }
    if (key == "layer") {
        const std::string name = restOfLine(words);
        if (name.size() > 127) return error = "a name holds at most 127 characters", false;
        effect.layers.emplace_back(name);
        return true;
    }
    if (key == "material") {
        if (effect.layers.empty()) return error = "material comes after a layer line", false;
        const std::string kind = restOfLine(words);
        if (kind != "additive" && kind != "alpha") return error = "material is additive or alpha", false;
        effect.layers.back().blending = kind;
        return true;
    }
    if (key == "texture") {
        if (effect.layers.empty()) return error = "texture comes after a layer line", false;
        effect.layers.back().texture = restOfLine(words);
        if (effect.layers.back().texture.empty() || effect.layers.back().texture.size() > 127)
            return error = "a texture name holds 1 to 127 characters", false;
        return true;
    }
    if (key == "curves") {
        if (effect.layers.empty()) return error = "curves come after a layer line", false;
        const std::string rest = restOfLine(words);
        const std::size_t slash = rest.find('/');
        std::istringstream first(rest.substr(0, slash)), second(slash == std::string::npos ? "" : rest.substr(slash + 1));
        std::vector<double> a, b;
        if (slash == std::string::npos || !numbers(first, a) || !numbers(second, b) || a.empty() || a.size() > 2 ||
            b.empty() || b.size() > 2)
            return error = "'curves' takes one or two numbers, '/', one or two numbers", false;
        putTable(effect.layers.back().emission, 7400, a[0], a.back());
        putTable(effect.layers.back().emission, 8200, b[0], b.back());
        return true;
    }
    std::vector<double> v;
    if (!numbers(words, v)) return error = "'" + key + "' takes numbers", false;
    const auto want = [&](std::size_t least, std::size_t most) {
        if (v.size() >= least && v.size() <= most) return true;
        error = "'" + key + "' takes " + std::to_string(least) +
                (least == most ? "" : " to " + std::to_string(most)) + " numbers";
        return false;
    };
    const auto f = [&](std::size_t i) { return static_cast<float>(v[i]); };
    const auto i32 = [&](std::size_t i) { return static_cast<std::int32_t>(v[i]); };
    const auto table = [&](std::string& block, std::size_t offset, std::size_t at) {
        putTable(block, offset, v[at], v.size() > at + 1 ? v[at + 1] : v[at]);
    };

    // Effect lines.
    if (key == "kind") return want(1, 1) && (effect.kind = static_cast<std::uint32_t>(v[0]), true);
    if (key == "flags") return want(1, 1) && (effect.flags = static_cast<std::uint32_t>(v[0]), true);
    if (key == "limit") return want(1, 1) && (put(effect.limits, 0, i32(0)), true);
    if (key == "replace") return want(1, 1) && (put(effect.limits, 4, i32(0)), true);
    if (key == "killbox") {
        if (!want(7, 7)) return false;
        put(effect.limits, 8, i32(0));
        for (std::size_t axis = 0; axis < 6; ++axis) put(effect.limits, 16 + 4 * axis, f(1 + axis));
        return true;
    }
    if (key == "worldspace") return want(1, 1) && (put(effect.limits, 48, static_cast<std::uint8_t>(v[0])), true);
    if (key == "timescale") return want(1, 1) && (put(effect.render, 0, f(0)), true);
    if (key == "renderkey") return want(1, 1) && (put(effect.render, 8, i32(0)), true);
    if (key == "detail") return want(1, 1) && (put(effect.render, 12, i32(0)), true);
    if (key == "scale") return want(1, 1) && (put(effect.render, 16, f(0)), true);

    if (effect.layers.empty()) return error = "unknown effect line '" + key + "'", false;
    Layer& layer = effect.layers.back();
    std::string& emission = layer.emission;
    std::string& life = layer.life;
    if (key == "period") {
        if (!want(1, 2)) return false;
        put(emission, 9800, f(0));
        put(emission, 9804, v.size() > 1 ? f(1) : 0.0f);
        return true;
    }
    if (key == "loop") return want(1, 1) && (put(emission, 9808, static_cast<std::uint8_t>(v[0])), true);
    if (key == "rate") {
        // Points a second: the curves count the points emitted up to the
        // emission time, in units of points per second of the period.
        if (!want(1, 2)) return false;
        const double first = v[0], last = v.size() > 1 ? v[1] : v[0];
        for (std::size_t offset : {std::size_t{7400}, std::size_t{8200}})
            for (std::size_t k = 0; k < kTableEntries; ++k) {
                const double t = static_cast<double>(k) / 99.0;
                put(emission, offset + 8 * k, first * t + 0.5 * (last - first) * t * t);
            }
        return true;
    }
    if (key == "box") {
        if (!want(6, 6)) return false;
        for (std::size_t axis = 0; axis < 6; ++axis) put(emission, 128 + 4 * axis, f(axis));
        put(emission, 160, std::int32_t{0});
        return true;
    }
    if (key == "sphere") {
        if (!want(2, 2)) return false;
        put(emission, 152, f(0));
        put(emission, 156, f(1));
        put(emission, 160, std::int32_t{1});
        return true;
    }
    if (key == "offset" || key == "spread") {
        if (!want(3, 3)) return false;
        for (std::size_t axis = 0; axis < 3; ++axis) put(emission, (key == "offset" ? 168 : 2584) + 4 * axis, f(axis));
        return true;
    }
    if (key == "velocity") {
        if (v.size() != 3 && !want(6, 6)) return false;
        for (std::size_t axis = 0; axis < 3; ++axis)
            putTable(emission, 184 + 800 * axis, v[axis], v.size() == 6 ? v[3 + axis] : v[axis]);
        return true;
    }
    const auto pair = [&](std::size_t minOffset, std::size_t maxOffset) {
        if (!want(2, 2)) return false;
        putTable(emission, minOffset, v[0], v[0]);
        putTable(emission, maxOffset, v[1], v[1]);
        return true;
    };
    if (key == "speed") return pair(2600, 3400);
    if (key == "lifetime") return pair(5000, 5800);
    if (key == "sizescale") return pair(9816, 10616);
    if (key == "rotationscale") return pair(12216, 13016);
    if (key == "size") return want(1, 2) && (table(life, 176, 0), true);
    if (key == "rotation") return want(1, 2) && (table(life, 2576, 0), true);
    if (key == "stretch") {
        if (!want(1, 2)) return false;
        table(life, 9776, 0);
        put(life, 12176, std::uint8_t{1});
        return true;
    }
    if (key == "color") {
        if (v.size() != 4 && !want(8, 8)) return false;
        for (std::size_t channel = 0; channel < 4; ++channel)
            putTable(life, 4976 + 800 * channel, v[channel], v.size() == 8 ? v[4 + channel] : v[channel]);
        return true;
    }
    if (key == "drag") {
        if (!want(2, 2)) return false;
        put(life, 132, f(0));
        put(life, 144, i32(1));
        return true;
    }
    if (key == "gravity") return want(1, 1) && (put(life, 128, f(0)), true);
    if (key == "frames") return want(2, 2) && (layer.setFrames(i32(0), i32(1)), true);
    if (key == "framemode") {
        if (v.size() != 1 && !want(3, 3)) return false;
        put(life, 160, i32(0));
        if (v.size() == 3) {
            put(life, 148, f(1));
            put(life, 152, f(2));
        }
        return true;
    }
    if (key == "angle") {
        if (!want(2, 2)) return false;
        put(life, 164, f(0));
        put(life, 168, f(1));
        return true;
    }
    if (key == "mirror") {
        if (!want(2, 2)) return false;
        put(life, 173, static_cast<std::uint8_t>(v[0] != 0));
        put(life, 174, static_cast<std::uint8_t>(v[1] != 0));
        return true;
    }
    if (key == "blend") return want(1, 1) && (put(layer.atlas, 0, i32(0)), true);
    if (key == "cameraoffset") return want(1, 1) && (put(layer.atlas, 32, f(0)), true);
    if (key == "tint") {
        if (!want(4, 4)) return false;
        for (std::size_t channel = 0; channel < 4; ++channel) layer.tint[channel] = f(channel);
        return true;
    }
    if (key == "parameters") {
        if (!want(3, 3)) return false;
        for (std::size_t i = 0; i < 3; ++i) layer.parameters[i] = static_cast<std::uint32_t>(v[i]);
        return true;
    }
    return error = "unknown layer line '" + key + "'", false;
}

void appendName(std::string& out, const std::string& text) {
    const auto length = static_cast<std::uint16_t>(text.size());
    out.append(reinterpret_cast<const char*>(&length), sizeof(length));
    out += text;
}

template <class T>
void append(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

bool appendMaterial(std::string& out, const std::string& texture, const std::string& blending) {
    MaterialData material;
    if (!texture.empty()) material.links[0].init(texture.c_str());
    if (blending == "additive") material.head.blendOverride = 1;
    if (blending == "alpha") material.head.wantsBlending = 1;
    MemoryStream stream(true);
    if (material.write(stream) < 0) return false;
    out.append(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
    return true;
}

}  // namespace

std::string effectFileBytes(std::string_view text, std::string& error) {
    Effect effect;
    std::istringstream lines{std::string(text)};
    std::string line;
    for (std::int32_t number = 1; std::getline(lines, line); ++number) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        if (!applyLine(effect, key, words, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return {};
        }
    }
    std::string out;
    appendName(out, effect.name);
    appendName(out, "");
    appendName(out, effect.sound);
    append(out, effect.flags);
    append(out, effect.kind);
    out += effect.limits;
    out += effect.render;
    append(out, static_cast<std::uint32_t>(effect.layers.size()));
    for (const Layer& layer : effect.layers) {
        out += layer.emission;
        out += layer.life;
        out += layer.atlas;
        if (!appendMaterial(out, layer.texture, layer.blending)) return error = "the material cannot be written", std::string{};
        for (float channel : layer.tint) append(out, channel);
        for (std::uint32_t parameter : layer.parameters) append(out, parameter);
    }
    return out;
}

}  // namespace particle_tools
