#include "ui/StillFrameBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "app/GameCore.h"
#include "foundation/ARGBColor.h"
#include "foundation/Log.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "ui/StillFrameData.h"

namespace {

constexpr std::size_t kNameLength = 127;
constexpr float kScreenWidth = 1024.0f, kScreenHeight = 768.0f;

// Truncation toward zero that stays defined for any float.
std::int32_t toInt(float value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<std::int32_t>(std::clamp(std::trunc(value), -2147483648.0f, 2147483520.0f));
}

// One row of the table: cell i of every column.
class Row {
public:
    Row(ScriptVariable& sf, std::int32_t n, std::string key) : sf_(sf), n_(n), key_(std::move(key)) {}

    const char* key() const { return key_.c_str(); }
    ScriptVariable& sf() const { return sf_; }
    // Whether the column reaches this row (an empty cell exists).
    bool exists(const char* column) const { return ScriptVariable::test(&sf_, column, n_); }
    // The cell, or null when it is absent: no column, a column too short,
    // an empty cell or an empty text.
    ScriptVariable* cell(const char* column) const {
        if (!exists(column)) return nullptr;
        ScriptVariable* c = ScriptVariable::get(&sf_, column, n_);
        if (!c || c->type() == ScriptVariable::TypeEmpty) return nullptr;
        if ((c->type() == ScriptVariable::TypeString || c->type() == ScriptVariable::TypeWString) && !c->hasText())
            return nullptr;
        return c;
    }
    bool text(const char* column, std::string& out) const {
        ScriptVariable* c = cell(column);
        if (!c) return false;
        out = c->toString();
        return !out.empty();
    }
    bool number(const char* column, float& out) const {
        ScriptVariable* c = cell(column);
        if (c) out = c->toFloat();
        return c != nullptr;
    }
    bool flag(const char* column, bool& out) const {
        ScriptVariable* c = cell(column);
        if (c) out = c->toBool();
        return c != nullptr;
    }
    bool integer(const char* column, std::int32_t& out) const {
        float v = 0.0f;
        if (!number(column, v)) return false;
        out = toInt(v);
        return true;
    }

private:
    ScriptVariable& sf_;
    std::int32_t n_;
    std::string key_;
};

void setBit(std::uint32_t& flags, std::uint32_t bit, bool on) { flags = on ? flags | bit : flags & ~bit; }

bool failString(const char* operation, const Row& row) {
    return engineLog().error("Fail execute string func [%s] for stillframe [%s]", operation, row.key());
}
bool failBool(const char* operation, const Row& row) {
    return engineLog().error("Fail execute bool func [%s] for stillframe [%s]", operation, row.key());
}

// The colour's text through Color.set: RRGGBB or AARRGGBB, stored at half
// intensity.
bool setColorText(float* color, const std::string& text) {
    ARGBColor parsed{color[0], color[1], color[2], color[3]};
    if (!parsed.setHex(text)) return false;
    color[0] = parsed.red;
    color[1] = parsed.green;
    color[2] = parsed.blue;
    color[3] = parsed.alpha;
    return true;
}

// The colour from "r", "g", "b", "a" (prefix "" or "t") and the text key.
bool readColor(const Row& row, float* color, const char* prefix, const char* textKey, const char* operation) {
    const char* const components[] = {"r", "g", "b", "a"};
    for (int i = 0; i < 4; ++i) row.number((std::string(prefix) + components[i]).c_str(), color[i]);
    std::string text;
    if (row.text(textKey, text) && !setColorText(color, text)) return failString(operation, row);
    return true;
}

// A pixel size that divides a window: it must be a positive finite number.
bool validSize(const Row& row, const char* key, float value) {
    if (value > 0.0f && std::isfinite(value)) return true;
    return row.sf().reportError("Invalid field [%s] = %f in stillframe [%s]: must be above 0", key,
                                static_cast<double>(value), row.key());
}

// A texture window and its scroll speeds from pixel cells: each value only
// when both of its cells are present; the sizes must be above 0.
bool readWindow(const Row& row, StillFrameItemImage& image, const char* prefix) {
    const std::string p = prefix;
    float dx = 0.0f, dy = 0.0f;
    const bool hasDx = row.number((p + "image_dx").c_str(), dx);
    const bool hasDy = row.number((p + "image_dy").c_str(), dy);
    if (hasDx && !validSize(row, (p + "image_dx").c_str(), dx)) return false;
    if (hasDy && !validSize(row, (p + "image_dy").c_str(), dy)) return false;
    struct Entry {
        const char* key;
        bool horizontal;
        float* target;
    };
    const Entry entries[] = {
        {"u", true, &image.left},           {"du", true, &image.width},
        {"v", false, &image.top},           {"dv", false, &image.height},
        {"su", true, &image.scrollSpeed[0]}, {"sv", false, &image.scrollSpeed[1]},
        {"sdu", true, &image.scrollSpeed[2]}, {"sdv", false, &image.scrollSpeed[3]},
    };
    for (const Entry& e : entries) {
        float value = 0.0f;
        if (!row.number((p + e.key).c_str(), value)) continue;
        if (e.horizontal ? !hasDx : !hasDy) continue;
        *e.target = value / (e.horizontal ? dx : dy);
    }
    return true;
}

// The image's media as a "texture".
bool setTexture(StillFrameItemImage& image, StillFrameScriptDataItem& item, const std::string& name) {
    image.source.flags &= ~(SourceVideo | SourceAnimated);
    return image.setSource(item, name.c_str(), 0);
}

}  // namespace

bool buildStillFrameFromVariable(StillFrameData& data, ScriptVariable& node, const char* itemName, std::int32_t n,
                                 bool rebuildText) {
    // 1. The item to update, and its text companion.
    StillFrameScriptDataItem* item = itemName ? data.get(itemName) : nullptr;
    StillFrameScriptDataItem* label = item ? data.findTextItem(*item) : nullptr;

    // 2. The table and the row's key.
    ScriptVariable* sf = node.test("sf") ? node.resolvePath("sf") : nullptr;
    if (!sf) return node.reportError("Can't find stillframe root node [sf]");
    if (!ScriptVariable::test(sf, "name", n))
        return sf->reportError("Expected field [%s] in stillframe row %d", "name", n);
    ScriptVariable* nameCell = ScriptVariable::get(sf, "name", n);
    if (!nameCell) return false;
    std::string key = nameCell->name();
    if (key.size() > kNameLength) key.resize(kNameLength);
    const Row row(*sf, n, key);
    std::string image, maskImage;
    const bool hasImage = row.text("image", image);
    const bool hasMaskImage = row.text("mask_image", maskImage);
    std::int32_t tag = 0;
    const bool hasTag = row.integer("tag", tag);

    // 3. A new item.
    const bool created = item == nullptr;
    if (created) {
        bool ignore = false;
        row.flag("ignore", ignore);
        if (!hasImage || ignore) return true;
        std::string name = key;
        const std::string base = nameCell->toString();
        if (!base.empty() && hasTag) name = base + std::to_string(tag);
        if (name.size() > kNameLength) name.resize(kNameLength);
        item = data.create(name.c_str());
        if (!item) return sf->reportError("Fail to create stillframe with name [%s]", key.c_str());
    }
    StillFrameScriptDataItem& t = *item;

    // 4. Tag, state, visibility, alpha test.
    if (hasTag) t.tag = tag;
    row.integer("state", t.state);
    bool flag = false;
    if (created && row.flag("visible", flag)) t.setVisible(flag);
    if (row.flag("alpha_test", flag)) setBit(t.flags, ItemAlphaTest, flag);

    // 5. Colour from the neutral one.
    t.color[0] = t.color[1] = t.color[2] = 0.5f;
    t.color[3] = 1.0f;
    if (!readColor(row, t.color, "", "rgb", "imageSF->color.setRGBText")) return false;

    // 6. The image (an update keeps its own without an image cell).
    if (created || hasImage) {
        if (!setTexture(t.image, t, image))
            return node.reportError("Can't set image [%s] for stillframe [%s]", image.c_str(), key.c_str());
    }

    // 7. The texture window: its six cells must be in the row.
    for (const char* required : {"u", "du", "v", "dv", "image_dx", "image_dy"})
        if (!row.exists(required))
            return sf->reportError("Expected field [%s] in stillframe [%s]", required, key.c_str());
    if (row.flag("wrapU", flag)) t.image.source.setWrap(SourceWrapU, flag);
    if (row.flag("wrapV", flag)) t.image.source.setWrap(SourceWrapV, flag);
    if (!readWindow(row, t.image, "")) return false;

    // 8. The mask's window.
    if (!readWindow(row, t.mask, "mask_")) return false;
    if (row.flag("mask_wrapU", flag)) t.mask.source.setWrap(SourceWrapU, flag);
    if (row.flag("mask_wrapV", flag)) t.mask.source.setWrap(SourceWrapV, flag);

    // 9. Attachment to the pointer.
    if (row.flag("attached", flag)) {
        if (!StillFrameLink::startDrag(t, data, flag)) return failBool("imageSF->link.attach2Mouse", row);
        t.link.ax = t.link.ay = 0.0f;
        if (!flag) t.link = StillFrameLink{};
    }
    row.number("ax", t.link.ax);
    row.number("ay", t.link.ay);

    // 10. Handlers of a new item; a refused one does not fail the row.
    if (created) {
        struct Handler {
            const char* key;
            std::int32_t event;
        };
        static constexpr Handler kHandlers[] = {
            {"onOver", 0},  {"onOut", 1},   {"onDown", 2},           {"onUp", 3},
            {"onDown1", 4}, {"onUp1", 5},   {"onAction", 6},         {"onScrollYShow", 18},
            {"onScrollYHide", 19}, {"onScrollXShow", 16}, {"onScrollXHide", 17},
            {"onScrollXLimitEnter", 20}, {"onScrollXLimitLeave", 21}, {"onScrollYLimitEnter", 22},
            {"onScrollYLimitLeave", 23},
        };
        std::string handler;
        for (const Handler& h : kHandlers)
            if (row.text(h.key, handler)) StillFrameData::setEvent(h.event, handler.c_str(), &t);
    }

    // 11. Layer, place and the base scaling.
    row.integer("order", t.layer);
    t.particle.layer = t.layer + 2;
    row.integer("particle_order", t.particle.layer);
    float x = 0.0f, y = 0.0f, dx = 0.0f, dy = 0.0f;
    const bool hasX = row.number("x", x), hasY = row.number("y", y);
    const bool hasDx = row.number("dx", dx), hasDy = row.number("dy", dy);
    if (hasX) t.x = x;
    if (hasY) t.y = y;
    if (hasDx) t.width = dx;
    if (hasDy) t.height = dy;
    row.number("angle", t.angle);
    float xBase = kScreenWidth, yBase = kScreenHeight;
    row.number("x_base", xBase);
    row.number("y_base", yBase);
    if (!(xBase >= 1.0f && yBase >= 1.0f) || !std::isfinite(xBase) || !std::isfinite(yBase))
        return node.reportError("Invalid base values [%f, %f]", static_cast<double>(xBase),
                                static_cast<double>(yBase));
    const float scaleX = kScreenWidth / xBase, scaleY = kScreenHeight / yBase;
    if (hasX) t.x *= scaleX;
    if (hasDx) t.width *= scaleX;
    if (hasY) t.y *= scaleY;
    if (hasDy) t.height *= scaleY;

    // 12. Post effect and blur.
    std::string text;
    if (row.text("effect", text) && !t.animation.setPostProces(text.c_str()))
        return failString("imageSF->effect.setPostProces", row);
    row.number("effect_power", t.animation.postPower);
    row.integer("blur", t.animation.blur);
    row.number("blur_power", t.animation.blurPower);
    row.number("blur_speed", t.animation.blurSpeed);

    // 13. The particle.
    StillFrameParticle& particle = t.particle;
    if (!row.text("particle", text)) {
        particle.setParticle(t, "");
    } else {
        if (!particle.setParticle(t, text.c_str())) return failString("imageSF->particle.setParticle", row);
        if (row.flag("particle_pause", flag) && !particle.setRunning(flag))
            return failBool("imageSF->particle.pauseParticle", row);
        row.number("particle_x", particle.x);
        row.number("particle_y", particle.y);
        row.number("particle_power", particle.power);
        if (row.text("particle_mask", text) && !setTexture(particle.mask, t, text))
            return failString("imageSF->particle.mask.setImage", row);
        if (row.text("particle_play_effect", text) && !particle.setEffect(t, text.c_str(), true))
            return failString("imageSF->particle.setEffect", row);
        if (row.text("particle_pause_effect", text) && !particle.setEffect(t, text.c_str(), false))
            return failString("imageSF->particle.setEffect", row);
    }

    // 14. Physics: still frames have none.
    std::string physics;
    if (row.text("physics", physics)) {
        float mass = 0.0f;
        row.number("mass", mass);
        row.text("physics_image", text);
        row.text("surface", text);
        return node.reportError("Can't create physics [%s] for sf [%s]", physics.c_str(), t.name.c_str());
    }

    // 15. Parent.
    std::string parent;
    if (row.text("parent", parent) && !t.link.attachToItemByName(t, data, parent.c_str()))
        return node.reportError("Can't attach stillframe [%s] to parent [%s]", t.name.c_str(), parent.c_str());

    // 16. Scroll controllers; the result does not fail the row.
    std::string scrollX, scrollY, scrollXY;
    const bool anyScroll = row.text("scrollX", scrollX) | row.text("scrollY", scrollY) | row.text("scrollXY", scrollXY);
    if (anyScroll) t.scroll.setControllers(t, data, scrollX.c_str(), scrollY.c_str(), scrollXY.c_str());

    // 17. The text companion.
    std::string textPath;
    if (row.text("text", textPath) && !(label && !rebuildText)) {
        ScriptVariable* locales = gameCore.variables ? gameCore.variables->locales().root() : nullptr;
        if (!locales) engineLog().error("\n\nCan't find script variable [%s.%s]", "locales", textPath.c_str());
        ScriptVariable* source = locales ? ScriptVariable::resolvePath(locales, textPath.c_str()) : nullptr;
        if (!source)
            return node.reportError("Can't find localization path [%s] for stillframe [%s]", textPath.c_str(),
                                    key.c_str());
        if (!label) {
            std::string name = t.name + "_text";
            if (name.size() > kNameLength) name.resize(kNameLength);
            label = data.create(name.c_str());
            if (!label) return engineLog().error("Fail to create text stillframe with name [%s]", name.c_str());
        }
        StillFrameScriptDataItem& k = *label;
        float value = 0.0f;
        if (row.number("text_x", value)) k.x = value * scaleX;
        if (row.number("text_y", value)) k.y = value * scaleY;
        if (row.number("text_dx", value)) k.width = value * scaleX;
        k.link.attachToItem(k, &t);
        std::string font;
        row.text("font", font);
        float size = 0.0f;
        row.number("font_size", size);
        const std::u16string wide = source->toWString();
        if (!k.text.setText(k, nullptr, wide.c_str(), font.c_str(), size))
            return node.reportError("Can't set text from [%s] for stillframe [%s]", textPath.c_str(), key.c_str());
        k.color[0] = k.color[1] = k.color[2] = 0.0f;
        k.color[3] = 1.0f;
        if (!readColor(row, k.color, "t", "trgb", "textSF->color.setRGBText")) return false;
        k.setVisible(t.visible());
        k.angle = t.angle;
        k.animation.blur = t.animation.blur;
        k.animation.blurPower = t.animation.blurPower;
        k.animation.blurSpeed = t.animation.blurSpeed;
        k.mask.left = t.mask.left;
        k.mask.top = t.mask.top;
        k.mask.width = t.mask.width;
        k.mask.height = t.mask.height;
        k.tag = t.tag;
        k.state = t.state;
        k.layer = t.layer + 1;
    }

    // 18. The mask image, on the item and on its companion.
    if (hasMaskImage) {
        const bool ok = setTexture(t.mask, t, maskImage) &&
                        (!label || setTexture(label->mask, *label, maskImage));
        if (!ok)
            return node.reportError("Can't set mask image [%s] for stillframe [%s]", maskImage.c_str(), key.c_str());
    }

    // 19. Frame animation.
    std::int32_t speed = 0, frames = 0;
    row.integer("anim_speed", speed);
    t.image.speed = speed;
    const bool hasFrames = row.integer("anim_frames", frames);
    t.image.frameCount = frames;
    if (hasFrames) t.animation.start(ModeAnimate, frames > 0 ? 1.0e10f : 0.0f);

    // 20. Fades.
    float seconds = 0.0f;
    if (row.number("show", seconds)) t.animation.start(ModeShow, seconds);
    if (row.number("hide", seconds)) t.animation.start(ModeHide, seconds);
    if (label && row.number("txt_show", seconds)) label->animation.start(ModeShow, seconds);
    if (label && row.number("txt_hide", seconds)) label->animation.start(ModeHide, seconds);
    return true;
}
