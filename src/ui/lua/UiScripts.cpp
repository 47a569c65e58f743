#include "ui/lua/UiScripts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <lua.hpp>
#include <luabind/luabind.hpp>
#include <string>
#include <type_traits>

#include "effects/Particle.h"
#include "foundation/ARGBColor.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "script/ScriptBinding.h"
#include "script/ScriptCall.h"
#include "script/ScriptVariable.h"
#include "script/lua/VariableScript.h"
#include "ui/StillFrameBuilder.h"
#include "ui/StillFrameData.h"

namespace {

StillFrameData* (*gStillFrames)() = nullptr;

// "StillFrame": the render core's still frames, found again at each call.
struct StillFrameHandle {
    lua_State* state = nullptr;
    StillFrameData& data() const { return requireScriptObject(gStillFrames ? gStillFrames() : nullptr, "StillFrame"); }
};

// "Image": a weak reference to a still-frame item.
struct ImageHandle {
    ScriptRef<StillFrameScriptDataItem> ref;
    StillFrameScriptDataItem& item() const { return ref.require("Image"); }
};

luabind::object wrapImage(lua_State* state, StillFrameScriptDataItem* item) {
    if (!item) return luabind::object();
    return luabind::object(state, ImageHandle{ScriptRef<StillFrameScriptDataItem>(item->lifeToken())});
}

const char* stillFrameClassof(const StillFrameHandle&) { return "StillFrame"; }
luabind::object stillFrameCreate(const StillFrameHandle& h, const char* name) {
    return wrapImage(h.state, h.data().create(name));
}
luabind::object stillFrameGet(const StillFrameHandle& h, const char* name) {
    return wrapImage(h.state, h.data().get(name));
}
bool stillFrameTest(const StillFrameHandle& h, const char* name) { return h.data().test(name); }
void stillFrameDelete(const StillFrameHandle& h, const ImageHandle& image) { h.data().deleteObject(image.ref.get()); }
void stillFrameDeleteNamed(const StillFrameHandle& h, const char* name) { h.data().deleteNamed(name); }
int stillFrameCount(const StillFrameHandle& h) { return h.data().itemCount(); }

// Indices that scripts give are checked against their tables: events
// (0..23), animation modes (0..11, bits of a 32-bit mask) and particle
// effects (0..11).
bool inTable(int index, int count, const char* what, const StillFrameScriptDataItem& item) {
    if (index >= 0 && index < count) return true;
    return engineLog().scriptError("Invalid %s index %d for sf [%s]", what, index, item.name.c_str());
}

StillFrameData& stillFrames() { return requireScriptObject(gStillFrames ? gStillFrames() : nullptr, "StillFrame"); }

// ---- "Frame": the image (which 0) or the mask (1) of an item ----

struct FrameHandle {
    ScriptRef<StillFrameScriptDataItem> ref;
    int which = 0;
    StillFrameItemImage& frame() const {
        StillFrameScriptDataItem& item = ref.require("Frame");
        return which ? item.mask : item.image;
    }
};

const char* frameClassof(const FrameHandle&) { return "Frame"; }
template <float StillFrameItemImage::*Field>
float frameGet(const FrameHandle& h) {
    return h.frame().*Field;
}
template <float StillFrameItemImage::*Field>
void frameSet(const FrameHandle& h, float v) {
    h.frame().*Field = v;
}
template <int Index>
float frameGetSpeed(const FrameHandle& h) {
    return h.frame().scrollSpeed[Index];
}
template <int Index>
void frameSetSpeed(const FrameHandle& h, float v) {
    h.frame().scrollSpeed[Index] = v;
}

// ---- "Image" ----

const char* imageClassof(const ImageHandle&) { return "Image"; }

template <class T, T StillFrameScriptDataItem::*Field>
T imageGet(const ImageHandle& h) {
    return h.item().*Field;
}
template <class T, T StillFrameScriptDataItem::*Field>
void imageSet(const ImageHandle& h, T v) {
    h.item().*Field = v;
}

// Integers set from a number: truncated toward zero, defined for any value.
std::int32_t truncated(double v) {
    if (!std::isfinite(v)) return 0;
    return static_cast<std::int32_t>(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

void setBit(std::uint32_t& flags, std::uint32_t bit, bool on) { flags = on ? flags | bit : flags & ~bit; }

float scrollGet(float stored) { return -stored; }
// Scroll positions are 0..1 to scripts and kept negated.
float scrollStored(float v) { return -std::clamp(std::isnan(v) ? 0.0f : v, 0.0f, 1.0f); }

// An item's colour (which 0) or shadow colour (1) as a "Color": the member
// itself, found again through the item's life token at every use, so a
// script that keeps it past the item gets a Lua error, never freed memory.
struct ItemColorRef {
    using element_type = ARGBColor;
    ScriptRef<StillFrameScriptDataItem> ref;
    int which = 0;
};
static_assert(sizeof(ARGBColor) == 4 * sizeof(float) && std::is_standard_layout_v<ARGBColor>,
              "an item's four colour floats are read as a colour");
ARGBColor* get_pointer(const ItemColorRef& c) {
    StillFrameScriptDataItem& item = c.ref.require("Image");
    return reinterpret_cast<ARGBColor*>(c.which ? item.shadow.color : item.color);
}
ItemColorRef colorOf(const ImageHandle& h, int which) {
    return ItemColorRef{ScriptRef<StillFrameScriptDataItem>(h.item().lifeToken()), which};
}
void setColor(float* c, const ARGBColor& v) {
    c[0] = v.red;
    c[1] = v.green;
    c[2] = v.blue;
    c[3] = v.alpha;
}

bool physicsGet(const ImageHandle& h) {
    h.item();
    return false;
}
void physicsSet(const ImageHandle& h, bool) { h.item(); }

bool setEvent(const ImageHandle& h, int event, const char* handler) {
    StillFrameScriptDataItem& item = h.item();
    if (!inTable(event, EventCount, "event", item)) return false;
    return StillFrameData::setEvent(event, handler, &item);
}
std::string getEvent(const ImageHandle& h, int event) {
    StillFrameScriptDataItem& item = h.item();
    if (!inTable(event, EventCount, "event", item)) return std::string();
    return item.handlers[std::size_t(event)];
}

// The image's media of a kind (the kind bits set first).
bool setMedia(StillFrameScriptDataItem& item, StillFrameItemImage& image, std::uint32_t kind, const char* name,
              int index) {
    image.source.flags = (image.source.flags & ~(SourceVideo | SourceAnimated)) | kind;
    return image.setSource(item, name, index);
}
bool imageSetTexture(const ImageHandle& h, const char* name) {
    StillFrameScriptDataItem& item = h.item();
    return setMedia(item, item.image, 0, name, 0);
}
bool imageSetIndex(const ImageHandle& h, const char* name, int index) {
    StillFrameScriptDataItem& item = h.item();
    return setMedia(item, item.image, 0, name, index);
}
bool imageSetAnim(const ImageHandle& h, const char* name) {
    StillFrameScriptDataItem& item = h.item();
    return setMedia(item, item.image, SourceAnimated, name, 0);
}
bool imageSetMask(const ImageHandle& h, const char* name) {
    StillFrameScriptDataItem& item = h.item();
    return setMedia(item, item.mask, 0, name, 0);
}
bool imageSetVideo(const ImageHandle& h, const char* name) {
    StillFrameScriptDataItem& item = h.item();
    return setMedia(item, item.image, SourceVideo, name, 0);
}
bool imageSetParticleMask(const ImageHandle& h, const char* name) {
    StillFrameScriptDataItem& item = h.item();
    return setMedia(item, item.particle.mask, 0, name, 0);
}

bool setParticle(const ImageHandle& h, const char* name) {
    StillFrameScriptDataItem& item = h.item();
    return item.particle.setParticle(item, name);
}
// Restarts the item's particle now; false when it has none.
bool resetParticle(const ImageHandle& h) {
    Particle* particle = h.item().particle.particle.get();
    if (!particle) return false;
    particle->restart(CurrentTime(-1.0));
    return true;
}
bool pauseParticle(const ImageHandle& h, bool pause) { return h.item().particle.setRunning(pause); }
// The particle's effect sets, by effect index (the item's mode numbers).
void setParticleEffect(const ImageHandle& h, int effect, bool play) {
    StillFrameScriptDataItem& item = h.item();
    if (!inTable(effect, ModeCount, "particle effect", item)) return;
    const std::uint32_t bit = 1u << effect;
    setBit(item.particle.playSet, bit, play);
    setBit(item.particle.pauseSet, bit, !play);
}
bool testParticleEffect(const ImageHandle& h, int effect, bool play) {
    StillFrameScriptDataItem& item = h.item();
    if (!inTable(effect, ModeCount, "particle effect", item)) return false;
    return ((play ? item.particle.playSet : item.particle.pauseSet) & (1u << effect)) != 0;
}
void resetParticleEffect(const ImageHandle& h) {
    StillFrameParticle& particle = h.item().particle;
    particle.playSet = particle.pauseSet = 0;
}

bool callEvent(const ImageHandle& h, int event) {
    StillFrameScriptDataItem& item = h.item();
    if (!inTable(event, EventCount, "event", item)) return false;
    stillFrames().sendEvent(&item, event);
    return true;
}
std::string getName(const ImageHandle& h) { return h.item().name; }

// setText(Variable, size, font) and setText(text, size, font): the first
// argument's Lua type decides.
bool setText(const ImageHandle& h, const luabind::object& source, float size, const char* font) {
    StillFrameScriptDataItem& item = h.item();
    if (luabind::type(source) == LUA_TSTRING) {
        const std::string text = luabind::object_cast<std::string>(source);
        return item.text.setText(item, text.c_str(), nullptr, font, size);
    }
    ScriptVariable* node = nullptr;
    if (luabind::type(source) == LUA_TUSERDATA) {
        lua_State* state = source.interpreter();
        source.push(state);
        node = scriptVariableAt(state, -1);
        lua_pop(state, 1);
    }
    if (!node) return item.text.setText(item, nullptr, nullptr, font, size);
    const std::u16string wide = node->toWString();
    return item.text.setText(item, nullptr, wide.c_str(), font, size);
}

// A model given as its script object or its name.
std::string modelName(const luabind::object& model) {
    if (luabind::type(model) == LUA_TSTRING) return luabind::object_cast<std::string>(model);
    if (luabind::type(model) != LUA_TUSERDATA) return std::string();
    try {
        return luabind::call_member<std::string>(model, "object_name");
    } catch (...) {
        return std::string();
    }
}
bool attachModel(const ImageHandle& h, const luabind::object& model) {
    StillFrameScriptDataItem& item = h.item();
    const std::string name = modelName(model);
    return item.link.attachToModel(item, name.empty() ? nullptr : name.c_str(), nullptr);
}
bool attachModelPoint(const ImageHandle& h, const luabind::object& model, const char* point) {
    StillFrameScriptDataItem& item = h.item();
    const std::string name = modelName(model);
    return item.link.attachToModel(item, name.empty() ? nullptr : name.c_str(), point);
}
// Follows another item from where it stands now; a null item clears the link.
bool attachImage(const ImageHandle& h, const luabind::object& other) {
    StillFrameScriptDataItem& item = h.item();
    StillFrameScriptDataItem* parent = nullptr;
    if (luabind::type(other) == LUA_TUSERDATA) {
        try {
            parent = luabind::object_cast<const ImageHandle*>(other)->ref.get();
        } catch (const luabind::cast_failed&) {
        }
    }
    if (!parent) {
        item.link = StillFrameLink{};
        return false;
    }
    return item.link.attachToItem(item, parent);
}
bool attachSF(const ImageHandle& h, const char* name) {
    StillFrameScriptDataItem& item = h.item();
    return item.link.attachToItemByName(item, stillFrames(), name);
}
void deattach(const ImageHandle& h) { h.item().link = StillFrameLink{}; }
luabind::object getAttachedImage(const ImageHandle& h, lua_State* state) {
    return wrapImage(state, h.item().link.parent);
}
bool attach(const ImageHandle& h, bool follow) { return StillFrameLink::startDrag(h.item(), stillFrames(), follow); }
int childsCount(const ImageHandle& h) {
    StillFrameScriptDataItem& item = h.item();
    const StillFrameData& data = stillFrames();
    int count = 0;
    for (std::int32_t i = 0; i < data.itemCount(); ++i) count += data.item(i)->link.parent == &item;
    return count;
}
luabind::object childsObject(const ImageHandle& h, int n, lua_State* state) {
    return wrapImage(state, stillFrames().getChildObject(&h.item(), n));
}
bool testEffect(const ImageHandle& h, int mode) {
    StillFrameScriptDataItem& item = h.item();
    return inTable(mode, ModeCount, "effect", item) && (item.animation.modes & (1u << mode)) != 0;
}
bool setEffect(const ImageHandle& h, int mode, float value) {
    StillFrameScriptDataItem& item = h.item();
    return inTable(mode, ModeCount, "effect", item) && item.animation.start(mode, value);
}
bool setPostEffect(const ImageHandle& h, const char* name) { return h.item().animation.setPostProces(name); }
bool setupScroll(const ImageHandle& h, const char* x, const char* y, const char* xy) {
    StillFrameScriptDataItem& item = h.item();
    return item.scroll.setControllers(item, stillFrames(), x, y, xy);
}
luabind::object getScrollX(const ImageHandle& h, lua_State* state) {
    return wrapImage(state, h.item().scroll.controllerX);
}
luabind::object getScrollY(const ImageHandle& h, lua_State* state) {
    return wrapImage(state, h.item().scroll.controllerY);
}
luabind::object getScrollXY(const ImageHandle& h, lua_State* state) {
    return wrapImage(state, h.item().scroll.controllerXY);
}
// A distance as a share of the scroll range; 0 while nothing overflows.
float wrapScroll(float distance, float range) { return range != 0.0f ? distance / range : 0.0f; }
float wrapScrollX(const ImageHandle& h, float d) { return wrapScroll(d, h.item().scroll.overflowX); }
float wrapScrollY(const ImageHandle& h, float d) { return wrapScroll(d, h.item().scroll.overflowY); }

using Item = StillFrameScriptDataItem;

bool buildRow(ScriptVariable& node, const char* itemName, std::int32_t row, bool rebuildText) {
    StillFrameData* data = gStillFrames ? gStillFrames() : nullptr;
    if (!data) return engineLog().error("Can't build stillframe of [%s]: no still frames", node.name());
    return buildStillFrameFromVariable(*data, node, itemName, row, rebuildText);
}

}  // namespace

bool callImageHandler(lua_State* state, const char* function, StillFrameScriptDataItem* item) {
    if (!state || !checkScriptFunction(function)) return false;
    const int top = lua_gettop(state);
    bool ok = false;
    try {
        lua_getglobal(state, function);
        wrapImage(state, item).push(state);
        ok = lua_pcall(state, 1, 0, 0) == 0;
        if (!ok) {
            const char* message = lua_tostring(state, -1);
            engineLog().scriptError("Lua [%s] Exception: %s", function, message ? message : "?");
        }
    } catch (...) {
        ok = false;
    }
    lua_settop(state, top);
    return ok;
}

void setStillFrameDataProvider(StillFrameData* (*provider)()) { gStillFrames = provider; }

void registerStillFrameClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)
        [class_<ImageHandle>("Image")
             .def("classof", &imageClassof)
             .enum_("mode")[value("None", ModeNone), value("Show", ModeShow), value("Hide", ModeHide),
                            value("Move", ModeMove), value("Trace", ModeTrace), value("Size", ModeSize),
                            value("Rotate", ModeRotate), value("Animate", ModeAnimate),
                            value("TextureAnimate", ModeTextureAnimate), value("ShowPostProcess", ModeShowPostProcess),
                            value("HidePostProcess", ModeHidePostProcess), value("ScrollMove", ModeScrollMove)]
             .property("tag", &imageGet<std::int32_t, &Item::tag>, &imageSet<std::int32_t, &Item::tag>)
             .property("state", &imageGet<std::int32_t, &Item::state>, &imageSet<std::int32_t, &Item::state>)
             .property("number", &imageGet<float, &Item::number>, &imageSet<float, &Item::number>)
             .property("order", &imageGet<std::int32_t, &Item::layer>, &imageSet<std::int32_t, &Item::layer>)
             .property(
                 "particle_order", +[](const ImageHandle& h) { return h.item().particle.layer; },
                 +[](const ImageHandle& h, std::int32_t v) { h.item().particle.layer = v; })
             .property("angle", &imageGet<float, &Item::angle>, &imageSet<float, &Item::angle>)
             .property("x", &imageGet<float, &Item::x>, &imageSet<float, &Item::x>)
             .property("y", &imageGet<float, &Item::y>, &imageSet<float, &Item::y>)
             .property("rx", &imageGet<float, &Item::rx>, &imageSet<float, &Item::rx>)
             .property("ry", &imageGet<float, &Item::ry>, &imageSet<float, &Item::ry>)
             .property("width", &imageGet<float, &Item::width>, &imageSet<float, &Item::width>)
             .property("height", &imageGet<float, &Item::height>, &imageSet<float, &Item::height>)
             .property(
                 "wrap_imageU", +[](const ImageHandle& h) { return (h.item().image.source.flags & SourceWrapU) != 0; },
                 +[](const ImageHandle& h, bool v) { h.item().image.source.setWrap(SourceWrapU, v); })
             .property(
                 "wrap_imageV", +[](const ImageHandle& h) { return (h.item().image.source.flags & SourceWrapV) != 0; },
                 +[](const ImageHandle& h, bool v) { h.item().image.source.setWrap(SourceWrapV, v); })
             .property(
                 "wrap_maskU", +[](const ImageHandle& h) { return (h.item().mask.source.flags & SourceWrapU) != 0; },
                 +[](const ImageHandle& h, bool v) { h.item().mask.source.setWrap(SourceWrapU, v); })
             .property(
                 "wrap_maskV", +[](const ImageHandle& h) { return (h.item().mask.source.flags & SourceWrapV) != 0; },
                 +[](const ImageHandle& h, bool v) { h.item().mask.source.setWrap(SourceWrapV, v); })
             .property(
                 "particle_x", +[](const ImageHandle& h) { return h.item().particle.x; },
                 +[](const ImageHandle& h, float v) { h.item().particle.x = v; })
             .property(
                 "particle_y", +[](const ImageHandle& h) { return h.item().particle.y; },
                 +[](const ImageHandle& h, float v) { h.item().particle.y = v; })
             .property(
                 "particle_mask_power", +[](const ImageHandle& h) { return h.item().particle.power; },
                 +[](const ImageHandle& h, float v) { h.item().particle.power = v; })
             .property(
                 "shadow_dx", +[](const ImageHandle& h) { return h.item().shadow.dx; },
                 +[](const ImageHandle& h, double v) { h.item().shadow.dx = truncated(v); })
             .property(
                 "shadow_dy", +[](const ImageHandle& h) { return h.item().shadow.dy; },
                 +[](const ImageHandle& h, double v) { h.item().shadow.dy = truncated(v); })
             .property(
                 "shadow_dw", +[](const ImageHandle& h) { return h.item().shadow.dw; },
                 +[](const ImageHandle& h, double v) { h.item().shadow.dw = truncated(v); })
             .property(
                 "shadow_dh", +[](const ImageHandle& h) { return h.item().shadow.dh; },
                 +[](const ImageHandle& h, double v) { h.item().shadow.dh = truncated(v); })
             .property(
                 "visible", +[](const ImageHandle& h) { return h.item().visible(); },
                 +[](const ImageHandle& h, bool v) { h.item().setVisible(v); })
             .property(
                 "alpha_test", +[](const ImageHandle& h) { return (h.item().flags & ItemAlphaTest) != 0; },
                 +[](const ImageHandle& h, bool v) { setBit(h.item().flags, ItemAlphaTest, v); })
             .property(
                 "auto", +[](const ImageHandle& h) { return (h.item().autoFlags & 1u) != 0; },
                 +[](const ImageHandle& h, bool v) { setBit(h.item().autoFlags, 1u, v); })
             .property(
                 "ax", +[](const ImageHandle& h) { return h.item().link.ax; },
                 +[](const ImageHandle& h, float v) { h.item().link.ax = v; })
             .property(
                 "ay", +[](const ImageHandle& h) { return h.item().link.ay; },
                 +[](const ImageHandle& h, float v) { h.item().link.ay = v; })
             .property(
                 "mx", +[](const ImageHandle& h) { return h.item().animation.mx; },
                 +[](const ImageHandle& h, float v) { h.item().animation.mx = v; })
             .property(
                 "my", +[](const ImageHandle& h) { return h.item().animation.my; },
                 +[](const ImageHandle& h, float v) { h.item().animation.my = v; })
             .property(
                 "sx", +[](const ImageHandle& h) { return h.item().animation.sx; },
                 +[](const ImageHandle& h, float v) { h.item().animation.sx = v; })
             .property(
                 "sy", +[](const ImageHandle& h) { return h.item().animation.sy; },
                 +[](const ImageHandle& h, float v) { h.item().animation.sy = v; })
             .property(
                 "av", +[](const ImageHandle& h) { return h.item().animation.av; },
                 +[](const ImageHandle& h, float v) { h.item().animation.av = v; })
             .property(
                 "texture_frame_fps", +[](const ImageHandle& h) { return h.item().image.framesPerSecond; },
                 +[](const ImageHandle& h, float v) { h.item().image.framesPerSecond = v; })
             .property(
                 "texture_frame_pos", +[](const ImageHandle& h) { return h.item().image.sequencePosition; },
                 +[](const ImageHandle& h, float v) { h.item().image.sequencePosition = v; })
             .property(
                 "texture_frame_loop", +[](const ImageHandle& h) { return h.item().image.loop; },
                 +[](const ImageHandle& h, bool v) { h.item().image.loop = v; })
             .property(
                 "anim_frames", +[](const ImageHandle& h) { return h.item().image.frameCount; },
                 +[](const ImageHandle& h, std::int32_t v) { h.item().image.frameCount = v; })
             .property(
                 "anim_speed", +[](const ImageHandle& h) { return h.item().image.speed; },
                 +[](const ImageHandle& h, std::int32_t v) { h.item().image.speed = v; })
             .property(
                 "blur", +[](const ImageHandle& h) { return h.item().animation.blur; },
                 +[](const ImageHandle& h, double v) { h.item().animation.blur = truncated(v); })
             .property(
                 "blur_power", +[](const ImageHandle& h) { return h.item().animation.blurPower; },
                 +[](const ImageHandle& h, float v) { h.item().animation.blurPower = v; })
             .property(
                 "blur_speed", +[](const ImageHandle& h) { return h.item().animation.blurSpeed; },
                 +[](const ImageHandle& h, float v) { h.item().animation.blurSpeed = v; })
             .property(
                 "attached", +[](const ImageHandle& h) { return (h.item().link.flags & LinkFollowsCursor) != 0; })
             .property(
                 "color", +[](const ImageHandle& h) { return colorOf(h, 0); },
                 +[](const ImageHandle& h, const ARGBColor& v) { setColor(h.item().color, v); })
             .property(
                 "shadow_color", +[](const ImageHandle& h) { return colorOf(h, 1); },
                 +[](const ImageHandle& h, const ARGBColor& v) { setColor(h.item().shadow.color, v); })
             .property(
                 "frame",
                 +[](const ImageHandle& h) {
                     return FrameHandle{ScriptRef<Item>(h.item().lifeToken()), 0};
                 })
             .property(
                 "mask_frame",
                 +[](const ImageHandle& h) {
                     return FrameHandle{ScriptRef<Item>(h.item().lifeToken()), 1};
                 })
             .property(
                 "scrollX", +[](const ImageHandle& h) { return scrollGet(h.item().scroll.x); },
                 +[](const ImageHandle& h, float v) { h.item().scroll.x = scrollStored(v); })
             .property(
                 "scrollY", +[](const ImageHandle& h) { return scrollGet(h.item().scroll.y); },
                 +[](const ImageHandle& h, float v) { h.item().scroll.y = scrollStored(v); })
             .property(
                 "mScrollX", +[](const ImageHandle& h) { return h.item().animation.mScrollX; },
                 +[](const ImageHandle& h, float v) { h.item().animation.mScrollX = v; })
             .property(
                 "mScrollY", +[](const ImageHandle& h) { return h.item().animation.mScrollY; },
                 +[](const ImageHandle& h, float v) { h.item().animation.mScrollY = v; })
             .property(
                 "power", +[](const ImageHandle& h) { return h.item().animation.postPower; },
                 +[](const ImageHandle& h, float v) { h.item().animation.postPower = v; })
             .property("physics_dynamic", &physicsGet, &physicsSet)
             .property("physics_gravity", &physicsGet, &physicsSet)
             .property("physics_trigger", &physicsGet, &physicsSet)
             .property("physics_enable", &physicsGet, &physicsSet)
             .def("setEvent", &setEvent)
             .def("getEvent", &getEvent)
             .def("set", &imageSetTexture)
             .def("setIndex", &imageSetIndex)
             .def("setAnim", &imageSetAnim)
             .def("setMask", &imageSetMask)
             .def("setParticle", &setParticle)
             .def("resetParticle", &resetParticle)
             .def("pauseParticle", &pauseParticle)
             .def("setParticleMask", &imageSetParticleMask)
             .def("setParticleEffect", &setParticleEffect)
             .def("testParticleEffect", &testParticleEffect)
             .def("resetParticleEffect", &resetParticleEffect)
             .def("setVideo", &imageSetVideo)
             .def("call_event", &callEvent)
             .def("getName", &getName)
             .def("setText", &setText)
             .def("attachModel", &attachModel)
             .def("attachModel", &attachModelPoint)
             .def("attachImage", &attachImage)
             .def("attachSF", &attachSF)
             .def("deattach", &deattach)
             .def("getAttachedImage", &getAttachedImage)
             .def("attach", &attach)
             .def("childsCount", &childsCount)
             .def("childsObject", &childsObject)
             .def("testEffect", &testEffect)
             .def("setEffect", &setEffect)
             .def("setupScroll", &setupScroll)
             .def("getScrollX", &getScrollX)
             .def("getScrollY", &getScrollY)
             .def("getScrollXY", &getScrollXY)
             .def("wrapScrollX", &wrapScrollX)
             .def("wrapScrollY", &wrapScrollY)
             .def("setEffect", &setPostEffect),
         class_<StillFrameHandle>("StillFrame")
             .def("classof", &stillFrameClassof)
             .def("create", &stillFrameCreate)
             .def("get", &stillFrameGet)
             .def("test", &stillFrameTest)
             .def("delete", &stillFrameDelete)
             .def("delete", &stillFrameDeleteNamed)
             .def("count", &stillFrameCount)
             .property(
                 "event_debug", +[](const StillFrameHandle& h) { return h.data().event_debug; },
                 +[](const StillFrameHandle& h, bool v) { h.data().event_debug = v; })
             .def(
                 "setGravity",
                 +[](const StillFrameHandle& h, float, float) {
                     h.data();
                     engineLog().scriptError("This EXE not support physics");
                 })
             .property(
                 "onTriggerEnter", +[](const StillFrameHandle& h) { return h.data().onTriggerEnter; },
                 +[](const StillFrameHandle& h, const std::string& v) { h.data().onTriggerEnter = v; })
             .property(
                 "onTriggerLeave", +[](const StillFrameHandle& h) { return h.data().onTriggerLeave; },
                 +[](const StillFrameHandle& h, const std::string& v) { h.data().onTriggerLeave = v; })];
    globals(state)["stillframe"] = StillFrameHandle{state};
    // Screens described by script variables are built into these still frames.
    StillFrameBuilders builders;
    builders.buildRow = &buildRow;
    setStillFrameBuilders(builders);
}

// ---- "UnicodeEdit" (the class itself in UnicodeEditScript.cpp) ----

StillFrameScriptDataItem* stillFrameItemAt(lua_State* state, int index) {
    if (!state || lua_type(state, index) != LUA_TUSERDATA) return nullptr;
    luabind::object value(luabind::from_stack(state, index));
    try {
        return luabind::object_cast<const ImageHandle*>(value)->ref.get();
    } catch (const luabind::cast_failed&) {
        return nullptr;
    }
}

void registerUnicodeEditClass(lua_State* state, ScriptEngine&) { registerUnicodeEditScript(state); }

void registerFrameClass(lua_State* state, ScriptEngine&) {
    using namespace luabind;
    module(state)[class_<FrameHandle>("Frame")
                      .def("classof", &frameClassof)
                      .property("x", &frameGet<&StillFrameItemImage::left>, &frameSet<&StillFrameItemImage::left>)
                      .property("y", &frameGet<&StillFrameItemImage::top>, &frameSet<&StillFrameItemImage::top>)
                      .property("dx", &frameGet<&StillFrameItemImage::width>, &frameSet<&StillFrameItemImage::width>)
                      .property("dy", &frameGet<&StillFrameItemImage::height>, &frameSet<&StillFrameItemImage::height>)
                      .property("sx", &frameGetSpeed<0>, &frameSetSpeed<0>)
                      .property("sy", &frameGetSpeed<1>, &frameSetSpeed<1>)
                      .property("sdx", &frameGetSpeed<2>, &frameSetSpeed<2>)
                      .property("sdy", &frameGetSpeed<3>, &frameSetSpeed<3>)];
}
