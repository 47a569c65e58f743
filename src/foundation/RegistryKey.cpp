#include "foundation/RegistryKey.h"

#include "platform/TextCodec.h"
#include "platform/Window.h"

namespace {

constexpr unsigned kEngineCodePage = 1251;
constexpr unsigned kUtf8 = 65001;

}  // namespace

bool RegistryKey::open(std::uint32_t, const char*) {
    close();
    return false;
}

void RegistryKey::close() {
    key_ = 0;
    flags_ = 0;
}

bool RegistryKey::getString(std::string&, const char*) const { return false; }

bool getClipboardText(std::string& text) {
    std::string utf8;
    if (!platform::getClipboardText(utf8)) return false;
    std::u16string wide;
    platform::narrowToWide(utf8, kUtf8, wide);
    std::string narrow;
    platform::wideToNarrow(wide, kEngineCodePage, narrow);
    text = narrow;
    return true;
}

bool setClipboardText(const char* text) {
    std::u16string wide;
    platform::narrowToWide(text ? text : "", kEngineCodePage, wide);
    std::string utf8;
    platform::wideToNarrow(wide, kUtf8, utf8);
    return platform::setClipboardText(utf8);
}
