#include "ui/StillFrameData.h"

#include "foundation/Log.h"

StillFrameData::~StillFrameData() { releaseAll(); }

void StillFrameData::update(const CurrentTime&) {}

void StillFrameData::releaseAll() { items_.clear(); }

void StillFrameData::deleteObject(StillFrameItem* item) {
    if (!item) {
        engineLog().scriptError("stillframe:del(obj_image)  -> argument must be not NULL");
        return;
    }
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->get() == item) {
            items_.erase(it);
            return;
        }
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
    for (const auto& item : items_)
        if (name && item->name == name) return item.get();
    return nullptr;
}

void StillFrameData::collect(std::int32_t layer, std::vector<StillFrameItem*>& out) const {
    for (const auto& item : items_)
        if (item->visible && item->layer == layer) out.push_back(item.get());
}

bool UnicodeInputBox::onChar(char16_t) { return false; }
