// A path split into elements (each at most 127 characters). Texts are split
// at '\' and '/'; the joined form uses '\' with no leading or trailing
// separator. A text that starts with a drive ("e:...") starts the path over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class FilePath {
public:
    static constexpr std::size_t kElementSize = 128;

    FilePath() = default;
    explicit FilePath(std::string_view text) { append(text); }

    // Adds the elements of a text; a text of more than 2,048 characters is ignored.
    void append(std::string_view text);
    void appendPath(const FilePath& other);
    // Joins the first count elements (all when negative) with '\'.
    std::string toString(int count = -1) const;
    // Cuts the last element at its last '.'; a name that starts with its
    // only dot becomes empty (logged).
    void removeExtension();
    // Replaces the extension of the last element (extension with its dot).
    void setExtension(std::string_view extension);
    // Creates the missing folders of this file path (the last element is the
    // file). False with fewer than two elements, when no prefix of the folder
    // exists or when a folder cannot be created.
    bool createDirectories() const;

    void removeLast() {
        if (!elements_.empty()) elements_.pop_back();
    }
    void insertBeforeLast(std::string_view element);
    void clear() { elements_.clear(); }

    std::size_t count() const { return elements_.size(); }
    bool empty() const { return elements_.empty(); }
    const std::string& element(std::size_t i) const { return elements_[i]; }
    std::string& element(std::size_t i) { return elements_[i]; }
    const std::string& last() const { return elements_.back(); }
    std::string& last() { return elements_.back(); }

private:
    void push(std::string_view element);
    std::vector<std::string> elements_;
};
