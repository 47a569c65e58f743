// A write-only XML document: a tree of tags with attributes and text values,
// built through printf-style setters and saved once as a Windows-1251 file.
//
// Values and attribute values are escaped when they are stored ("&", '"',
// "<", ">" as entities; control bytes, 0x7F, bytes from 0x80 and "!" as
// "&#x%04X;" of their UTF-16 value in the system code page). Tag names have
// spaces, tabs and line breaks replaced by "_"; names are cut to 127
// characters. The document owns every tag; references returned by the add
// functions stay valid until the document is cleared.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Log.h"

struct Matrix34;
class DataStream;

struct XmlAttribute {
    std::string name;
    std::string value;  // escaped
};

class XmlTag {
public:
    static constexpr std::size_t kNameLength = 127;

    explicit XmlTag(std::string_view name = {});

    XmlTag& addChild(std::string_view name);
    // A child whose value is the formatted text.
    XmlTag& addChildValue(std::string_view name, const char* format, ...) ENGINE_PRINTF(3, 4);
    // Formats and escapes a value and replaces the attribute with exactly
    // that name (case-sensitive), or appends a new one.
    void setAttribute(std::string_view name, const char* format, ...) ENGINE_PRINTF(3, 4);
    // Formats and escapes the tag's text; values are stored whole whatever
    // their length. A value that cannot be formatted or allocated is
    // logged and the old value kept.
    void setValue(const char* format, ...) ENGINE_PRINTF(2, 3);
    // A child named name with the children "v-x", "v-y", "v-z" (the axis
    // rows) and "c" (the translation), each of class "Vector" with x, y, z.
    XmlTag& addMatrix(std::string_view name, const Matrix34& matrix);
    // A child named name of class "Vector" with x, y, z ("%f").
    XmlTag& addVector3(std::string_view name, const float* v);

    const std::string& name() const { return name_; }
    const std::string& value() const { return value_; }
    const std::deque<XmlTag>& children() const { return children_; }
    const std::vector<XmlAttribute>& attributes() const { return attributes_; }

    // Writes the tag and its children at a depth (two spaces a level);
    // false when a write failed.
    bool write(DataStream& stream, int depth) const;
    // Frees the value, the attributes and the children.
    void release();

private:
    void setValueV(const char* format, va_list args);

    std::string name_;
    std::string value_;
    std::deque<XmlTag> children_;
    std::vector<XmlAttribute> attributes_;
};

class XmlWriter {
public:
    XmlTag& addTag(std::string_view name);

    // Writes the document as "<file name>.xml" (its extension replaced),
    // creating missing folders: the declaration, the document-type line
    // when docType is not empty, the style-sheet line, the top-level tags
    // and the extra tag (when given) at depth 1. The file gets the hidden
    // and system attributes unless normalAttributes is set. False, without
    // a message, when there is no file name or the file cannot be created,
    // and false when a write failed.
    bool saveFile(bool normalAttributes, const char* fileName, const char* docType, const char* styleSheet,
                  const XmlTag* extra);

    // Releases every top-level tag.
    void clear();
    // clear, then forgets the three names.
    void release();

    const std::deque<XmlTag>& tags() const { return tags_; }
    const std::string& fileName() const { return fileName_; }

private:
    std::deque<XmlTag> tags_;
    std::string fileName_;
    std::string docType_;
    std::string styleSheet_;
};

// The escaped form of a text (see above).
std::string xmlEscape(std::string_view text);
