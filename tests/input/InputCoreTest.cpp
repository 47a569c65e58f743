#include "input/InputCore.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "app/GameSetupFixture.h"

using testing_support::SetupFixture;

namespace {

// The default-binding table is process-wide: a test that fills it from its
// own "setup-defaults" puts the built-in defaults back when it ends.
struct BuiltInBindingsAfterwards {
    ~BuiltInBindingsAfterwards() {
        IniFile empty;
        testing_support::ScopedCoreMember<IniFile> use{gameCore.settings, &empty};
        InputCore::setDefaultBindings();
    }
};

std::int32_t idOf(const char* name) {
    for (std::int32_t id = 0; id < kInputButtonNameCount; ++id)
        if (std::strcmp(buttonName(id), name) == 0) return id;
    return -1;
}

const InputVirtualButtonValue& binding(const SetupFixture& f, const char* action) {
    return f.input.virtualDevices.virtualButton.values[findVirtualButton(action)];
}

void writeSetupFile(const SetupFixture& f, const std::string& text) {
    ASSERT_TRUE(testing_support::makeFolders(f.setupFile().substr(0, f.setupFile().rfind('/'))));
    ASSERT_TRUE(testing_support::writeFile(f.setupFile(), text));
}

}  // namespace

TEST(InputButtons, NameTableKeepsTheStoredIds) {
    const struct {
        std::int32_t id;
        const char* name;
    } cases[] = {
        {0, "--Mouse X-axis"}, {2, "--Joystick X-axis"}, {4, "--Mouse Scroll-axis"}, {5, "-- Undefined --"},
        {6, "MBTN0"},          {10, "MBTN4"},            {12, "JOY0"},               {43, "JOY31"},
        {46, "KEY_0"},         {79, "KEY_W"},            {89, "GrayEnter"},          {102, "Esc"},
        {118, "UpArrow"},      {121, "RightArrow"},      {143, "-- Undefined --"},   {153, "KEY_Slash"},
        {154, "NONE"},         {155, "UNDEFINED"},
    };
    for (const auto& c : cases) EXPECT_STREQ(buttonName(c.id), c.name) << c.id;
    EXPECT_STREQ(buttonName(-1), "NONE");
    EXPECT_STREQ(buttonName(156), "NONE");

    std::int32_t undefined = 0;
    for (std::int32_t id = 0; id < kInputButtonCount; ++id) {
        if (std::strcmp(buttonName(id), "-- Undefined --") == 0) {
            ++undefined;
            continue;
        }
        EXPECT_EQ(idOf(buttonName(id)), id) << "name used twice: " << buttonName(id);
    }
    EXPECT_EQ(undefined, 10);
    // Every keyboard row is named by its own id, in the order of the table.
    const InputDeviceButtonTable keys = keyboardButtonTable();
    ASSERT_EQ(keys.count, 102);
    for (std::int32_t i = 0; i < keys.count; ++i) EXPECT_STREQ(buttonName(keys.rows[i].uAppData), keys.rows[i].lptszActionName);
    EXPECT_EQ(keys.rows[32].dwSemantic, 17u);  // KEY_W's scan code
}

TEST(InputVirtualButtons, EmptySetupDefaultsGiveTheBuiltInBindings) {
    SetupFixture f;
    BuiltInBindingsAfterwards restore;
    InputCore::setDefaultBindings();
    // The keys are created in the store, without values.
    const IniCategory* defaults = f.settings.findCategory("setup-defaults");
    ASSERT_NE(defaults, nullptr);
    EXPECT_NE(defaults->findVariable("def_gamemenuinventory_btn1"), nullptr);
    EXPECT_NE(defaults->findVariable("def_quit_btn0"), nullptr);

    InputVirtualButtonValue& stale = f.input.virtualDevices.virtualButton.values[3];
    stale.held = stale.down = 1;
    stale.pressTime = stale.lastPressTime = 4.0;
    InputCore::mapVirtualButtons(f.input.virtualDevices.virtualButton);

    const struct {
        const char* action;
        const char* button0;
        const char* button1;
        std::uint16_t flags;
    } cases[] = {
        {"special0", "MBTN0", "JOY0", 0x00E0}, {"special1", "MBTN1", "JOY1", 0x0001},
        {"action", "NONE", "NONE", 0x0002},    {"forward", "KEY_W", "UpArrow", 0x0058},
        {"jump", "NONE", "NONE", 0x0001},      {"gamemenu", "JOY1", "NONE", 0x0002},
        {"nextitem", "KEY_RBracket", "NONE", 0x0005}, {"hot1", "KEY_1", "NONE", 0x0002},
        {"hot9", "KEY_9", "NONE", 0x0002},     {"dbg0", "Gray0", "NONE", 0x0002},
        {"f12", "F12", "NONE", 0x0002},        {"quit", "NONE", "NONE", 0x0000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        const InputVirtualButtonValue& v = binding(f, c.action);
        EXPECT_EQ(v.action0, idOf(c.button0));
        EXPECT_EQ(v.action1, idOf(c.button1));
        EXPECT_EQ(v.flags, c.flags);
    }
    EXPECT_EQ(findVirtualButton("f12"), 58);
    EXPECT_EQ(findVirtualButton("QUIT"), 59);
    EXPECT_EQ(stale.held + stale.down, 0);
    EXPECT_EQ(stale.pressTime + stale.lastPressTime, 0.0);
    EXPECT_FALSE(f.logged("Invalid action key map name"));
    EXPECT_FALSE(f.logged("Failed map virtual button"));
}

TEST(InputVirtualButtons, SetupDefaultsOverrideTheBuiltInBindings) {
    SetupFixture f;
    BuiltInBindingsAfterwards restore;
    IniCategory& defaults = f.settings.getCategory("setup-defaults");
    defaults.getVariable("def_forward_btn0").setString("kEy_w");
    defaults.getVariable("def_forward_btn1").setString("GRAYENTER");
    defaults.getVariable("def_action_btn0").setString("MBTN3");
    defaults.getVariable("def_jump_btn0").setString("NONE");
    defaults.getVariable("def_back_btn1").setString("KEY_WW");
    InputCore::setDefaultBindings();
    InputCore::mapVirtualButtons(f.input.virtualDevices.virtualButton);

    EXPECT_EQ(binding(f, "forward").action0, idOf("KEY_W"));
    EXPECT_EQ(binding(f, "forward").action1, idOf("GrayEnter"));
    EXPECT_EQ(binding(f, "action").action0, idOf("MBTN3"));
    EXPECT_EQ(binding(f, "jump").action0, kInputButtonNone);
    EXPECT_EQ(binding(f, "back").action0, idOf("KEY_S"));
    EXPECT_EQ(binding(f, "back").action1, kInputButtonNone);
    EXPECT_EQ(binding(f, "jump").flags, 0x0001);
    EXPECT_TRUE(f.logged("Invalid action key map name [NONE]"));
    EXPECT_TRUE(f.logged("Invalid action key map name [KEY_WW]"));
    EXPECT_STREQ(InputCore::defaultBinding(3, 0), "kEy_w");
    EXPECT_STREQ(InputCore::defaultBinding(3, 2), "");
}

TEST(InputVirtualButtons, SetupFileKeysOverrideTheDefaults) {
    SetupFixture f;
    writeSetupFile(f,
                   "[keys]\r\nforward_0 = key_q\r\nforward_1 = KEY_WW\r\njump_0 = gray5\r\n"
                   "special0_1 = none\r\nspecial1_0 = Undefined\r\nback_0 =\r\n");
    ASSERT_TRUE(f.setup.load(true));
    EXPECT_EQ(binding(f, "forward").action0, idOf("KEY_Q"));
    EXPECT_EQ(binding(f, "forward").action1, idOf("UpArrow"));  // unknown name: unchanged
    EXPECT_TRUE(f.logged("KEY_WW"));
    EXPECT_EQ(binding(f, "jump").action0, idOf("Gray5"));
    EXPECT_EQ(binding(f, "jump").action1, kInputButtonNone);
    EXPECT_EQ(binding(f, "special0").action0, idOf("MBTN0"));
    EXPECT_EQ(binding(f, "special0").action1, kInputButtonNone);
    EXPECT_EQ(binding(f, "special1").action0, kInputButtonUndefined);
    EXPECT_EQ(binding(f, "back").action0, idOf("KEY_S"));  // empty value: unchanged
}

TEST(InputVirtualButtons, BindingsWrittenBySetupAreReadBack) {
    InputVirtualButtonValue written[kInputVirtualButtonCount];
    std::string file;
    {
        SetupFixture first;
        writeSetupFile(first, "[keys]\r\nhint_0 = KEY_H\r\njump_0 = KEY_J\r\n");
        ASSERT_TRUE(first.setup.load(true));
        InputVirtualButtonValue* values = first.input.virtualDevices.virtualButton.values;
        values[findVirtualButton("forward")].action0 = idOf("KEY_E");
        values[findVirtualButton("action")].action1 = idOf("SPACE");
        values[findVirtualButton("hint")].action0 = kInputButtonNone;  // read from the file, now unbound
        values[findVirtualButton("jump")].action0 = kInputButtonNone;  // no default: its key goes
        values[findVirtualButton("quit")].action0 = kInputButtonUndefined;
        values[findVirtualButton("qsave")].action0 = 999;  // no device button
        first.setup.apply();

        const struct {
            const char* key;
            const char* value;
        } keys[] = {
            {"forward_0", "KEY_E"},  {"forward_1", "UpArrow"},    {"action_0", "<missing>"},
            {"action_1", "SPACE"},   {"hint_0", "NONE"},          {"jump_0", "<missing>"},
            {"quit_0", "UNDEFINED"}, {"qsave_0", "<missing>"},    {"f12_0", "F12"},
            {"gamemenuinventory_1", "JOY5"},
        };
        for (const auto& k : keys) EXPECT_EQ(first.fileValue("keys", k.key), k.value) << k.key;
        EXPECT_TRUE(first.logged("Invalid device button [999]"));
        std::copy(values, values + kInputVirtualButtonCount, written);
        file = testing_support::readFile(first.setupFile());
    }

    SetupFixture second;
    writeSetupFile(second, file);
    ASSERT_TRUE(second.setup.load(true));
    for (std::int32_t i = 0; i < kInputVirtualButtonCount; ++i) {
        const InputVirtualButtonValue& a = second.input.virtualDevices.virtualButton.values[i];
        const InputVirtualButtonValue& b = written[i];
        EXPECT_EQ(a.action1, b.action1) << i;
        if (i == findVirtualButton("qsave")) continue;
        EXPECT_EQ(a.action0, b.action0) << i;
    }
    EXPECT_EQ(second.input.virtualDevices.virtualButton.values[findVirtualButton("qsave")].action0, kInputButtonNone);
}

TEST(InputVirtualButtons, ResettingTheKeyGroupRestoresTheDefaultBindings) {
    SetupFixture f;
    ASSERT_TRUE(f.setup.load(true));
    InputVirtualButtonValue& forward = f.input.virtualDevices.virtualButton.values[findVirtualButton("forward")];
    forward.action0 = idOf("KEY_Z");
    forward.flags = 0;
    f.setup.resetDefaults(f.setup.edited, kSetupResetVideo | kSetupResetSound | kSetupResetControls);
    EXPECT_EQ(forward.action0, idOf("KEY_Z"));
    f.setup.resetDefaults(f.setup.edited, kSetupResetKeys);
    EXPECT_EQ(forward.action0, idOf("KEY_W"));
    EXPECT_EQ(forward.flags, 0x0058);
}
