// The registry key of the language selection and the clipboard, without a
// window: the clipboard is then a buffer of the process.
#include <gtest/gtest.h>

#include "foundation/RegistryKey.h"

namespace {

TEST(RegistryKey, NoKeyOpensAndNoValueIsRead) {
    RegistryKey key;
    EXPECT_FALSE(key.open(RegistryKey::kLocalMachine, "SOFTWARE\\Game"));
    EXPECT_FALSE(key.isOpen());
    std::string value = "kept";
    EXPECT_FALSE(key.getString(value, "lang"));
    EXPECT_EQ(value, "kept");
    key.close();
    key.close();
}

TEST(Clipboard, TextRoundTripsInTheEngineCodePageAndEmptyTextIsText) {
    std::string text = "unchanged";
    // Whatever an earlier test left, a set text is read back as it was set:
    // Cyrillic bytes of code page 1251 survive the UTF-8 clipboard.
    ASSERT_TRUE(setClipboardText("Clip \xC6\xE8\xE7\xED\xFC"));
    ASSERT_TRUE(getClipboardText(text));
    EXPECT_EQ(text, "Clip \xC6\xE8\xE7\xED\xFC");
    ASSERT_TRUE(setClipboardText(""));
    text = "unchanged";
    EXPECT_TRUE(getClipboardText(text));
    EXPECT_EQ(text, "");
    ASSERT_TRUE(setClipboardText(nullptr));
    EXPECT_TRUE(getClipboardText(text));
    EXPECT_EQ(text, "");
}

}  // namespace
