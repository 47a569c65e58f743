#include "ui/UnicodeInputBox.h"

#include <algorithm>

#include "app/GameCore.h"
#include "foundation/Log.h"
#include "foundation/StringHelper.h"
#include "script/ScriptCall.h"
#include "script/ScriptEngine.h"
#include "script/ScriptVariable.h"
#include "ui/StillFrameData.h"

namespace {

// INPUT_ACTIONS ids (fixed device button numbers).
constexpr std::int32_t kMouseFirst = 6;  // MBTN0 .. MBTN3
constexpr std::int32_t kMouseLast = 9;
constexpr std::int32_t kReturn = 133;
constexpr std::int32_t kEscape = 102;
constexpr std::int32_t kLeft = 120;
constexpr std::int32_t kRight = 121;
constexpr std::int32_t kHome = 125;
constexpr std::int32_t kEnd = 126;
constexpr std::int32_t kBackspace = 134;
constexpr std::int32_t kDelete = 124;

constexpr char16_t kCaret = u'|';

bool isSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

UnicodeInputBox::UnicodeInputBox(StillFrameData& frames)
    : frames_(frames), buffer_(kBufferSize, u'\0'), saved_(kBufferSize, u'\0') {}

std::int32_t UnicodeInputBox::length() const {
    std::int32_t n = 0;
    while (n < kMaxText && buffer_[std::size_t(n)] != 0) ++n;
    return n;
}

std::int32_t UnicodeInputBox::limit() const {
    return max_length < 0 || max_length > kMaxText ? kMaxText : max_length;
}

void UnicodeInputBox::clampPosition() { position_ = std::clamp(position_, 0, length()); }

std::u16string UnicodeInputBox::text() const { return std::u16string(buffer_.data(), std::size_t(length())); }

StillFrameScriptDataItem* UnicodeInputBox::findTarget() const {
    return targetName_.empty() ? nullptr : frames_.get(targetName_.c_str());
}

bool UnicodeInputBox::edit(StillFrameScriptDataItem* item, ScriptVariable* variable, bool startEmpty) {
    if (enabled) return true;
    variable_ = ScriptRef<ScriptVariable>();
    if (!variable) return engineLog().scriptError("Unicode Input box receive a NULL ptr to destination variable.");
    if (!item) return engineLog().scriptError("Unicode Input box receive a NULL ptr to stillframe.");
    variable_ = ScriptRef<ScriptVariable>(variable->lifeToken());
    targetName_.assign(item->name, 0, kNameSize - 1);
    // The text from before the edit comes back on cancel, even when the
    // edit starts empty.
    const std::u16string before = variable->toWString();
    const std::size_t kept = std::min(before.find(u'\0'), std::min(before.size(), std::size_t(kMaxText)));
    std::fill(saved_.begin(), saved_.end(), u'\0');
    std::copy_n(before.begin(), kept, saved_.begin());
    std::fill(buffer_.begin(), buffer_.end(), u'\0');
    if (!startEmpty) std::copy_n(saved_.begin(), kept, buffer_.begin());
    position_ = length();
    enabled = true;
    refresh();
    return true;
}

void UnicodeInputBox::show(StillFrameScriptDataItem* item, const std::u16string& shown) {
    ScriptVariable* variable = variable_.get();
    if (variable) variable->setWString(shown);
    if (!item) return;
    // The item's own font (with its alignment) when it has one, else the box's.
    const char* fontName = item->text.font.empty() ? font.c_str() : nullptr;
    item->text.setText(*item, nullptr, variable ? shown.c_str() : nullptr, fontName, 0.0f);
}

void UnicodeInputBox::refresh() {
    if (max_length < 0 || max_length > kMaxText) max_length = kMaxText;
    std::fill(buffer_.begin() + max_length, buffer_.end(), u'\0');
    StillFrameScriptDataItem* item = findTarget();
    if (!item) {
        engineLog().error("Unicode Input Box pointed to deleted sf [%s]. Exit from input box before releasing",
                          targetName_.c_str());
        targetName_.clear();
    }
    std::u16string shown = text();
    if (enabled) {
        clampPosition();
        shown.insert(std::size_t(position_), 1, kCaret);
    }
    show(item, shown);
}

void UnicodeInputBox::finish(const char* message) {
    if (!onFinish.empty()) {
        ScriptEventArgs args(onFinish.c_str());
        gameCore.addScriptEvent(args, "UnicodeInputBox");
    }
    engineLog().scriptInfo("%s", message);
}

void UnicodeInputBox::apply() {
    if (!onValidateText.empty()) {
        ScriptEngine* engine = gameCore.script;
        const std::string narrow = toMultiByteString(text(), 0);
        if (!engine || !engine->context ||
            !testScriptFunction(*engine->context, onValidateText.c_str(), narrow.c_str())) {
            engineLog().scriptError("Script validation failed for current Unicode Edit text value");
            return;
        }
    }
    StillFrameScriptDataItem* item = findTarget();
    if (!item) {
        // Editing goes on: the script ends it (or the player cancels).
        engineLog().error("Unicode Input Box pointed to deleted sf [%s]. Exit from UnicodeInputBox before releasing",
                          targetName_.c_str());
        targetName_.clear();
        return;
    }
    if (!variable_.get())
        engineLog().error("Unicode Input Box pointed to NULL variable");
    else
        show(item, text());
    targetName_.clear();
    if (!enabled) return;
    enabled = false;
    finish("Unicode Edit finished");
}

void UnicodeInputBox::cancel() {
    // An idle box has nothing to restore: the saved text belongs to an edit
    // that already ended.
    if (!enabled) {
        targetName_.clear();
        return;
    }
    StillFrameScriptDataItem* item = findTarget();
    if (!item)
        engineLog().error("Input Box pointed to deleted sf [%s]. Exit from input box before releasing",
                          targetName_.c_str());
    // Even without its item the edit ends, so the keyboard is the game's again.
    const std::u16string before(saved_.data());
    std::copy(saved_.begin(), saved_.end(), buffer_.begin());
    show(item, before);
    targetName_.clear();
    enabled = false;
    finish("Unicode Edit canceled");
}

bool UnicodeInputBox::onKey(std::int32_t id, bool pressed) {
    if (!enabled) return false;
    if (id >= kMouseFirst && id <= kMouseLast) return false;
    if (!pressed) return true;
    clampPosition();
    const std::int32_t n = length();
    switch (id) {
        case kReturn: apply(); return true;
        case kEscape: cancel(); return true;
        case kLeft: position_ = std::max(0, position_ - 1); break;
        case kRight: position_ = std::min(n, position_ + 1); break;
        case kHome: position_ = 0; break;
        case kEnd: position_ = n; break;
        case kBackspace:
            if (n == 0 || position_ == 0) break;
            --position_;
            std::copy(buffer_.begin() + position_ + 1, buffer_.begin() + n + 1, buffer_.begin() + position_);
            break;
        case kDelete:
            if (n == 0 || position_ >= n) break;
            std::copy(buffer_.begin() + position_ + 1, buffer_.begin() + n + 1, buffer_.begin() + position_);
            break;
        default: return true;
    }
    refresh();
    return true;
}

bool UnicodeInputBox::onChar(char16_t character) {
    if (!enabled || character < 32 || isSurrogate(character)) return false;
    clampPosition();
    const std::int32_t most = limit();
    const std::int32_t n = length();
    // A full text takes nothing more, wherever the caret stands.
    if (n < most) {
        if (position_ + 1 < most) {
            std::copy_backward(buffer_.begin() + position_, buffer_.begin() + n + 1, buffer_.begin() + n + 2);
            buffer_[std::size_t(position_)] = character;
            ++position_;
        } else {
            position_ = std::max(0, most - 1);
        }
    }
    refresh();
    return true;
}
