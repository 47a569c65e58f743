#include "animation/ModelAnimation.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "animation/AnimationCore.h"
#include "animation/AnimationData.h"
#include "animation/AnimationDataManager.h"
#include "animation/KeyMath.h"
#include "app/GameCore.h"
#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "foundation/TimeCore.h"
#include "model/Model.h"
#include "model/Y3Mesh.h"
#include "model/Y3Model.h"

namespace {

const char* const kFaceBones[] = {"lipsl",     "lipsr",     "lipsu",     "lipsd",    "jaw",  "cheekl", "cheekr",
                                  "eyelblink", "eyerblink", "eyelbrow", "eyerbrow", "eyel", "eyer"};

bool isFaceBone(const char* name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* face : kFaceBones)
        if (lower == face) return true;
    return false;
}

AnimationMapData* trackerMapOf(const Model* model, std::string& chosen) {
    if (!gameCore.animation || !model) return nullptr;
    return gameCore.animation->trackerMaps().findMapForModel(model->resourceName, &chosen);
}

float dot4(const Quaternion& a, const Quaternion& b) { return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w; }

}  // namespace

std::int32_t meshBoneParent(const MeshBone& bone) { return std::int32_t((bone.paletteWord >> 8) & 0xFFu) - 1; }

std::int32_t meshBoneChannel(const MeshBone& bone) { return std::int32_t((bone.paletteWord >> 16) & 0xFu); }

BoneTransform meshBoneRest(const MeshBone& bone) {
    BoneTransform rest;
    static_assert(sizeof(bone.block) == sizeof(BoneTransform));
    bool empty = true;
    for (std::uint8_t b : bone.block) empty = empty && b == 0;
    if (empty) return BoneTransform::identity();
    std::memcpy(rest.values(), bone.block, sizeof(rest));
    bool finite = true;
    for (int i = 0; i < 10; ++i) finite = finite && std::isfinite(rest.values()[i]);
    if (!finite) {
        engineLog().error("Mesh bone [%s]: invalid rest transform, identity used", bone.name);
        return BoneTransform::identity();
    }
    return rest;
}

BoneTransform meshChannelPose(const MeshSkinRecord& record, std::size_t shape, const BoneTransform& rest) {
    const std::uint8_t* block = record.bytes + sizeof(BoneTransform) * shape;
    bool empty = true;
    for (std::size_t i = 0; i < sizeof(BoneTransform); ++i) empty = empty && block[i] == 0;
    if (empty) return rest;
    BoneTransform pose;
    std::memcpy(pose.values(), block, sizeof(pose));
    for (int i = 0; i < 10; ++i)
        if (!std::isfinite(pose.values()[i])) return rest;
    return pose;
}

std::int32_t Skeleton::find(const char* name) const {
    std::int32_t low = 0, high = static_cast<std::int32_t>(bones.size());
    while (low < high) {
        const std::int32_t mid = (low + high) / 2;
        const int order = std::strncmp(bones[static_cast<std::size_t>(mid)].name, name ? name : "", 128);
        if (order == 0) return mid;
        if (order > 0) high = mid;
        else low = mid + 1;
    }
    return ~low;
}

void Skeleton::reorder() {
    for (SkeletonBone& bone : bones) {
        bone.flags &= ~kBonePlaced;
        if (!bone.parentName[0]) {
            bone.parent = -1;
            continue;
        }
        const std::int32_t found = find(bone.parentName);
        bone.parent = static_cast<std::int16_t>(found >= 0 ? found : std::max<std::int32_t>(found, -32768));
    }
    order.clear();
    partialCount = 0;
    const std::size_t count = bones.size();
    while (order.size() < count) {
        const std::size_t before = order.size();
        for (std::size_t i = 0; i < count; ++i) {
            SkeletonBone& bone = bones[i];
            if (bone.flags & kBonePlaced) continue;
            if (bone.parent >= 0 && !(bones[static_cast<std::size_t>(bone.parent)].flags & kBonePlaced)) continue;
            order.push_back(static_cast<std::int32_t>(i));
            bone.flags |= kBonePlaced;
            if (bone.flags & kBonePartial) partialCount = static_cast<std::int32_t>(order.size());
        }
        if (order.size() != before) continue;
        // Nothing placed in a whole pass: the parents of the bones left
        // form a cycle. Follow the parents of the first bone left until a
        // bone repeats; the bone whose parent link reaches back to it closes
        // the cycle and becomes a root.
        std::size_t at = 0;
        while (bones[at].flags & kBonePlaced) ++at;
        std::vector<bool> seen(count, false);
        std::size_t closing = at;
        while (!seen[at]) {
            seen[at] = true;
            closing = at;
            at = static_cast<std::size_t>(bones[at].parent);
        }
        std::string names;
        std::size_t walk = at;
        do {
            names += names.empty() ? "" : ", ";
            names += bones[walk].name;
            walk = static_cast<std::size_t>(bones[walk].parent);
        } while (walk != at);
        engineLog().error("Model [%s] skeleton: parent cycle of bones [%s]: bone [%s] taken as a root",
                          owner ? owner->getName() : "NULL", names.c_str(), bones[closing].name);
        bones[closing].parent = -1;
    }
    for (std::int32_t index : order) {
        SkeletonBone& bone = bones[static_cast<std::size_t>(index)];
        bone.world = bone.rest.toMatrix();
        if (bone.parent >= 0)
            bone.world = multiplyTransforms(bone.world, bones[static_cast<std::size_t>(bone.parent)].world);
    }
}

bool Skeleton::remapMeshBones(Y3Mesh& mesh, std::vector<std::int32_t>& table) const {
    if (flags & kSkeletonReorder) return engineLog().error("break mesh skeleton remap: re-order model skeleton first");
    const std::vector<MeshBone>& meshBones = mesh.skin().bones;
    table.assign(meshBones.size(), 0);
    bool result = true;
    for (std::size_t i = 0; i < meshBones.size(); ++i) {
        const std::int32_t found = find(meshBones[i].name);
        if (found < 0) result = false;
        else table[i] = found;
    }
    return result;
}

std::int32_t Skeleton::releaseMeshBone(const char* name) {
    const std::int32_t index = find(name);
    if (index < 0) return -1;
    SkeletonBone& bone = bones[static_cast<std::size_t>(index)];
    if (--bone.references > 0) return index;
    const std::int16_t channel = bone.poseChannel;
    const std::int16_t trackedIndex = bone.tracked;
    bones.erase(bones.begin() + index);
    if (trackedIndex >= 0 && static_cast<std::size_t>(trackedIndex) < tracked.size()) {
        const std::int16_t moved = static_cast<std::int16_t>(tracked.size() - 1);
        tracked[static_cast<std::size_t>(trackedIndex)] = std::move(tracked.back());
        tracked.pop_back();
        for (SkeletonBone& other : bones)
            if (other.tracked == moved) other.tracked = trackedIndex;
    }
    if (channel >= 0 && static_cast<std::size_t>(channel) < poseChannels.size()) {
        const std::int16_t moved = static_cast<std::int16_t>(poseChannels.size() - 1);
        poseChannels[static_cast<std::size_t>(channel)] = poseChannels.back();
        poseChannels.pop_back();
        for (SkeletonBone& other : bones)
            if (other.poseChannel == moved) other.poseChannel = channel;
    }
    flags |= kSkeletonReorder;
    return index;
}

ModelAnimation::ModelAnimation(Model* model) : owner(model), stacks{AnimationStack(model), AnimationStack(model)} {
    skeleton.owner = model;
    tracker.owner = model;
}

ModelAnimation::~ModelAnimation() { clear(); }

void ModelAnimation::clear() {
    for (AnimationStack& stack : stacks) stack.clear();
    std::vector<SkeletonBone>().swap(skeleton.bones);
    std::vector<std::int32_t>().swap(skeleton.order);
    skeleton.poseChannels.clear();
    std::vector<TrackedBone>().swap(skeleton.tracked);
}

bool ModelAnimation::push() {
    bool result = true;
    for (AnimationStack& stack : stacks)
        if (!stack.push()) result = false;
    return result;
}

bool ModelAnimation::pop() {
    bool result = true;
    for (AnimationStack& stack : stacks)
        if (!stack.pop()) result = false;
    return result;
}

bool ModelAnimation::isPlaying() const { return stacks[0].isPlaying() || stacks[1].isPlaying(); }

bool ModelAnimation::bindTrackerMap(Y3Mesh& mesh) {
    std::string chosen;
    const AnimationMapData* map = trackerMapOf(owner, chosen);
    if (!map) return engineLog().error("Expected character tracker data for model [%s]", chosen.c_str());
    const std::vector<MeshBone>& meshBones = mesh.skin().bones;
    for (const MeshBone& source : meshBones) {
        const std::int32_t found = skeleton.find(source.name);
        if (found >= 0) {
            ++skeleton.bones[static_cast<std::size_t>(found)].references;
            continue;
        }
        SkeletonBone bone;
        copyName(bone.name, sizeof(bone.name), source.name);
        const std::int32_t parent = meshBoneParent(source);
        if (parent >= 0 && static_cast<std::size_t>(parent) < meshBones.size() &&
            &meshBones[static_cast<std::size_t>(parent)] != &source)
            copyName(bone.parentName, sizeof(bone.parentName), meshBones[static_cast<std::size_t>(parent)].name);
        bone.references = 1;
        bone.rest = meshBoneRest(source);
        bone.local = bone.rest;
        bone.world = bone.rest.toMatrix();
        if (source.paletteWord & kMeshBoneBit28) bone.flags |= kBoneMeshBit28;
        if (source.paletteWord & kMeshBonePartial) bone.flags |= kBonePartial;
        if (source.paletteWord & kMeshBoneRootMotion) bone.flags |= kBoneRootMotion;
        const std::int32_t channel = meshBoneChannel(source);
        if (channel > 0) {
            std::array<BoneTransform, 8> poses;
            poses.fill(bone.rest);
            // The skin record of the channel holds the bone's eight mouth
            // shape poses; an empty or damaged slot keeps the rest.
            const std::vector<MeshSkinRecord>& records = mesh.skin().records;
            if (static_cast<std::size_t>(channel) <= records.size())
                for (std::size_t k = 0; k < poses.size(); ++k)
                    poses[k] = meshChannelPose(records[static_cast<std::size_t>(channel - 1)], k, bone.rest);
            skeleton.poseChannels.push_back(poses);
            bone.poseChannel = static_cast<std::int16_t>(skeleton.poseChannels.size() - 1);
        }
        const bool face = isFaceBone(bone.name);
        bone.partWeights[0] = face && bone.poseChannel < 0 ? 0.0f : 1.0f;
        bone.partWeights[kFacePart] = face ? 1.0f : 0.0f;
        TrackedBone tracked;
        if (AnimationTracker::makeTrackedBone(bone.name, map, tracked)) {
            bone.flags |= kBoneTracked;
            bone.tracked = static_cast<std::int16_t>(skeleton.tracked.size());
            skeleton.tracked.push_back(std::move(tracked));
        }
        skeleton.bones.insert(skeleton.bones.begin() + ~found, bone);
        skeleton.flags |= kSkeletonReorder;
    }
    return true;
}

bool ModelAnimation::bindTrackerMapOrDefault(Skeleton& skeleton, const AnimationData& data,
                                             std::vector<std::int32_t>& boneMap, std::int32_t part) {
    if (skeleton.flags & kSkeletonReorder) {
        boneMap.clear();
        return true;
    }
    const Model* model = skeleton.owner;
    std::string chosen;
    AnimationMapData* map = trackerMapOf(model, chosen);
    if (!map)
        return engineLog().error("Expected character tracker data for model [%s] or [%s]",
                                 model ? model->resourceName : "NULL", chosen.c_str());
    auto trackOf = [&](const char* name) -> std::int32_t {
        for (std::size_t t = 0; t < data.tracks.size(); ++t)
            if (std::strncmp(data.tracks[t].boneName, name, 128) == 0) return static_cast<std::int32_t>(t);
        return -1;
    };
    boneMap.assign(skeleton.bones.size(), -1);
    bool any = false;
    for (std::size_t i = 0; i < skeleton.bones.size(); ++i) {
        const char* name = skeleton.bones[i].name;
        std::int32_t track = trackOf(name);
        if (track < 0 && model) {
            char qualified[300];
            std::snprintf(qualified, sizeof(qualified), "%s:%s", model->getName(), name);
            track = trackOf(qualified);
        }
        if (!map->partDrivesBone(name, part)) track = -1;
        boneMap[i] = track;
        any = any || track >= 0;
    }
    return any;
}

void ModelAnimation::settleSkeleton() {
    if (!(skeleton.flags & kSkeletonReorder)) return;
    skeleton.reorder();
    skeleton.flags &= ~kSkeletonReorder;
    if (owner && owner->meshModel())
        for (ModelElement& element : owner->elements)
            for (ModelElementLod& lod : element.lods)
                if ((lod.slotFlags & kLodPushed) && lod.mesh && !(lod.mesh->flags() & Y3Mesh::kSkinMatrices) &&
                    !lod.mesh->skin().bones.empty())
                    skeleton.remapMeshBones(*lod.mesh, lod.boneIndices);
    for (AnimationStack& stack : stacks)
        for (auto& instance : stack.instances()) {
            const AnimationData* loaded = instance->data();
            if (loaded) bindTrackerMapOrDefault(skeleton, *loaded, instance->boneMap, instance->part);
        }
}

void ModelAnimation::prepare(const CurrentTime& time, bool idle) {
    settleSkeleton();
    const bool ownUpdate = owner && ((owner->stateWords[0] & 0x40) || (owner->stateWords[1] & kModelTrackingPending));
    if ((flags & kAnimationHasInstances) || ownUpdate) {
        flags &= ~(kAnimationHasInstances | kAnimationStackChanged);
        for (AnimationStack& stack : stacks) {
            if (stack.update(time, idle)) flags |= kAnimationStackChanged;
            if (!stack.instances().empty()) flags |= kAnimationHasInstances;
            if (stack.takeChanged() && owner) owner->stateWords[0] |= kModelPaletteRefresh;
        }
    }
    if (skeleton.bones.empty()) return;
    motionReported = 0;
    if (idle || skeleton.order.empty()) return;
    const std::int32_t first = skeleton.order.front();
    SkeletonBone& bone = skeleton.bones[static_cast<std::size_t>(first)];
    if (!(bone.flags & kBoneRootMotion)) return;
    BoneTransform pose = bone.local;
    if (body().evaluateBone(pose, motion, bone.rest, first, bone.partWeights, kSampleAdditive | kSampleRootMotion))
        motionReported = 1;
}

void ModelAnimation::applyPoseChannels(SkeletonBone& bone) {
    if (bone.poseChannel < 0 || static_cast<std::size_t>(bone.poseChannel) >= skeleton.poseChannels.size()) return;
    const auto& poses = skeleton.poseChannels[static_cast<std::size_t>(bone.poseChannel)];
    float rotation[4] = {};
    float translation[3] = {};
    bool applied = false;
    for (int c = 0; c < 8; ++c) {
        const float w = skeleton.channelWeights[c];
        if (w == 0.0f) continue;
        const float a = std::fabs(w);
        BoneTransform blended;
        quaternionSlerp(bone.local.rotation, poses[static_cast<std::size_t>(c)].rotation, blended.rotation, a);
        for (int k = 0; k < 3; ++k)
            blended.translation[k] =
                bone.local.translation[k] + a * (poses[static_cast<std::size_t>(c)].translation[k] - bone.local.translation[k]);
        if (onFarHemisphere(dot4(blended.rotation, bone.local.rotation)))
            blended.rotation = {-blended.rotation.x, -blended.rotation.y, -blended.rotation.z, -blended.rotation.w};
        const float sign = w < 0.0f ? -1.0f : 1.0f;
        const float* b = &blended.rotation.x;
        const float* l = &bone.local.rotation.x;
        for (int k = 0; k < 4; ++k) rotation[k] += sign * (b[k] - l[k]);
        for (int k = 0; k < 3; ++k) translation[k] += sign * (blended.translation[k] - bone.local.translation[k]);
        applied = true;
    }
    if (!applied) return;
    float* l = &bone.local.rotation.x;
    for (int k = 0; k < 4; ++k) l[k] += rotation[k];
    for (int k = 0; k < 3; ++k) bone.local.translation[k] += translation[k];
    bone.local.scale[0] = bone.local.scale[1] = bone.local.scale[2] = 1.0f;
}

void ModelAnimation::update(const CurrentTime& time, bool thinOut, bool mainCharacter) {
    settleSkeleton();
    if (!owner) return;
    std::uint32_t* state = owner->stateWords;
    state[0] |= kModelLastUpload;
    if (!(flags & (kAnimationStackChanged | kAnimationChannelsChanged)) && !(state[0] & 0x40) &&
        !(state[1] & kModelTrackingPending))
        return;
    flags &= ~kAnimationChannelsChanged;
    const bool active = (state[0] & kModelActive) || mainCharacter;
    bool channels = false;
    if (active)
        for (float w : skeleton.channelWeights) channels = channels || w != 0.0f;
    flags &= ~kAnimationEvaluated;
    std::size_t count = skeleton.order.size();
    if (!(state[0] & kModelDrawnThisFrame) && !mainCharacter) {
        count = thinOut ? static_cast<std::size_t>(std::max(0, skeleton.partialCount)) : 0;
        state[0] &= ~kModelLastUpload;
    }
    count = std::min(count, skeleton.order.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t index = skeleton.order[i];
        SkeletonBone& bone = skeleton.bones[static_cast<std::size_t>(index)];
        std::uint32_t mode = bone.parent < 0 ? kSampleAdditive : 0;
        if (bone.flags & kBoneRootMotion) mode |= kSampleMasked;
        if (!body().evaluateBone(bone.local, motion, bone.rest, index, bone.partWeights, mode)) bone.local = bone.rest;
        if (active) {
            face().evaluateBone(bone.local, motion, bone.rest, index, bone.partWeights, mode);
            if (channels) applyPoseChannels(bone);
            if (bone.tracked >= 0 && static_cast<std::size_t>(bone.tracked) < skeleton.tracked.size()) {
                TrackedBone& tracked = skeleton.tracked[static_cast<std::size_t>(bone.tracked)];
                if (flags & kAnimationTrackerReset) tracked.flags &= ~kTrackedInitialized;
                const float factor = AnimationTracker::handsFactor(*this, bone.world.m + 9);
                AnimationTracker::trackBone(*this, tracked, bone.local, index, time, factor);
            }
        }
        if (bone.parent >= 0)
            bone.world =
                multiplyTransforms(bone.local.toMatrix(), skeleton.bones[static_cast<std::size_t>(bone.parent)].world);
        else
            bone.world = bone.local.toMatrix();
    }
    flags &= ~kAnimationTrackerReset;
}

void ModelAnimation::updateTracker(const CurrentTime& time, bool mainCharacter) {
    if (!owner || skeleton.tracked.empty()) return;
    if (!(owner->stateWords[0] & kModelActive) && !mainCharacter) return;
    const double step = time.game.step;
    trackerClock += step;
    // A second instance blending in faster than "tracker_reset_time"
    // restarts the smoothers from the animated pose.
    if (trackerSettings.resetTime > 0.0f)
        for (const AnimationStack& stack : stacks) {
            if (stack.instances().size() < 2) continue;
            const BlenderHeader& blender = stack.instances()[1]->blender;
            if (!blender.enabled || !(blender.level > 0.0f) || !(blender.start.rate > 0.0)) continue;
            if (1.0 / blender.start.rate < double(trackerSettings.resetTime)) flags |= kAnimationTrackerReset;
        }
    if (owner->stateWords[0] & kModelDrawnThisFrame)
        AnimationTracker::chooseTarget(tracker, *owner, step);
    else
        tracker.hasTarget = 0;
}

void ModelAnimation::syncFrom(const ModelAnimation& other) {
    for (int s = 0; s < 2; ++s) {
        auto& mine = stacks[s].instances();
        const auto& theirs = other.stacks[s].instances();
        if (mine.empty() || mine.size() != theirs.size()) continue;
        for (std::size_t i = 0; i < mine.size(); ++i)
            if (mine[i]->animation == theirs[i]->animation) mine[i]->copyState(*theirs[i]);
    }
}

std::int32_t ModelAnimation::write(DataStream& s) const {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, flags))) return total;
    if (!addField(total, writeU8(s, motionReported))) return total;
    if (!addField(total, s.write(motionPadding, 3))) return total;
    for (int i = 0; i < 10; ++i)
        if (!addField(total, writeF32(s, motion.values()[i]))) return total;
    // The pending re-order is run-time state (a load sets it anyway).
    if (!addField(total, writeU32(s, skeleton.flags & ~kSkeletonReorder))) return total;
    if (!addField(total, writeU32(s, tracker.flags))) return total;
    for (float v : tracker.target)
        if (!addField(total, writeF32(s, v))) return total;
    if (!addField(total, writeU8(s, tracker.hasTarget))) return total;
    if (!addField(total, writeU8(s, tracker.automaticTarget))) return total;
    for (const AnimationStack& stack : stacks)
        if (!addField(total, stack.write(s))) return total;
    return total;
}

std::int32_t ModelAnimation::read(DataStream& s) {
    std::int32_t total = 0;
    if (!addField(total, readU32(s, flags))) return total;
    if (!addField(total, readU8(s, motionReported))) return total;
    if (!addField(total, readExact(s, motionPadding, 3))) return total;
    for (int i = 0; i < 10; ++i)
        if (!addField(total, readF32(s, motion.values()[i]))) return total;
    if (!addField(total, readU32(s, skeleton.flags))) return total;
    if (!addField(total, readU32(s, tracker.flags))) return total;
    for (float& v : tracker.target)
        if (!addField(total, readF32(s, v))) return total;
    if (!addField(total, readU8(s, tracker.hasTarget))) return total;
    if (!addField(total, readU8(s, tracker.automaticTarget))) return total;
    // Whom the model looks at is chosen (and named) again.
    tracker.lookedAt = 0;
    for (AnimationStack& stack : stacks)
        if (!addField(total, stack.read(s))) return total;
    skeleton.flags |= kSkeletonReorder;
    return total;
}
