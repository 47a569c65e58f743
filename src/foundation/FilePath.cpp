#include "foundation/FilePath.h"

#include <algorithm>

#include "foundation/Log.h"
#include "platform/FileSystem.h"

void FilePath::push(std::string_view element) {
    elements_.emplace_back(element.substr(0, kElementSize - 1));
}

void FilePath::append(std::string_view text) {
    if (text.empty() || text.size() > 2048) return;
    std::string copy;
    copy.reserve(text.size());
    for (char c : text) {
        if (c == '"') continue;
        copy.push_back(c == '/' ? '\\' : c);
    }
    if (copy.size() >= 2 && copy[0] != '\\' && copy[1] == ':') elements_.clear();
    std::size_t pos = 0;
    while (pos <= copy.size()) {
        std::size_t next = copy.find('\\', pos);
        if (next == std::string::npos) next = copy.size();
        if (next > pos) push(std::string_view(copy).substr(pos, next - pos));
        pos = next + 1;
    }
}

void FilePath::appendPath(const FilePath& other) {
    if (&other == this) return;
    elements_.insert(elements_.end(), other.elements_.begin(), other.elements_.end());
}

std::string FilePath::toString(int count) const {
    if (elements_.empty()) return {};
    std::size_t n = count < 0 ? elements_.size() : std::min<std::size_t>(count, elements_.size());
    std::string out = elements_[0];
    for (std::size_t i = 1; i < n; ++i) {
        out += '\\';
        out += elements_[i];
    }
    return out;
}

void FilePath::removeExtension() {
    if (elements_.empty()) return;
    std::string& name = elements_.back();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return;
    if (dot == 0) engineLog().error("FILEPATH [%s] DELETED TO NULL", toString().c_str());
    name.resize(dot);
}

void FilePath::setExtension(std::string_view extension) {
    if (elements_.empty()) return;
    removeExtension();
    std::string& name = elements_.back();
    name.append(extension);
    if (name.size() > kElementSize - 1) name.resize(kElementSize - 1);
}

void FilePath::insertBeforeLast(std::string_view element) {
    const auto at = elements_.empty() ? elements_.end() : elements_.end() - 1;
    elements_.insert(at, std::string(element.substr(0, kElementSize - 1)));
}

bool FilePath::createDirectories() const {
    if (elements_.size() < 2) return false;
    const int folderCount = static_cast<int>(elements_.size()) - 1;
    int existing = folderCount;
    while (existing >= 1 && platform::pathKind(toString(existing)) != platform::PathKind::Folder) --existing;
    if (existing < 1) return false;
    for (int n = existing + 1; n <= folderCount; ++n) {
        if (!platform::createFolder(toString(n))) return false;
    }
    return true;
}
