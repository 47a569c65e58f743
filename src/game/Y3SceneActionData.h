// The screen actions of a scene: named screens of the 1024 x 768 virtual
// screen, each holding named actions, hot regions on a grid of 256 x 192
// cells of 4 x 4 pixels. Screens and actions are kept sorted by name (byte
// order) and found by binary search.
//
// Compiled form (".as", little-endian): u32 screen count; per screen its
// name (u16 length and bytes) and u32 action count; per action its name,
// i32 order, help.x, help.y, three f32 colour components, the 1,536 mask
// words (6,144 bytes) and u32 flags. The source form is text read with the
// field reader (see readSceneActionSource).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "resources/Y3ResourceManager.h"

class DataStream;

constexpr std::int32_t kActionGridWidth = 256;
constexpr std::int32_t kActionGridHeight = 192;
// Eight bands of 32 columns, each band stored row by row.
constexpr std::int32_t kActionMaskWords = kActionGridWidth / 32 * kActionGridHeight;

// Bit 0 of ScreenAction::flags: the action's grid is hidden.
constexpr std::uint32_t kScreenActionHidden = 0x1;

struct ScreenAction {
    char name[128] = {};
    std::int32_t order = 0;
    std::int32_t helpX = 0;
    std::int32_t helpY = 0;
    float colour[3] = {};
    std::array<std::uint32_t, kActionMaskWords> mask{};
    std::uint32_t flags = 0;

    // Cell (x, y) inside the grid; the caller checks the range.
    bool cell(std::int32_t x, std::int32_t y) const {
        return (mask[static_cast<std::size_t>(x / 32 * kActionGridHeight + y)] >> (x % 32)) & 1u;
    }
    void setCell(std::int32_t x, std::int32_t y, bool on);
};

struct ActionScreen {
    char name[128] = {};
    std::vector<ScreenAction> actions;

    // The action of that name, or -1.
    std::int32_t find(const char* actionName) const;
    // Inserts at the action's sorted place; false (nothing changed) when
    // the name is taken.
    bool insert(ScreenAction action);
};

struct SceneActionData {
    std::vector<ActionScreen> screens;

    std::int32_t find(const char* screenName) const;
    bool insert(ActionScreen screen);
};

// Writes the compiled form: bytes, or negative.
std::int32_t writeSceneActions(const SceneActionData& data, DataStream& stream);
// Reads the compiled form into data (replacing it): bytes, or -1 (logged
// with the resource name, data emptied) for a name longer than its field,
// a count the bytes left cannot hold, names out of order or repeated, or a
// short record.
std::int32_t readSceneActions(DataStream& stream, SceneActionData& data, const char* resourceName);
// Reads the source text into data (replacing it). Errors are logged with the
// file name and line; reading never fails as a whole: what was read before
// an error stays.
void readSceneActionSource(DataStream& stream, SceneActionData& data, const char* fileName);

// One ".as" resource: its data while the header is loaded.
class Y3SceneActionData : public ResourceRecord {
public:
    explicit Y3SceneActionData(const char* name);
    ~Y3SceneActionData() override;

    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return data_ != nullptr; }
    void deleteObject() override { data_.reset(); }

    SceneActionData* data() const { return data_.get(); }

private:
    std::unique_ptr<SceneActionData> data_;
};
