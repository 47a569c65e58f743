// How every object context (model, particle, sprite and scene contexts)
// enters and leaves the render core's current render list. Both refuse,
// without waiting, while a render pass holds the list locked.
#pragma once

#include "model/ObjectContext.h"

// Stores context in the render object and links it at the head of the
// current render list. The render object owns the context from then on; a
// refused context (the list is locked: "Can't create render object [%s]:
// Render context locked") is deleted and the result is false. Without a
// render core the context is stored but linked nowhere.
bool createRenderObject(RenderObject& object, ObjectContext* context);
// Deletes the render object's context and unlinks it; refused (false,
// nothing changed, "Can't release render object [%s]: Render context
// locked") while the list is locked.
bool releaseRenderObject(RenderObject& object);
// Whether the current render list is locked by a pass.
bool renderListLocked();
