// The still frames: the 2D items (menus, overlays, documents) that lie over
// the 3D scene, their per-frame update, and the text input box. The render
// core owns them through one StillFrameRenderer.
//
// Items are made by the render core for its own screens (the splash) and
// by scripts through the global "stillframe" (named items showing a
// texture); their update has nothing to do yet and no input box takes typed
// characters.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/StillFrameItem.h"

struct CurrentTime;
class StillFrameItem;

class StillFrameData {
public:
    StillFrameData() = default;
    ~StillFrameData();
    StillFrameData(const StillFrameData&) = delete;
    StillFrameData& operator=(const StillFrameData&) = delete;

    // Per-frame update of every item.
    void update(const CurrentTime& time);
    // Destroys every item.
    void releaseAll();
    // Deletes one item of the data: a null item is a script error and
    // changes nothing; an item that is not in the data is left alone.
    void deleteObject(StillFrameItem* item);
    std::int32_t itemCount() const { return static_cast<std::int32_t>(items_.size()); }

    // The script side ("stillframe"): item names are compared lower-cased
    // and held cut to 127 characters; a null or empty name is refused with
    // a message. create makes an empty item at the end of the table (null
    // when the name is bad or used; "$auto" makes an unnamed item), get
    // reports a miss, test does not, deleteNamed deletes by name.
    StillFrameItem* create(const char* name);
    StillFrameItem* get(const char* name) const;
    bool test(const char* name) const;
    void deleteNamed(const char* name);

    // A new item showing the image source, at (x, y) with size (width,
    // height) in still-frame units (1024 x 768 cover the screen).
    StillFrameItem* create(const char* name, const char* source, float x, float y, float width, float height);
    // The item of that name (compared lower-cased), or null.
    StillFrameItem* find(const char* name) const;
    // The visible items of a layer (1 or 0) in draw order.
    void collect(std::int32_t layer, std::vector<StillFrameItem*>& out) const;
    // A device button (INPUT_ACTIONS id) pressed or released: true when an
    // item took it. No item takes keys yet.
    bool onKey(std::int32_t id, bool pressed);

private:
    std::vector<std::unique_ptr<StillFrameItem>> items_;
};

// The Unicode text input box of the still frames.
class UnicodeInputBox {
public:
    // Hands one typed character to the active box; true when it took it.
    bool onChar(char16_t character);
    // A device button (INPUT_ACTIONS id) pressed or released, offered before
    // the still frames: true when the box took it. No box edits yet.
    bool onKey(std::int32_t id, bool pressed);
};

struct StillFrameRenderer {
    // Bit 0: construction finished; still frames are drawn only while set.
    std::uint32_t flags = 0x1;
    StillFrameData data;
    UnicodeInputBox inputBox;
};
