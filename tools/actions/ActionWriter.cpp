#include "actions/ActionWriter.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "foundation/DataStream.h"
#include "game/Y3SceneActionData.h"

namespace actions_tools {

std::string compileActionSource(std::string_view text, const char* fileName) {
    std::string copy(text);
    MemoryStream source(copy.data(), static_cast<std::int32_t>(copy.size()));
    SceneActionData data;
    readSceneActionSource(source, data, fileName);
    MemoryStream compiled(true);
    if (writeSceneActions(data, compiled) < 0) return {};
    return std::string(reinterpret_cast<const char*>(compiled.data()), static_cast<std::size_t>(compiled.size()));
}

std::string actionSourceText(const std::string& name, int order, int helpX, int helpY, const float* colour,
                             unsigned flags, const CellRect* rects, int rectCount) {
    std::vector<std::string> rows(kActionGridHeight, std::string(kActionGridWidth, '.'));
    for (int i = 0; i < rectCount; ++i) {
        const CellRect& r = rects[i];
        for (int y = std::max(r.y0, 0); y <= std::min(r.y1, kActionGridHeight - 1); ++y)
            for (int x = std::max(r.x0, 0); x <= std::min(r.x1, kActionGridWidth - 1); ++x)
                rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = 'X';
    }
    char line[64];
    std::string text = "grid " + name + "\n";
    text += "order " + std::to_string(order) + "\n";
    text += "help.x " + std::to_string(helpX) + "\nhelp.y " + std::to_string(helpY) + "\n";
    const char* const keys[3] = {"color.r", "color.g", "color.b"};
    for (int i = 0; i < 3; ++i) {
        std::snprintf(line, sizeof(line), "%s %g\n", keys[i], colour ? static_cast<double>(colour[i]) : 0.0);
        text += line;
    }
    text += "flags " + std::to_string(flags) + "\n";
    for (int y = 0; y < kActionGridHeight; ++y) {
        std::snprintf(line, sizeof(line), "d%02i ", y);
        text += line + rows[static_cast<std::size_t>(y)] + "\n";
    }
    return text;
}

}  // namespace actions_tools
