// A node of the typed script-variable trees (globals, locales, scratch trees).
//
// A node has a name of at most 63 characters, a type, at most one value, a
// "changed" flag and an ordered list of children that it owns. Nodes are
// addressed by dotted paths of child names ("system.SF_ui_title"); path
// components match child names exactly (case-sensitive) and the first
// matching child wins. Script-facing child indices are 1-based.
//
// Children are held through stable pointers, so a node's address never
// changes while it lives; script objects refer to nodes through a weak
// reference (lifeToken) that dies with the node.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Log.h"

class DataStream;
class ScriptVariable;

// The still-frame builder behind the script methods "image_Create" and
// "image_Replace": it builds or updates one item from row `row` (from 1) of
// the table under the node's child "sf" (itemName names the item to update;
// null or not found: a new item). The still-frame UI installs it.
struct StillFrameBuilders {
    bool (*buildRow)(ScriptVariable& node, const char* itemName, std::int32_t row, bool rebuildText) = nullptr;
};
void setStillFrameBuilders(const StillFrameBuilders& builders);

class ScriptVariable {
public:
    // Stored type codes: fixed, they appear in packages and save games.
    enum Type : std::int32_t {
        TypeEmpty = 0,
        TypeBoolean = 1,
        TypeString = 2,
        TypeWString = 3,
        TypeNumber = 4,
        TypeInvalid = 5,
        TypeArray = 6,
        TypeArray2D = 7,
    };
    static constexpr std::uint32_t kFlagChanged = 2;
    static constexpr std::size_t kNameSize = 64;
    static constexpr std::size_t kPathBufferSize = 1024;

    ScriptVariable() = default;
    explicit ScriptVariable(const char* name, std::int32_t type = TypeEmpty);
    ~ScriptVariable();
    ScriptVariable(const ScriptVariable&) = delete;
    ScriptVariable& operator=(const ScriptVariable&) = delete;

    // The name of a type code ("empty", ..., "2d-array"); "invalid" for an
    // unknown code.
    static const char* typeName(std::int32_t type);

    const char* name() const { return name_; }
    // Copies at most 63 characters.
    void setName(const char* name);
    std::int32_t type() const { return type_; }
    // Sets the type code alone; the value is left as it is.
    void setType(std::int32_t type) { type_ = type; }
    std::uint32_t flags() const { return flags_; }
    bool changed() const { return (flags_ & kFlagChanged) != 0; }
    void setChanged(bool on) { flags_ = on ? (flags_ | kFlagChanged) : (flags_ & ~kFlagChanged); }

    // Value setters: each frees an old text first.
    void setBool(bool flag);
    // Null or empty leaves no text.
    void setString(const char* text);
    void setWString(const char16_t* text);
    void setWString(const std::u16string& text);
    void setNumber(float value);
    // Frees a text value; the type does not change.
    void freeValue();
    bool hasText() const { return !text_.empty() || !wideText_.empty(); }

    // Conversions; the node is not changed.
    bool toBool() const;
    float toFloat() const;
    std::string toString() const;
    std::u16string toWString() const;

    // Child access. child and childName are 0-based (engine code).
    std::int32_t childCount() const { return static_cast<std::int32_t>(children_.size()); }
    ScriptVariable* child(std::int32_t index) const;
    bool childName(std::int32_t index, std::string& name) const;
    // 1-based; out of range reports "Cannot find variable by index [%i]".
    ScriptVariable* getChild(std::int32_t index);
    bool hasIndex(std::int32_t index) const { return index >= 1 && index <= childCount(); }
    // The descendant named by a dotted path, or null with a report.
    static ScriptVariable* resolvePath(ScriptVariable* node, const char* path);
    ScriptVariable* resolvePath(const char* path) { return resolvePath(this, path); }

    // Two-step getters (first step, then second); every failing step reports.
    static ScriptVariable* get(ScriptVariable* node, std::int32_t index, std::int32_t index2);
    static ScriptVariable* get(ScriptVariable* node, const char* path, std::int32_t index);
    static ScriptVariable* get(ScriptVariable* node, const char* path, const char* path2);
    static ScriptVariable* get(ScriptVariable* node, std::int32_t index, const char* path);

    // Whether the path names an existing descendant; a missing path is not
    // reported.
    static bool test(const ScriptVariable* node, const char* path);
    bool test(const char* path) const { return test(this, path); }
    static bool test(const ScriptVariable* node, std::int32_t index, std::int32_t index2);
    static bool test(const ScriptVariable* node, const char* path, std::int32_t index);
    static bool test(const ScriptVariable* node, const char* path, const char* path2);
    static bool test(const ScriptVariable* node, std::int32_t index, const char* path);

    // Makes every missing component of a dotted path as an "array" node.
    bool createPath(const char* path);
    // Appends a new child (type empty); returns it.
    ScriptVariable* appendChild(const char* name, std::int32_t type = TypeEmpty);
    // Keeps the first count children, drops the rest or appends empty ones.
    void resizeChildren(std::int32_t count);
    // Moves every child of source to the end of this node's children.
    void takeChildren(ScriptVariable& source);
    // Value equality (types 1-4 compare values; other equal types are equal).
    bool equals(const ScriptVariable& other) const;
    // Takes the source's name (the part after its last "."), type and a copy
    // of its value; children are not copied.
    void copyFrom(const ScriptVariable& source);
    std::int32_t countNodes() const;
    std::int32_t countChanged() const;
    // Frees the text value of the node and of every descendant and removes
    // every child.
    void releaseValues();
    void clear() { releaseValues(); }

    // Framed report in the error log naming the node's location; always false.
    bool reportError(const char* format, ...) const ENGINE_PRINTF(2, 3);

    // Stored records (little-endian, see the .cpp). Byte counts, or the
    // first negative stream result.
    // Full form (changedOnly false) or changed-value records below this node
    // (changedOnly true; path holds the path of this node, "" for the root).
    std::int32_t write(DataStream& stream, bool changedOnly, std::string& path) const;
    std::int32_t write(DataStream& stream) const {
        std::string path;
        return write(stream, false, path);
    }
    // Full form: build (merge false) or check against the present shape
    // (merge true).
    std::int32_t read(DataStream& stream, bool merge);
    // A type and its value; a changed node keeps its own value.
    std::int32_t readValue(DataStream& stream);
    // The value alone, by type (full-form value field).
    std::int32_t writeValue(DataStream& stream) const;

    // XML dump of the subtree into the dump file named after its location.
    bool dump(bool alternate);
    // Export and import of leaf values through tools.ini.
    bool toolsSave(const char* section, const char* prefix);
    bool toolsLoad(const char* section, const char* prefix);

    // Still frames from the table under the node's child "sf" (logged when
    // it is missing). optimize_image_Create builds every row as a new item
    // and is true only when every row succeeded; buildStillFrameFromVariable
    // builds or updates one item from one row; replaceImageByElement does so
    // with the row whose "name" cell is named element.
    bool optimize_image_Create();
    bool buildStillFrameFromVariable(const char* itemName, std::int32_t row, bool rebuildText);
    bool replaceImageByElement(const char* itemName, const char* element, bool rebuildText);

    // Weak reference for script objects: expires when the node is destroyed.
    std::weak_ptr<ScriptVariable*> lifeToken();

private:
    char name_[kNameSize] = {};
    bool flag_ = false;
    float number_ = 0.0f;
    std::string text_;          // type 2: empty means no text
    std::u16string wideText_;   // type 3: empty means no text
    std::uint32_t flags_ = 0;
    std::int32_t type_ = TypeEmpty;
    std::vector<std::unique_ptr<ScriptVariable>> children_;
    std::shared_ptr<ScriptVariable*> life_;
};
