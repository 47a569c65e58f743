// Model resources: the header and data files the model writer makes, read
// back through both stages and written again, their damaged forms, the
// write-time element rules, the shared light resources, the tree export,
// sprite models and the model data manager's header stage.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "effects/LightDataManager.h"
#include "foundation/DataStream.h"
#include "foundation/XmlWriter.h"
#include "model/Model.h"
#include "model/ModelDataManager.h"
#include "model/ModelWriter.h"
#include "model/Y3Model.h"
#include "render/Material.h"
#include "render/RenderCore.h"
#include "support/PackageFixture.h"
#include "support/TestSupport.h"

namespace {

using testing_support::FixturePackage;
using testing_support::ScopedGameCore;

struct ModelBytes {
    std::string header;
    std::string data;
};

// The files of the first model of a description, as the writer stores them.
ModelBytes writeModel(const std::string& text) {
    model_tools::ModelDescription description;
    std::string error;
    EXPECT_TRUE(model_tools::parseModelDescription(text, description, error)) << error;
    if (description.models.empty()) return {};
    model_tools::ModelFile& file = description.models.front();
    ModelBytes bytes;
    bytes.header = model_tools::modelFileBytes(*file.model, file.name, true);
    bytes.data = model_tools::modelFileBytes(*file.model, file.name, false);
    return bytes;
}

MemoryStream over(std::string& bytes) { return MemoryStream(bytes.data(), std::int32_t(bytes.size())); }

// Reads the header file (the header stage's road); the bytes read or negative.
std::int32_t readHeader(std::string bytes, std::unique_ptr<Y3Model>& model, const char* name = "boat") {
    MemoryStream in = over(bytes);
    return Y3Model::readFromStream(in, model, name);
}

std::int32_t readData(Y3Model& model, std::string bytes, const char* name = "boat") {
    MemoryStream in = over(bytes);
    return model.read(in, false, name);
}

std::string headerOf(Y3Model& model, const char* name = "boat") {
    MemoryStream out;
    EXPECT_GE(model.writeToStream(out, name), 0);
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

std::string dataOf(Y3Model& model, const char* name = "boat") {
    MemoryStream out;
    EXPECT_GE(model.write(out, false, name), 0);
    return std::string(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
}

// Releases a model before it goes (the resource's own road).
struct Released {
    std::unique_ptr<Y3Model> model;
    ~Released() {
        if (model) model->release();
    }
};

const char* const kBoat =
    "model boat\n"
    "source 1 2 3\n"
    "textureset 2\n"
    "lightset day harbour_day\n"
    "lightset nighttime harbour_night\n"
    "rule idle\n"
    "animation rock 1.5 loop restore\n"
    "element hull extra 7 8 9\n"
    "lod\n"
    "meshstream 4\n"
    "vertex p 0 0 0 t 0 0\nvertex p 1 0 0 t 1 0\nvertex p 0 1 0 t 0 1\n"
    "index 0 1 2\n"
    "subset 0 0 3 3 diffuse stone\n"
    "bone root -1\n"
    "box 1 2 3 at 0 1 0\n"
    "lod\n"
    "box 0.5 0.5 0.5\n"
    "lod\n"
    "element mast_hide\n"
    "lod\nbox 1 1 1 at 4 0 0\nlod\nlod\n"
    "light point lamp at 0 3 0\n"
    "particle Smoke SMOKE_Data Mast\n"
    "action board root size 2 1 4 spot 0 0.5 0\n";

TEST(Y3Model, WriterFilesLoadInBothStagesAndComeBackByteForByte) {
    ScopedGameCore core;
    lightDataManager().clear();
    ModelBytes stored = writeModel(kBoat);
    ASSERT_FALSE(stored.header.empty());
    ASSERT_FALSE(stored.data.empty());
    Released read;
    ASSERT_EQ(readHeader(stored.header, read.model), std::int32_t(stored.header.size()));
    ASSERT_EQ(readData(*read.model, stored.data), std::int32_t(stored.data.size()));
    auto& model = static_cast<Y3ModelDefault&>(*read.model);
    ASSERT_EQ(model.elements.size(), 2u);
    EXPECT_STREQ(model.elements[0]->name, "hull");
    EXPECT_EQ(model.elements[0]->extra[2], 9u);
    EXPECT_EQ(model.lights.size(), 1u);
    ASSERT_EQ(model.particles.size(), 1u);
    EXPECT_STREQ(model.particles[0].names[0], "smoke");
    EXPECT_STREQ(model.particles[0].names[1], "smoke_data");
    EXPECT_STREQ(model.particles[0].names[2], "mast");
    ASSERT_EQ(model.actions.size(), 1u);
    EXPECT_STREQ(model.actions[0].bone, "root");
    EXPECT_EQ(model.properties.textureSet, 2u);
    EXPECT_EQ(model.elements[0]->lods[0].subsetCount(), 1);
    EXPECT_EQ(model.elements[0]->lods[0].indices().size(), 3u);
    // The particle names were lower-cased when read, so the header differs
    // there only; the writer's lower-case names come back unchanged.
    ModelBytes lower = writeModel(std::string(kBoat).replace(std::string(kBoat).find("Smoke SMOKE_Data Mast"), 21,
                                                             "smoke smoke_data mast"));
    EXPECT_EQ(headerOf(model), lower.header);
    EXPECT_EQ(dataOf(model), stored.data);
}

TEST(Y3Model, HideRuleCutsTheNameAndSetsTheFlag) {
    ScopedGameCore core;
    struct Case {
        const char* name;
        const char* stored;
        bool hidden;
    };
    const Case cases[] = {{"mast_hide", "mast", true}, {"_hide", "", true}, {"hide", "hide", false},
                          {"mast", "mast", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelBytes stored = writeModel(std::string("model m\nelement ") + c.name + "\nlod\nlod\nlod\n");
        Released read;
        ASSERT_GT(readHeader(stored.header, read.model), 0);
        ASSERT_GT(readData(*read.model, stored.data), 0);
        const ModelElementData& element = *static_cast<Y3ModelDefault&>(*read.model).elements.at(0);
        EXPECT_STREQ(element.name, c.stored);
        EXPECT_EQ((element.flags & kElementHidden) != 0, c.hidden);
        // A LOD without bones counts as "root" not first.
        EXPECT_TRUE(element.flags & kElementNoRootFirst);
    }
}

TEST(Y3Model, TwoModelsOfOneResourceShareOneLightResource) {
    ScopedGameCore core;
    lightDataManager().clear();
    ModelBytes stored = writeModel(kBoat);
    Released first, second;
    ASSERT_GT(readHeader(stored.header, first.model, "boat"), 0);
    ASSERT_EQ(lightDataManager().count(), 1u);
    Y3LightData* record = lightDataManager().find("boat.lamp");
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->loaded());
    ASSERT_GT(readHeader(stored.header, second.model, "boat"), 0);
    EXPECT_EQ(lightDataManager().count(), 1u);
    EXPECT_EQ(lightDataManager().find("boat.lamp"), record);
    lightDataManager().clear();
}

TEST(Y3Model, ActionZoneOfTheDataFileReplacesTheHeaders) {
    ScopedGameCore core;
    ModelBytes withActions = writeModel("model m\naction a root\naction b root\n");
    ModelBytes oneAction = writeModel("model m\naction c hand\n");
    Released read;
    ASSERT_GT(readHeader(withActions.header, read.model), 0);
    auto& model = static_cast<Y3ModelDefault&>(*read.model);
    EXPECT_EQ(model.actions.size(), 2u);
    ASSERT_GT(readData(model, oneAction.data), 0);
    ASSERT_EQ(model.actions.size(), 1u);
    EXPECT_STREQ(model.actions[0].name, "c");
    EXPECT_STREQ(model.actions[0].bone, "hand");
}

TEST(Y3Model, BoxSizeHoldsEveryLodOfEveryElement) {
    ScopedGameCore core;
    ModelBytes stored = writeModel(
        "model m\n"
        "element a\nlod\nbox 1 1 1\nlod\nbox 2 0.5 0.5 at 0 0 0\nlod\nbox 0.1 0.1 0.1\n"
        "element b\nlod\nbox 1 1 1 at 5 0 -3\nlod\nbox 1 1 1 at 5 0 -3\nlod\nbox 1 1 1 at 5 0 -3\n");
    Released read;
    ASSERT_GT(readHeader(stored.header, read.model), 0);
    float size[3];
    read.model->getBoxSize(size);
    // x: -2 .. 6, y: -1 .. 1, z: -4 .. 1
    EXPECT_FLOAT_EQ(size[0], 8.0f);
    EXPECT_FLOAT_EQ(size[1], 2.0f);
    EXPECT_FLOAT_EQ(size[2], 5.0f);

    // Without elements the untouched start values come back.
    Released empty;
    ASSERT_GT(readHeader(writeModel("model e\n").header, empty.model), 0);
    empty.model->getBoxSize(size);
    for (float value : size) EXPECT_FLOAT_EQ(value, -20000.0f);
}

TEST(Y3Model, TreeExportOfASmallModel) {
    ScopedGameCore core;
    lightDataManager().clear();
    ModelBytes stored = writeModel(
        "model m\nsource 1 2 3\ntextureset 1\nlightset morning dawn\nrule idle\nanimation rock 2 loop encode\n"
        "element a\nlod\nbox 1 1 1\nlod\nlod\n"
        "action board root size 1 2 3 spot 0 1 0\nlight point lamp at 1 2 3\n");
    Released read;
    ASSERT_GT(readHeader(stored.header, read.model), 0);
    XmlTag root("models");
    read.model->exportTree(root);
    MemoryStream out;
    ASSERT_TRUE(root.write(out, 0));
    std::string text(reinterpret_cast<const char*>(out.data()), std::size_t(out.size()));
    // The writer ends its lines with CR LF.
    std::erase(text, '\r');
    const char* const expected =
        "\n<models>\n"
        "  <model type='default'>\n"
        "    <BBOXsize length='2.0000' height='2.0000' width='2.0000'/>\n"
        "    <source-position x='1.000000' y='2.000000' z='3.000000'/>\n"
        "    <action_zone count='1'>\n"
        "      <board No='0'>\n"
        "        <bone>root</bone>\n"
        "        <action2parent>\n"
        "          <v-x class='Vector' x='1.000000' y='0.000000' z='0.000000'/>\n"
        "          <v-y class='Vector' x='0.000000' y='1.000000' z='0.000000'/>\n"
        "          <v-z class='Vector' x='0.000000' y='0.000000' z='1.000000'/>\n"
        "          <c class='Vector' x='0.000000' y='0.000000' z='0.000000'/>\n"
        "        </action2parent>\n"
        "        <spot2action class='Vector' x='0.000000' y='1.000000' z='0.000000'/>\n"
        "        <size class='Vector' x='1.000000' y='2.000000' z='3.000000'/>\n"
        "      </board>\n"
        "    </action_zone>\n"
        "    <property>\n"
        "      <texture-set>1</texture-set>\n"
        "      <light-rules>\n"
        "        <morning>dawn</morning>\n"
        "      </light-rules>\n"
        "      <animation-rules rules-count='1'>\n"
        "        <rule id='idle' animation-count='1'>\n"
        "          <animation id='rock' speed='2.000000'>\n"
        "            <flag>loop</flag>\n"
        "            <flag>encode</flag>\n"
        "          </animation>\n"
        "        </rule>\n"
        "      </animation-rules>\n"
        "    </property>\n"
        "    <elements/>\n"
        "    <lights>\n"
        "      <light No='0' id='lamp' bone='' type='Point' material='Both' mode='none'>\n"
        "        <diffuse class='RGBColor' r='1.000000' g='1.000000' b='1.000000'/>\n"
        "        <lightset time='morning' name=''/>\n"
        "        <lightset time='day' name=''/>\n"
        "        <lightset time='evening' name=''/>\n"
        "        <lightset time='nighttime' name=''/>\n"
        "        <data radius='1.000000' attenuation='1.000000'/>\n"
        "        <position class='Vector' x='1.000000' y='2.000000' z='3.000000'/>\n"
        "      </light>\n"
        "    </lights>\n"
        "    <particles/>\n"
        "  </model>\n"
        "</models>";
    EXPECT_EQ(text, expected);
}

TEST(Y3Model, SpriteModels) {
    ScopedGameCore core;
    // Zero elements: a single u32 0 after the 60-byte model header.
    ModelBytes none = writeModel("model s sprite\n");
    ASSERT_EQ(none.header.size(), 64u);
    EXPECT_EQ(none.header.substr(60), std::string(4, '\0'));
    EXPECT_TRUE(none.data.empty());
    Released empty;
    ASSERT_EQ(readHeader(none.header, empty.model), 64);
    XmlTag root("r");
    empty.model->exportTree(root);
    ASSERT_EQ(root.children().size(), 1u);
    ASSERT_EQ(root.children()[0].children().size(), 1u);
    EXPECT_EQ(root.children()[0].children()[0].value(), "0");

    // Negative positions and extents survive; the data stage reads nothing.
    ModelBytes stored = writeModel("model s sprite\nsprite flag cloth -12 -300 -1 -32768 0.5 has-alpha\n");
    Released read;
    ASSERT_EQ(readHeader(stored.header, read.model), std::int32_t(stored.header.size()));
    auto& sprite = static_cast<Y3ModelSprite&>(*read.model);
    ASSERT_EQ(sprite.elements.size(), 1u);
    const SpriteElementData& element = sprite.elements[0];
    EXPECT_EQ(element.x, -12);
    EXPECT_EQ(element.y, -300);
    EXPECT_EQ(element.dx, -1);
    EXPECT_EQ(element.dy, -32768);
    EXPECT_EQ(element.flags, 2u);
    std::string junk = "abcd";
    EXPECT_EQ(readData(sprite, junk), 0);
    EXPECT_EQ(sprite.elements.size(), 1u);
    EXPECT_EQ(headerOf(sprite), stored.header);
}

TEST(Y3Model, ReleaseIsRefusedWhileAContextIsAttached) {
    ScopedGameCore core;
    ModelBytes stored = writeModel("model m\nelement a\nlod\nlod\nlod\nrule r\n");
    Released read;
    ASSERT_GT(readHeader(stored.header, read.model), 0);
    auto& model = static_cast<Y3ModelDefault&>(*read.model);
    int context = 0;
    model.gameContext = &context;
    EXPECT_FALSE(model.release());
    EXPECT_EQ(model.elements.size(), 1u);
    EXPECT_EQ(model.properties.rules.size(), 1u);
    model.gameContext = nullptr;
    EXPECT_TRUE(model.release());
    EXPECT_TRUE(model.elements.empty());
}

// Damaged files: every cut, a bad magic, counts past the end, long names.
TEST(Y3Model, DamagedFilesAreRefused) {
    ScopedGameCore core;
    lightDataManager().clear();
    const ModelBytes stored = writeModel(kBoat);
    for (std::size_t cut = 0; cut < stored.header.size(); ++cut) {
        std::unique_ptr<Y3Model> model;
        EXPECT_LT(readHeader(stored.header.substr(0, cut), model), 0) << cut;
        EXPECT_EQ(model, nullptr);
    }
    for (std::size_t cut = 0; cut < stored.data.size(); ++cut) {
        Released read;
        ASSERT_GT(readHeader(stored.header, read.model), 0);
        EXPECT_LT(readData(*read.model, stored.data.substr(0, cut)), 0) << cut;
    }
    std::unique_ptr<Y3Model> model;
    std::string badMagic = stored.header;
    badMagic[0] ^= 1;
    EXPECT_EQ(readHeader(badMagic, model), -1);
    // The element count sits after the property block.
    Released plain;
    std::string small = writeModel("model m\nelement a\nlod\nlod\nlod\n").header;
    const std::size_t countAt = 60 + 4 + 4 + 4 + 4;  // magic, texture set, four empty names, rule count
    ASSERT_EQ(small.substr(countAt, 4), std::string("\1\0\0\0", 4));
    std::string hugeCount = small;
    hugeCount.replace(countAt, 4, std::string("\xff\xff\xff\x0f", 4));
    EXPECT_EQ(readHeader(hugeCount, model), -1);
    EXPECT_EQ(model, nullptr);
    // An element name of 200 characters.
    std::string longName = small;
    const std::size_t nameAt = longName.find("\x01" "a");
    ASSERT_NE(nameAt, std::string::npos);
    longName.replace(nameAt, 2, std::string(1, char(200)) + std::string(200, 'a'));
    EXPECT_EQ(readHeader(longName, model), -1);
    // The particle names are forced to end inside their fields.
    std::string particle = writeModel("model m\nparticle a b c\n").header;
    const std::size_t recordAt = particle.size() - 4 - 444;
    for (std::size_t i = 0; i < 3 * 128; ++i) particle[recordAt + i] = 'X';
    Released read;
    ASSERT_GT(readHeader(particle, read.model), 0);
    for (const char* name : static_cast<Y3ModelDefault&>(*read.model).particles.at(0).names)
        EXPECT_EQ(std::strlen(name), 127u);
    lightDataManager().clear();
}

// The header stage through the package database: a header file of kind 3
// fails and leaves the record unavailable; a good model loads both stages,
// and a model object's first push reaches it through the installed manager.
TEST(ModelDataManager, ModelsLoadFromThePackagesAndAFailedHeaderStaysUnavailable) {
    testing_support::TempDir dir;
    ModelBytes boat = writeModel(kBoat);
    std::string bad = writeModel("model bad\n").header;
    bad[4] = 3;
    FixturePackage package;
    package.files = {{".mh4", "boat", boat.header}, {".my3", "boat", boat.data}, {".mh4", "bad", bad},
                     {".my3", "bad", ""}};
    package.files.back().empty = true;
    ASSERT_TRUE(testing_support::writeDataRoot(dir.path(), {package}));
    testing_support::ScopedPackageDatabase packages(dir.path());
    ASSERT_TRUE(packages.build());
    lightDataManager().clear();
    {
        ModelDataManager manager;
        EXPECT_EQ(manager.acquire("bad"), nullptr);
        EXPECT_TRUE(packages.log().contains("Fail read model [bad] header"));
        Y3ModelData* record = manager.getOrCreate("bad", false);
        EXPECT_FALSE(record->hasObject());
        EXPECT_TRUE(record->has(kResourceUnavailable));
        // No model object is made of it.
        packages.log().clear();
        EXPECT_EQ(Model::newInstance(record, "bad", 0, "wreck", false), nullptr);
        EXPECT_TRUE(packages.log().contains("Resource for model [bad] is invalid"));
        // A later use is refused without a new load.
        packages.log().clear();
        EXPECT_EQ(manager.acquire("bad"), nullptr);
        EXPECT_FALSE(packages.log().contains("header"));

        setModelDataManager(&manager);
        {
            Model rowboat("rowboat", "boat", 0);
            ASSERT_TRUE(rowboat.create(matrix34Identity(), 0));
            // The hull's texture "stone" is not in the packages: the push
            // says so and goes on. The element carries the resource's
            // texture set 2.
            EXPECT_FALSE(rowboat.push());
            EXPECT_TRUE(packages.log().contains("Can't allocate material 0 for element [hull] texture 2"));
            EXPECT_TRUE(packages.log().contains("Can't push 0 element from model [rowboat]"));
            ASSERT_NE(rowboat.resource, nullptr);
            Y3ModelData& loaded = *rowboat.resource;
            EXPECT_TRUE(loaded.has(kResourceHeaderLoaded | kResourceDataLoaded | kResourceAllocated));
            EXPECT_EQ(loaded.users.count(), 1u);
            auto& model = static_cast<Y3ModelDefault&>(*loaded.model);
            EXPECT_TRUE(model.allocated);
            EXPECT_EQ(model.elements.at(0)->lods[0].indices().size(), 3u);
            // One element record per resource element; the hull's first
            // level draws the resource's mesh with its subset's material,
            // the levels holding only a box have no material, the hidden
            // mast starts hidden and is not pushed.
            ASSERT_EQ(rowboat.elements.size(), 2u);
            ModelElement& hull = rowboat.elements[0];
            ASSERT_EQ(hull.lods.size(), 3u);
            EXPECT_EQ(hull.lods[0].mesh, &model.elements[0]->lods[0]);
            ASSERT_EQ(hull.lods[0].materials.size(), 1u);
            EXPECT_EQ(hull.material(), hull.lods[0].materials[0].get());
            EXPECT_STREQ(hull.material()->sources[0].name(), "stone");
            EXPECT_TRUE(hull.lods[1].materials.empty());
            EXPECT_TRUE(hull.flags & kElementEnabled);
            EXPECT_FALSE(hull.flags & kElementPushed);
            EXPECT_FALSE(rowboat.elements[1].flags & (kElementEnabled | kElementPushed));
            // The element matrix follows the pose and the scale.
            Matrix34 pose = matrix34Identity();
            pose.m[9] = 5.0f;
            rowboat.setWorldMatrix(pose);
            const float scale[3] = {2.0f, 1.0f, 1.0f};
            rowboat.setScale(scale);
            EXPECT_FLOAT_EQ(hull.world.m[0][0], 2.0f);
            EXPECT_FLOAT_EQ(hull.world.m[1][1], 1.0f);
            EXPECT_FLOAT_EQ(hull.world.m[3][0], 5.0f);
            EXPECT_FLOAT_EQ(hull.world.m[3][3], 1.0f);
            rowboat.release();
            EXPECT_TRUE(rowboat.elements.empty());
            EXPECT_EQ(loaded.users.count(), 0u);
        }
        setModelDataManager(nullptr);
    }
    lightDataManager().clear();
}

// The render core owns the model data manager: registered as its model
// data manager and installed for the model objects while it lives.
TEST(ModelDataManager, TheRenderCoreOwnsAndInstallsIt) {
    ScopedGameCore core;
    {
        RenderCore render;
        ASSERT_NE(modelDataManager(), nullptr);
        EXPECT_EQ(render.dataManager(RenderDataManager::Model), modelDataManager());
    }
    EXPECT_EQ(modelDataManager(), nullptr);
}

}  // namespace
