#include "ui/StillFrameData.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "script/ScriptEngine.h"

namespace {

constexpr std::size_t kNameLength = 127;

// The name as items hold it: cut and lower-cased; false (with the message)
// for a null or empty name.
bool itemName(const char* name, std::string& out) {
    if (!name || !*name) {
        engineLog().scriptError("stillframe: SF name is %s", name ? "EMPTY STRING" : "NULL PTR");
        return false;
    }
    out.assign(name, std::min(std::strlen(name), kNameLength));
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return true;
}

void logScriptPosition() {
    if (gameCore.script) gameCore.script->logCallPosition();
}

}  // namespace

StillFrameData::~StillFrameData() { releaseAll(); }

void StillFrameData::update(const CurrentTime&) {}

void StillFrameData::releaseAll() { items_.clear(); }

void StillFrameData::deleteObject(StillFrameItem* item) {
    if (!item) {
        logScriptPosition();
        engineLog().scriptError("stillframe:del(obj_image)  -> argument must be not NULL");
        return;
    }
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->get() == item) {
            // The last item takes the freed place.
            if (&*it != &items_.back()) *it = std::move(items_.back());
            items_.pop_back();
            return;
        }
    engineLog().scriptError("[%s]:stillframe:del(obj_image)  -> Object not found", item->name.c_str());
}

StillFrameItem* StillFrameData::create(const char* name) {
    std::string held;
    if (!name || std::strcmp(name, "$auto") != 0) {
        if (!itemName(name, held)) return nullptr;
        if (find(held.c_str())) {
            engineLog().error(" stillframe:create(%s)  -> This name already used", held.c_str());
            return nullptr;
        }
    }
    items_.push_back(std::make_unique<StillFrameItem>());
    items_.back()->name = held;
    return items_.back().get();
}

StillFrameItem* StillFrameData::get(const char* name) const {
    std::string held;
    if (!itemName(name, held)) return nullptr;
    StillFrameItem* item = find(held.c_str());
    if (!item) {
        logScriptPosition();
        engineLog().scriptError(" stillframe:get(%s) -> Can't find stillframe", held.c_str());
    }
    return item;
}

bool StillFrameData::test(const char* name) const {
    std::string held;
    return itemName(name, held) && find(held.c_str());
}

void StillFrameData::deleteNamed(const char* name) {
    std::string held;
    if (!itemName(name, held)) return;
    if (StillFrameItem* item = find(held.c_str())) deleteObject(item);
    else engineLog().scriptError("stillframe:del(%s)  -> Object with requested name not found", held.c_str());
}

StillFrameItem* StillFrameData::create(const char* name, const char* source, float x, float y, float width,
                                       float height) {
    auto item = std::make_unique<StillFrameItem>();
    item->name = name ? name : "";
    item->source = source ? source : "";
    item->position[0] = x;
    item->position[1] = y;
    item->widthFactor = width;
    item->heightFactor = height;
    items_.push_back(std::move(item));
    return items_.back().get();
}

StillFrameItem* StillFrameData::find(const char* name) const {
    if (!name) return nullptr;
    std::string held(name, std::min(std::strlen(name), kNameLength));
    std::transform(held.begin(), held.end(), held.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (const auto& item : items_)
        if (item->name == held) return item.get();
    return nullptr;
}

void StillFrameData::collect(std::int32_t layer, std::vector<StillFrameItem*>& out) const {
    for (const auto& item : items_)
        if (item->visible && item->layer == layer) out.push_back(item.get());
}

bool StillFrameData::onKey(std::int32_t, bool) { return false; }

bool UnicodeInputBox::onChar(char16_t) { return false; }

bool UnicodeInputBox::onKey(std::int32_t, bool) { return false; }
