#include "platform/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace platform {
namespace {

std::string codePageName(unsigned codePage) {
    switch (codePage) {
    case 0:
    case 1251: return "CP1251";
    case 65001: return "UTF-8";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: {
        char name[32];
        std::snprintf(name, sizeof(name), "CP%u", codePage);
        return name;
    }
    }
}

// One open converter; closed when the object goes away.
class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(::iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (valid()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input; an input unit that cannot be converted is
    // skipped (unitSize bytes) and replacement is appended instead.
    bool run(const char* input, std::size_t size, std::size_t unitSize, const std::string& replacement,
             std::string& out) {
        bool clean = true;
        out.clear();
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[1024];
        char* in = const_cast<char*>(input);
        std::size_t left = size;
        while (left > 0) {
            char* dst = buffer;
            std::size_t room = sizeof(buffer);
            const std::size_t r = ::iconv(cd_, &in, &left, &dst, &room);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (r != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (a cut sequence at the end): replace one unit.
            clean = false;
            const std::size_t skip = left < unitSize ? left : unitSize;
            in += skip;
            left -= skip;
            out += replacement;
        }
        return clean;
    }

private:
    iconv_t cd_;
};

// Opening a converter costs far more than a short conversion: each thread
// keeps the ones it opened.
Converter& converterFor(const std::string& to, const std::string& from) {
    thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> cache;
    auto& slot = cache[{to, from}];
    if (!slot) slot = std::make_unique<Converter>(to, from);
    return *slot;
}

}  // namespace

bool narrowToWide(std::string_view text, unsigned codePage, std::u16string& out) {
    out.clear();
    if (text.empty()) return true;
    Converter& converter = converterFor("UTF-16LE", codePageName(codePage));
    if (!converter.valid()) return false;
    std::string bytes;
    const bool clean = converter.run(text.data(), text.size(), 1, std::string("\xFD\xFF", 2), bytes);
    out.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return clean;
}

bool wideToNarrow(std::u16string_view text, unsigned codePage, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    Converter& converter = converterFor(codePageName(codePage), "UTF-16LE");
    if (!converter.valid()) return false;
    std::string bytes(text.size() * 2, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return converter.run(bytes.data(), bytes.size(), 2, "?", out);
}

}  // namespace platform
