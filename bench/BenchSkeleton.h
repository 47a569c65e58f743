// The benchmarks' characters: a skeleton of bones "b00", "b01", ... in a
// chain, each 0.1 above its parent, driven by the body part.
#pragma once

#include <cstdio>
#include <string>

#include "animation/ModelAnimation.h"
#include "model/Model.h"

namespace bench_skeleton {

inline std::string boneName(int b) {
    char name[16];
    std::snprintf(name, sizeof(name), "b%02d", b);
    return name;
}

// Gives the model's skeleton that chain of the given bones, ordered, and
// places the model at the origin.
inline void makeChain(Model& model, int bones) {
    Skeleton& skeleton = model.animation.skeleton;
    skeleton.bones.resize(static_cast<std::size_t>(bones));
    for (int b = 0; b < bones; ++b) {
        SkeletonBone& bone = skeleton.bones[std::size_t(b)];
        copyName(bone.name, sizeof(bone.name), boneName(b).c_str());
        if (b > 0) copyName(bone.parentName, sizeof(bone.parentName), boneName(b - 1).c_str());
        bone.rest.translation[1] = 0.1f;
        bone.local = bone.rest;
        bone.partWeights[0] = 1.0f;
    }
    skeleton.reorder();
    model.worldMatrix = matrix34Identity();
}

}  // namespace bench_skeleton
