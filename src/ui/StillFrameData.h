// The still frames: the 2D items (menus, overlays, documents) that lie over
// the 3D scene, their per-frame update, and the text input box. The render
// core owns them through one StillFrameRenderer.
//
// No still-frame item can be made yet: the registry stays empty, the update
// has nothing to do and no input box takes typed characters.
#pragma once

#include <cstdint>

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
    std::int32_t itemCount() const { return 0; }
};

// The Unicode text input box of the still frames.
class UnicodeInputBox {
public:
    // Hands one typed character to the active box; true when it took it.
    bool onChar(char16_t character);
};

struct StillFrameRenderer {
    // Bit 0: construction finished; still frames are drawn only while set.
    std::uint32_t flags = 0x1;
    StillFrameData data;
    UnicodeInputBox inputBox;
};
