// A still-frame item: one element of the 2D interface over the scene, a
// textured, coloured, optionally turned rectangle of the 1024 x 768
// still-frame screen with an image and a mask, a drop shadow, a link to a
// parent item, 24 script event handlers and twelve timed animation modes.
// Items queue their drawing as quad records, which the quad batch turns
// into vertices.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "render/TextureLink.h"
#include "script/ScriptBinding.h"
#include "ui/StillFrameLink.h"
#include "ui/TextLayout.h"

class DXTextureHandler;
class IniFile;
class Particle;
class StillFrameData;
class StillFrameScriptDataItem;
struct CurrentTime;

// What decides whether two quads can be drawn together: the two textures,
// the blend values, the mode (the post effect: 0 none, 1 "bw", 2 "sepia")
// and its power.
struct StillFrameItemState {
    TextureLink* textures[2] = {};
    std::uint32_t values[2] = {2, 0};  // blend mode (2: alpha blending), second value
    std::uint32_t mode = 0;
    float factor = 0.0f;
};


// u' = u * scale + offset, per texture-coordinate set.
struct TexCoordTransform {
    float scale[2] = {1.0f, 1.0f};
    float offset[2] = {};
    void apply(float& u, float& v) const {
        u = u * scale[0] + offset[0];
        v = v * scale[1] + offset[1];
    }
};

// One queued quad as the quad batch draws it: where it lies on the
// still-frame screen, its colour (1.0 the full channel), its
// texture-coordinate transforms, its render state, an optional frame list
// (not owned) and the key word that keeps quads of different layers in
// separate batches.
struct StillFrameQuad {
    float position[2] = {};
    float widthFactor = 1.0f;
    float heightFactor = 1.0f;
    float angle = 0.0f;  // degrees about the z axis
    float pivot[2] = {};
    float alpha = 1.0f;
    float color[3] = {1.0f, 1.0f, 1.0f};
    TexCoordTransform texCoordTransforms[2];
    StillFrameItemState state;
    const StillFrameFrame* frames = nullptr;
    std::int32_t frameCount = 0;
    std::int32_t key = 0;
};

// Bits of a source's flags.
enum StillFrameSourceFlag : std::uint32_t {
    SourceWrapU = 0x1,
    SourceWrapV = 0x2,
    SourceVideo = 0x4,
    SourceAnimated = 0x8,
    SourcePostPass = 0x1000,      // the item draws in pass 1, else pass 0
    SourceSkipInvisible = 0x8000, // not updated while invisible
};

// The media of an image: the texture link and the index asked for.
struct StillFrameImageSource {
    std::uint32_t flags = 0;
    TextureLink link;
    std::int32_t requestedIndex = 0;

    // Sets or clears a wrap bit (SourceWrapU, SourceWrapV); the texture's
    // address mode follows it (1 wraps, 0 clamps).
    void setWrap(std::uint32_t bit, bool on) {
        flags = on ? flags | bit : flags & ~bit;
        link.addressU = (flags & 0x1u) ? 1u : 0u;
        link.addressV = (flags & 0x2u) ? 1u : 0u;
    }
    // "video", "animated texture" or "texture".
    const char* kindWord() const;
    // The link's handlers, loaded: nothing before the device exists
    // (false); a disabled link or one already holding its handler needs
    // nothing (true).
    bool allocate(const StillFrameScriptDataItem& item);
    bool ready() const;
    // Textures of the source: the main one and the numbered frames.
    std::int32_t textureCount() const { return 1 + link.frameCount(); }
};

// The image or the mask of an item.
class StillFrameItemImage {
public:
    // The texture window in texture coordinates.
    float left = 0.0f, top = 0.0f, width = 1.0f, height = 1.0f;
    StillFrameImageSource source;
    double time = 0.0;  // seconds since the last draw
    float scrollSpeed[4] = {};  // of left, top, width, height, per second
    std::int32_t frame = 0;     // current frame of a strip; negative: no strip
    std::int32_t speed = 0;
    std::int32_t frameCount = 0;
    bool loop = false;
    float framesPerSecond = 0.0f;
    float sequencePosition = 0.0f;  // 0..1

    // Sets the media to the texture of that name and index; the kind comes
    // from the source flags. False (logged) for an empty name or a failed
    // load; the same name and index again reload nothing.
    bool setSource(StillFrameScriptDataItem& item, const char* name, std::int32_t index);
    // Moves the window by its scroll speeds over the time gathered since the
    // last draw, wrapping it back into the texture, and starts a new span.
    void scrollWindow();
    // The window to draw from: the frame strip's current frame applied.
    void drawWindow(float& l, float& t, float& w, float& h) const;
    // The texture of a sequence to show now (0 the main one).
    std::int32_t sequenceIndex() const;
    // Back to the construction values; the link is released.
    void reset();
};

// The particle effect an item carries: one particle that emits over the
// item's image (its spawn places rebuilt from the image's alpha), placed at
// the item's centre (one particle unit is 100 pixels, y up), drawn at its
// own layer, and played or paused when the item's animation modes named in
// the play and pause sets become active. Bits of the sets follow the mode
// numbers: 0 "none", 1 "show", 2 "hide", 3 "move", 4 "mouse", 5 "resize",
// 6 "rotate", 7 "animate", 8 "texture", 9 "show_pp", 10 "hide_pp",
// 11 "scroll".
class StillFrameParticle {
public:
    StillFrameParticle();
    ~StillFrameParticle();
    StillFrameParticle(const StillFrameParticle&) = delete;
    StillFrameParticle& operator=(const StillFrameParticle&) = delete;

    // Section "particle": the period of the spawn-list rebuild.
    static void readSettings(IniFile& settings);

    // The particle of the effect of that name (lower-cased), named after
    // the owner, at the owner's centre, pushed, shown and playing; the same
    // name again changes nothing. An empty name removes the particle.
    // False (logged) when it cannot be made, initialised or pushed.
    bool setParticle(StillFrameScriptDataItem& owner, const char* name);
    // Puts an effect by name into the play set (on) or the pause set (off),
    // taking it out of the other; an unknown name is logged and refused.
    bool setEffect(const StillFrameScriptDataItem& owner, const char* name, bool on);
    // Pauses (true) or plays the particle; false without one.
    bool setRunning(bool pause);
    // The frame's update while the owner is visible: placed at the owner's
    // centre, played or paused by the modes active on the owner this frame,
    // and its spawn list rebuilt from the mask while it plays.
    void update(StillFrameScriptDataItem& owner, const CurrentTime& time, std::uint32_t activeModes);
    // The layer walk: below its layer it asks for that layer; at it the
    // particle runs and draws. Answers the next layer it needs.
    std::int32_t draw(std::int32_t current, StillFrameData& data);
    // Stops and destroys the particle, releases the mask's texture and
    // empties both sets.
    void release();

    std::unique_ptr<Particle> particle;
    double time = -1.0;      // of the last spawn-list rebuild; negative: never
    double drawTime = -1.0;  // clock time of the last run in the draw
    std::int32_t layer = 2;  // the item's layer 0 plus 2
    float halfWidth = 32.0f, halfHeight = 32.0f;
    float x = 0.0f, y = 0.0f;  // stored for scripts
    float power = 0.0f;        // stored for scripts
    // The particle mask; while its source has a texture it replaces the
    // owner's image as the mask.
    StillFrameItemImage mask;
    std::uint32_t playSet = 0;
    std::uint32_t pauseSet = 0;

private:
    // The spawn list from the mask's alpha over the owner's texture window;
    // false when the texture has no image to read.
    bool rebuildSpawnList(const StillFrameScriptDataItem& owner, DXTextureHandler& handler);
    const DXTextureHandler* unreadableMask_ = nullptr;
};

// The item's animation modes.
enum StillFrameMode : std::int32_t {
    ModeNone = 0,
    ModeShow = 1,
    ModeHide = 2,
    ModeMove = 3,
    ModeTrace = 4,
    ModeSize = 5,
    ModeRotate = 6,
    ModeAnimate = 7,
    ModeTextureAnimate = 8,
    ModeShowPostProcess = 9,
    ModeHidePostProcess = 10,
    ModeScrollMove = 11,
    ModeCount = 12,
};

class StillFrameAnimation {
public:
    explicit StillFrameAnimation(StillFrameScriptDataItem& owner) : owner(owner) {}
    StillFrameAnimation(const StillFrameAnimation&) = delete;
    StillFrameAnimation& operator=(const StillFrameAnimation&) = delete;

    // Starts a mode running over duration seconds from now (see the modes'
    // rules); a mode outside the table is refused with a script error.
    bool start(std::int32_t mode, float duration);
    // The post effect by name ("none", "bw", "sepia", any case); another
    // name is logged with the valid ones and refused.
    bool setPostProces(const char* name);
    // Runs the modes for the sample; completed modes go into completed.
    void update(double now);
    void reset();

    StillFrameScriptDataItem& owner;
    std::uint32_t completed = 0;
    std::int32_t postEffect = 0;
    float postPower = 0.0f;
    float startValue[ModeCount] = {};
    float rate[ModeCount] = {};
    std::uint32_t modes = 0;
    std::int32_t blur = 0;
    float blurSpeed = 0.0f;
    float blurPower = 0.0f;
    float mx = 0.0f, my = 0.0f, moveDistance[2] = {};
    float sx = 0.0f, sy = 0.0f, sizeDifference[2] = {};
    float av = 0.0f, rotationDifference = 0.0f;
    float mScrollX = 0.0f, mScrollY = 0.0f, scrollDistance[2] = {};

private:
    double startTime(std::int32_t mode, double now);
};

// Item events by index.
enum StillFrameEvent : std::int32_t {
    EventMouseOver = 0,
    EventMouseOut = 1,
    EventMouseDown = 2,
    EventMouseUp = 3,
    EventMouse1Down = 4,
    EventMouse1Up = 5,
    EventAction = 6,
    EventScrollXShow = 16,  // then Hide; LimitEnter and LimitLeave at +4, +5
    EventScrollYShow = 18,
    EventCount = 24,
};
// The event's name ("onMouseOver" ...), or "?" outside the table.
const char* stillFrameEventName(std::int32_t event);

// Bits of an item's flags.
enum StillFrameItemFlag : std::uint32_t {
    ItemVisible = 0x1,
    ItemInHandler = 0x2,
    ItemAlphaTest = 0x8,
    ItemUpdated = 0x1000000,
};

class StillFrameScriptDataItem {
public:
    static constexpr const char* kTypeName = "StillFrameScriptDataItem";

    // A null name gives the item an invented one ("$auto0x%08X").
    explicit StillFrameScriptDataItem(const char* name);
    ~StillFrameScriptDataItem();
    StillFrameScriptDataItem(const StillFrameScriptDataItem&) = delete;
    StillFrameScriptDataItem& operator=(const StillFrameScriptDataItem&) = delete;

    // Script objects of the item expire with it.
    std::weak_ptr<StillFrameScriptDataItem*> lifeToken() const { return life_.token(); }

    // Every field back to its construction value; visible.
    void reset();
    // Drops the link, the textures, the shadow, the animation and the
    // free script values.
    void releaseAttachments();
    // This frame's update; false while its parent has not been updated.
    bool update(const CurrentTime& time, StillFrameData& data);
    // Queues the quads of the layer being drawn; answers the lowest layer
    // above current it still needs (kNoLayer for none).
    std::int32_t draw(std::int32_t current, StillFrameData& data, double now, bool postProcessing,
                      bool fixedPipeline);
    // Whether the point (still-frame pixels) lies on the item.
    bool hitTest(float x, float y) const;
    bool visible() const { return (flags & ItemVisible) != 0; }
    void setVisible(bool on) { flags = on ? flags | ItemVisible : flags & ~ItemVisible; }
    bool hasPointerHandler() const;

    static constexpr std::int32_t kNoLayer = 100000000;

    std::uint32_t flags = ItemVisible;
    std::string name;
    float x = 0.0f, y = 0.0f;
    float rx = 0.0f, ry = 0.0f;  // rotation centre offset
    float width = 64.0f, height = 64.0f;
    float angle = 0.0f;  // degrees
    using Link = StillFrameLink;
    Link link;
    std::int32_t textGlyphs = 0;  // glyph quads of its text
    ItemText text;
    std::uint32_t autoFlags = 0;
    struct Shadow {
        std::int32_t dx = 1, dy = 1, dw = 0, dh = 0;
        float color[4] = {};
    } shadow;
    using Scroll = StillFrameScroll;
    StillFrameParticle particle;
    Scroll scroll;
    StillFrameAnimation animation{*this};
    std::int32_t tag = 0, state = 0;
    float number = 0.0f;
    std::int32_t layer = 0;
    float color[4] = {0.5f, 0.5f, 0.5f, 1.0f};  // 0.5 is the neutral channel
    StillFrameItemImage image;
    StillFrameItemImage mask;
    std::array<std::string, EventCount> handlers;
    // The blend mode of its quads (2 alpha blending, 8 adding).
    std::uint32_t blend = 2;

private:
    void queueQuads(StillFrameData& data, const float* offset, float alphaFactor, bool postEffect) const;

    ScriptLife<StillFrameScriptDataItem> life_{this};
};
