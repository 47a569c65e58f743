// Bitmap fonts: the ".font4" header (glyph table and character ranges) of
// a font whose texture has the same name, and the registry of fonts by
// name that the render core owns.
#pragma once

#include <cstdint>
#include <vector>

#include "resources/Y3ResourceManager.h"

// One glyph: texture coordinates T0..T3, the advance, the ink width (its
// extent when it ends a line), the left offset and a value not used.
struct FontGlyph {
    float t[4] = {};
    float advance = 0.0f;
    float inkWidth = 0.0f;
    float leftOffset = 0.0f;
    float unused = 0.0f;
};
static_assert(sizeof(FontGlyph) == 32, "a glyph record is 32 bytes");

// Codes first..last map to glyphs from firstGlyph on.
struct FontRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::uint32_t firstGlyph = 0;
    std::uint32_t reserved = 0;
};
static_assert(sizeof(FontRange) == 16, "a range record is 16 bytes");

struct FontHeader {
    static constexpr std::uint32_t kMagic = 0x239AD4FAu;

    std::uint32_t valueA = 0;
    float cellWidth = 0.0f;
    float lineHeight = 0.0f;
    float lineGap = 0.0f;
    std::vector<FontGlyph> glyphs;
    std::vector<FontRange> ranges;

    // Bytes read, or -1 for a file that is not a font or whose counts,
    // sizes or ranges do not fit it (nothing is kept then).
    std::int32_t read(DataStream& stream);
    // The glyph of a character code: the first range holding it, else
    // glyph 0 (the space).
    std::uint32_t glyphIndex(std::uint32_t code) const;
};

class Y3FontHandler : public ResourceRecord {
public:
    explicit Y3FontHandler(const char* name);
    ~Y3FontHandler() override;

    std::int32_t readHeader(DataStream& stream) override;
    bool hasObject() const override { return header_ != nullptr; }
    void deleteObject() override;

    const FontHeader* header() const { return header_; }

private:
    FontHeader* header_ = nullptr;
};

class FontData : public Y3ResourceManager<Y3FontHandler, kProgressNoReportStage, kProgressNoReportStage> {
public:
    // The font of that name with its header loaded, created on a miss;
    // null (logged by the loader) when it cannot be had.
    Y3FontHandler* acquire(const char* name);
};
