#include "model/ModelContext.h"

#include <algorithm>

#include "app/GameCore.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "render/RenderCore.h"

namespace {

RenderList* currentList() { return gameCore.render ? &gameCore.render->renderList : nullptr; }

bool listLocked() {
    const RenderList* list = currentList();
    return list && (list->flags & RenderList::FlagDrawingScene);
}

}  // namespace

ModelContext* ModelContext::of(const Y3ModelData* record) { return record ? record->context : nullptr; }

bool ModelContext::push(Y3ModelData* record, Model& model) {
    Log& log = engineLog();
    if (!record) return log.error("Can't push model [%s] (%s): resource not found", model.getName(), model.resourceName);
    if (listLocked())
        return log.error("Can't push model [%s] (%s): render context locked", model.getName(), record->name);
    if (model.stateWords[0] & kModelInContext)
        return log.error("Can't push %s [%s] twice", record->typeLabel, model.getName());
    // The resource's users: refused when unavailable or already there.
    if (!ResourceManagerBase::push(record, &model.resourceUser())) return false;
    if (!record->context) {
        record->context = new ModelContext(record);
        if (record->model) record->model->gameContext = record->context;
        if (RenderList* list = currentList()) list->push(record->context, record->name);
    }
    record->context->instances.push_back(&model);
    model.stateWords[0] |= kModelInContext;
    return true;
}

bool ModelContext::pop(Y3ModelData* record, Model& model) {
    Log& log = engineLog();
    if (!record) return log.error("Can't pop model [%s] (%s): resource not found", model.getName(), model.resourceName);
    if (listLocked())
        return log.error("Can't pop model [%s] (%s): render context locked", model.getName(), record->name);
    if (!(model.stateWords[0] & kModelInContext))
        return log.error("Can't pop %s [%s]: push first", record->typeLabel, model.getName());
    if (!ResourceManagerBase::pop(record, &model.resourceUser())) return false;
    model.stateWords[0] &= ~kModelInContext;
    if (ModelContext* context = record->context) {
        std::vector<Model*>& list = context->instances;
        const auto at = std::find(list.begin(), list.end(), &model);
        if (at != list.end()) {
            *at = list.back();
            list.pop_back();
        }
        if (list.empty()) {
            if (RenderList* renderList = currentList()) renderList->pop(context);
            if (record->model && record->model->gameContext == context) record->model->gameContext = nullptr;
            record->context = nullptr;
            delete context;
        }
    }
    return true;
}
