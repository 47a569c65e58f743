#include "control/PositionController.h"

#include "model/Model.h"

bool PositionController::setPose(const Matrix34& pose, double time) {
    resetPositionSmoother(pose.m + 9, time);
    return true;
}

void PositionController::getOrientation(Matrix33& out) const {
    for (int k = 0; k < 9; ++k) out.m[k] = owner().worldMatrix.m[k];
}
