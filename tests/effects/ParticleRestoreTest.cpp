// Scene particles through the game's save and restore: a restore registers
// each particle once in its scene's visibility set, and a save whose
// particle record holds numbers the simulation cannot use is refused with
// the running game kept.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "app/SaveFileFixture.h"
#include "effects/Particle.h"
#include "effects/ParticleLayer.h"
#include "foundation/Matrix.h"
#include "particle/ParticleWriter.h"
#include "scene/Scene.h"
#include "support/PackageFixture.h"

using testing_support::readFile;
using testing_support::SaveFileFixture;
using testing_support::u32At;
using testing_support::writeFile;

namespace {

// The effect "chimney" in the save fixture's data root, its package
// database installed in the game core.
std::vector<testing_support::FixturePackage> chimneyPackage() {
    std::string error;
    testing_support::FixturePackage package;
    package.files = {{".effect", "chimney",
                      particle_tools::effectFileBytes("name chimney\nlayer plume\nrate 20\nlifetime 2 2\n", error), ""}};
    EXPECT_TRUE(error.empty()) << error;
    return {package};
}

std::size_t registeredObjects(const Scene& scene) {
    std::size_t count = 0;
    for (const auto& record : scene.pvs.objects) count += record != nullptr;
    return count;
}

// The intro scene with the particle "smoke1" of "chimney", its points made
// by the pre-simulation of its first view.
Particle* placeSmoke(SaveFileFixture& s) {
    if (!s.runPosted("game:load('intro')")) return nullptr;
    Matrix34 pose = matrix34Identity();
    auto* smoke = dynamic_cast<Particle*>(gameCore.scene_createParticle("chimney", "smoke1", pose));
    if (smoke) smoke->preSimulate();
    return smoke;
}

TEST(ParticleRestore, ARestoredParticleIsRegisteredOnce) {
    SaveFileFixture s;
    testing_support::InstalledPackages effects(s, chimneyPackage());
    ASSERT_TRUE(effects.built);
    ASSERT_NE(placeSmoke(s), nullptr);
    const std::size_t registered = registeredObjects(*s.f.game->currentScene());
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(s.runPosted("game:save('smoke')\ngame:restore('smoke')\nrestored = game:state()"));
        ASSERT_EQ(s.text("restored"), "true") << round;
        Scene* scene = s.f.game->currentScene();
        ASSERT_NE(scene, nullptr);
        EXPECT_EQ(registeredObjects(*scene), registered) << round;
        const auto* smoke = dynamic_cast<const Particle*>(scene->lookupParticle("smoke1"));
        ASSERT_NE(smoke, nullptr);
        ASSERT_GE(smoke->areaIndex, 0);
        ASSERT_LT(static_cast<std::size_t>(smoke->areaIndex), scene->pvs.objects.size());
        EXPECT_NE(scene->pvs.objects[static_cast<std::size_t>(smoke->areaIndex)], nullptr);
    }
}

TEST(ParticleRestore, ASavedParticleWithNumbersOutOfRangeIsRefused) {
    SaveFileFixture s;
    testing_support::InstalledPackages effects(s, chimneyPackage());
    ASSERT_TRUE(effects.built);
    Particle* smoke = placeSmoke(s);
    ASSERT_NE(smoke, nullptr);
    ASSERT_FALSE(smoke->layers.at(0)->points.empty());
    ASSERT_TRUE(s.runPosted("game:save('smoke')"));
    const testing_support::SaveFileData save(readFile(s.userSave("smoke")));
    ASSERT_TRUE(save.unpacked);
    // The particle's record: its name (u16 length, bytes), placement,
    // empty text, sizes, area index, state and one layer (flags, bounds,
    // emission state, point count, points).
    const std::string name = std::string("\x06\x00", 2) + "smoke1";
    std::size_t at = std::string::npos;
    for (std::size_t from = save.plain.find(name); from != std::string::npos; from = save.plain.find(name, from + 1))
        if (from + 346 < save.plain.size() && u32At(save.plain, from + 150) == 1 &&
            u32At(save.plain, from + 342) == smoke->layers[0]->points.size())
            at = from;
    ASSERT_NE(at, std::string::npos);
    const std::size_t emission = at + 270, firstPoint = at + 346;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        std::size_t offset;
        std::string bytes;
    } cases[] = {
        {"a point's red is NaN", firstPoint + 20, std::string(reinterpret_cast<const char*>(&nan), 4)},
        {"a point's width is NaN", firstPoint + 48, std::string(reinterpret_cast<const char*>(&nan), 4)},
        {"the emission period is infinite", emission + 48, std::string(reinterpret_cast<const char*>(&inf), 8)},
        {"the emission key is past the table", emission + 56, std::string("\x70\x00\x00\x00", 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = save.plain;
        damaged.replace(c.offset, c.bytes.size(), c.bytes);
        ASSERT_TRUE(writeFile(s.userSave("damaged"), save.withData(damaged)));
        Scene* const current = s.f.game->currentScene();
        ASSERT_TRUE(s.runPosted("game:restore('damaged')\nrestored = game:state()"));
        EXPECT_EQ(s.text("restored"), "false");
        EXPECT_EQ(s.f.game->currentScene(), current);
        EXPECT_NE(current->lookupParticle("smoke1"), nullptr);
        EXPECT_TRUE(s.f.logged("Can't read particle layer:"));
    }
}

}  // namespace
