// Fuzz target of the screen actions of a scene: the input read as a
// compiled ".as" or, after a mode byte of 1, as the source text.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "actions/ActionWriter.h"
#include "foundation/DataStream.h"
#include "fuzz/FuzzTarget.h"
#include "game/Y3SceneActionData.h"

namespace fuzzing {

namespace {

std::string compiledOf(const SceneActionData& data) {
    MemoryStream stream(true);
    if (writeSceneActions(data, stream) < 0) return {};
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

bool namesHold(const SceneActionData& data) {
    for (const ActionScreen& screen : data.screens) {
        if (strnlen(screen.name, 128) > 127) return false;
        for (const ScreenAction& action : screen.actions)
            if (strnlen(action.name, 128) > 127) return false;
    }
    return true;
}

}  // namespace

void checkActionResource(const std::string& input, bool sourceText) {
    std::string bytes = input;
    SceneActionData read;
    if (sourceText) {
        MemoryStream source(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        readSceneActionSource(source, read, "fuzz.txt");
    } else {
        MemoryStream compiled(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        const std::int32_t count = readSceneActions(compiled, read, "fuzz");
        if (count < 0) {
            fuzzCheck(read.screens.empty(), "actions: refused data kept screens");
            return;
        }
        fuzzCheck(count == compiled.tell(), "actions: the size is not the bytes read");
    }
    fuzzCheck(namesHold(read), "actions: a name is longer than its field");
    const std::string first = compiledOf(read);
    fuzzCheck(!first.empty(), "actions: read data cannot be written");
    std::string copy = first;
    MemoryStream again(copy.data(), static_cast<std::int32_t>(copy.size()));
    SceneActionData reread;
    fuzzCheck(readSceneActions(again, reread, "fuzz") == static_cast<std::int32_t>(first.size()),
              "actions: written data is refused");
    fuzzCheck(compiledOf(reread) == first, "actions: written data does not come back the same");
}

// Accepted or read data keeps its names within their fields, and its
// compiled form comes back the same when read and written again.
int fuzzActions(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20) || size == 0) return 0;
    if (data[0] == 1)
        checkActionResource(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), true);
    else
        checkActionResource(std::string(reinterpret_cast<const char*>(data), size), false);
    forgetLog();
    return 0;
}

void seedActions(std::vector<std::string>& out) {
    const actions_tools::CellRect rects[] = {{0, 0, 3, 3}, {250, 180, 255, 191}};
    const float colour[3] = {1.0f, 0.5f, 0.25f};
    const std::string text = "screen hall\n" +
                             actions_tools::actionSourceText("door", 2, 10, 20, colour, 1, rects, 2) +
                             actions_tools::actionSourceText("spr:lamp=red", 5, 0, 0, colour, 0, rects, 1) +
                             "\nscreen yard\n";
    out.push_back(actions_tools::compileActionSource(text, "seed.txt"));
    out.push_back(std::string(1, '\1') + text);
}

}  // namespace fuzzing
