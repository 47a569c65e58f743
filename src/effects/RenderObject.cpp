#include "effects/RenderObject.h"

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "render/RenderCore.h"

namespace {

RenderList* currentList() { return gameCore.render ? &gameCore.render->renderList : nullptr; }

}  // namespace

bool renderListLocked() {
    const RenderList* list = currentList();
    return list && list->locked();
}

bool createRenderObject(RenderObject& object, ObjectContext* context) {
    if (renderListLocked()) {
        delete context;
        return engineLog().error("Can't create render object [%s]: Render context locked", object.displayName());
    }
    // A context the render object held before is not lost.
    if (object.context && object.context != context) delete object.context;
    object.context = context;
    object.visible = 0;
    if (RenderList* list = currentList()) list->link(object);
    return true;
}

bool releaseRenderObject(RenderObject& object) {
    if (renderListLocked())
        return engineLog().error("Can't release render object [%s]: Render context locked", object.displayName());
    delete object.context;
    object.context = nullptr;
    object.visible = 0;
    if (object.list) object.list->unlink(object);
    return true;
}
