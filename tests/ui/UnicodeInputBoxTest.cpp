// The still frames' text input box: driven from Lua through "unicode_edit",
// fed keys through the input core (a scripted keyboard and mouse) and typed
// characters through the main window, showing its text in an item and in a
// variable of the globals tree.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/ThisMainWindow.h"
#include "input/InputFixture.h"
#include "platform/Window.h"
#include "render/RenderCore.h"
#include "render/TextureTestSupport.h"
#include "resources/ResourceTestSupport.h"
#include "script/ScriptTestFixture.h"
#include "script/ScriptVariable.h"
#include "script/VariablesCore.h"
#include "script/lua/VariableScript.h"
#include "ui/FontTestSupport.h"
#include "ui/StillFrameData.h"
#include "ui/lua/UiScripts.h"
#include "variables/VariableWriter.h"

namespace {

namespace di = platform::dinput8;

constexpr ScriptClassRegistration kClasses[] = {{"StillFrame, Image", registerStillFrameClass},
                                                {"UnicodeEdit", registerUnicodeEditClass},
                                                {"Variable", registerVariableClass}};

// A name field and a label, the player's name in the globals, and a finish
// handler that counts its runs.
const char* const kScreen =
    "field = stillframe:create('name_field')\n"
    "field.width = 600\n"
    "label = stillframe:create('label')\n"
    "player = globals:get('player.name')\n"
    "other = globals:get('player.other')\n"
    "finished = 0\n"
    "function done() finished = finished + 1 end\n"
    "unicode_edit.onFinish = 'done'\n";

class UnicodeInputBoxTest : public texture_test::TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        ASSERT_TRUE(packages.built());
        keyboard = input.scripted->addDevice(di::DI8DEVTYPE_KEYBOARD, "Keyboard");
        mouse = input.scripted->addDevice(di::DI8DEVTYPE_MOUSE, "Mouse");
        ASSERT_TRUE(input.input.Initialize());
        input.frame();  // the devices are acquired
        ScriptVariable root("root", ScriptVariable::TypeArray);
        std::string error;
        ASSERT_TRUE(variable_tools::parseVariableText("player.name wstring Ann\nplayer.other wstring Bob\n", root,
                                                      error))
            << error;
        MemoryStream file;
        ASSERT_GT(variable_tools::writeVariableTree(root, file), 0);
        file.setPosition(0);
        ASSERT_GT(variables.globals().readSingleFile(file, "globals", 0), 0);
        script = std::make_unique<testing_support::ScriptFixture>(kClasses, std::size(kClasses));
        // "stillframe" is the render core's, as in the game.
        setStillFrameDataProvider([]() -> StillFrameData* {
            return gameCore.render ? &gameCore.render->stillFrames().data : nullptr;
        });
        ASSERT_TRUE(lua(kScreen));
        // The screen's script gives the field its text size.
        render_->stillFrames().data.find("name_field")->text.size = 1.0f;
    }
    void TearDown() override {
        setStillFrameDataProvider(nullptr);
        script.reset();
        TextureTest::TearDown();
    }

    bool lua(const std::string& chunk) { return script->load(chunk); }
    std::string global(const char* name) { return script->global(name); }
    bool logged(const std::string& text) { return script->logged(text); }
    UnicodeInputBox& box() { return render_->stillFrames().inputBox; }
    ScriptVariable& name() { return *variables.globals().root()->resolvePath("player.name"); }
    // The player's name as scripts read it.
    std::string value(const char* variable = "player") {
        EXPECT_TRUE(lua(std::string("seen = ") + variable + ".value"));
        return global("seen");
    }
    // Runs the queued script events; the finish handler's runs so far.
    int finished() {
        script->context().processEvents();
        return int(script->number("finished"));
    }

    // One frame of the input core: a device hands on at each frame the
    // event it read at the one before.
    void frame() {
        input.poll();
        CurrentTime sample;
        sample.real.time = (clock += 0.05);
        input.input.update(sample);
    }
    void down(int device, di::DWORD offset) {
        input.scripted->press(device, offset);
        frame();
    }
    void up(int device, di::DWORD offset) {
        input.scripted->release(device, offset);
        frame();
    }
    void key(di::DWORD offset) {
        down(keyboard, offset);
        up(keyboard, offset);
    }
    // Typed characters reach the box through the window procedure.
    void type(const std::u16string& text) {
        for (char16_t c : text) {
            platform::WindowMessage message;
            message.kind = platform::WindowMessageKind::Character;
            message.character = c;
            window.handleMessage(message);
        }
    }
    const InputVirtualButtonValue& action(const char* action) { return input.action(action); }

    resource_tests::ScopedPackages packages{
        {resource_tests::storedFile(".font4", "console", font_test::fontBytes({.cyrillic = true}))}};
    testing_support::InputFixture input;
    VariablesCore variables;
    testing_support::ScopedCoreMember<VariablesCore> installed{gameCore.variables, &variables};
    std::unique_ptr<testing_support::ScriptFixture> script;
    ThisMainWindow window;
    int keyboard = -1, mouse = -1;
    double clock = 1.0;
};

// Each case edits "Ann", works the keys and characters, shows the variable
// while editing, then ends with Return or Esc.
TEST_F(UnicodeInputBoxTest, TheVariableShowsTheCaretWhileEditingThenTheTextKeptOrRestored) {
    enum Kind { Key, Chars };
    struct Input {
        Kind kind;
        di::DWORD offset;
        const char16_t* text;
    };
    const auto k = [](di::DWORD offset) { return Input{Key, offset, nullptr}; };
    const auto c = [](const char16_t* text) { return Input{Chars, 0, text}; };
    struct Case {
        const char* what;
        bool startEmpty;
        std::vector<Input> inputs;
        const char* editing;
        di::DWORD end;
        const char* after;
    };
    const Case cases[] = {
        {"typed at the end, applied", false, {c(u"ie")}, "Annie|", di::DIK_RETURN, "Annie"},
        {"home, a capital, right, delete", false,
         {k(di::DIK_HOME), c(u"J"), k(di::DIK_RIGHT), k(di::DIK_DELETE)}, "JA|n", di::DIK_RETURN, "JAn"},
        {"backspace at the start takes nothing, at the end one", false,
         {k(di::DIK_HOME), k(di::DIK_BACK), k(di::DIK_END), k(di::DIK_BACK)}, "An|", di::DIK_RETURN, "An"},
        {"the arrows stop at both ends; delete at the end takes nothing", false,
         {k(di::DIK_LEFT), k(di::DIK_LEFT), k(di::DIK_LEFT), k(di::DIK_LEFT), c(u"<"), k(di::DIK_RIGHT),
          k(di::DIK_RIGHT), k(di::DIK_RIGHT), k(di::DIK_RIGHT), k(di::DIK_DELETE), c(u">")},
         "<Ann>|", di::DIK_RETURN, "<Ann>"},
        {"edited, then cancelled", false, {k(di::DIK_BACK), c(u"a")}, "Ana|", di::DIK_ESCAPE, "Ann"},
        {"started empty, then cancelled: the text from before", true, {c(u"Zoe")}, "Zoe|", di::DIK_ESCAPE, "Ann"},
    };
    int runs = 0;
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.what);
        name().setWString(u"Ann");
        ASSERT_TRUE(lua(std::string("ok = tostring(unicode_edit:edit(field, player, ") +
                        (cs.startEmpty ? "true" : "false") + "))"));
        EXPECT_EQ(global("ok"), "true");
        EXPECT_EQ(value(), cs.startEmpty ? "|" : "Ann|");
        for (const Input& in : cs.inputs) {
            if (in.kind == Key) key(in.offset);
            else type(in.text);
        }
        EXPECT_EQ(value(), cs.editing);
        // The item shows the same text, caret and all, in the box's font.
        StillFrameScriptDataItem* field = render_->stillFrames().data.find("name_field");
        EXPECT_EQ(field->textGlyphs, std::int32_t(std::strlen(cs.editing)));
        EXPECT_STREQ(field->image.source.link.baseName(), "console");
        key(cs.end);
        EXPECT_EQ(value(), cs.after);
        EXPECT_EQ(name().type(), ScriptVariable::TypeWString);
        EXPECT_FALSE(box().enabled);
        EXPECT_EQ(finished(), ++runs);
    }
    EXPECT_TRUE(logged("UnicodeInputBox: Add script event done();"));
    EXPECT_TRUE(logged("Unicode Edit finished"));
    EXPECT_TRUE(logged("Unicode Edit canceled"));
    // Esc on an idle box restores nothing and queues nothing.
    ASSERT_TRUE(lua("player.value = 'Applied' unicode_edit:cancel()"));
    EXPECT_EQ(value(), "Applied");
    EXPECT_EQ(finished(), runs);
}

TEST_F(UnicodeInputBoxTest, ASecondEditKeepsTheFirstAndBadArgumentsAreRefused) {
    ASSERT_TRUE(lua("first = tostring(unicode_edit:edit(field, player, false))\n"
                    "second = tostring(unicode_edit:edit(label, other, true))\n"));
    EXPECT_EQ(global("first"), "true");
    EXPECT_EQ(global("second"), "true");
    type(u"e");
    EXPECT_EQ(value(), "Anne|");
    EXPECT_EQ(value("other"), "Bob");
    EXPECT_STREQ(box().targetName(), "name_field");
    key(di::DIK_RETURN);
    ASSERT_TRUE(lua("noVariable = tostring(unicode_edit:edit(field, nil, false))\n"
                    "noItem = tostring(unicode_edit:edit(nil, other, false))\n"
                    "notAnItem = tostring(unicode_edit:edit(player, other, false))\n"));
    EXPECT_EQ(global("noVariable"), "false");
    EXPECT_EQ(global("noItem"), "false");
    EXPECT_EQ(global("notAnItem"), "false");
    EXPECT_TRUE(logged("Unicode Input box receive a NULL ptr to destination variable."));
    EXPECT_TRUE(logged("Unicode Input box receive a NULL ptr to stillframe."));
    EXPECT_FALSE(box().enabled);
    EXPECT_EQ(value("other"), "Bob");
    // The properties as scripts see them; max_length -1 became 1023 at the
    // first refresh.
    ASSERT_TRUE(lua("props = unicode_edit:classof() .. ' ' .. unicode_edit.onFinish .. ' ' .. unicode_edit.font .. "
                    "' ' .. unicode_edit.max_length .. ' ' .. tostring(unicode_edit.enabled)"));
    EXPECT_EQ(global("props"), "UnicodeEdit done console 1023 false");
    // Without the render core there is no box: cancel says so, the rest
    // raise a script error.
    testing_support::ScopedCoreMember<RenderCore> noRender{gameCore.render, nullptr};
    ASSERT_TRUE(lua("unicode_edit:cancel() applied = tostring(pcall(function() unicode_edit:apply() end))"));
    EXPECT_TRUE(logged("Can't cancelEdit: initialize input box first"));
    EXPECT_EQ(global("applied"), "false");
}

// The box holds its variable weakly: one destroyed while editing is no
// longer written, and apply ends the edit without it.
TEST_F(UnicodeInputBoxTest, AVariableDestroyedWhileEditingIsNotWritten) {
    ASSERT_TRUE(lua("unicode_edit:edit(field, other, false)"));
    variables.globals().root()->resolvePath("player")->resizeChildren(1);  // "other" goes
    type(u"by");
    EXPECT_TRUE(logged("Stillframe [name_field] can't be set by NULL text ptr"));
    key(di::DIK_RETURN);
    EXPECT_TRUE(logged("Unicode Input Box pointed to NULL variable"));
    EXPECT_FALSE(box().enabled);
    EXPECT_EQ(finished(), 1);
    EXPECT_EQ(value(), "Ann");
}

TEST_F(UnicodeInputBoxTest, MaxLengthStopsTypingAndAFullTextTakesNoMore) {
    ASSERT_TRUE(lua("unicode_edit.max_length = 10 unicode_edit:edit(field, player, true)"));
    type(u"123456789012");
    EXPECT_EQ(value(), "123456789|");
    // A full text refuses characters wherever the caret stands: its last
    // character is not pushed out.
    key(di::DIK_ESCAPE);
    name().setWString(u"abcdefghij");
    ASSERT_TRUE(lua("unicode_edit:edit(field, player, false)"));
    EXPECT_EQ(value(), "abcdefghij|");
    key(di::DIK_HOME);
    type(u"X");
    EXPECT_EQ(value(), "|abcdefghij");
    key(di::DIK_DELETE);
    type(u"X");
    EXPECT_EQ(value(), "X|bcdefghij");
    // A smaller limit set while editing cuts the text at the next refresh.
    ASSERT_TRUE(lua("unicode_edit.max_length = 4"));
    key(di::DIK_END);
    EXPECT_EQ(value(), "Xbcd|");
    ASSERT_TRUE(lua("unicode_edit.max_length = -5"));
    type(u"e");
    EXPECT_EQ(value(), "Xbcde|");
    key(di::DIK_RETURN);
    EXPECT_EQ(value(), "Xbcde");
}

TEST_F(UnicodeInputBoxTest, ValidationKeepsEditingUntilTheScriptAcceptsTheText) {
    ASSERT_TRUE(lua("function check(text) checked = text return text ~= 'bad' end\n"
                    "function broken(text) error('no') end\n"
                    "unicode_edit.onValidateText = 'check'\n"
                    "unicode_edit:edit(field, player, true)\n"));
    type(u"bad");
    key(di::DIK_RETURN);
    EXPECT_EQ(global("checked"), "bad");
    EXPECT_TRUE(logged("Script validation failed for current Unicode Edit text value"));
    EXPECT_TRUE(box().enabled);
    EXPECT_EQ(value(), "bad|");
    EXPECT_EQ(finished(), 0);
    // A function that fails, or none at all, does not accept either.
    for (const char* function : {"broken", "missing"}) {
        ASSERT_TRUE(lua(std::string("unicode_edit.onValidateText = '") + function + "' unicode_edit:apply()"));
        EXPECT_TRUE(box().enabled) << function;
    }
    ASSERT_TRUE(lua("unicode_edit.onValidateText = 'check'"));
    key(di::DIK_BACK);
    key(di::DIK_BACK);
    type(u"ee");
    key(di::DIK_RETURN);
    EXPECT_EQ(global("checked"), "bee");
    EXPECT_FALSE(box().enabled);
    EXPECT_EQ(value(), "bee");
    EXPECT_EQ(finished(), 1);
}

// The item deleted under the box: apply keeps editing (the script ends it);
// Esc ends it all the same and gives the keyboard back.
TEST_F(UnicodeInputBoxTest, WithItsItemDeletedApplyKeepsEditingAndEscEndsIt) {
    ASSERT_TRUE(lua("unicode_edit:edit(field, player, false) stillframe:delete(field)"));
    type(u"a");
    EXPECT_EQ(value(), "Anna|");
    EXPECT_TRUE(logged("Unicode Input Box pointed to deleted sf [name_field]. Exit from input box before releasing"));
    ASSERT_TRUE(lua("unicode_edit:edit(label, player, false) unicode_edit:apply()"));
    EXPECT_TRUE(box().enabled);
    EXPECT_STREQ(box().targetName(), "");
    EXPECT_EQ(value(), "Anna|");
    EXPECT_EQ(finished(), 0);
    key(di::DIK_RETURN);
    EXPECT_TRUE(logged("Unicode Input Box pointed to deleted sf []. Exit from UnicodeInputBox before releasing"));
    EXPECT_TRUE(box().enabled);
    key(di::DIK_ESCAPE);
    EXPECT_TRUE(logged("Input Box pointed to deleted sf []. Exit from input box before releasing"));
    EXPECT_FALSE(box().enabled);
    EXPECT_EQ(value(), "Ann");
    EXPECT_EQ(finished(), 1);
    // The keyboard is the game's again.
    down(keyboard, di::DIK_W);
    EXPECT_EQ(action("forward").down, 1);
}

TEST_F(UnicodeInputBoxTest, WhileEditingEveryButtonButTheMouseStopsAtTheBox) {
    struct Button {
        const char* action;
        int device;
        di::DWORD offset;
        bool reachesTheGameWhileEditing;
    };
    const Button buttons[] = {
        {"forward", keyboard, di::DIK_W, false},
        {"mainmenu", keyboard, di::DIK_ESCAPE, false},  // cancels the edit instead
        {"left", keyboard, di::DIK_LEFT, false},
        {"special0", mouse, di::DIMOFS_BUTTON0, true},
        {"special1", mouse, di::DIMOFS_BUTTON0 + 1, true},
    };
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.action);
        ASSERT_TRUE(lua("unicode_edit:edit(field, player, false)"));
        down(b.device, b.offset);
        EXPECT_EQ(action(b.action).down, b.reachesTheGameWhileEditing ? 1 : 0);
        up(b.device, b.offset);
        // Idle, the box lets everything through.
        ASSERT_TRUE(lua("unicode_edit.enabled = false"));
        down(b.device, b.offset);
        EXPECT_EQ(action(b.action).down, 1);
        up(b.device, b.offset);
    }
}

TEST_F(UnicodeInputBoxTest, OnlyAnEditingBoxTakesCharactersAndNoneBelowASpace) {
    const struct {
        char16_t character;
        bool taken;
    } cases[] = {{u' ', true}, {u'a', true}, {u'\t', false}, {u'\r', false}, {char16_t(0x1F), false},
                 {char16_t(0xD83D), false}, {u'\u0416', true}};
    EXPECT_FALSE(window.translateCharacter(u'a'));  // idle
    ASSERT_TRUE(lua("unicode_edit:edit(field, player, true)"));
    for (const auto& c : cases) EXPECT_EQ(window.translateCharacter(c.character), c.taken) << int(c.character);
    EXPECT_EQ(name().toWString(), u" a\u0416|");
}

// 1,023 characters fill the buffers; typing, caret moves and deletions at
// both ends stay inside them (the sanitizers watch each buffer's end).
TEST_F(UnicodeInputBoxTest, AFullBufferTakesNoMoreAndItsEndsAreSafe) {
    ASSERT_TRUE(lua("player.value = string.rep('x', 2000) unicode_edit:edit(field, player, false)"));
    EXPECT_EQ(box().text().size(), 1023u);
    EXPECT_EQ(name().toWString().size(), 1024u);  // the caret after 1,023 characters
    type(u"yy");
    key(di::DIK_HOME);
    type(u"y");
    key(di::DIK_LEFT);
    key(di::DIK_BACK);
    key(di::DIK_END);
    key(di::DIK_RIGHT);
    key(di::DIK_DELETE);
    EXPECT_EQ(box().text(), std::u16string(1023, u'x'));
    // At the end typing stops one short of the limit; inside the text it
    // fills the last place.
    key(di::DIK_BACK);
    type(u"yz");
    EXPECT_EQ(box().text(), std::u16string(1022, u'x'));
    key(di::DIK_HOME);
    type(u"yz");
    key(di::DIK_END);
    const std::u16string full = u"y" + std::u16string(1022, u'x');
    EXPECT_EQ(name().toWString(), full + u"|");
    key(di::DIK_RETURN);
    EXPECT_EQ(name().toWString(), full);
    // Cancel brings the text back whole.
    ASSERT_TRUE(lua("unicode_edit:edit(field, player, true) unicode_edit:cancel()"));
    EXPECT_EQ(name().toWString(), full);
}

// Text input from the host window: each character of the 16-bit plane is
// one char16_t for the box, others are not typed at all.
TEST_F(UnicodeInputBoxTest, UnicodeTextInputOfTheWindowArrivesOneCharacterEach) {
    window.window = platform::createWindow();
    if (window.window->backend() != platform::WindowBackend::Sdl) GTEST_SKIP() << "SDL's video does not start here";
    ASSERT_TRUE(window.window->create("text", 0, 0, 64, 64, false));
    platform::WindowMessage message;
    while (window.window->poll(message)) {
    }
    ASSERT_TRUE(lua("unicode_edit:edit(field, player, true)"));
    for (const char* text : {"\xC3\xA9", "\xD0\x96", "\xF0\x9F\x98\x80", "a"}) {  // é, Ж, an emoji, a
        SDL_Event event = {};
        event.type = SDL_TEXTINPUT;
        std::strncpy(event.text.text, text, sizeof(event.text.text) - 1);
        ASSERT_EQ(SDL_PushEvent(&event), 1);
    }
    while (window.window->poll(message)) window.handleMessage(message);
    EXPECT_EQ(box().text(), u"\u00E9\u0416a");
    EXPECT_EQ(name().toWString(), u"\u00E9\u0416a|");
    window.window->destroy();
}

}  // namespace
