// A still-frame item: one element of the 2D interface over the scene, a
// textured, coloured, optionally turned rectangle of the 1024 x 768
// still-frame screen with an image and a mask, a drop shadow, a link to a
// parent item, 24 script event handlers and twelve timed animation modes.
// Items queue their drawing as quad records, which the quad batch turns
// into vertices.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "render/TextureLink.h"
#include "script/ScriptBinding.h"
#include "ui/StillFrameLink.h"
#include "ui/TextLayout.h"

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

// Item effects by bit, the names the particle's play and pause sets use.
constexpr std::int32_t kParticleEffectCount = 12;
// The effect's name ("none", "show", ... "scroll"), or "?" outside the table.
const char* stillFrameParticleEffectName(std::int32_t effect);

// The particle record of an item: the particle's layer, place, power and
// mask, and the item effects that play or pause it.
struct StillFrameParticle {
    // The particle resource shown (lower case; empty: none).
    std::string name;
    std::int32_t layer = 2;
    float x = 0.0f, y = 0.0f;
    StillFrameItemImage mask;
    float power = 0.0f;
    // Bit n: effect n plays (play set) or pauses (pause set) the particle.
    std::uint32_t playSet = 0, pauseSet = 0;

    // The particle of that resource over the owner (the same name again
    // changes nothing); an empty name removes it, releases the mask and
    // empties both sets. No particle system reaches still frames yet: a
    // new name is logged and refused.
    bool setParticle(StillFrameScriptDataItem& owner, const char* particleName);
    // Plays (true) or pauses (false) the particle; false without one.
    bool setRunning(StillFrameScriptDataItem& owner, bool running);
    // An effect by name into the play set (on) or the pause set (off); an
    // unknown name is logged and refused.
    bool setEffect(StillFrameScriptDataItem& owner, const char* effect, bool on);
    // The same by index (0..11).
    void setEffect(std::int32_t effect, bool on);
    // Whether the effect's bit is in the play set (play) or the pause set.
    bool testEffect(std::int32_t effect, bool play) const;
    void reset();
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
    Scroll scroll;
    StillFrameAnimation animation{*this};
    std::int32_t tag = 0, state = 0;
    float number = 0.0f;
    std::int32_t layer = 0;
    float color[4] = {0.5f, 0.5f, 0.5f, 1.0f};  // 0.5 is the neutral channel
    StillFrameItemImage image;
    StillFrameItemImage mask;
    StillFrameParticle particle;
    std::array<std::string, EventCount> handlers;
    // The blend mode of its quads (2 alpha blending, 8 adding).
    std::uint32_t blend = 2;

private:
    void queueQuads(StillFrameData& data, const float* offset, float alphaFactor, bool postEffect) const;

    ScriptLife<StillFrameScriptDataItem> life_{this};
};
