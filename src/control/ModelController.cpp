#include "control/ModelController.h"

std::unique_ptr<ModelController> ModelController::create(std::int32_t type) {
    if (type < TypeCharacter || type > TypePosition) return nullptr;
    return std::make_unique<ModelController>(type);
}
