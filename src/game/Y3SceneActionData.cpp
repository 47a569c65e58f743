#include "game/Y3SceneActionData.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TextRecord.h"
#include "resources/ResourceTypes.h"

namespace {

template <class List>
std::size_t sortedPosition(const List& list, const char* name, bool& found) {
    auto at = std::lower_bound(list.begin(), list.end(), name,
                               [](const auto& item, const char* wanted) { return std::strcmp(item.name, wanted) < 0; });
    found = at != list.end() && std::strcmp(at->name, name) == 0;
    return static_cast<std::size_t>(at - list.begin());
}

template <class List>
std::int32_t findIn(const List& list, const char* name) {
    if (!name) return -1;
    bool found = false;
    const std::size_t at = sortedPosition(list, name, found);
    return found ? static_cast<std::int32_t>(at) : -1;
}

template <class List, class Item>
bool insertIn(List& list, Item item) {
    bool found = false;
    const std::size_t at = sortedPosition(list, item.name, found);
    if (found) return false;
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
    return true;
}

// The bytes of the smallest compiled records.
constexpr std::int32_t kScreenRecordMin = 2 + 4;
constexpr std::int32_t kActionRecordMin = 2 + 3 * 4 + 3 * 4 + kActionMaskWords * 4 + 4;

std::int32_t readName(DataStream& stream, char* field) { return readString16(stream, field, 128); }

std::int32_t writeAction(const ScreenAction& action, DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeString16(stream, action.name, 128))) return total;
    if (!addField(total, writeI32(stream, action.order)) || !addField(total, writeI32(stream, action.helpX)) ||
        !addField(total, writeI32(stream, action.helpY)))
        return total;
    for (float component : action.colour)
        if (!addField(total, writeF32(stream, component))) return total;
    for (std::uint32_t word : action.mask)
        if (!addField(total, writeU32(stream, word))) return total;
    addField(total, writeU32(stream, action.flags));
    return total;
}

std::int32_t readAction(DataStream& stream, ScreenAction& action) {
    std::int32_t total = 0;
    if (!addField(total, readName(stream, action.name))) return total;
    if (!addField(total, readI32(stream, action.order)) || !addField(total, readI32(stream, action.helpX)) ||
        !addField(total, readI32(stream, action.helpY)))
        return total;
    for (float& component : action.colour)
        if (!addField(total, readF32(stream, component))) return total;
    for (std::uint32_t& word : action.mask)
        if (!addField(total, readU32(stream, word))) return total;
    addField(total, readU32(stream, action.flags));
    return total;
}

// A count read from the stream that the bytes left can hold, each record
// taking at least recordBytes.
bool countFits(DataStream& stream, std::uint32_t count, std::int32_t recordBytes) {
    return count <= static_cast<std::uint32_t>(bytesLeft(stream) / recordBytes);
}

// The value's leading decimal integer (optional sign), 0 without one;
// saturated to the 32-bit range.
std::int32_t leadingInteger(const char* text) {
    const char* p = text;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = std::min<std::int64_t>(value * 10 + (*p - '0'), 0x80000000LL);
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

float leadingReal(const char* text) { return std::strtof(text, nullptr); }

constexpr std::int32_t kValueSize = kRecordLineSize;

// Reads one action after its "grid" line; false when its image lines fail
// (the action is then dropped).
bool readSourceAction(DataStream& stream, ScreenAction& action, const char* fileName, char* value) {
    std::int32_t bytes = 0;
    struct IntegerField {
        const char* key;
        std::int32_t* field;
    };
    const IntegerField integers[] = {{"order", &action.order}, {"help.x", &action.helpX}, {"help.y", &action.helpY}};
    for (const IntegerField& f : integers)
        if (readValidData(stream, f.key, "", bytes, value, kValueSize, fileName, false) == 0)
            *f.field = leadingInteger(value);
    const char* const colourKeys[3] = {"color.r", "color.g", "color.b"};
    for (int i = 0; i < 3; ++i)
        if (readValidData(stream, colourKeys[i], "", bytes, value, kValueSize, fileName, false) == 0)
            action.colour[i] = leadingReal(value);
    if (readValidData(stream, "flags", "", bytes, value, kValueSize, fileName, false) == 0)
        action.flags = static_cast<std::uint32_t>(leadingInteger(value));
    char key[16];
    for (std::int32_t y = 0; y < kActionGridHeight; ++y) {
        std::snprintf(key, sizeof(key), "d%02i", static_cast<int>(y));
        if (readValidData(stream, key, "", bytes, value, kValueSize, fileName, false) != 0)
            return textRecordError(stream, fileName,
                                   "broken screen action image character. Expected data field [%s]", key);
        const std::size_t length = std::strlen(value);
        if (length < static_cast<std::size_t>(kActionGridWidth)) {
            textRecordError(stream, fileName, "broken screen action image character. Expected line len %i, but found %i",
                            static_cast<int>(kActionGridWidth), static_cast<int>(length));
            continue;
        }
        for (std::int32_t x = 0; x < kActionGridWidth; ++x) {
            const unsigned char c = static_cast<unsigned char>(value[x]);
            if (c != 'X' && c != '.')
                return textRecordError(stream, fileName,
                                       "broken screen action image character. Expected [X] or [.], but found [%02X]",
                                       static_cast<unsigned>(c));
            action.setCell(x, y, c == 'X');
        }
    }
    return true;
}

}  // namespace

void ScreenAction::setCell(std::int32_t x, std::int32_t y, bool on) {
    std::uint32_t& word = mask[static_cast<std::size_t>(x / 32 * kActionGridHeight + y)];
    const std::uint32_t bit = 1u << (x % 32);
    word = on ? (word | bit) : (word & ~bit);
}

std::int32_t ActionScreen::find(const char* actionName) const { return findIn(actions, actionName); }
bool ActionScreen::insert(ScreenAction action) { return insertIn(actions, std::move(action)); }
std::int32_t SceneActionData::find(const char* screenName) const { return findIn(screens, screenName); }
bool SceneActionData::insert(ActionScreen screen) { return insertIn(screens, std::move(screen)); }

std::int32_t writeSceneActions(const SceneActionData& data, DataStream& stream) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(data.screens.size())))) return total;
    for (const ActionScreen& screen : data.screens) {
        if (!addField(total, writeString16(stream, screen.name, 128))) return total;
        if (!addField(total, writeU32(stream, static_cast<std::uint32_t>(screen.actions.size())))) return total;
        for (const ScreenAction& action : screen.actions)
            if (!addField(total, writeAction(action, stream))) return total;
    }
    return total;
}

std::int32_t readSceneActions(DataStream& stream, SceneActionData& data, const char* resourceName) {
    data.screens.clear();
    const char* name = resourceName ? resourceName : "";
    auto fail = [&data, name](const char* why) {
        data.screens.clear();
        engineLog().resourceError("Screen actions resource [%s]: %s", name, why);
        return -1;
    };
    std::int32_t total = 0;
    std::uint32_t screenCount = 0;
    if (!addField(total, readU32(stream, screenCount))) return fail("the record is cut short");
    if (!countFits(stream, screenCount, kScreenRecordMin)) return fail("the screen count does not fit the record");
    data.screens.resize(screenCount);
    for (std::uint32_t i = 0; i < screenCount; ++i) {
        ActionScreen& screen = data.screens[i];
        if (!addField(total, readName(stream, screen.name)))
            return fail("a screen name is cut short or longer than 127 characters");
        if (i > 0 && std::strcmp(data.screens[i - 1].name, screen.name) >= 0)
            return fail("the screens are not in name order");
        std::uint32_t actionCount = 0;
        if (!addField(total, readU32(stream, actionCount))) return fail("the record is cut short");
        if (!countFits(stream, actionCount, kActionRecordMin)) return fail("an action count does not fit the record");
        screen.actions.resize(actionCount);
        for (std::uint32_t j = 0; j < actionCount; ++j) {
            if (!addField(total, readAction(stream, screen.actions[j])))
                return fail("an action is cut short or its name is longer than 127 characters");
            if (j > 0 && std::strcmp(screen.actions[j - 1].name, screen.actions[j].name) >= 0)
                return fail("the actions of a screen are not in name order");
        }
    }
    return total;
}

void readSceneActionSource(DataStream& stream, SceneActionData& data, const char* fileName) {
    data.screens.clear();
    std::vector<char> buffer(kValueSize);
    char* value = buffer.data();
    std::int32_t bytes = 0;
    while (readValidData(stream, "screen", "", bytes, value, kValueSize, fileName, true) == 0) {
        ActionScreen screen;
        copyName128(screen.name, value);
        bool next = true;
        std::int32_t result = 0;
        while ((result = readValidData(stream, "grid", "screen", bytes, value, kValueSize, fileName, true)) == 0) {
            ScreenAction action;
            copyName128(action.name, value);
            if (!readSourceAction(stream, action, fileName, value)) break;
            screen.insert(std::move(action));
        }
        // Another field where an action was due has been reported: the
        // reading ends there.
        if (result == -3) next = false;
        // A second screen of a name keeps the first.
        data.insert(std::move(screen));
        if (!next) break;
    }
}

Y3SceneActionData::Y3SceneActionData(const char* name)
    : ResourceRecord(name, resourceDescriptor(ResourceKind::SceneActions)) {}

Y3SceneActionData::~Y3SceneActionData() = default;

std::int32_t Y3SceneActionData::readHeader(DataStream& stream) {
    auto data = std::make_unique<SceneActionData>();
    const std::int32_t total = readSceneActions(stream, *data, name);
    if (total < 0) return total;
    data_ = std::move(data);
    return total;
}
