// The still frames: the 2D items (menus, overlays, documents) that lie over
// the 3D scene, their per-frame update, the pointer hover and mouse buttons
// that become item events, their layered drawing through the quad batch,
// and the text input box. The render core owns them through one
// StillFrameRenderer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9/D3D9.h"
#include "ui/StillFrameItem.h"
#include "ui/UnicodeInputBox.h"

struct CurrentTime;
class QuadBatch;
struct StillFrameConsole;

class StillFrameData {
public:
    StillFrameData() = default;
    ~StillFrameData();
    StillFrameData(const StillFrameData&) = delete;
    StillFrameData& operator=(const StillFrameData&) = delete;

    // The hover, then every item's update in passes until none is left
    // waiting for its parent; items still waiting when a pass makes no
    // progress form a parent loop and lose their links.
    void update(const CurrentTime& time);
    // Draws the visible items of a pass (1 or 0) layer by layer from -100
    // through the quad batch.
    void render(std::int32_t pass);
    // Releases every item's media and then the items.
    void releaseAll();
    // The items' textures and the quad's vertex buffer go with the device.
    void releaseMedia();
    // The items' textures again after the device is back; false when any
    // failed (the rest are still tried).
    bool restoreMedia();

    // The script side ("stillframe"): item names are compared lower-cased
    // and held cut to 127 characters; a null or empty name is refused with
    // a message. create makes an item at the end of the table (null when
    // the name is bad or used; "$auto" invents a name), get reports a miss,
    // test does not, deleteNamed deletes by name.
    StillFrameScriptDataItem* create(const char* name);
    StillFrameScriptDataItem* get(const char* name) const;
    bool test(const char* name) const;
    void deleteObject(StillFrameScriptDataItem* item);
    void deleteNamed(const char* name);
    std::int32_t itemCount() const { return static_cast<std::int32_t>(items_.size()); }
    StillFrameScriptDataItem* item(std::int32_t index) const { return items_[std::size_t(index)].get(); }

    // A new item showing a texture at (x, y) with size (width, height) in
    // still-frame units (1024 x 768 cover the screen); the render core's
    // own screens. Null when the name is taken.
    StillFrameScriptDataItem* create(const char* name, const char* texture, float x, float y, float width,
                                     float height);
    // The item of that name (compared lower-cased), or null.
    StillFrameScriptDataItem* find(const char* name, std::int32_t* index = nullptr) const;
    // The item named after the given one with "_text", or null.
    StillFrameScriptDataItem* findTextItem(const StillFrameScriptDataItem& item) const;
    // The n-th item (from 1, table order) whose parent is the given item.
    StillFrameScriptDataItem* getChildObject(const StillFrameScriptDataItem* parent, std::int32_t n) const;
    // The union rectangle of the parent's visible children; false when it
    // has none.
    bool childBounds(const StillFrameScriptDataItem& parent, float& left, float& top, float& right,
                     float& bottom) const;
    StillFrameScriptDataItem* findByScrollController(const StillFrameScriptDataItem& item) const;
    // Clears the link of every child of the item; true when any was found.
    bool unlinkChildren(const StillFrameScriptDataItem& item);
    bool contains(const StillFrameScriptDataItem* item) const;

    // A mouse button (INPUT_ACTIONS 6 and 7) pressed or released while the
    // game state lets still frames take the pointer: its event goes to the
    // hovered item and to the dragged ones. True when any event was sent.
    bool onKey(std::int32_t id, bool pressed);
    StillFrameScriptDataItem* hovered() const { return hovered_; }

    // Runs the item's handler of the event (a text label hands it to the
    // item it labels).
    void sendEvent(StillFrameScriptDataItem* item, std::int32_t event);
    // Calls the global Lua function named by the handler of the event with
    // the item as an "Image"; false when nothing ran.
    static bool call_event(std::array<std::string, EventCount>& handlers, std::int32_t event,
                           StillFrameScriptDataItem* item);
    // Sets a handler once: a set handler is kept and the call refused.
    static bool setEvent(std::int32_t event, const char* handler, StillFrameScriptDataItem* item);

    // The quad batches of the pass being drawn.
    bool queueQuad(const StillFrameQuad& quad);
    void drawBatches(QuadBatch& batch);
    // Refuses queued quads until the batches are drawn.
    void lockBatches() { batchLock_ = true; }
    const std::vector<std::vector<StillFrameQuad>>& batches() const { return batches_; }
    std::size_t batchCount() const { return batchCount_; }

    // The unit quad (six vertices of x, y, z, u, v centred on the origin)
    // in a vertex buffer of the device; false without a device.
    bool createVertexBuffer(IDirect3DDevice9* device);
    bool vertexBufferReady() const { return vertexBufferReady_; }
    IDirect3DVertexBuffer9* quadBuffer() const { return quadBuffer_; }
    IDirect3DDevice9* quadDevice() const { return quadDevice_; }

    // The screen console that catches up with the log after each update.
    StillFrameConsole* console = nullptr;
    bool event_debug = false;
    std::string onTriggerEnter;
    std::string onTriggerLeave;

private:
    void updateHover();
    // Updates the item after those of its ancestors that wait, farthest
    // first; the chain stops short at a parent loop, or when a handler on
    // the way deleted an item.
    void updateChain(StillFrameScriptDataItem* item, const CurrentTime& time, bool& progress);
    void releaseQuadBuffer();

    bool vertexBufferReady_ = false;
    IDirect3DVertexBuffer9* quadBuffer_ = nullptr;
    IDirect3DDevice9* quadDevice_ = nullptr;
    std::vector<std::unique_ptr<StillFrameScriptDataItem>> items_;
    // Counts the items taken out of the table: a chain being updated holds
    // pointers that a handler's deletion may leave dangling.
    std::uint64_t removals_ = 0;
    StillFrameScriptDataItem* hovered_ = nullptr;
    bool batchLock_ = false;
    // Batches in use are the first batchCount_; the rest keep their memory.
    std::vector<std::vector<StillFrameQuad>> batches_;
    std::size_t batchCount_ = 0;
};

// The screen console's state: the log line count shown so far.
struct StillFrameConsole {
    StillFrameConsole();
    std::int64_t shownLines = 0;
};

struct StillFrameRenderer {
    StillFrameRenderer() : inputBox(data) { data.console = &console; }
    StillFrameRenderer(const StillFrameRenderer&) = delete;
    StillFrameRenderer& operator=(const StillFrameRenderer&) = delete;

    // Bit 0: construction finished; still frames are drawn only while set.
    std::uint32_t flags = 0x1;
    StillFrameData data;
    StillFrameConsole console;
    UnicodeInputBox inputBox;

    // The quad's vertex buffer on the current device, once.
    bool createVertexBuffer();
    // Draws the unit quad with the current states as a screen quad; whether
    // the draw call succeeded.
    bool drawScreenQuad();
};
