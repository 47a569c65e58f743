// Conversion between narrow text in a Windows code page and UTF-16.
//
// Narrow engine text uses the Windows-1251 code page (code page 0, the
// system's code page, means 1251 here); wide text is UTF-16 in memory and in
// stored files. Conversions go through iconv. A character that has no form
// in the target becomes U+FFFD (to wide) or '?' (to narrow), so a result is
// always produced; the return value tells whether every character converted.
#pragma once

#include <string>
#include <string_view>

namespace platform {

bool narrowToWide(std::string_view text, unsigned codePage, std::u16string& out);
bool wideToNarrow(std::u16string_view text, unsigned codePage, std::string& out);

}  // namespace platform
