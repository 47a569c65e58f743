// What an item's position follows (its parent item, the cursor, a model or
// one of its named points, a named scene object) and how an item scrolls
// its children with up to three controller items.
#pragma once

#include <cstdint>
#include <string>

class StillFrameData;
class StillFrameScriptDataItem;

// Bits of a link's flags.
enum StillFrameLinkFlag : std::uint32_t {
    LinkActive = 0x1,
    LinkFollowsCursor = 0x2,
    LinkFollowsObject = 0x4,
    LinkKeepOnScreen = 0x8000,
};

struct StillFrameLink {
    // An offset this large in magnitude leaves its axis where it is.
    static constexpr float kFrozenOffset = 100000.0f;

    std::uint32_t flags = 0;
    // Game object handle in the low 24 bits, the model's named point in the
    // top 8; 0 when none.
    std::uint32_t value = 0;
    StillFrameScriptDataItem* parent = nullptr;
    std::string objectName;
    float ax = 0.0f, ay = 0.0f;

    // Follows the parent from where the owner stands now; false for null.
    bool attachToItem(const StillFrameScriptDataItem& owner, StillFrameScriptDataItem* parentItem);
    bool attachToItemByName(const StillFrameScriptDataItem& owner, const StillFrameData& data, const char* name);
    // Follows a model of the current scene, at one of its named points
    // (action items) when a point name is given.
    bool attachToModel(const StillFrameScriptDataItem& owner, const char* modelName, const char* pointName);
    // The owner is grabbed: a scroll controller starts the scroll drag;
    // otherwise, with follow set, the owner follows the cursor. True.
    static bool startDrag(StillFrameScriptDataItem& owner, StillFrameData& data, bool follow);
    // Whether the owner may place itself now: a parent that is the owner
    // itself is dropped (logged); a parent not yet updated this frame waits.
    bool checkParent(const StillFrameScriptDataItem& owner);
    // The followed position plus the offsets into x, y; false when the
    // followed game object is gone (the link to it is cleared).
    bool resolve(const StillFrameScriptDataItem& owner, float& x, float& y);
    // Pulls a position that runs off the right or bottom edge back by half
    // the owner's size.
    static void keepOnScreen(const StillFrameScriptDataItem& owner, float& x, float& y);
    static bool isOnScreen(float x, float y, float width, float height);
};

struct StillFrameScroll {
    float x = 0.0f, y = 0.0f;  // scroll position, from 0 down to -1
    StillFrameScriptDataItem* controllerX = nullptr;
    StillFrameScriptDataItem* controllerY = nullptr;
    StillFrameScriptDataItem* controllerXY = nullptr;
    float overflowX = 0.0f, overflowY = 0.0f;  // how far the children reach beyond the owner
    float dragCursorX = 0.0f, dragCursorY = 0.0f;
    float dragX = 0.0f, dragY = 0.0f;
    float previousX = 0.0f, previousY = 0.0f;

    bool any() const { return controllerX || controllerY || controllerXY; }
    // Each non-empty name must name an item; then assign.
    bool setControllers(const StillFrameScriptDataItem& owner, const StillFrameData& data, const char* xName,
                        const char* yName, const char* xyName);
    // Refuses a controller that already controls another item and keeps
    // all three slots; otherwise stores the three (null clears a slot).
    bool assign(const StillFrameScriptDataItem& owner, const StillFrameData& data, StillFrameScriptDataItem* cx,
                StillFrameScriptDataItem* cy, StillFrameScriptDataItem* cxy);
    // The grabbed controller follows the cursor, which is confined to the
    // range the controller may take; without follow the controller lets go
    // and the cursor's limits are the whole screen again.
    void startDrag(const StillFrameScriptDataItem& owner, StillFrameScriptDataItem& controller, bool follow);
    // Overflow, events, position from the dragged controllers and the
    // other controllers placed from the position.
    void update(StillFrameScriptDataItem& owner, StillFrameData& data);
    // Where a child with these offsets sits.
    void childPosition(const StillFrameScriptDataItem& owner, const StillFrameLink& child, float& cx,
                       float& cy) const;
};
