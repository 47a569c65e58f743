// Fixtures of the animation tests: package files made by the animation
// writer from description lines, and an animation core installed in the
// game core over a package database of them.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "animation/AnimationCore.h"
#include "model/AnimationWriter.h"
#include "resources/ResourceTestSupport.h"

namespace animation_tests {

// The stored files the writer makes of the description's animation lines.
inline std::vector<testing_support::FixtureFile> animationFiles(const std::string& description) {
    model_tools::AnimationDescription parsed;
    std::string rest;
    std::string error;
    EXPECT_TRUE(model_tools::parseAnimationLines(description, parsed, rest, error)) << error;
    std::vector<testing_support::FixtureFile> files;
    for (const auto& animation : parsed.animations) {
        files.push_back(resource_tests::storedFile(".ani4", animation.name, model_tools::animationFileBytes(animation)));
        if (!animation.sideEvents.empty())
            files.push_back(
                resource_tests::storedFile(".events", animation.name, model_tools::eventsFileBytes(animation)));
    }
    for (const auto& map : parsed.maps)
        files.push_back(resource_tests::storedFile(".amap", map.name, model_tools::trackerMapBytes(map)));
    for (const auto& lip : parsed.lips)
        files.push_back(resource_tests::storedFile(".lip", lip.name, model_tools::lipFileBytes(lip)));
    for (const auto& rules : parsed.rules)
        files.push_back(resource_tests::storedFile(".adb", rules.name, model_tools::rulesFileBytes(rules)));
    return files;
}

// The writer's walk: 26 frames, looping, one track, an event in the file
// and one in its ".events" text.
inline const char* kWalkDescription =
    "anim hero.walk 26 loop\n"
    "track root 0 25\n"
    "channel tx 0 0 0.04 0.08 0.12 0.16 0.2 0.24 0.28 0.32 0.36 0.4 0.44 0.48 0.52 0.56 0.6 0.64 0.68 0.72 0.76 "
    "0.8 0.84 0.88 0.92 0.96 1\n"
    "channel rw 0 1\n"
    "event 3 7 footstep_left\n"
    "sideevent 16 20 footstep_right\n";

// A small character for the tracker and the control states: a root
// "bip01", a spine one unit up, the head 0.6 above the spine facing +z and
// a left hand at handX beside the head (0.3 and 0.375 are the tracker's
// hand-distance steps).
inline std::string lookerModel(const std::string& name, const std::string& handX) {
    const std::string box = "box 0.3 1 0.3 at 0 1 0\n";
    return "model " + name + "\nelement body\nlod\n"
           "bone bip01 0 rest 0 0 0 1 0 0 0\n"
           "bone \"bip01 spine\" 1 parent bip01 rest 0 0 0 1 0 1 0\n"
           "bone \"bip01 head\" 2 parent \"bip01 spine\" rest 0 0 0 1 0 0.6 0\n"
           "bone \"bip01 l hand\" 3 parent \"bip01 spine\" rest 0 0 0 1 " + handX + " 0.6 0\n" +
           box + "lod\n" + box + "lod\n" + box;
}
// Its tracker map: the head alone has a tracker weight.
inline std::string lookerMap(const std::string& name, const std::string& headTracker = "1") {
    return "map " + name + "\nmapbone bip01 1 0 0 0 0\nmapbone \"bip01 spine\" 1 0 0 0 0\n"
           "mapbone \"bip01 head\" 1 0 0 0 " + headTracker + "\nmapbone \"bip01 l hand\" 1 0 0 0 0\n";
}
// A looping one-second animation that holds the root still.
inline std::string stillAnimation(const std::string& name) {
    return "anim " + name + " 26 loop\ntrack bip01 0 25\nchannel rw 0 1\n";
}

// A package database of the given files and an animation core in the game
// core.
struct AnimationFixture {
    explicit AnimationFixture(std::vector<testing_support::FixtureFile> files) : packages(std::move(files)) {}

    Log& log() { return packages.log(); }
    bool logged(const std::string& text) { return packages.log().contains(text); }
    AnimationDataManager& animations() { return core.animations(); }

    resource_tests::ScopedPackages packages;
    AnimationCore core;
    testing_support::ScopedCoreMember<AnimationCore> installed{gameCore.animation, &core};
};

}  // namespace animation_tests
