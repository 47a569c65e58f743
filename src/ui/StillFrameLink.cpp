#include "ui/StillFrameLink.h"

#include <algorithm>
#include <cmath>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "input/InputCore.h"
#include "model/Model.h"
#include "scene/CameraCore.h"
#include "scene/GameObject.h"
#include "scene/ObjectRepository.h"
#include "ui/StillFrameData.h"
#include "ui/StillFrameItem.h"

namespace {

InputVirtualPointer* cursor() { return gameCore.input ? &gameCore.input->virtualDevices.pointer : nullptr; }

constexpr std::uint32_t kPointShift = 24;

// A world point on the still-frame screen through the current camera.
void projectPoint(const float* point, float& x, float& y) {
    float screen[2] = {point[0], point[1]};
    if (const CameraCore* camera = gameCore.currentScene() ? gameCore.scene_getCamera(nullptr) : nullptr)
        camera->projectToScreen(point, screen);
    x = screen[0];
    y = screen[1];
}

bool frozen(float offset) { return std::fabs(offset) >= StillFrameLink::kFrozenOffset; }

// A position standing at one of the scroll range's ends.
bool atLimit(float p) { return p == 0.0f || p == -1.0f; }
bool inside(float p) { return p > -1.0f && p < 0.0f; }

}  // namespace

// ---- links ----

bool StillFrameLink::attachToItem(const StillFrameScriptDataItem& owner, StillFrameScriptDataItem* parentItem) {
    if (!parentItem) return false;
    *this = StillFrameLink{};
    parent = parentItem;
    ax = owner.x - parentItem->x;
    ay = owner.y - parentItem->y;
    flags = LinkActive;
    return true;
}

bool StillFrameLink::attachToItemByName(const StillFrameScriptDataItem& owner, const StillFrameData& data,
                                        const char* name) {
    StillFrameScriptDataItem* found = name ? data.find(name) : nullptr;
    if (!found) return engineLog().error("Can't attach SF [%s] to [%s]", owner.name.c_str(), name ? name : "NULL");
    return attachToItem(owner, found);
}

bool StillFrameLink::attachToModel(const StillFrameScriptDataItem& owner, const char* modelName,
                                   const char* pointName) {
    *this = StillFrameLink{};
    const std::uint32_t handle =
        gameCore.currentScene() && modelName ? gameCore.scene_findObject(modelName, false) : 0u;
    GameObject* object = handle && gameCore.objects ? gameCore.objects->getObject(GameObjectLink{handle}) : nullptr;
    if (!object)
        return engineLog().error("Can't find game object with name [%s]", modelName ? modelName : "NULL");
    std::int32_t point = 0;
    if (pointName && *pointName) {
        point = object->getType() == ObjectModel ? static_cast<Model*>(object)->actionIndex(pointName) : -1;
        if (point < 0 || point > 0xFF)
            return engineLog().scriptError("Attach2Model[%s]: model [%s] action name invalid: >>[%s]<< ",
                                           owner.name.c_str(), modelName, pointName);
    }
    value = (handle & kGameObjectHandleMask) | (std::uint32_t(point) << kPointShift);
    flags = LinkActive;
    return true;
}

bool StillFrameLink::startDrag(StillFrameScriptDataItem& owner, StillFrameData& data, bool follow) {
    if (StillFrameScriptDataItem* scrolled = data.findByScrollController(owner)) {
        scrolled->scroll.startDrag(*scrolled, owner, follow);
        return true;
    }
    if (!follow) return true;
    StillFrameLink& link = owner.link;
    link = StillFrameLink{};
    link.flags = LinkActive | LinkFollowsCursor;
    const InputVirtualPointer* pointer = cursor();
    link.ax = owner.x - (pointer ? pointer->x : 0.0f);
    link.ay = owner.y - (pointer ? pointer->y : 0.0f);
    return true;
}

bool StillFrameLink::checkParent(const StillFrameScriptDataItem& owner) {
    if (!parent) return true;
    if (parent == &owner) {
        engineLog().scriptError("Stillframe reference loop: [%s] parent to self [SELF LINK REMOVED]",
                                owner.name.c_str());
        parent = nullptr;
        return false;
    }
    return (parent->flags & ItemUpdated) != 0;
}

bool StillFrameLink::resolve(const StillFrameScriptDataItem& owner, float& x, float& y) {
    if (!(flags & LinkActive)) return true;
    if (value) {
        const std::uint32_t handle = value & kGameObjectHandleMask;
        GameObject* object = gameCore.objects ? gameCore.objects->getObject(GameObjectLink{handle}) : nullptr;
        if (!object || object->getType() != ObjectModel) {
            if (!object)
                engineLog().error("Broken link to game object [%i] at stillframe [%s] : [REMOVE LINK]", int(handle),
                                  owner.name.c_str());
            else
                engineLog().error("Linked object [%i] must be a model at stillframe [%s]: [REMOVE LINK]",
                                  int(handle), owner.name.c_str());
            value = 0;
            return false;
        }
        // The named point is the model's action: its spot on the screen.
        static_cast<Model*>(object)->projectActionToScreen(std::int32_t(value >> kPointShift), x, y);
        x += ax;
        y += ay;
        if (flags & LinkKeepOnScreen) keepOnScreen(owner, x, y);
        return true;
    }
    if (flags & LinkFollowsObject) {
        const std::uint32_t handle = gameCore.currentScene() ? gameCore.scene_findObject(objectName.c_str(), false) : 0u;
        GameObject* object = handle && gameCore.objects ? gameCore.objects->getObject(GameObjectLink{handle}) : nullptr;
        Matrix34 world;
        if (object && object->getWorldMatrix(world)) {
            projectPoint(world.m + 9, x, y);
            x += ax;
            y += ay;
        }
        if (flags & LinkKeepOnScreen) keepOnScreen(owner, x, y);
        return true;
    }
    float baseX = 0.0f, baseY = 0.0f;
    if (parent) {
        if (parent->scroll.any()) {
            parent->scroll.childPosition(*parent, *this, x, y);
            if (flags & LinkKeepOnScreen) keepOnScreen(owner, x, y);
            return true;
        }
        baseX = parent->x;
        baseY = parent->y;
    } else if (const InputVirtualPointer* pointer = cursor(); pointer && (flags & LinkFollowsCursor)) {
        baseX = pointer->x;
        baseY = pointer->y;
    } else {
        // Nothing left to follow (a failed model lookup keeps only the bit).
        return true;
    }
    if (!frozen(ax)) x = baseX + ax;
    if (!frozen(ay)) y = baseY + ay;
    if (flags & LinkKeepOnScreen) keepOnScreen(owner, x, y);
    return true;
}

void StillFrameLink::keepOnScreen(const StillFrameScriptDataItem& owner, float& x, float& y) {
    const float halfWidth = owner.width * 0.5f, halfHeight = owner.height * 0.5f;
    if (x + halfWidth > 1024.0f) x -= halfWidth;
    if (y + halfHeight > 768.0f) y -= halfHeight;
}

bool StillFrameLink::isOnScreen(float x, float y, float width, float height) {
    return x <= 1024.0f && x + width >= 0.0f && y <= 768.0f && y + height >= 0.0f;
}

// ---- scrolling ----

bool StillFrameScroll::setControllers(const StillFrameScriptDataItem& owner, const StillFrameData& data,
                                      const char* xName, const char* yName, const char* xyName) {
    StillFrameScriptDataItem* found[3] = {};
    const char* names[3] = {xName, yName, xyName};
    static const char* const kWhich[3] = {"X", "Y", "XY"};
    for (int i = 0; i < 3; ++i) {
        if (!names[i] || !*names[i]) continue;
        found[i] = data.find(names[i]);
        if (!found[i])
            return engineLog().error("Fail setup scroll [%s]: controller sf %s [%s] not found", owner.name.c_str(),
                                     kWhich[i], names[i]);
    }
    return assign(owner, data, found[0], found[1], found[2]);
}

bool StillFrameScroll::assign(const StillFrameScriptDataItem& owner, const StillFrameData& data,
                              StillFrameScriptDataItem* cx, StillFrameScriptDataItem* cy,
                              StillFrameScriptDataItem* cxy) {
    for (StillFrameScriptDataItem* controller : {cx, cy, cxy}) {
        if (!controller) continue;
        const StillFrameScriptDataItem* other = data.findByScrollController(*controller);
        if (other && other != &owner)
            return engineLog().error("Can't assign scroll controller [%s] to [%s] : Already assigned to [%s]",
                                     controller->name.c_str(), owner.name.c_str(), other->name.c_str());
    }
    controllerX = cx;
    controllerY = cy;
    controllerXY = cxy;
    return true;
}

void StillFrameScroll::startDrag(const StillFrameScriptDataItem& owner, StillFrameScriptDataItem& controller,
                                 bool follow) {
    InputVirtualPointer* pointer = cursor();
    if (!follow || !pointer) {
        controller.link = StillFrameLink{};
        if (pointer) pointer->setLimit(0.0f, 0.0f, 1024.0f, 768.0f);
        return;
    }
    const float cursorX = pointer->x, cursorY = pointer->y;
    controller.link = StillFrameLink{};
    controller.link.flags = LinkActive | LinkFollowsCursor;
    controller.link.ax = controller.x - cursorX;
    controller.link.ay = controller.y - cursorY;
    for (StillFrameScriptDataItem* other : {controllerX, controllerY, controllerXY})
        if (other && other != &controller) other->link = StillFrameLink{};
    if (&controller == controllerX) {
        const float g = cursorX - controller.x;
        pointer->setLimit(owner.x + g, -1.0f, owner.x + owner.width - controller.width + g, -1.0f);
    } else if (&controller == controllerY) {
        const float g = cursorY - controller.y;
        pointer->setLimit(-1.0f, owner.y + g, -1.0f, owner.y + owner.height - controller.height + g);
    } else {
        dragCursorX = cursorX;
        dragCursorY = cursorY;
        dragX = x;
        dragY = y;
        controller.link.ax = controller.link.ay = 0.0f;
        const float ox = controllerX ? overflowX : 0.0f, oy = controllerY ? overflowY : 0.0f;
        const float minX = std::max(cursorX - (x + 1.0f) * ox, owner.x);
        const float maxX = std::min(cursorX - x * ox, owner.x + owner.width);
        const float minY = std::max(cursorY - (y + 1.0f) * oy, owner.y);
        const float maxY = std::min(cursorY - y * oy, owner.y + owner.height);
        pointer->setLimit(minX, minY, maxX, maxY);
    }
}

void StillFrameScroll::update(StillFrameScriptDataItem& owner, StillFrameData& data) {
    const float oldOverflowX = overflowX, oldOverflowY = overflowY;
    float left = 0.0f, top = 0.0f, right = 0.0f, bottom = 0.0f;
    if (data.childBounds(owner, left, top, right, bottom)) {
        overflowX = std::max(0.0f, (right - left) - owner.width);
        overflowY = std::max(0.0f, (bottom - top) - owner.height);
    } else {
        overflowX = overflowY = 0.0f;
    }
    // Events on change, per axis that has a controller of its own.
    auto events = [&](bool controlled, float oldOverflow, float overflow, float previous, float now,
                      std::int32_t show) {
        if (!controlled) return;
        if (overflow != 0.0f && oldOverflow <= 0.0f) data.sendEvent(&owner, show);
        if (overflow == 0.0f && oldOverflow != 0.0f) data.sendEvent(&owner, show + 1);
        if (now != previous && atLimit(now)) data.sendEvent(&owner, show + 4);
        if ((atLimit(previous) || previous > 0.0f) && inside(now)) data.sendEvent(&owner, show + 5);
    };
    events(controllerX || controllerXY, oldOverflowX, overflowX, previousX, x, EventScrollXShow);
    events(controllerY || controllerXY, oldOverflowY, overflowY, previousY, y, EventScrollYShow);
    previousX = x;
    previousY = y;
    auto dragged = [](const StillFrameScriptDataItem* c) { return c && (c->link.flags & LinkFollowsCursor); };
    if (dragged(controllerX) && owner.width != controllerX->width)
        x = std::clamp((owner.x - controllerX->x) / (owner.width - controllerX->width), -1.0f, 0.0f);
    if (dragged(controllerY) && owner.height != controllerY->height)
        y = std::clamp((owner.y - controllerY->y) / (owner.height - controllerY->height), -1.0f, 0.0f);
    if (dragged(controllerXY)) {
        if (overflowX != 0.0f) x = std::clamp(dragX - (dragCursorX - controllerXY->x) / overflowX, -1.0f, 0.0f);
        if (overflowY != 0.0f) y = std::clamp(dragY - (dragCursorY - controllerXY->y) / overflowY, -1.0f, 0.0f);
    }
    if (controllerX && !dragged(controllerX)) controllerX->x = owner.x - (owner.width - controllerX->width) * x;
    if (controllerY && !dragged(controllerY)) controllerY->y = owner.y - (owner.height - controllerY->height) * y;
    if (controllerXY && !dragged(controllerXY)) {
        controllerXY->x = owner.x - (owner.width - controllerXY->width) * x;
        controllerXY->y = owner.y - (owner.height - controllerXY->height) * y;
    }
}

void StillFrameScroll::childPosition(const StillFrameScriptDataItem& owner, const StillFrameLink& child, float& cx,
                                     float& cy) const {
    cx = overflowX * x + owner.x + child.ax;
    cy = overflowY * y + owner.y + child.ay;
}
