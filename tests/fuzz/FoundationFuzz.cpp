// Fuzz targets of the foundation's readers: the INI store (with a
// write-then-read round trip), text field records, the XML escaping and
// writer, and the image decoders.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "foundation/DataStream.h"
#include "foundation/Image.h"
#include "foundation/IniFile.h"
#include "foundation/TextRecord.h"
#include "foundation/XmlWriter.h"
#include "fuzz/FuzzTarget.h"

namespace fuzzing {

namespace {

// A fixed stream over the input (never written to).
MemoryStream streamOver(const std::uint8_t* data, std::size_t size) {
    return MemoryStream(const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size));
}

void parseText(IniFile& store, const std::string& text) {
    MemoryStream stream(const_cast<char*>(text.data()), static_cast<std::int32_t>(text.size()));
    parseIni(store, stream, false);
}

}  // namespace

// ---- INI -----------------------------------------------------------------

namespace {

// Writes the player's kind of file from the store, reads it back and checks
// that every written variable comes back with its name and value, and
// nothing else.
void checkRoundTrip(const IniFile& first) {
    const std::string written = formatIniText(first, 0);
    IniFile second;
    parseText(second, written);
    for (const auto& category : first.categories()) {
        for (const auto& variable : category->variables()) {
            if (variable->value().empty()) continue;
            const IniCategory* read = second.findCategory(category->name());
            fuzzCheck(read != nullptr, "ini: a written section is missing when read back");
            const IniVariable* back = read->findVariable(variable->name());
            fuzzCheck(back != nullptr, "ini: a written variable is missing when read back");
            fuzzCheck(back->value() == variable->value(), "ini: a value changed on its way through the file");
        }
    }
    for (const auto& category : second.categories()) {
        for (const auto& variable : category->variables()) {
            if (variable->value().empty()) continue;
            const IniCategory* original = first.findCategory(category->name());
            const IniVariable* source = original ? original->findVariable(variable->name()) : nullptr;
            fuzzCheck(source != nullptr && !source->value().empty(), "ini: reading back made a variable");
        }
    }
}

}  // namespace

// The input is parsed as an INI file, and each of its lines is also stored
// by the program as a value (as the setup code stores its values); both
// stores must come back whole through their written file.
int fuzzIni(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniFile parsed;
    parseText(parsed, text);
    checkRoundTrip(parsed);

    IniFile stored;
    IniCategory& category = stored.getCategory("values");
    std::size_t start = 0;
    for (int index = 0; start < text.size() && index < 64; ++index) {
        const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        category.getVariable("v" + std::to_string(index)).setString(text.substr(start, end - start).c_str());
        start = end + 1;
    }
    checkRoundTrip(stored);
    forgetLog();
    return 0;
}

void seedIni(std::vector<std::string>& out) {
    out.push_back("[render]\r\nwidth = 1024\r\nheight=768\r\n; comment\r\nname = \"two words\"\r\n");
    out.push_back("; head\n[a]\nx=1\n[b]\n y = yes  trailing\n[a]\nz = \"\"\n");
    IniFile store;
    IniCategory& sound = store.getCategory("sound");
    sound.setComment("The player's sound setup");
    sound.getVariable("volume").setString("0.75");
    sound.getVariable("device").setString("default device");
    IniVariable& mode = store.getCategory("video").getVariable("mode");
    mode.setString("windowed");
    mode.setComment("line one\nline two");
    store.getCategory("video").getVariable("fixed", true).setString("kept");
    out.push_back(formatIniText(store, 0));
    out.push_back(formatIniText(store, 1));
}

// ---- text field records -------------------------------------------------

namespace {

const char* const kFields[] = {"name", "type", "value", "object", ""};

}  // namespace

// Reads the input as records of the fields above: a field found moves the
// stream forward, a refusal leaves it where the call found it.
int fuzzTextRecord(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const bool emptyLines = (data[0] & 1) != 0;
    MemoryStream stream = streamOver(data + 1, size - 1);
    char value[64];
    std::size_t field = 0;
    for (int step = 0; step < 100000; ++step) {
        const std::int32_t before = stream.tell();
        const std::int32_t line = stream.lineNumber;
        std::int32_t bytesRead = -7;
        const std::int32_t result = readValidData(stream, kFields[field % 5], "object", bytesRead, value,
                                                  sizeof(value), "fuzz", emptyLines);
        fuzzCheck(std::memchr(value, 0, sizeof(value)) != nullptr, "textrecord: value not terminated");
        if (result == 0) {
            fuzzCheck(stream.tell() > before && bytesRead == stream.tell() - before,
                      "textrecord: a field found did not move the stream by its bytes");
            ++field;
        } else if (result == -4) {
            fuzzCheck(bytesRead == stream.tell() - before && stream.tell() >= before,
                      "textrecord: the stop field did not set the stream back to its line");
            // Take the stop field's line and go on with the next record.
            char buffer[kRecordLineSize];
            if (readRecordLine(stream, buffer) <= 0) break;
            field = 0;
        } else {
            fuzzCheck(stream.tell() == before && stream.lineNumber == line,
                      "textrecord: a refused field moved the stream");
            if (result == -3) ++field;
            if (result == -2 || field > 64) break;
        }
    }
    // The line reader alone, from the start to the end.
    stream.setPosition(0);
    char buffer[kRecordLineSize];
    std::int32_t lines = 0;
    while (stream.tell() < stream.size() && lines <= stream.size()) {
        const std::int32_t taken = readRecordLine(stream, buffer);
        fuzzCheck(std::strlen(buffer) < kRecordLineSize, "textrecord: line not terminated in its buffer");
        if (taken <= 0) break;
        ++lines;
    }
    fuzzCheck(lines <= stream.size(), "textrecord: the line reader does not advance");
    forgetLog();
    return 0;
}

void seedTextRecord(std::vector<std::string>& out) {
    out.push_back(std::string(1, '\0') + "name first\r\ntype 2\r\nvalue 1.5\r\nobject next\r\nname second\r\n");
    out.push_back(std::string(1, '\1') + "name a\n\ntype  b\n\n\nvalue\nobject x\r\rname c");
    out.push_back(std::string(1, '\0') + "name " + std::string(3000, 'v') + "\nunknown 1\n");
}

// ---- XML ------------------------------------------------------------------

namespace {

// An escaped text holds printable ASCII only, no quote or angle bracket,
// and each "&" starts one of the entities the escaper writes.
void checkEscaped(std::string_view escaped) {
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto c = static_cast<unsigned char>(escaped[i]);
        fuzzCheck(c >= 0x20 && c < 0x7F && c != '<' && c != '>' && c != '"' && c != '!',
                  "xml: an escaped text holds a byte that needs escaping");
        if (c != '&') continue;
        const std::string_view rest = escaped.substr(i);
        bool known = false;
        for (const char* entity : {"&amp;", "&quot;", "&lt;", "&gt;"})
            if (rest.substr(0, std::strlen(entity)) == entity) known = true;
        if (!known) {
            fuzzCheck(rest.size() >= 8 && rest.substr(0, 3) == "&#x" && rest[7] == ';',
                      "xml: an '&' starts no entity");
            for (std::size_t k = 3; k < 7; ++k)
                fuzzCheck(std::isxdigit(static_cast<unsigned char>(rest[k])) != 0, "xml: a bad character reference");
        }
    }
}

}  // namespace

// The input splits at zero bytes into a tag name, a value, an attribute name
// and its value, and child names; escaping must give well-formed text and
// the tree must write.
int fuzzXml(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) return 0;
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) parts.emplace_back();
        else parts.back().push_back(static_cast<char>(data[i]));
    }
    parts.resize(std::max<std::size_t>(parts.size(), 4));
    const std::string whole(reinterpret_cast<const char*>(data), size);
    checkEscaped(xmlEscape(whole));

    XmlWriter writer;
    XmlTag& tag = writer.addTag(parts[0]);
    fuzzCheck(tag.name().size() <= XmlTag::kNameLength, "xml: a tag name longer than its limit");
    tag.setValue("%s", parts[1].c_str());
    checkEscaped(tag.value());
    tag.setAttribute(parts[2], "%s", parts[3].c_str());
    tag.setAttribute(parts[2], "%s", parts[1].c_str());
    fuzzCheck(tag.attributes().size() == 1, "xml: setting an attribute twice added it twice");
    checkEscaped(tag.attributes()[0].value);
    XmlTag* parent = &tag;
    for (std::size_t i = 4; i < parts.size() && i < 64; ++i) parent = &parent->addChildValue(parts[i], "%s", parts[i].c_str());
    MemoryStream stream;
    fuzzCheck(tag.write(stream, 1), "xml: writing to memory failed");
    writer.release();
    forgetLog();
    return 0;
}

void seedXml(std::vector<std::string>& out) {
    using namespace std::string_literals;
    out.push_back("object\0a < b & \"c\" > d!\0class\0Vector\0child one\0child\ttwo"s);
    out.push_back("t\0\x01\x7F\x80\xC0\xFF text\0name\0\xE0\xE1\0x"s);
}

// ---- images ---------------------------------------------------------------

namespace {

std::string bytesOf(MemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(stream.size()));
}

// A small picture with a gradient, 3 or 4 bytes a pixel.
TgaImage picture(bool alpha, std::uint32_t width, std::uint32_t height) {
    TgaImage image;
    image.create(alpha, width, height);
    std::uint8_t* pixels = image.pixels();
    const std::size_t count = static_cast<std::size_t>(width) * height * image.bytesPerPixel;
    for (std::size_t i = 0; i < count; ++i) pixels[i] = static_cast<std::uint8_t>(i * 37 + i / 7);
    image.updateHeader();
    return image;
}

}  // namespace

// Decodes the input as PNG, TGA or JPEG; a decoded image must hold its
// pixels and come back unchanged through the TGA writer. A PNG is also
// tried as the alpha channel of an image of its size.
int fuzzImage(const std::uint8_t* data, std::size_t size) {
    if (size > (4u << 20)) return 0;
    TgaImage image;
    if (decodeImage(data, size, image) && image.unpack()) {
        const std::uint64_t bytes = static_cast<std::uint64_t>(image.width) * image.height * image.bytesPerPixel;
        fuzzCheck(image.block.size() >= TgaImage::kHeaderSize + bytes, "image: fewer pixel bytes than its size");
        fuzzCheck(bytes <= kMaxImageBytes && image.width <= kMaxImageSide && image.height <= kMaxImageSide,
                  "image: a decoded image beyond the caps");
        if (bytes > 0) {
            MemoryStream tga;
            fuzzCheck(encodeImage(ImageFormatTga, image, tga, 90), "image: a decoded image cannot be written");
            TgaImage again;
            fuzzCheck(decodeImage(tga.data(), static_cast<std::size_t>(tga.size()), again) && again.unpack(),
                      "image: the written TGA cannot be read");
            fuzzCheck(again.width == image.width && again.height == image.height &&
                          again.bytesPerPixel == image.bytesPerPixel &&
                          std::memcmp(again.pixels(), image.pixels(), bytes) == 0,
                      "image: pixels changed through the TGA writer");
        }
    }
    if (size >= 24 && data[0] == 0x89) {
        const auto be32 = [&](std::size_t at) {
            return static_cast<std::uint32_t>(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
        };
        TgaImage base;
        const std::uint32_t width = be32(16), height = be32(20);
        if (width <= 512 && height <= 512 && base.create(false, width, height)) loadPngAlpha(data, size, base);
    }
    forgetLog();
    return 0;
}

void seedImage(std::vector<std::string>& out) {
    for (const bool alpha : {false, true}) {
        TgaImage image = picture(alpha, 5, 3);
        for (const int format : {ImageFormatTga, ImageFormatJpeg, ImageFormatPng}) {
            MemoryStream stream;
            if (encodeImage(format, image, stream, 75)) out.push_back(bytesOf(stream));
        }
        MemoryStream grey;
        if (writePng(image, grey, true)) out.push_back(bytesOf(grey));
    }
    // An RLE TGA, 4 x 2 pixels of 3 bytes, top row first: a run packet of
    // three pixels, a raw packet of one, then a run of four.
    std::string rle(TgaImage::kHeaderSize, '\0');
    rle[2] = 10;
    rle[12] = 4;
    rle[14] = 2;
    rle[16] = 24;
    rle[17] = 0x20;
    rle += std::string("\x82\x10\x20\x30", 4) + std::string("\x00\x01\x02\x03", 4) + std::string("\x83\xAA\xBB\xCC", 4);
    out.push_back(rle);
    // The same image bottom-up.
    rle[17] = 0;
    out.push_back(rle);
}

}  // namespace fuzzing
