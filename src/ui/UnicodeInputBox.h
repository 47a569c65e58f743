// The text input box of the still frames: the player types a wide text (a
// save name, say) into a script variable while a still-frame item shows it.
//
// One box lives with the still frames of the render core. "edit" binds it
// to an item (kept by name and found again at each use) and a variable
// (held weakly: a variable destroyed meanwhile reads as none). While it is
// enabled the variable holds the text with the caret "|" at the edit
// position; "apply" leaves the plain text (once the script's validation
// function accepts it), "cancel" the text from before the edit. Both queue
// the script's finish function. The text never holds more than 1023
// characters (and no more than max_length).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/ScriptBinding.h"

class ScriptVariable;
class StillFrameData;
class StillFrameScriptDataItem;

class UnicodeInputBox {
public:
    // Characters of the edit buffer and of the saved text, the terminator
    // included.
    static constexpr std::int32_t kBufferSize = 1024;
    static constexpr std::int32_t kMaxText = kBufferSize - 1;
    static constexpr std::size_t kNameSize = 128;

    explicit UnicodeInputBox(StillFrameData& frames);
    UnicodeInputBox(const UnicodeInputBox&) = delete;
    UnicodeInputBox& operator=(const UnicodeInputBox&) = delete;

    // Begins editing the variable shown in the item: its text (none when
    // startEmpty) is the starting text. True at once, changing nothing,
    // while an edit is going on; false (logged) for a null variable or item.
    bool edit(StillFrameScriptDataItem* item, ScriptVariable* variable, bool startEmpty);
    // Ends editing with the typed text, when the validation function (if
    // one is named) accepts it.
    void apply();
    // Ends editing with the text from before the edit.
    void cancel();
    // Writes the shown text into the variable and lays it out in the item.
    void refresh();

    // A device button (INPUT_ACTIONS id) pressed or released, offered before
    // the still frames: while editing every button but the mouse's 6 to 9
    // is taken; a press of Return, Esc, the arrows, Home, End, Backspace or
    // Delete edits.
    bool onKey(std::int32_t id, bool pressed);
    // A typed character of the 16-bit plane: taken while editing for codes
    // 32 and above (surrogate halves are refused).
    bool onChar(char16_t character);

    // The text typed so far, without the caret.
    std::u16string text() const;
    std::int32_t editPosition() const { return position_; }
    const char* targetName() const { return targetName_.c_str(); }

    // The most characters the text may hold; below 0 or above 1023 it is
    // taken as 1023 at the next refresh.
    std::int32_t max_length = -1;
    bool enabled = false;
    // Global Lua function queued as a script event when editing ends.
    std::string onFinish;
    // Global Lua function that must accept the text (given in the scripts'
    // code page) before apply; it accepts by returning a true value.
    std::string onValidateText;
    // The font of the shown text when the item names none of its own.
    std::string font = "console";

private:
    std::int32_t length() const;
    std::int32_t limit() const;
    void clampPosition();
    StillFrameScriptDataItem* findTarget() const;
    // The variable's wide value and the item's text, from the text given.
    void show(StillFrameScriptDataItem* item, const std::u16string& shown);
    void finish(const char* message);

    StillFrameData& frames_;
    std::string targetName_;
    // Fixed buffers of kBufferSize characters, each its own allocation.
    std::vector<char16_t> buffer_;
    std::vector<char16_t> saved_;
    ScriptRef<ScriptVariable> variable_;
    std::int32_t position_ = 0;
};
