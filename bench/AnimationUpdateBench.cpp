// The per-frame animation update, paired with its plain baseline
// (bench/PairedRun.h):
//   BM_AnimationUpdate: 500 characters of 40 bones in a chain, each playing
//     two looping instances on its body stack at levels 0.6 and 0.4: every
//     frame the instances advance and every bone is sampled from both
//     (two frames, lerp and slerp), blended and composed into its
//     model-space matrix; the last bone is a tracked head that the bone
//     tracker turns towards a fixed look target and smooths. The baseline
//     runs the same sampling, slerp, blend, head turn and matrix products as
//     one bare loop over the same arrays. Both sides must end with the same
//     bone matrices.
//   BM_AnimationUpdateSailor: the same update on the demo's own character,
//     500 sailors read from demo/models/sailor.txt (its eight bones in their
//     hierarchy, its idle written by the animation writer), each playing
//     its idle twice at levels 0.6 and 0.4 at different phases; bones its
//     idle does not key keep their rest, and its "bip01 head" is tracked
//     with the weight its tracker map gives it (0.7). The baseline walks the
//     skeleton's evaluation order with the same arithmetic.
//   BM_AnimationPlays/N: N characters of 24 bones in a chain, each playing
//     two looping animations at levels 0.6 and 0.4, through the model's
//     per-frame passes (ModelAnimation::prepare and update). The baseline
//     is a plain loop written apart from the project's math, over its own
//     arrays of keys (frame by bone by channel): it advances both plays,
//     finds each bone's two keys by index, lerps the translation, slerps
//     the rotation in single precision (with the sign test for the shorter
//     arc), blends the two plays, normalises and composes the bone
//     matrices. The matrices of both sides are checked equal (within 4e-5)
//     before timing and again after.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSkeleton.h"
#include "PairedRun.h"
#include "animation/AnimationData.h"
#include "animation/AnimationDataManager.h"
#include "animation/AnimationTracker.h"
#include "animation/ModelAnimation.h"
#include "foundation/DataStream.h"
#include "foundation/TimeCore.h"
#include "model/AnimationWriter.h"
#include "model/Model.h"

namespace {

constexpr int kCharacters = 500;
constexpr int kBones = 40;
constexpr int kFrames = 30;
constexpr double kStep = 1.0 / 60.0;
// The head's look target (model space; the models stand at the origin).
constexpr float kTarget[3] = {1.5f, 3.0f, 2.0f};

using bench_skeleton::boneName;

// The record of an animation written by the animation writer and loaded
// from its bytes.
std::unique_ptr<Y3AnimData> loadedRecord(const char* name, const model_tools::AnimationFileDescription& animation) {
    std::string bytes = model_tools::animationFileBytes(animation);
    MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    auto record = std::make_unique<Y3AnimData>(name);
    loadAnimationData(record->data, name, stream);
    record->flags |= kResourceHeaderLoaded;
    return record;
}

// An animation keying every channel of every bone on every frame.
std::unique_ptr<Y3AnimData> makeAnimation(const char* name, float phase) {
    model_tools::AnimationFileDescription animation;
    animation.name = name;
    animation.frameCount = kFrames;
    animation.flags = 1;
    // The root (bone 0) is not animated: it holds its rest.
    for (int b = 1; b < kBones; ++b) {
        model_tools::TrackDescription track;
        track.bone = boneName(b);
        track.lastFrame = kFrames - 1;
        for (int f = 0; f < kFrames; ++f) {
            const float a = 0.5f * std::sin(phase + 0.2f * float(f) + 0.1f * float(b));
            const float v[10] = {0.0f, 0.1f, 0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, std::sin(a), std::cos(a)};
            for (int c = 0; c < 10; ++c) track.channels[std::size_t(c)].values.push_back(v[c]);
        }
        animation.tracks.push_back(std::move(track));
    }
    return loadedRecord(name, animation);
}

struct Scene {
    std::vector<std::unique_ptr<Y3AnimData>> animations;
    std::vector<std::unique_ptr<Model>> models;
    // The baseline's own copy of the state.
    struct Play {
        double position;
        std::int32_t frameA, frameB;
        double fraction;
    };
    std::vector<Play> plays;
    std::vector<BoneTransform> locals;
    std::vector<Matrix34> worlds;
    std::vector<QuadSmooth> heads;
    double clock = 0.0;
};

// The head's tracked record: weight 1, three smoothing stages.
TrackedBone trackedHead() {
    TrackedBone head;
    head.kind = kTrackedHead;
    head.weight = 1.0f;
    head.distanceFactor = 0.7f;
    head.stages = 3;
    head.smooth.setStages(3, 0.4f, 0.2f);
    return head;
}

void addInstance(Model& model, Y3AnimData& record, float level, double position) {
    auto instance = std::make_unique<AnimationInstance>(&model, &record, record.name, kInstanceLoop);
    instance->flags |= kInstanceInitialized;
    instance->lastFrame = kFrames - 1;
    instance->frameStep = 1.0 / (kFrames - 1);
    instance->position = position;
    instance->blender.setHigh(level);
    instance->blender.run();
    instance->blender.setStart(0.0, 0.0);
    instance->boneMap.resize(kBones);
    for (int b = 0; b < kBones; ++b) instance->boneMap[std::size_t(b)] = b - 1;
    model.animation.body().instances().push_back(std::move(instance));
}

std::unique_ptr<Scene> makeScene() {
    auto scene = std::make_unique<Scene>();
    scene->animations.push_back(makeAnimation("bench.walk", 0.0f));
    scene->animations.push_back(makeAnimation("bench.wave", 1.0f));
    for (int c = 0; c < kCharacters; ++c) {
        auto model = std::make_unique<Model>(("m" + std::to_string(c)).c_str(), "bench", 0);
        model->stateWords[0] |= kModelDrawnThisFrame | kModelActive;
        bench_skeleton::makeChain(*model, kBones);
        Skeleton& skeleton = model->animation.skeleton;
        skeleton.bones[kBones - 1].tracked = 0;
        skeleton.tracked.push_back(trackedHead());
        // A dialog's target: used without the distance and timer checks.
        BoneTrackerState& tracker = model->animation.tracker;
        tracker.hasTarget = 1;
        tracker.automaticTarget = 0;
        std::copy(kTarget, kTarget + 3, tracker.target);
        scene->heads.push_back(trackedHead().smooth);
        addInstance(*model, *scene->animations[0], 0.6f, double(c % 7) / 7.0);
        addInstance(*model, *scene->animations[1], 0.4f, double(c % 5) / 5.0);
        for (const auto& instance : model->animation.body().instances())
            scene->plays.push_back({instance->position, -1, -1, 0.0});
        for (const SkeletonBone& bone : skeleton.bones) {
            scene->locals.push_back(bone.local);
            scene->worlds.push_back(bone.world);
        }
        scene->models.push_back(std::move(model));
    }
    return scene;
}

// The project: the stacks' frame step and the model update (of the generic
// characters or of the demo's sailors).
template <class Characters>
void projectFrame(Characters& scene) {
    const CurrentTime time(kStep);
    for (auto& model : scene.models) {
        model->animation.body().update(time, false);
        model->animation.flags |= kAnimationStackChanged;
        model->animation.update(time, false, false);
        // The tracker's clock, as the tracking slot advances it.
        model->animation.trackerClock += kStep;
    }
}

// The tracker's turn of the head written out: look direction in the
// bone's frame plus the wander, the look rotation on the animated one, the
// angle limit and the smoothing.
void baselineHead(BoneTransform& pose, const Matrix34& parent, QuadSmooth& smooth, double clock, bool first,
                  float weight = 1.0f) {
    if (first) smooth.reset(pose.rotation, clock);
    const Matrix34 frame = multiplyTransforms(pose.toMatrix(), parent);
    const float* a = frame.m;
    const float c00 = a[4] * a[8] - a[5] * a[7], c01 = a[5] * a[6] - a[3] * a[8], c02 = a[3] * a[7] - a[4] * a[6];
    const float inv = 1.0f / (a[0] * c00 + a[1] * c01 + a[2] * c02);
    const float r[9] = {c00 * inv, (a[2] * a[7] - a[1] * a[8]) * inv, (a[1] * a[5] - a[2] * a[4]) * inv,
                        c01 * inv, (a[0] * a[8] - a[2] * a[6]) * inv, (a[2] * a[3] - a[0] * a[5]) * inv,
                        c02 * inv, (a[1] * a[6] - a[0] * a[7]) * inv, (a[0] * a[4] - a[1] * a[3]) * inv};
    float t[3];
    for (int c = 0; c < 3; ++c) t[c] = -(a[9] * r[c] + a[10] * r[3 + c] + a[11] * r[6 + c]);
    float d[3];
    for (int c = 0; c < 3; ++c) d[c] = kTarget[0] * r[c] + kTarget[1] * r[3 + c] + kTarget[2] * r[6 + c] + t[c];
    vector3Normalize(d);
    float wander[3];
    AnimationTracker::wanderDirection(kTrackedHead, clock, wander);
    for (int k = 0; k < 3; ++k) d[k] += wander[k];
    vector3Normalize(d);
    const float x[3] = {1.0f, 0.0f, 0.0f};
    float side[3], up[3];
    vector3Cross(d, x, side);
    vector3Normalize(side);
    vector3Cross(side, d, up);
    vector3Normalize(up);
    Matrix34 look = matrix34Identity();
    for (int k = 0; k < 3; ++k) {
        look.m[k] = up[k];
        look.m[3 + k] = side[k];
        look.m[6 + k] = d[k];
    }
    BoneTransform rotation;
    rotation.rotation = pose.rotation;
    Quaternion turned;
    quaternionFromMatrix(multiplyTransforms(look, rotation.toMatrix()), turned);
    quaternionNormalize(turned);
    Quaternion weighted, result = pose.rotation;
    quaternionSlerp(pose.rotation, turned, weighted, weight);
    const Quaternion& q = pose.rotation;
    const double dot = std::fabs(double(q.x) * weighted.x + double(q.y) * weighted.y + double(q.z) * weighted.z +
                                 double(q.w) * weighted.w);
    if (2.0 * std::acos(std::fmin(dot, 1.0)) <= 0.4 * 3.14159265358979323846)
        quaternionSlerp(pose.rotation, weighted, result, 1.0f);
    smooth.setTarget(result, clock);
    smooth.update(clock);
    pose.rotation = smooth.output;
}

void sampleFrame(const AnimationData& data, int track, std::int32_t frame, BoneTransform& out) {
    sampleTrackFrame(frame, track, out, data);
}

// The baseline's step of one play at 25 frames a second over an animation
// of the given frames: its looping position and the two frames around it.
void advancePlay(Scene::Play& p, int frames) {
    p.position += (1.0 / (frames - 1)) * kStep * 25.0;
    if (p.position > 1.0) {
        p.position = std::fmod(p.position, 1.0);
        if (p.position == 0.0) p.position = 1.0;
    }
    p.frameA = static_cast<std::int32_t>(p.position * (frames - 1));
    p.frameB = p.frameA + 1;
    p.fraction = (p.position - p.frameA * (1.0 / (frames - 1))) * (frames - 1);
}

// The baseline: the same arithmetic written out over the same arrays.
void baselineFrame(Scene& scene) {
    const AnimationData* data[2] = {scene.animations[0]->data, scene.animations[1]->data};
    const float levels[2] = {0.6f, 0.4f};
    for (int c = 0; c < kCharacters; ++c) {
        Scene::Play* play = &scene.plays[std::size_t(c) * 2];
        for (int i = 0; i < 2; ++i) advancePlay(play[i], kFrames);
        BoneTransform* locals = &scene.locals[std::size_t(c) * kBones];
        Matrix34* worlds = &scene.worlds[std::size_t(c) * kBones];
        const float total = levels[0] + levels[1];
        worlds[0] = locals[0].toMatrix();
        for (int b = 1; b < kBones; ++b) {
            BoneTransform& pose = locals[b];
            const BoneTransform reference = pose;
            BoneTransform sample;
            float acc[10] = {};
            for (int i = 0; i < 2; ++i) {
                const float w = levels[i] / total;
                const Scene::Play& p = play[i];
                if (p.fraction == 0.0) {
                    sampleFrame(*data[i], b - 1, p.frameA, sample);
                } else {
                    BoneTransform a = sample, bt = sample;
                    sampleFrame(*data[i], b - 1, p.frameA, a);
                    sampleFrame(*data[i], b - 1, p.frameB, bt);
                    const float t = static_cast<float>(p.fraction);
                    for (int k = 0; k < 3; ++k) {
                        sample.translation[k] = a.translation[k] * (1.0f - t) + bt.translation[k] * t;
                        sample.scale[k] = a.scale[k] * (1.0f - t) + bt.scale[k] * t;
                    }
                    quaternionSlerp(a.rotation, bt.rotation, sample.rotation, t);
                }
                const float* r = reference.values();
                const float* s = sample.values();
                const float d = reference.rotation.x * sample.rotation.x + reference.rotation.y * sample.rotation.y +
                                reference.rotation.z * sample.rotation.z + reference.rotation.w * sample.rotation.w;
                const bool far = 2.0 * std::acos(std::fmax(-1.0, std::fmin(1.0, double(d)))) > 3.14159265358979323846;
                for (int k = 0; k < 4; ++k) acc[k] += w * (far ? -(r[k] + s[k]) : s[k] - r[k]);
                for (int k = 4; k < 10; ++k) acc[k] += w * (s[k] - r[k]);
            }
            float* v = pose.values();
            for (int k = 0; k < 7; ++k) v[k] += acc[k];
            pose.scale[0] = pose.scale[1] = pose.scale[2] = 1.0f;
            quaternionNormalize(pose.rotation);
            if (b == kBones - 1)
                baselineHead(pose, worlds[b - 1], scene.heads[std::size_t(c)], scene.clock,
                             scene.clock == 0.0);
            worlds[b] = pose.toMatrix();
            worlds[b] = multiplyTransforms(worlds[b], worlds[b - 1]);
        }
    }
    scene.clock += kStep;
}

bool sameResult(const Scene& scene) {
    for (int c = 0; c < kCharacters; ++c)
        for (int b = 0; b < kBones; ++b) {
            const Matrix34& mine = scene.models[std::size_t(c)]->animation.skeleton.bones[std::size_t(b)].world;
            const Matrix34& base = scene.worlds[std::size_t(c) * kBones + std::size_t(b)];
            for (int k = 0; k < 12; ++k)
                if (std::fabs(mine.m[k] - base.m[k]) > 1e-4f) return false;
        }
    return true;
}

void BM_AnimationUpdate(benchmark::State& state) {
    bench_pairs::fixAllocator();
    std::unique_ptr<Scene> scene = makeScene();
    bench_pairs::runPaired(state, [&] { projectFrame(*scene); }, [&] { baselineFrame(*scene); },
                           double(kCharacters));
    if (!sameResult(*scene)) state.SkipWithError("the update and the baseline disagree");
    // The instances were never registered: nothing to pop.
    for (auto& model : scene->models) {
        for (auto& instance : model->animation.body().instances()) instance->flags &= ~kInstanceInitialized;
        model->animation.body().instances().clear();
    }
}

// ---- The demo's sailor

constexpr float kSailorHeadWeight = 0.7f;

struct SailorBone {
    std::string name;
    std::string parent;
    float rest[7] = {0, 0, 0, 1, 0, 0, 0};  // rotation x y z w, translation
};

// A name of a description line, in double quotes when it holds spaces.
std::string readWord(std::istringstream& words) {
    std::string word;
    words >> word;
    if (word.empty() || word[0] != '"') return word;
    std::string name = word.substr(1);
    while (name.empty() || name.back() != '"') {
        std::string more;
        if (!(words >> more)) break;
        name += ' ' + more;
    }
    if (!name.empty() && name.back() == '"') name.pop_back();
    return name;
}

// The bone lines of the sailor's description and its idle, as the writer
// writes it.
struct SailorSource {
    std::vector<SailorBone> bones;
    std::unique_ptr<Y3AnimData> idle;
    int frames = 0;
};

std::unique_ptr<SailorSource> readSailor() {
    std::ifstream in(DEMO_SOURCE "/models/sailor.txt");
    std::stringstream text;
    text << in.rdbuf();
    auto source = std::make_unique<SailorSource>();
    std::istringstream lines(text.str());
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string keyword;
        words >> keyword;
        if (keyword != "bone") continue;
        SailorBone bone;
        bone.name = readWord(words);
        std::string slot, option;
        words >> slot;
        while (words >> option) {
            if (option == "parent") bone.parent = readWord(words);
            if (option == "rest")
                for (float& v : bone.rest) words >> v;
        }
        source->bones.push_back(bone);
    }
    model_tools::AnimationDescription description;
    std::string rest, error;
    if (!model_tools::parseAnimationLines(text.str(), description, rest, error)) return nullptr;
    for (const auto& animation : description.animations) {
        if (animation.name != "sailor.idle") continue;
        std::string bytes = model_tools::animationFileBytes(animation);
        MemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        source->idle = std::make_unique<Y3AnimData>("sailor.idle");
        loadAnimationData(source->idle->data, "sailor.idle", stream);
        source->idle->flags |= kResourceHeaderLoaded;
        source->frames = animation.frameCount;
    }
    if (source->bones.size() != 8 || !source->idle || !source->idle->data || source->frames < 2) return nullptr;
    return source;
}

struct SailorScene {
    std::unique_ptr<SailorSource> source;
    std::vector<std::unique_ptr<Model>> models;
    std::vector<Scene::Play> plays;
    // Per skeleton bone: the idle's track, or -1.
    std::vector<int> tracks;
    std::vector<BoneTransform> locals;
    std::vector<Matrix34> worlds;
    std::vector<QuadSmooth> heads;
    double clock = 0.0;
};

std::unique_ptr<SailorScene> makeSailors() {
    auto scene = std::make_unique<SailorScene>();
    scene->source = readSailor();
    if (!scene->source) return nullptr;
    const SailorSource& source = *scene->source;
    const AnimationData& data = *source.idle->data;
    std::vector<SailorBone> bones = source.bones;
    std::sort(bones.begin(), bones.end(), [](const SailorBone& a, const SailorBone& b) { return a.name < b.name; });
    for (int c = 0; c < kCharacters; ++c) {
        auto model = std::make_unique<Model>(("sailor" + std::to_string(c)).c_str(), "sailor", 0);
        model->stateWords[0] |= kModelDrawnThisFrame | kModelActive;
        Skeleton& skeleton = model->animation.skeleton;
        skeleton.bones.resize(bones.size());
        for (std::size_t b = 0; b < bones.size(); ++b) {
            SkeletonBone& bone = skeleton.bones[b];
            copyName(bone.name, sizeof(bone.name), bones[b].name.c_str());
            copyName(bone.parentName, sizeof(bone.parentName), bones[b].parent.c_str());
            bone.rest.rotation = {bones[b].rest[0], bones[b].rest[1], bones[b].rest[2], bones[b].rest[3]};
            for (int k = 0; k < 3; ++k) bone.rest.translation[k] = bones[b].rest[4 + k];
            bone.local = bone.rest;
            bone.partWeights[0] = 1.0f;
        }
        skeleton.reorder();
        model->worldMatrix = matrix34Identity();
        const std::int32_t head = skeleton.find("bip01 head");
        if (head < 0) return nullptr;
        skeleton.bones[std::size_t(head)].tracked = 0;
        TrackedBone tracked = trackedHead();
        tracked.weight = kSailorHeadWeight;
        skeleton.tracked.push_back(std::move(tracked));
        BoneTrackerState& tracker = model->animation.tracker;
        tracker.hasTarget = 1;
        tracker.automaticTarget = 0;
        std::copy(kTarget, kTarget + 3, tracker.target);
        scene->heads.push_back(trackedHead().smooth);
        if (c == 0)
            for (const SkeletonBone& bone : skeleton.bones) {
                int track = -1;
                for (std::size_t t = 0; t < data.tracks.size(); ++t)
                    if (std::strncmp(data.tracks[t].boneName, bone.name, 128) == 0) track = int(t);
                scene->tracks.push_back(track);
            }
        const float levels[2] = {0.6f, 0.4f};
        const double positions[2] = {double(c % 7) / 7.0, double(c % 5) / 5.0};
        for (int i = 0; i < 2; ++i) {
            auto instance = std::make_unique<AnimationInstance>(model.get(), source.idle.get(), "sailor.idle",
                                                                kInstanceLoop);
            instance->flags |= kInstanceInitialized;
            instance->lastFrame = source.frames - 1;
            instance->frameStep = 1.0 / (source.frames - 1);
            instance->position = positions[i];
            instance->blender.setHigh(levels[i]);
            instance->blender.run();
            instance->blender.setStart(0.0, 0.0);
            instance->boneMap.assign(scene->tracks.begin(), scene->tracks.end());
            scene->plays.push_back({positions[i], -1, -1, 0.0});
            model->animation.body().instances().push_back(std::move(instance));
        }
        for (const SkeletonBone& bone : skeleton.bones) {
            scene->locals.push_back(bone.local);
            scene->worlds.push_back(bone.world);
        }
        scene->models.push_back(std::move(model));
    }
    return scene;
}

// The baseline: the skeleton's evaluation order, the idle's tracks sampled
// from both plays and blended, untouched bones at their rest, the head
// turned, the matrices composed with the parents'.
void sailorBaselineFrame(SailorScene& scene) {
    const AnimationData& data = *scene.source->idle->data;
    const int frames = scene.source->frames;
    const float levels[2] = {0.6f, 0.4f};
    const Skeleton& skeleton = scene.models.front()->animation.skeleton;
    const std::size_t count = skeleton.bones.size();
    const std::int32_t head = skeleton.find("bip01 head");
    for (int c = 0; c < kCharacters; ++c) {
        Scene::Play* play = &scene.plays[std::size_t(c) * 2];
        for (int i = 0; i < 2; ++i) advancePlay(play[i], frames);
        BoneTransform* locals = &scene.locals[std::size_t(c) * count];
        Matrix34* worlds = &scene.worlds[std::size_t(c) * count];
        const float total = levels[0] + levels[1];
        for (std::int32_t b : skeleton.order) {
            const SkeletonBone& bone = skeleton.bones[std::size_t(b)];
            BoneTransform& pose = locals[b];
            const int track = scene.tracks[std::size_t(b)];
            if (track < 0) {
                pose = bone.rest;
            } else {
                const BoneTransform reference = pose;
                BoneTransform sample;
                float acc[10] = {};
                for (int i = 0; i < 2; ++i) {
                    const float w = levels[i] / total;
                    const Scene::Play& p = play[i];
                    if (p.fraction == 0.0) {
                        sampleFrame(data, track, p.frameA, sample);
                    } else {
                        BoneTransform a = sample, bt = sample;
                        sampleFrame(data, track, p.frameA, a);
                        sampleFrame(data, track, p.frameB, bt);
                        const float t = static_cast<float>(p.fraction);
                        for (int k = 0; k < 3; ++k) {
                            sample.translation[k] = a.translation[k] * (1.0f - t) + bt.translation[k] * t;
                            sample.scale[k] = a.scale[k] * (1.0f - t) + bt.scale[k] * t;
                        }
                        quaternionSlerp(a.rotation, bt.rotation, sample.rotation, t);
                    }
                    const float* r = reference.values();
                    const float* s = sample.values();
                    const float d = reference.rotation.x * sample.rotation.x + reference.rotation.y * sample.rotation.y +
                                    reference.rotation.z * sample.rotation.z + reference.rotation.w * sample.rotation.w;
                    const bool far =
                        2.0 * std::acos(std::fmax(-1.0, std::fmin(1.0, double(d)))) > 3.14159265358979323846;
                    for (int k = 0; k < 4; ++k) acc[k] += w * (far ? -(r[k] + s[k]) : s[k] - r[k]);
                    for (int k = 4; k < 10; ++k) acc[k] += w * (s[k] - r[k]);
                }
                float* v = pose.values();
                for (int k = 0; k < 7; ++k) v[k] += acc[k];
                pose.scale[0] = pose.scale[1] = pose.scale[2] = 1.0f;
                quaternionNormalize(pose.rotation);
            }
            if (b == head && bone.parent >= 0)
                baselineHead(pose, worlds[bone.parent], scene.heads[std::size_t(c)], scene.clock, scene.clock == 0.0,
                             kSailorHeadWeight);
            worlds[b] = pose.toMatrix();
            if (bone.parent >= 0) worlds[b] = multiplyTransforms(worlds[b], worlds[bone.parent]);
        }
    }
    scene.clock += kStep;
}

bool sailorSameResult(const SailorScene& scene) {
    const std::size_t count = scene.models.front()->animation.skeleton.bones.size();
    for (int c = 0; c < kCharacters; ++c)
        for (std::size_t b = 0; b < count; ++b) {
            const Matrix34& mine = scene.models[std::size_t(c)]->animation.skeleton.bones[b].world;
            const Matrix34& base = scene.worlds[std::size_t(c) * count + b];
            for (int k = 0; k < 12; ++k)
                if (std::fabs(mine.m[k] - base.m[k]) > 1e-4f) return false;
        }
    return true;
}

void BM_AnimationUpdateSailor(benchmark::State& state) {
    bench_pairs::fixAllocator();
    std::unique_ptr<SailorScene> scene = makeSailors();
    if (!scene) {
        state.SkipWithError("the demo's sailor description could not be read");
        return;
    }
    bench_pairs::runPaired(state, [&] { projectFrame(*scene); }, [&] { sailorBaselineFrame(*scene); },
                           double(kCharacters));
    if (!sailorSameResult(*scene)) state.SkipWithError("the update and the baseline disagree");
    for (auto& model : scene->models) {
        for (auto& instance : model->animation.body().instances()) instance->flags &= ~kInstanceInitialized;
        model->animation.body().instances().clear();
    }
    state.counters["bones"] = double(scene->models.front()->animation.skeleton.bones.size());
}

// ---- Plays of 24 bones against a plain loop

constexpr int kPlayBones = 24;
constexpr int kPlayFrames = 30;

// The keys of one animation: frame by bone by channel (rotation x y z w,
// translation, scale), the root (bone 0) without keys.
struct PlainKeys {
    std::vector<float> values;
    const float* at(int frame, int bone) const {
        return &values[(std::size_t(frame) * kPlayBones + std::size_t(bone)) * 10];
    }
};

// An animation keying every channel of bones 1 to 23 on every frame, about
// an axis that differs from bone to bone; the same keys in both forms.
std::unique_ptr<Y3AnimData> makePlayAnimation(const char* name, float phase, PlainKeys& keys) {
    model_tools::AnimationFileDescription animation;
    animation.name = name;
    animation.frameCount = kPlayFrames;
    animation.flags = 1;
    keys.values.assign(std::size_t(kPlayFrames) * kPlayBones * 10, 0.0f);
    for (int b = 1; b < kPlayBones; ++b) {
        model_tools::TrackDescription track;
        track.bone = boneName(b);
        track.lastFrame = kPlayFrames - 1;
        const float axis[3] = {std::sin(0.7f * float(b)), std::cos(0.7f * float(b)), 0.5f};
        const float length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        for (int f = 0; f < kPlayFrames; ++f) {
            const float a = 0.6f * std::sin(phase + 0.2f * float(f) + 0.1f * float(b));
            const float s = std::sin(a) / length;
            // Translation, scale, rotation: the writer's channel order.
            const float v[10] = {0.0f, 0.1f, 0.02f * float(f % 3), 1.0f, 1.0f, 1.0f,
                                 s * axis[0], s * axis[1], s * axis[2], std::cos(a)};
            for (int c = 0; c < 10; ++c) track.channels[std::size_t(c)].values.push_back(v[c]);
            float* k = &keys.values[(std::size_t(f) * kPlayBones + std::size_t(b)) * 10];
            const float stored[10] = {v[6], v[7], v[8], v[9], v[0], v[1], v[2], v[3], v[4], v[5]};
            std::copy(stored, stored + 10, k);
        }
        animation.tracks.push_back(std::move(track));
    }
    return loadedRecord(name, animation);
}

struct PlainBone {
    float q[4];
    float t[3];
};

struct PlayScene {
    int characters = 0;
    std::vector<std::unique_ptr<Y3AnimData>> animations;
    PlainKeys keys[2];
    std::vector<std::unique_ptr<Model>> models;
    // The plain loop's state: two plays a character, the bones' local
    // poses and their 3x4 matrices.
    std::vector<Scene::Play> plays;
    std::vector<PlainBone> locals;
    std::vector<float> worlds;  // 12 floats a bone
};

std::unique_ptr<PlayScene> makePlayScene(int characters) {
    auto scene = std::make_unique<PlayScene>();
    scene->characters = characters;
    scene->animations.push_back(makePlayAnimation("plays.walk", 0.0f, scene->keys[0]));
    scene->animations.push_back(makePlayAnimation("plays.wave", 1.0f, scene->keys[1]));
    const float levels[2] = {0.6f, 0.4f};
    for (int c = 0; c < characters; ++c) {
        auto model = std::make_unique<Model>(("p" + std::to_string(c)).c_str(), "plays", 0);
        model->stateWords[0] |= kModelDrawnThisFrame;
        bench_skeleton::makeChain(*model, kPlayBones);
        Skeleton& skeleton = model->animation.skeleton;
        const double positions[2] = {double(c % 7) / 7.0, double(c % 5) / 5.0};
        for (int i = 0; i < 2; ++i) {
            Y3AnimData& record = *scene->animations[std::size_t(i)];
            auto instance = std::make_unique<AnimationInstance>(model.get(), &record, record.name, kInstanceLoop);
            instance->flags |= kInstanceInitialized;
            instance->lastFrame = kPlayFrames - 1;
            instance->frameStep = 1.0 / (kPlayFrames - 1);
            instance->position = positions[i];
            instance->blender.setHigh(levels[i]);
            instance->blender.run();
            instance->blender.setStart(0.0, 0.0);
            instance->boneMap.resize(kPlayBones);
            for (int b = 0; b < kPlayBones; ++b) instance->boneMap[std::size_t(b)] = b - 1;
            model->animation.body().instances().push_back(std::move(instance));
            scene->plays.push_back({positions[i], -1, -1, 0.0});
        }
        model->animation.flags |= kAnimationHasInstances;
        for (const SkeletonBone& bone : skeleton.bones) {
            PlainBone plain{};
            plain.q[3] = 1.0f;
            for (int k = 0; k < 3; ++k) plain.t[k] = bone.rest.translation[k];
            scene->locals.push_back(plain);
            for (int k = 0; k < 12; ++k) scene->worlds.push_back(bone.world.m[k]);
        }
        scene->models.push_back(std::move(model));
    }
    return scene;
}

// The project: the model's preparation (the stacks' frame step) and its
// update (sampling, blending, composing).
void playsProjectFrame(PlayScene& scene) {
    const CurrentTime time(kStep);
    for (auto& model : scene.models) {
        model->animation.prepare(time, false);
        model->animation.update(time, false, false);
    }
}

// The plain loop's own math.
void plainSlerp(const float* a, const float* b, float t, float* out) {
    float d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    float sign = 1.0f;
    if (d < 0.0f) d = -d, sign = -1.0f;
    const float rest = 1.0f - d * d;
    if (!(rest > 0.0f)) {
        std::copy(a, a + 4, out);
        return;
    }
    const float sn = std::sqrt(rest);
    const float angle = std::atan2(sn, d);
    const float w0 = std::sin((1.0f - t) * angle) / sn;
    const float w1 = sign * std::sin(t * angle) / sn;
    for (int k = 0; k < 4; ++k) out[k] = w0 * a[k] + w1 * b[k];
}

// Rotation rows then translation, times the parent's matrix (row vectors).
void plainCompose(const PlainBone& pose, const float* parent, float* out) {
    const float x = pose.q[0], y = pose.q[1], z = pose.q[2], w = pose.q[3];
    const float r[12] = {1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w), 2.0f * (x * z - y * w),
                         2.0f * (x * y - z * w), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + x * w),
                         2.0f * (x * z + y * w), 2.0f * (y * z - x * w), 1.0f - 2.0f * (x * x + y * y),
                         pose.t[0], pose.t[1], pose.t[2]};
    if (!parent) {
        std::copy(r, r + 12, out);
        return;
    }
    for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 3; ++c) {
            float v = row == 3 ? parent[9 + c] : 0.0f;
            for (int k = 0; k < 3; ++k) v += r[row * 3 + k] * parent[k * 3 + c];
            out[row * 3 + c] = v;
        }
}

void playsBaselineFrame(PlayScene& scene) {
    const float levels[2] = {0.6f, 0.4f};
    const float total = levels[0] + levels[1];
    for (int c = 0; c < scene.characters; ++c) {
        Scene::Play* play = &scene.plays[std::size_t(c) * 2];
        for (int i = 0; i < 2; ++i) advancePlay(play[i], kPlayFrames);
        PlainBone* locals = &scene.locals[std::size_t(c) * kPlayBones];
        float* worlds = &scene.worlds[std::size_t(c) * kPlayBones * 12];
        plainCompose(locals[0], nullptr, worlds);
        for (int b = 1; b < kPlayBones; ++b) {
            PlainBone& pose = locals[b];
            const PlainBone reference = pose;
            float acc[7] = {};
            for (int i = 0; i < 2; ++i) {
                const Scene::Play& p = play[i];
                const float* a = scene.keys[i].at(p.frameA, b);
                float sample[7];
                if (p.fraction == 0.0) {
                    std::copy(a, a + 7, sample);
                } else {
                    const float* n = scene.keys[i].at(std::min(p.frameB, kPlayFrames - 1), b);
                    const float t = static_cast<float>(p.fraction);
                    plainSlerp(a, n, t, sample);
                    for (int k = 4; k < 7; ++k) sample[k] = a[k] * (1.0f - t) + n[k] * t;
                }
                const float w = levels[i] / total;
                const float d = reference.q[0] * sample[0] + reference.q[1] * sample[1] +
                                reference.q[2] * sample[2] + reference.q[3] * sample[3];
                for (int k = 0; k < 4; ++k)
                    acc[k] += w * (d < 0.0f ? -(reference.q[k] + sample[k]) : sample[k] - reference.q[k]);
                for (int k = 0; k < 3; ++k) acc[4 + k] += w * (sample[4 + k] - reference.t[k]);
            }
            for (int k = 0; k < 4; ++k) pose.q[k] += acc[k];
            for (int k = 0; k < 3; ++k) pose.t[k] += acc[4 + k];
            const float scale = 1.0f / std::sqrt(pose.q[0] * pose.q[0] + pose.q[1] * pose.q[1] +
                                                 pose.q[2] * pose.q[2] + pose.q[3] * pose.q[3]);
            for (float& v : pose.q) v *= scale;
            plainCompose(pose, worlds + (b - 1) * 12, worlds + b * 12);
        }
    }
}

bool playsSameResult(const PlayScene& scene) {
    for (int c = 0; c < scene.characters; ++c)
        for (int b = 0; b < kPlayBones; ++b) {
            const Matrix34& mine = scene.models[std::size_t(c)]->animation.skeleton.bones[std::size_t(b)].world;
            const float* base = &scene.worlds[(std::size_t(c) * kPlayBones + std::size_t(b)) * 12];
            for (int k = 0; k < 12; ++k)
                if (!(std::fabs(mine.m[k] - base[k]) <= 4e-5f)) return false;
        }
    return true;
}

void BM_AnimationPlays(benchmark::State& state) {
    bench_pairs::fixAllocator();
    std::unique_ptr<PlayScene> scene = makePlayScene(int(state.range(0)));
    // One frame of each side first: the same matrices, or nothing is timed.
    playsProjectFrame(*scene);
    playsBaselineFrame(*scene);
    if (!playsSameResult(*scene)) {
        state.SkipWithError("the update and the plain loop disagree before timing");
        return;
    }
    bench_pairs::runPaired(state, [&] { playsProjectFrame(*scene); }, [&] { playsBaselineFrame(*scene); },
                           double(scene->characters));
    if (!playsSameResult(*scene)) state.SkipWithError("the update and the plain loop disagree");
    for (auto& model : scene->models) {
        for (auto& instance : model->animation.body().instances()) instance->flags &= ~kInstanceInitialized;
        model->animation.body().instances().clear();
    }
}

}  // namespace

BENCHMARK(BM_AnimationUpdate)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnimationUpdateSailor)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnimationPlays)->Arg(10)->Arg(100)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
