#include "render/FontData.h"

#include <cmath>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "resources/ResourceTypes.h"

namespace {

bool usableSize(float v) { return std::isfinite(v) && v > 0.0f; }

}  // namespace

std::int32_t FontHeader::read(DataStream& stream) {
    glyphs.clear();
    ranges.clear();
    std::int32_t total = 0;
    auto field = [&](std::int32_t n) {
        if (n <= 0) return false;
        total += n;
        return true;
    };
    std::uint32_t magic = 0, glyphCount = 0, rangeCount = 0;
    if (!field(readU32(stream, magic)) || magic != kMagic) return -1;
    if (!field(readU32(stream, valueA)) || !field(readF32(stream, cellWidth)) ||
        !field(readF32(stream, lineHeight)) || !field(readF32(stream, lineGap)) ||
        !field(readU32(stream, glyphCount)))
        return -1;
    if (!usableSize(cellWidth) || !usableSize(lineHeight) || !std::isfinite(lineGap)) return -1;
    // A count must fit the bytes that are left before anything is made.
    auto fits = [&](std::uint64_t count, std::uint64_t recordSize) {
        const std::int64_t left = std::int64_t(stream.size()) - std::int64_t(stream.tell());
        return left >= 0 && count * recordSize <= std::uint64_t(left);
    };
    if (glyphCount == 0 || !fits(glyphCount, sizeof(FontGlyph))) return -1;
    glyphs.resize(glyphCount);
    const auto glyphBytes = std::int32_t(glyphCount * sizeof(FontGlyph));
    if (stream.read(glyphs.data(), glyphBytes) != glyphBytes) return glyphs.clear(), -1;
    total += glyphBytes;
    if (!field(readU32(stream, rangeCount)) || !fits(rangeCount, sizeof(FontRange))) return glyphs.clear(), -1;
    ranges.resize(rangeCount);
    const auto rangeBytes = std::int32_t(rangeCount * sizeof(FontRange));
    if (rangeBytes && stream.read(ranges.data(), rangeBytes) != rangeBytes) return glyphs.clear(), ranges.clear(), -1;
    total += rangeBytes;
    for (const FontRange& r : ranges)
        if (r.last < r.first || std::uint64_t(r.firstGlyph) + (r.last - r.first) >= glyphCount) {
            glyphs.clear();
            ranges.clear();
            return -1;
        }
    for (const FontGlyph& g : glyphs)
        for (float v : {g.t[0], g.t[1], g.t[2], g.t[3], g.advance, g.inkWidth, g.leftOffset})
            if (!std::isfinite(v)) {
                glyphs.clear();
                ranges.clear();
                return -1;
            }
    return total;
}

std::uint32_t FontHeader::glyphIndex(std::uint32_t code) const {
    for (const FontRange& r : ranges)
        if (code >= r.first && code <= r.last) return r.firstGlyph + (code - r.first);
    return 0;
}

Y3FontHandler::Y3FontHandler(const char* name) : ResourceRecord(name, resourceDescriptor(ResourceKind::Font)) {}

Y3FontHandler::~Y3FontHandler() { deleteObject(); }

std::int32_t Y3FontHandler::readHeader(DataStream& stream) {
    deleteObject();
    auto* header = new FontHeader;
    const std::int32_t n = header->read(stream);
    if (n < 0) {
        delete header;
        return n;
    }
    header_ = header;
    return n;
}

void Y3FontHandler::deleteObject() {
    delete header_;
    header_ = nullptr;
}

Y3FontHandler* FontData::acquire(const char* name) {
    Y3FontHandler* font = getOrCreate(name, true);
    if (!font) return nullptr;
    if (!font->header() && !font->has(kResourceUnavailable)) loadHeader(font, nullptr);
    return font->header() ? font : nullptr;
}
