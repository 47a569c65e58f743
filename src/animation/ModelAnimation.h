// The animation part of a model: its skeleton (the bones of every pushed
// mesh level, sorted by name), its body and face stacks and the root
// motion taken from the body stack. Every frame it blends the stacks into
// each bone's local pose, adds the pose channels and composes the bones'
// model-space matrices, which the mesh elements skin with.
//
// Mesh bones carry what the skeleton needs in their stored record: the
// palette word holds the palette slot plus one (bits 0-7), the parent's
// index in the mesh's bone array plus one (bits 8-15, 0: no parent), the
// pose-channel number (bits 16-19, 0: none) and the flag bits 26 (root
// motion), 28 and 29 (partial set); the 40-byte block holds the rest
// transform (ten floats: rotation x, y, z, w, translation, scale; an
// all-zero block is the identity).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "animation/AnimationMapData.h"
#include "animation/AnimationStack.h"
#include "animation/AnimationTracker.h"
#include "animation/BoneTransform.h"

class DataStream;
class Model;
class Y3Mesh;
struct AnimationData;
struct CurrentTime;
struct MeshBone;
struct MeshSkinRecord;

// Bone flag bits.
constexpr std::uint32_t kBonePlaced = 0x8;
constexpr std::uint32_t kBoneMeshBit28 = 0x100;
constexpr std::uint32_t kBonePartial = 0x800;
constexpr std::uint32_t kBoneRootMotion = 0x100000;
constexpr std::uint32_t kBoneTracked = 0x200000;

// Mesh bone word bits read by the skeleton.
constexpr std::uint32_t kMeshBoneRootMotion = 1u << 26;
constexpr std::uint32_t kMeshBoneBit28 = 1u << 28;
constexpr std::uint32_t kMeshBonePartial = 1u << 29;

// Skeleton flags.
constexpr std::uint32_t kSkeletonReorder = 0x2;

// Animation flags.
constexpr std::uint32_t kAnimationHasInstances = 0x2;
constexpr std::uint32_t kAnimationEvaluated = 0x8;
constexpr std::uint32_t kAnimationStackChanged = 0x10;
constexpr std::uint32_t kAnimationTrackerReset = 0x20;
// The pose-channel weights changed since the last evaluation (kept across
// the preparation, which clears the stack-changed bit).
constexpr std::uint32_t kAnimationChannelsChanged = 0x40;

// The parts of a mesh bone's stored record that the skeleton reads.
std::int32_t meshBoneParent(const MeshBone& bone);
std::int32_t meshBoneChannel(const MeshBone& bone);
BoneTransform meshBoneRest(const MeshBone& bone);
// The pose of mouth shape k (0..7) in a bone's skin record (eight 40-byte
// transforms); rest for an empty or damaged slot.
BoneTransform meshChannelPose(const MeshSkinRecord& record, std::size_t shape, const BoneTransform& rest);

struct SkeletonBone {
    char name[128] = {};
    char parentName[128] = {};
    std::int32_t references = 0;
    BoneTransform local;
    BoneTransform rest;
    Matrix34 world{};
    float partWeights[5] = {};
    std::int16_t parent = -1;
    std::int16_t poseChannel = -1;
    std::int16_t tracked = -1;
    std::uint32_t flags = 0;
};

class Skeleton {
public:
    // The bone of that name, or the bitwise complement of its insertion
    // place (negative).
    std::int32_t find(const char* name) const;
    // Parents first: parent indices resolved, the evaluation order rebuilt
    // and the rest-pose matrices composed. A parent cycle is reported and
    // broken at the bone that closes it, which becomes a root.
    void reorder();
    // The skeleton index of each mesh bone into table; refused while the
    // skeleton awaits its re-order. A bone that is missing maps to 0 and
    // makes the result false.
    bool remapMeshBones(Y3Mesh& mesh, std::vector<std::int32_t>& table) const;
    // One reference less; at none the bone and its pose channels go.
    std::int32_t releaseMeshBone(const char* name);

    std::vector<std::int32_t> order;
    std::vector<SkeletonBone> bones;
    std::vector<std::array<BoneTransform, 8>> poseChannels;
    // The bones the tracker turns; a bone's tracked field indexes it.
    std::vector<TrackedBone> tracked;
    float channelWeights[8] = {};
    std::int32_t partialCount = 0;
    Model* owner = nullptr;
    std::uint32_t flags = 0;
};

class ModelAnimation {
public:
    explicit ModelAnimation(Model* owner);
    ~ModelAnimation();
    ModelAnimation(const ModelAnimation&) = delete;
    ModelAnimation& operator=(const ModelAnimation&) = delete;

    // Stops and destroys every instance and frees the skeleton.
    void clear();
    bool push();
    bool pop();
    bool isPlaying() const;
    void prepare(const CurrentTime& time, bool idle);
    void update(const CurrentTime& time, bool thinOut, bool mainCharacter);
    void syncFrom(const ModelAnimation& other);

    // Adds the bones of a pushed mesh level (needs the model's tracker map).
    bool bindTrackerMap(Y3Mesh& mesh);
    // The bone map of an animation over the skeleton, masked by the
    // tracker map's part weights.
    static bool bindTrackerMapOrDefault(Skeleton& skeleton, const AnimationData& data,
                                        std::vector<std::int32_t>& boneMap, std::int32_t part);

    // The tracker's choice of target for this frame (the model's slot 17):
    // only for an active model or the main character with tracked bones;
    // a model not drawn this frame has no target.
    void updateTracker(const CurrentTime& time, bool mainCharacter);

    std::int32_t write(DataStream& stream) const;
    std::int32_t read(DataStream& stream);

    AnimationStack& body() { return stacks[0]; }
    AnimationStack& face() { return stacks[1]; }

    Model* owner;
    std::uint32_t flags = 0;
    std::uint8_t motionReported = 0;
    std::uint8_t motionPadding[3] = {};
    BoneTransform motion = BoneTransform::zero();
    Skeleton skeleton;
    BoneTrackerState tracker;
    // Seconds of tracker time: drives the wander and the smoothers.
    double trackerClock = 0.0;
    AnimationStack stacks[2];

    // When the skeleton awaits it: the re-order, the pushed meshes'
    // bone remap and the re-bind of every instance after it.
    void settleSkeleton();

private:
    void applyPoseChannels(SkeletonBone& bone);
};
