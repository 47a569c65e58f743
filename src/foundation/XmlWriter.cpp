#include "foundation/XmlWriter.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "foundation/Math.h"
#include "foundation/StringHelper.h"

namespace {

// The whole formatted text (measured first, so nothing is cut). False when
// the format cannot be expanded.
bool formatWhole(std::string& out, const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) return false;
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    out = std::move(text);
    return true;
}

std::string tagName(std::string_view name) {
    std::string result(name.substr(0, XmlTag::kNameLength));
    for (char& c : result)
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') c = '_';
    return result;
}

// Appends the formatted text; nothing when the format cannot be expanded.
void appendFormatted(std::string& out, const char* format, ...) ENGINE_PRINTF(2, 3);
void appendFormatted(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text;
    if (formatWhole(text, format, args)) out += text;
    va_end(args);
}

bool writeText(DataStream& stream, const std::string& text) {
    if (text.empty()) return true;
    return stream.write(text.data(), static_cast<std::int32_t>(text.size())) == static_cast<std::int32_t>(text.size());
}

}  // namespace

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&': out += "&amp;"; continue;
            case '"': out += "&quot;"; continue;
            case '<': out += "&lt;"; continue;
            case '>': out += "&gt;"; continue;
            default: break;
        }
        if (byte < 0x20 || byte >= 0x7F || c == '!') {
            const std::u16string wide = toWideString(std::string(1, c), 0);
            const unsigned code = wide.empty() ? byte : static_cast<unsigned>(wide[0]);
            char reference[16];
            std::snprintf(reference, sizeof(reference), "&#x%04X;", code);
            out += reference;
        } else {
            out += c;
        }
    }
    return out;
}

// ---- XmlTag

XmlTag::XmlTag(std::string_view name) : name_(tagName(name)) {}

XmlTag& XmlTag::addChild(std::string_view name) { return children_.emplace_back(name); }

XmlTag& XmlTag::addChildValue(std::string_view name, const char* format, ...) {
    XmlTag& child = addChild(name);
    va_list args;
    va_start(args, format);
    child.setValueV(format, args);
    va_end(args);
    return child;
}

void XmlTag::setAttribute(std::string_view name, const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    const bool ok = formatWhole(text, format, args);
    va_end(args);
    if (!ok) return;
    std::string value = xmlEscape(text);
    const std::string key(name.substr(0, kNameLength));
    for (XmlAttribute& attribute : attributes_) {
        if (attribute.name == key) {
            attribute.value = std::move(value);
            return;
        }
    }
    attributes_.push_back({key, std::move(value)});
}

void XmlTag::setValue(const char* format, ...) {
    va_list args;
    va_start(args, format);
    setValueV(format, args);
    va_end(args);
}

void XmlTag::setValueV(const char* format, va_list args) {
    try {
        std::string text;
        if (!formatWhole(text, format, args)) {
            engineLog().error("Can't allocate XML TAG value");
            return;
        }
        value_ = xmlEscape(text);
    } catch (const std::bad_alloc&) {
        engineLog().error("Can't allocate XML TAG value");
    }
}

XmlTag& XmlTag::addMatrix(std::string_view name, const Matrix34& matrix) {
    XmlTag& tag = addChild(name);
    static const char* const kRows[4] = {"v-x", "v-y", "v-z", "c"};
    for (int row = 0; row < 4; ++row) tag.addVector3(kRows[row], &matrix.m[row * 3]);
    return tag;
}

XmlTag& XmlTag::addVector3(std::string_view name, const float* v) {
    XmlTag& vector = addChild(name);
    vector.setAttribute("class", "Vector");
    vector.setAttribute("x", "%f", static_cast<double>(v[0]));
    vector.setAttribute("y", "%f", static_cast<double>(v[1]));
    vector.setAttribute("z", "%f", static_cast<double>(v[2]));
    return vector;
}

bool XmlTag::write(DataStream& stream, int depth) const {
    std::string text = "\r\n";
    text.append(static_cast<std::size_t>(depth) * 2, ' ');
    text += '<';
    text += name_;
    for (const XmlAttribute& attribute : attributes_) {
        if (attribute.value.find('\'') != std::string::npos)
            appendFormatted(text, " %s=\"%s\"", attribute.name.c_str(), attribute.value.c_str());
        else
            appendFormatted(text, " %s='%s'", attribute.name.c_str(), attribute.value.c_str());
    }
    if (!children_.empty() || !value_.empty()) text += '>';
    text += value_;
    bool ok = writeText(stream, text);
    for (const XmlTag& child : children_) ok = child.write(stream, depth + 1) && ok;
    text.clear();
    if (!children_.empty()) {
        text = "\r\n";
        text.append(static_cast<std::size_t>(depth) * 2, ' ');
        text += "</" + name_ + ">";
    } else if (!value_.empty()) {
        text = "</" + name_ + ">";
    } else {
        text = "/>";
    }
    return writeText(stream, text) && ok;
}

void XmlTag::release() {
    value_.clear();
    value_.shrink_to_fit();
    attributes_.clear();
    children_.clear();
}

// ---- XmlWriter

XmlTag& XmlWriter::addTag(std::string_view name) { return tags_.emplace_back(name); }

bool XmlWriter::saveFile(bool normalAttributes, const char* fileName, const char* docType, const char* styleSheet,
                         const XmlTag* extra) {
    if (!fileName || !*fileName) return false;
    FilePath path(fileName);
    if (path.empty()) return false;
    path.setExtension(".xml");
    path.createDirectories();
    fileName_ = fileName;
    docType_ = docType ? docType : "";
    styleSheet_ = styleSheet ? styleSheet : "";

    // Hidden and system unless normal attributes are asked for.
    const std::uint32_t attributes = normalAttributes ? 0u : 6u;
    std::unique_ptr<WinFileStream> file(WinFileStream::open(
        path.toString(), platform::GENERIC_READ | platform::GENERIC_WRITE, attributes, platform::CREATE_ALWAYS));
    if (!file) return false;

    bool ok = writeText(*file, "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n");
    std::string head;
    if (!docType_.empty()) appendFormatted(head, "<!DOCTYPE objects SYSTEM \"%s\">\r\n", docType_.c_str());
    appendFormatted(head, "<?xml-stylesheet type='text/xsl' href='%s'?>\r\n", styleSheet_.c_str());
    ok = writeText(*file, head) && ok;
    for (const XmlTag& tag : tags_) ok = tag.write(*file, 1) && ok;
    if (extra) ok = extra->write(*file, 1) && ok;
    return ok;
}

void XmlWriter::clear() { tags_.clear(); }

void XmlWriter::release() {
    clear();
    fileName_.clear();
    docType_.clear();
    styleSheet_.clear();
}
