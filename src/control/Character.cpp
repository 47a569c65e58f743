#include "control/Character.h"

#include "model/Model.h"

bool Character::setPose(const Matrix34& pose, double time) {
    resetPositionSmoother(pose.m + 9, time);
    return true;
}

void Character::getOrientation(Matrix33& out) const {
    for (int k = 0; k < 9; ++k) out.m[k] = owner().worldMatrix.m[k];
}
