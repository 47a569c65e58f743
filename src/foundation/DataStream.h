// Byte streams behind every record the system reads or writes.
//
// DataStream is the abstract stream; MemoryStream works over a block of
// memory (growable and owned, or fixed over a lent buffer such as a mapped
// view) and WinFileStream over an open file. Records follow one convention:
// fields are written one after another, little-endian in their own width,
// and a record's read or write adds up the counts of its fields, stopping at
// the first negative one, which it returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

class DataStream {
public:
    DataStream() = default;
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;
    virtual ~DataStream() = default;

    // Prepares room for count more bytes.
    virtual bool reserve(std::int32_t count) = 0;
    // Bytes written, or a negative value on failure.
    virtual std::int32_t write(const void* buffer, std::int32_t count) = 0;
    // Bytes read; a negative value (memory) or 0 (file) when nothing can be read.
    virtual std::int32_t read(void* buffer, std::int32_t count) = 0;
    virtual std::int32_t tell() = 0;
    // Seeks inside the window [base, base + windowSize); origin 0 start,
    // 1 current, 2 end (offset counted back). Returns 0.
    virtual std::int32_t seekIn(std::int32_t offset, std::int32_t origin, std::int32_t base,
                                std::int32_t windowSize);
    // Seeks in the whole stream, origins as seekIn. Returns 0.
    virtual std::int32_t seek(std::int32_t offset, std::int32_t origin);
    virtual void setPosition(std::int32_t position) = 0;
    virtual std::int32_t size() = 0;
    // Writes or reads at a position and restores the current one.
    virtual std::int32_t writeAt(std::int32_t position, const void* buffer, std::int32_t count);
    virtual std::int32_t readAt(std::int32_t position, void* buffer, std::int32_t count);
    virtual void unused(std::int32_t) {}

    // Line number advanced by the text-line reader, named in its messages.
    std::int32_t lineNumber = 0;
};

class MemoryStream : public DataStream {
public:
    explicit MemoryStream(bool doubling = false);
    // A fixed stream over a buffer it does not own.
    MemoryStream(void* buffer, std::int32_t size);
    ~MemoryStream() override;

    // Frees an owned buffer; every field becomes 0.
    void release();
    // Lends a foreign buffer to the stream (fixed mode), releasing the old one.
    void setFixed(void* buffer, std::int32_t size);
    // Grows the buffer to hold needed bytes beyond the size (whole 4 KB pages,
    // doubled when the doubling flag is set). False, logged, when it cannot.
    bool growBuffer(std::int32_t needed);

    bool reserve(std::int32_t count) override;
    std::int32_t write(const void* buffer, std::int32_t count) override;
    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int32_t tell() override { return position_; }
    void setPosition(std::int32_t position) override { position_ = position; }
    std::int32_t size() override { return size_; }

    std::uint8_t* data() { return buffer_; }
    const std::uint8_t* data() const { return buffer_; }
    std::int32_t capacity() const { return capacity_; }
    bool ownsBuffer() const { return owns_; }
    // Sets the count of valid bytes (at most the capacity).
    void setSize(std::int32_t size);
    // Gives an owned buffer of exactly size bytes, contents zeroed; false when
    // it cannot be allocated (the stream is then empty).
    bool allocateExact(std::int32_t size);
    // Takes ownership of a malloc'ed buffer.
    void adopt(std::uint8_t* buffer, std::int32_t size, std::int32_t capacity);
    // Exchanges buffers, sizes, positions and modes with other.
    void swap(MemoryStream& other) noexcept;

private:
    std::int32_t position_ = 0;
    std::int32_t capacity_ = 0;
    bool owns_ = true;
    bool doubling_ = false;
    std::uint8_t* buffer_ = nullptr;
    std::int32_t size_ = 0;
};

class WinFileStream : public DataStream {
public:
    // Opens a file (access GENERIC_READ and/or GENERIC_WRITE, creation
    // OPEN_EXISTING, CREATE_ALWAYS, ...). Null when it cannot be opened.
    static WinFileStream* open(std::string_view path, std::uint32_t access, std::uint32_t attributes,
                               std::uint32_t creation);
    ~WinFileStream() override;

    // Writes count zero bytes from the start of the file; the position is
    // count afterwards. False when the writes fail.
    bool reserve(std::int32_t count) override;
    std::int32_t write(const void* buffer, std::int32_t count) override;
    std::int32_t read(void* buffer, std::int32_t count) override;
    std::int32_t tell() override;
    void setPosition(std::int32_t position) override;
    std::int32_t size() override;

    bool writable() const { return writable_; }

private:
    WinFileStream(platform::FileHandle handle, bool writable) : handle_(handle), writable_(writable) {}
    platform::FileHandle handle_;
    bool writable_ = false;
};

// Typed field helpers of the record convention; each returns the byte count
// or the stream's negative result.
std::int32_t writeU8(DataStream& s, std::uint8_t v);
std::int32_t writeU16(DataStream& s, std::uint16_t v);
std::int32_t writeU32(DataStream& s, std::uint32_t v);
std::int32_t writeI32(DataStream& s, std::int32_t v);
std::int32_t writeF32(DataStream& s, float v);
std::int32_t writeF64(DataStream& s, double v);
std::int32_t readU8(DataStream& s, std::uint8_t& v);
std::int32_t readU16(DataStream& s, std::uint16_t& v);
std::int32_t readU32(DataStream& s, std::uint32_t& v);
std::int32_t readI32(DataStream& s, std::int32_t& v);
std::int32_t readF32(DataStream& s, float& v);
std::int32_t readF64(DataStream& s, double& v);
// Reads exactly count bytes; a short read is a failure (-1).
std::int32_t readExact(DataStream& s, void* buffer, std::int32_t count);

// count floats one by one: the bytes, or the first negative result.
std::int32_t writeFloats(DataStream& s, const float* values, int count);
std::int32_t readFloats(DataStream& s, float* values, int count);
// The same added to a record's total (see addField); the total after it.
std::int32_t writeFloats(DataStream& s, const float* values, int count, std::int32_t& total);
std::int32_t readFloats(DataStream& s, float* values, int count, std::int32_t& total);

// Adds a field's result to a record total; false once the record failed.
// Use: if (!addField(total, writeU32(s, x))) return total;
inline bool addField(std::int32_t& total, std::int32_t result) {
    if (result < 0) {
        total = result;
        return false;
    }
    total += result;
    return true;
}

// Bytes left between the position and the end of the stream (0 when past it).
std::int32_t bytesLeft(DataStream& s);

// Reads a u32 count and that many u32 values. The count is bounded by the
// bytes left in the stream; a larger one, or a short read, fails (-1).
std::int32_t readUIntArray(DataStream& s, std::vector<std::uint32_t>& array);

// A string with a u8 length prefix, read into a terminated field of
// fieldSize bytes; a length that does not fit (fieldSize or more) is refused
// with -1 before its bytes are read.
std::int32_t readString8(DataStream& s, char* field, std::size_t fieldSize);
// Writes the string with its u8 length; -1 for a string of 256 or more.
std::int32_t writeString8(DataStream& s, const char* text);
// The same with a u16 length prefix. The writer stores at most
// fieldSize - 1 characters, what the reader's field holds.
std::int32_t readString16(DataStream& s, char* field, std::size_t fieldSize);
std::int32_t writeString16(DataStream& s, const char* text, std::size_t fieldSize);
// Writes a u32 count and the values, as readUIntArray reads them.
std::int32_t writeUIntArray(DataStream& s, const std::vector<std::uint32_t>& array);

// Clears a 64-byte field and copies at most 63 characters into it.
void copyString64(const char* source, char* destination);
// Clears a 128-byte name field and copies at most 127 characters of the
// text into it; the field always ends with a terminator. Returns the field.
char* copyName128(char* field, const char* text);

// True when the path names an existing file (not a folder).
bool fileExists(std::string_view path);
// Creates the folders of a file path that are missing.
bool ensurePathFolders(std::string_view path);
