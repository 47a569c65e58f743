// A named package of named binary entries kept in one file: the renderer's
// compiled-shader package ("render shaders") is one.
//
// The file is one packed stream record whose content is a u32 entry count,
// then per entry a u16 name length, the name bytes, a u32 data size and the
// data. Entries are kept in ascending unsigned byte order of their names,
// which the lookup's binary search relies on; a file keeps the order it was
// written in, so writers must write them sorted. Names hold at most 127
// characters. The game only reads the file; save() is refused.
//
// load() maps the file instead of reading it into memory: a packed record is
// unpacked straight out of the mapping into one buffer, a raw one is used
// where it lies. Either way the entries' streams are views into that one
// block of bytes (no entry owns a copy), and the block lives until the
// entries are released or another file is loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/DataStream.h"
#include "platform/FileMapping.h"

struct ContainerEntry {
    char name[128] = {};
    MemoryStream data;
};

class Container {
public:
    static constexpr std::uint32_t kModified = 2;

    // name: the display name of every message, cut to 127 characters.
    // pathNumber: the application path that names the file.
    Container(const char* name, std::uint32_t pathNumber);
    ~Container() { release(); }
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    // Reads the file of the path number. On failure false, logged; when the
    // file could not be opened or unpacked the entries are unchanged.
    bool load();
    // Refused in the game: logs why and answers false; the file is untouched.
    bool save();
    // The data of the named entry (kept by the container), or null, logged.
    MemoryStream* find(const char* name);
    // The same lookup giving the whole entry (its name and data).
    ContainerEntry* findEntry(const char* name);

    // The unpacked content. read() refuses counts, name lengths and data
    // sizes that the stream cannot hold; returns bytes or a negative count.
    // Entries read from a stream own copies of their bytes.
    std::int32_t read(DataStream& stream);
    std::int32_t write(DataStream& stream);
    // Frees every entry, the content they view and the file mapping.
    void release();
    // Lets the mapped file's pages go from memory once the entries were
    // read and checked: they stay readable and come back from the file
    // when an entry's bytes are next read. Nothing for unpacked content.
    void releaseResidentPages();
    // The data sizes of every entry plus 128.
    std::uint32_t reserveSize() const;

    // The shader packer's way in: room for count entries (the current ones
    // are dropped), then each entry appended in ascending name order. append
    // is false without room, for an empty name, one over 127 characters or
    // one that does not sort after the last.
    void reserveEntries(std::int32_t count);
    bool append(const std::string& name, const void* data, std::int32_t size);

    const char* name() const { return name_; }
    std::uint32_t flags() const { return flags_; }
    std::int32_t count() const { return count_; }
    std::int32_t capacity() const { return capacity_; }
    const ContainerEntry& entry(std::int32_t index) const { return entries_[index]; }

private:
    // read() over a stream; with view set (the stream's bytes from position
    // 0, kept by the container) the entries view them instead of copying.
    std::int32_t readEntries(DataStream& stream, std::uint8_t* view);
    // How many of count entries lie whole in content from position on (the
    // first one that does not ends the count).
    static std::int32_t entriesPresent(const std::uint8_t* content, std::int32_t position, std::int32_t size,
                                       std::uint32_t count);
    // Maps the file and gives its unpacked content in content_ (a view of
    // the mapping or an unpacked buffer); false when the record is unusable.
    bool mapContent(const std::string& path);
    void unmap();
    // Moves the entries into a table of capacity entries; false without memory.
    bool grow(std::int32_t capacity);

    std::uint32_t pathNumber_ = 0;
    char name_[128] = {};
    std::uint32_t flags_ = 0;
    std::unique_ptr<ContainerEntry[]> entries_;
    std::int32_t capacity_ = 0;
    std::int32_t count_ = 0;
    // The loaded file's content that the entries view, and its mapping.
    MemoryStream content_;
    platform::MappingHandle mapping_;
    void* mappedBase_ = nullptr;
    std::uint64_t mappedLength_ = 0;
};
