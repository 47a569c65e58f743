// The model's save record: a saved model made again for loading writes the
// same bytes, what loading resets, the fixed fields, and the damaged
// records that loading and the check before a restore refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/GameCore.h"
#include "app/ObjectFactories.h"
#include "control/ModelController.h"
#include "effects/Particle.h"
#include "foundation/DataStream.h"
#include "model/Model.h"
#include "model/ModelActionItemData.h"
#include "render/RenderCore.h"
#include "render/VideoSetup.h"
#include "support/DetailsFixture.h"
#include "scene/CameraFixture.h"
#include "scene/ObjectRepository.h"
#include "scene/Scene.h"
#include "support/TestSupport.h"

using testing_support::CameraScene;
using testing_support::poseAt;
using testing_support::ScopedGameCore;

namespace {

const std::string kBox = "lod\nbox 0.5 0.5 0.5\n";
// Two elements, a light, two particles and two actions kept out of
// name order.
const std::string kLantern = "model lantern\nelement frame\n" + kBox + kBox + kBox + "element glass\n" + kBox + kBox +
                             kBox +
                             "light point glow at 0 1 0\nparticle sparks fx_sparks lantern at 0 1 0\n"
                             "particle bg_smoke fx_smoke lantern at 0 2 0\n"
                             "action zeta lantern\naction alpha lantern\n";

using Details = testing_support::ScopedDetails;

class ModelSaveTest : public ::testing::Test {
protected:
    ModelSaveTest() {
        savedParticleMaker = sceneFactories().particle;
        sceneFactories().particle = [](Scene& scene, const char* name, const char* data,
                                       const Matrix34& pose) -> GameObject* {
            return new Particle(scene.id, data, name, pose);
        };
    }
    ~ModelSaveTest() override { sceneFactories().particle = savedParticleMaker; }

    Model* place(const char* name, const char* resource) {
        auto* model = static_cast<Model*>(world.scene->createModel(resource, name, poseAt(1.0f, 2.0f, 3.0f), 0));
        if (model) model->syncActionItems();
        return model;
    }
    static std::vector<std::uint8_t> bytes(MemoryStream& stream) {
        return {stream.data(), stream.data() + stream.size()};
    }
    static std::vector<std::uint8_t> saved(Model& model) {
        MemoryStream stream;
        EXPECT_GT(model.save(stream), 0);
        return bytes(stream);
    }
    // The first offset where two records differ (-1: none), so that a
    // failure names the field.
    static long difference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            if (a[i] != b[i]) return static_cast<long>(i);
        return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
    }
    // A model made the way a restore makes it, reading the record.
    Model* restore(const char* resource, std::vector<std::uint8_t> record, std::int32_t* result = nullptr) {
        auto* model = static_cast<Model*>(gameCore.loadCreateModel(resource, GameObjectLink::fromObject(world.scene.get())));
        if (!model) return nullptr;
        MemoryStream stream(record.data(), static_cast<std::int32_t>(record.size()));
        const std::int32_t read = model->load(stream);
        if (result) *result = read;
        restored.emplace_back(model);
        return model;
    }
    // The offset of the element count: after the name, the fixed fields and
    // the property block.
    static std::size_t elementCountAt(Model& model) {
        MemoryStream block;
        model.properties.write(block);
        return 2 + std::strlen(model.name) + 86 + static_cast<std::size_t>(block.size());
    }
    static void putU32(std::vector<std::uint8_t>& record, std::size_t at, std::uint32_t value) {
        std::memcpy(record.data() + at, &value, 4);
    }
    std::int32_t check(const char* resource, std::vector<std::uint8_t> record) {
        ObjectRepository::SavedRecord head;
        head.type = ObjectModel;
        head.name = resource;
        MemoryStream stream(record.data(), static_cast<std::int32_t>(record.size()));
        return checkObjectForLoading(head, stream);
    }
    bool logged(const std::string& text) { return core.log().contains(text); }

    ScopedGameCore core;
    Details details;
    RenderCore render;
    testing_support::ScopedCoreMember<RenderCore> useRender{gameCore.render, &render};
    CameraScene world{kLantern};
    decltype(SceneFactories::particle) savedParticleMaker{};
    // Restored copies share the original's attached objects: they let go
    // of them before they go.
    struct Restored {
        explicit Restored(Model* made) : model(made) {}
        Restored(Restored&& other) noexcept : model(other.model) { other.model = nullptr; }
        ~Restored() {
            if (!model) return;
            model->lights.clear();
            model->particles.clear();
            model->release();
            delete model;
        }
        Model* model;
    };
    std::vector<Restored> restored;
};

TEST_F(ModelSaveTest, ARestoredModelSavesTheSameBytesAndPushesAgain) {
    Model* lantern = place("lantern_a", "lantern");
    ASSERT_NE(lantern, nullptr);
    ASSERT_EQ(lantern->lights.size(), 1u);
    ASSERT_EQ(lantern->particles.size(), 2u);
    ASSERT_EQ(lantern->actionItems.size(), 2u);
    ASSERT_NE(lantern->setController(ModelController::TypeCharacter), nullptr);
    lantern->elements[1].lodIndex = 2;
    lantern->actionItems[1].maxRange3d = 7.5f;
    lantern->actionItems[0].flags = kModelActionEnabled;
    lantern->animation.tracker.target[1] = 4.0f;
    lantern->walk_distance = 3.0f;
    copyName128(lantern->lightSetName, "harbour_dusk");
    ASSERT_TRUE(lantern->push());
    ASSERT_TRUE(lantern->stateWords[0] & kModelInContext);
    const std::uint32_t state[2] = {lantern->stateWords[0], lantern->stateWords[1]};
    const std::vector<std::uint8_t> first = saved(*lantern);

    std::int32_t read = 0;
    Model* copy = restore("lantern", first, &read);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(read, static_cast<std::int32_t>(first.size()));
    EXPECT_STREQ(copy->getName(), "lantern_a");
    ASSERT_NE(copy->controller, nullptr);
    EXPECT_EQ(copy->controller->getType(), ModelController::TypeCharacter);
    EXPECT_EQ(copy->actionItems[1].maxRange3d, 7.5f);
    EXPECT_STREQ(copy->actionItems[0].name, "zeta");
    // Loaded outside any context: every change mark set, L13, H2 and H14
    // clear, the waves to refresh; the rest of the record as saved.
    const std::uint32_t marks = kModelLightSetDirty | kModelPlaceDirty | kModelLightsDirty | kModelPhysicsDirty;
    EXPECT_EQ(copy->stateWords[0], (state[0] | marks) & ~kModelInContext);
    EXPECT_EQ(copy->stateWords[1], (state[1] & ~(kModelHighH2 | kModelWavesBusy)) | kModelWavesDirty);
    std::vector<std::uint8_t> second = saved(*copy);
    const std::size_t stateAt = 2 + std::strlen("lantern_a") + 48 + 12 + 4 + 4 + 4 + 2 + 4;
    ASSERT_EQ(second.size(), first.size());
    std::vector<std::uint8_t> expected = first;
    std::memcpy(expected.data() + stateAt, copy->stateWords, 8);
    // The elements drop their pushed and device-data bits.
    for (std::size_t e = 0; e < 2; ++e) {
        const std::size_t at = elementCountAt(*lantern) + 4 + 8 * e;
        std::uint32_t flags = 0;
        std::memcpy(&flags, expected.data() + at, 4);
        EXPECT_TRUE(flags & kElementPushed);
        putU32(expected, at, flags & ~(kElementPushed | kElementHighlight | kElementStaticInstance));
    }
    // The character controller marks its animator loaded: its record is
    // compared after the next load, below.
    MemoryStream controllerRecord;
    ASSERT_GT(copy->controller->write(controllerRecord), 0);
    const std::size_t controllerAt = elementCountAt(*lantern) + 4 + 16 + 4;
    const auto from = static_cast<std::ptrdiff_t>(controllerAt);
    const auto to = static_cast<std::ptrdiff_t>(controllerAt + static_cast<std::size_t>(controllerRecord.size()));
    EXPECT_EQ(difference({second.begin(), second.begin() + from}, {expected.begin(), expected.begin() + from}), -1);
    EXPECT_EQ(difference({second.begin() + to, second.end()}, {expected.begin() + to, expected.end()}), -1);
    // From then on a load changes nothing.
    Model* again = restore("lantern", second);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(difference(saved(*again), second), -1);
    for (const ModelElement& element : copy->elements) EXPECT_FALSE(element.flags & kElementPushed);
    EXPECT_TRUE(copy->push());
    EXPECT_TRUE(copy->pop(0));
    EXPECT_TRUE(lantern->pop(0));
    // The check before a restore takes the whole record.
    EXPECT_EQ(check("lantern", first), static_cast<std::int32_t>(first.size()));
}

TEST_F(ModelSaveTest, FixedFieldsAndRangesAgainstTheResource) {
    Model* lantern = place("lantern_b", "lantern");
    ASSERT_NE(lantern, nullptr);
    lantern->actionItems[0].minSize2d = 50.0f;
    std::vector<std::uint8_t> record = saved(*lantern);
    const std::size_t name = 2 + std::strlen("lantern_b");
    // The reserved string is written empty; a reader drops any text there.
    const std::size_t reserved = name + 48 + 12 + 4 + 4 + 4;
    EXPECT_EQ(record[reserved], 0);
    EXPECT_EQ(record[reserved + 1], 0);
    // Without controller the type is 0 and nothing follows it.
    const std::size_t controllerAt = elementCountAt(*lantern) + 4 + 8 * 2;
    std::uint32_t type = 1;
    std::memcpy(&type, record.data() + controllerAt, 4);
    EXPECT_EQ(type, 0u);
    std::vector<std::uint8_t> withText = record;
    withText[reserved] = 3;
    withText.insert(withText.begin() + static_cast<std::ptrdiff_t>(reserved + 2), {'a', 'b', 'c'});
    Model* copy = restore("lantern", withText);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->controller, nullptr);
    std::vector<std::uint8_t> expected = record;
    std::memcpy(expected.data() + reserved + 2 + 4, copy->stateWords, 8);
    EXPECT_EQ(difference(saved(*copy), expected), -1);
    EXPECT_EQ(copy->actionItems[0].minSize2d, 50.0f);
    // A record of another number of actions takes the defaults.
    const std::size_t itemsAt = controllerAt + 4 + (4 + 4 * 1) + (4 + 4 * 2);
    std::vector<std::uint8_t> fewer = record;
    putU32(fewer, itemsAt, 1);
    fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(itemsAt + 4 + 24),
                fewer.begin() + static_cast<std::ptrdiff_t>(itemsAt + 4 + 48));
    std::int32_t read = 0;
    Model* reset = restore("lantern", fewer, &read);
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(read, static_cast<std::int32_t>(fewer.size()));
    ASSERT_EQ(reset->actionItems.size(), 2u);
    EXPECT_EQ(reset->actionItems[0].minSize2d, ModelActionItemData::defaultRanges().minSize2d);
}

TEST_F(ModelSaveTest, AnEmptyInstanceNameIsTwoZeroBytes) {
    std::unique_ptr<Model> nameless(Model::newInstance(nullptr, "lantern", world.scene->id, "", true));
    ASSERT_NE(nameless, nullptr);
    const std::vector<std::uint8_t> record = saved(*nameless);
    ASSERT_GE(record.size(), 2u);
    EXPECT_EQ(record[0], 0);
    EXPECT_EQ(record[1], 0);
}

TEST_F(ModelSaveTest, DamagedRecordsAreRefusedByLoadAndByTheCheck) {
    Model* lantern = place("lantern_c", "lantern");
    ASSERT_NE(lantern, nullptr);
    const std::vector<std::uint8_t> record = saved(*lantern);
    const std::size_t count = elementCountAt(*lantern);
    const std::size_t controllerAt = count + 4 + 16;
    const std::size_t itemsAt = controllerAt + 4 + 8 + 12;
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* message;
    };
    auto with = [&](std::size_t at, std::uint32_t value) {
        std::vector<std::uint8_t> out = record;
        putU32(out, at, value);
        return out;
    };
    // The pose follows the name; the scale follows the pose.
    const std::size_t poseAt = 2 + std::strlen(lantern->name);
    const std::uint32_t nan = 0x7FC00000u, infinity = 0x7F800000u, minusInfinity = 0xFF800000u;
    std::vector<std::uint8_t> longName = record;
    longName[0] = 200;
    longName.insert(longName.begin() + 2, 200 - 9, 'x');
    const Case cases[] = {
        {"cut inside the element states",
         std::vector<std::uint8_t>(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(count + 4 + 10)), nullptr},
        {"LOD 3", with(count + 4 + 12, 3), "Can't load model element: LOD index [3] is invalid"},
        {"more elements", with(count, 3), "saved element count [3] is not the resource's [2]"},
        {"negative count", with(count, 0xFFFFFFFFu), "saved element count [-1] is not the resource's [2]"},
        {"controller type", with(controllerAt, 9), "its controller type is invalid"},
        {"action count", with(itemsAt, 0x10000000u), "its action item count is damaged"},
        {"light count", with(controllerAt + 4, 0x40000000u), nullptr},
        {"long name", longName, "its instance name is damaged"},
        {"NaN in the first axis", with(poseAt, nan), "its pose or scale is not a finite number"},
        {"infinite position", with(poseAt + 4 * 10, infinity), "its pose or scale is not a finite number"},
        {"infinite scale", with(poseAt + 48 + 8, minusInfinity), "its pose or scale is not a finite number"},
    };
    for (const Case& c : cases) {
        std::int32_t read = 0;
        Model* copy = restore("lantern", c.bytes, &read);
        ASSERT_NE(copy, nullptr) << c.what;
        EXPECT_LT(read, 0) << c.what;
        if (c.message) EXPECT_TRUE(logged(c.message)) << c.what;
        const std::size_t objects = gameCore.objects->count();
        EXPECT_LT(check("lantern", c.bytes), 0) << c.what;
        EXPECT_EQ(gameCore.objects->count(), objects) << c.what;
    }
    // A stream ending inside field 12 keeps the element read before.
    Model* cut = restore("lantern", cases[0].bytes);
    EXPECT_EQ(cut->elements.size(), 2u);
    // An unknown resource is refused before its record is read.
    EXPECT_LT(check("no_such_model", record), 0);
    EXPECT_TRUE(logged("Can't create model [no_such_model] for loading"));
    EXPECT_EQ(check("lantern", record), static_cast<std::int32_t>(record.size()));
}

}  // namespace
