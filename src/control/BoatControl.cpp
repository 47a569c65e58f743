#include "control/BoatControl.h"

#include "model/Model.h"

bool BoatControl::setPose(const Matrix34& pose, double time) {
    resetPositionSmoother(pose.m + 9, time);
    return true;
}

void BoatControl::getOrientation(Matrix33& out) const {
    for (int k = 0; k < 9; ++k) out.m[k] = owner().worldMatrix.m[k];
}
