#include "foundation/DataStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundation/FilePath.h"
#include "foundation/Log.h"

// ---- DataStream: shared operations

std::int32_t DataStream::seekIn(std::int32_t offset, std::int32_t origin, std::int32_t base,
                                std::int32_t windowSize) {
    switch (origin) {
    case 0: setPosition(base + offset); break;
    case 1: setPosition(tell() + offset); break;
    case 2: setPosition(base + windowSize - offset); break;
    default: break;
    }
    return 0;
}

std::int32_t DataStream::seek(std::int32_t offset, std::int32_t origin) {
    switch (origin) {
    case 0: setPosition(offset); break;
    case 1: setPosition(tell() + offset); break;
    case 2: setPosition(size() - offset); break;
    default: break;
    }
    return 0;
}

std::int32_t DataStream::writeAt(std::int32_t position, const void* buffer, std::int32_t count) {
    const std::int32_t saved = tell();
    setPosition(position);
    const std::int32_t result = write(buffer, count);
    setPosition(saved);
    return result;
}

std::int32_t DataStream::readAt(std::int32_t position, void* buffer, std::int32_t count) {
    const std::int32_t saved = tell();
    setPosition(position);
    const std::int32_t result = read(buffer, count);
    setPosition(saved);
    return result;
}

// ---- MemoryStream

MemoryStream::MemoryStream(bool doubling) : doubling_(doubling) {}

MemoryStream::MemoryStream(void* buffer, std::int32_t size) { setFixed(buffer, size); }

MemoryStream::~MemoryStream() { release(); }

void MemoryStream::release() {
    if (owns_) std::free(buffer_);
    buffer_ = nullptr;
    size_ = position_ = capacity_ = 0;
    owns_ = true;
}

void MemoryStream::setFixed(void* buffer, std::int32_t size) {
    release();
    buffer_ = static_cast<std::uint8_t*>(buffer);
    size_ = capacity_ = std::max(size, 0);
    owns_ = false;
}

void MemoryStream::setSize(std::int32_t size) { size_ = std::clamp(size, 0, capacity_); }

bool MemoryStream::allocateExact(std::int32_t size) {
    release();
    if (size < 0) return false;
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(static_cast<size_t>(std::max(size, 1)), 1));
    if (!buffer) return false;
    adopt(buffer, size, size);
    return true;
}

void MemoryStream::adopt(std::uint8_t* buffer, std::int32_t size, std::int32_t capacity) {
    release();
    buffer_ = buffer;
    size_ = size;
    capacity_ = capacity;
    position_ = 0;
    owns_ = true;
}

void MemoryStream::swap(MemoryStream& other) noexcept {
    std::swap(position_, other.position_);
    std::swap(capacity_, other.capacity_);
    std::swap(owns_, other.owns_);
    std::swap(doubling_, other.doubling_);
    std::swap(buffer_, other.buffer_);
    std::swap(size_, other.size_);
}

bool MemoryStream::growBuffer(std::int32_t needed) {
    const std::int64_t wanted = (static_cast<std::int64_t>(size_) + std::max(needed, 0) + 4095) & ~std::int64_t{4095};
    std::int64_t capacity = doubling_ ? wanted * 2 : wanted;
    if (capacity > INT32_MAX) capacity = wanted;
    if (capacity > INT32_MAX) {
        engineLog().systemError("Can't allocate reserved memory stream buffer up to %lli",
                                static_cast<long long>(capacity));
        return false;
    }
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(static_cast<size_t>(capacity)));
    if (!buffer) {
        engineLog().systemError("Can't allocate reserved memory stream buffer up to %i",
                                static_cast<int>(capacity));
        return false;
    }
    if (buffer_ && size_ > 0) std::memcpy(buffer, buffer_, static_cast<size_t>(size_));
    if (owns_) std::free(buffer_);
    buffer_ = buffer;
    capacity_ = static_cast<std::int32_t>(capacity);
    owns_ = true;
    return true;
}

bool MemoryStream::reserve(std::int32_t count) { return growBuffer(count); }

std::int32_t MemoryStream::write(const void* buffer, std::int32_t count) {
    if (!buffer) return 0;
    if (count < 0 || position_ < 0) return -1;
    if (owns_) {
        // A position set past the size writes after a zeroed gap.
        const std::int64_t end = static_cast<std::int64_t>(position_) + count;
        if (end > INT32_MAX) return -1;
        if (end > capacity_ && !growBuffer(static_cast<std::int32_t>(end - size_))) return -1;
        if (position_ > size_) std::memset(buffer_ + size_, 0, static_cast<size_t>(position_ - size_));
        if (end > size_) size_ = static_cast<std::int32_t>(end);
    } else {
        count = std::max(0, std::min(count, size_ - position_));
    }
    if (count > 0) std::memcpy(buffer_ + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

std::int32_t MemoryStream::read(void* buffer, std::int32_t count) {
    if (!buffer || position_ < 0 || position_ >= size_ || count < 0) return -1;
    const std::int32_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, buffer_ + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

// ---- WinFileStream

WinFileStream* WinFileStream::open(std::string_view path, std::uint32_t access, std::uint32_t /*attributes*/,
                                   std::uint32_t creation) {
    // Share modes and the random-access hint have no meaning here.
    platform::FileHandle handle = platform::openFile(path, access, creation);
    if (!handle) return nullptr;
    return new WinFileStream(handle, (access & platform::GENERIC_WRITE) != 0);
}

WinFileStream::~WinFileStream() {
    if (handle_) {
        if (writable_) platform::flushFile(handle_);
        platform::closeFile(handle_);
        handle_ = {};
    }
}

bool WinFileStream::reserve(std::int32_t count) {
    static const char zeros[4096] = {};
    setPosition(0);
    while (count > 0) {
        const std::int32_t piece = std::min<std::int32_t>(count, sizeof(zeros));
        if (write(zeros, piece) != piece) return false;
        count -= piece;
    }
    return true;
}

std::int32_t WinFileStream::write(const void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int64_t n = platform::writeFile(handle_, buffer, count);
    return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

std::int32_t WinFileStream::read(void* buffer, std::int32_t count) {
    if (!buffer || count <= 0) return 0;
    const std::int64_t n = platform::readFile(handle_, buffer, count);
    return n < 0 ? 0 : static_cast<std::int32_t>(n);
}

std::int32_t WinFileStream::tell() {
    return static_cast<std::int32_t>(platform::seekFile(handle_, 0, platform::SeekOrigin::Current));
}

void WinFileStream::setPosition(std::int32_t position) {
    platform::seekFile(handle_, position, platform::SeekOrigin::Begin);
}

std::int32_t WinFileStream::size() { return static_cast<std::int32_t>(platform::fileSize(handle_)); }

// ---- Record field helpers

namespace {

template <typename T>
std::int32_t writeLE(DataStream& s, T v) {
    std::uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
    return s.write(bytes, sizeof(T));
}

template <typename T>
std::int32_t readLE(DataStream& s, T& v) {
    std::uint8_t bytes[sizeof(T)];
    const std::int32_t r = readExact(s, bytes, sizeof(T));
    if (r < 0) return r;
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(bytes[i]) << (8 * i));
    v = value;
    return r;
}

}  // namespace

std::int32_t writeU8(DataStream& s, std::uint8_t v) { return s.write(&v, 1); }
std::int32_t writeU16(DataStream& s, std::uint16_t v) { return writeLE(s, v); }
std::int32_t writeU32(DataStream& s, std::uint32_t v) { return writeLE(s, v); }
std::int32_t writeI32(DataStream& s, std::int32_t v) { return writeLE(s, static_cast<std::uint32_t>(v)); }
std::int32_t writeF32(DataStream& s, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return writeLE(s, bits);
}
std::int32_t writeF64(DataStream& s, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    return writeLE(s, bits);
}
std::int32_t readU8(DataStream& s, std::uint8_t& v) { return readExact(s, &v, 1); }

std::int32_t readString8(DataStream& s, char* field, std::size_t fieldSize) {
    if (!field || fieldSize == 0) return -1;
    std::memset(field, 0, fieldSize);
    std::uint8_t length = 0;
    std::int32_t total = 0;
    if (!addField(total, readU8(s, length))) return total;
    if (length >= fieldSize) return -1;
    if (length && !addField(total, readExact(s, field, length))) return total;
    return total;
}

std::int32_t readString16(DataStream& s, char* field, std::size_t fieldSize) {
    if (!field || fieldSize == 0) return -1;
    std::memset(field, 0, fieldSize);
    std::uint16_t length = 0;
    std::int32_t total = 0;
    if (!addField(total, readU16(s, length))) return total;
    if (length >= fieldSize) return -1;
    if (length && !addField(total, readExact(s, field, length))) return total;
    return total;
}

std::int32_t writeString16(DataStream& s, const char* text, std::size_t fieldSize) {
    const std::size_t length = text && fieldSize ? strnlen(text, std::min<std::size_t>(fieldSize - 1, 0xFFFF)) : 0;
    std::int32_t total = 0;
    if (!addField(total, writeU16(s, static_cast<std::uint16_t>(length)))) return total;
    if (length) addField(total, s.write(text, static_cast<std::int32_t>(length)));
    return total;
}

std::int32_t writeUIntArray(DataStream& s, const std::vector<std::uint32_t>& array) {
    std::int32_t total = 0;
    if (!addField(total, writeU32(s, static_cast<std::uint32_t>(array.size())))) return total;
    for (std::uint32_t value : array)
        if (!addField(total, writeU32(s, value))) return total;
    return total;
}

std::int32_t writeString8(DataStream& s, const char* text) {
    const std::size_t length = text ? std::strlen(text) : 0;
    if (length > 255) return -1;
    std::int32_t total = 0;
    if (!addField(total, writeU8(s, static_cast<std::uint8_t>(length)))) return total;
    if (length && !addField(total, s.write(text, static_cast<std::int32_t>(length)))) return total;
    return total;
}
std::int32_t readU16(DataStream& s, std::uint16_t& v) { return readLE(s, v); }
std::int32_t readU32(DataStream& s, std::uint32_t& v) { return readLE(s, v); }
std::int32_t readI32(DataStream& s, std::int32_t& v) {
    std::uint32_t u = 0;
    const std::int32_t r = readLE(s, u);
    if (r >= 0) v = static_cast<std::int32_t>(u);
    return r;
}
std::int32_t readF32(DataStream& s, float& v) {
    std::uint32_t bits = 0;
    const std::int32_t r = readLE(s, bits);
    if (r >= 0) std::memcpy(&v, &bits, 4);
    return r;
}

std::int32_t readF64(DataStream& s, double& v) {
    std::uint64_t bits = 0;
    const std::int32_t r = readLE(s, bits);
    if (r >= 0) std::memcpy(&v, &bits, 8);
    return r;
}

std::int32_t readExact(DataStream& s, void* buffer, std::int32_t count) {
    if (count == 0) return 0;
    const std::int32_t r = s.read(buffer, count);
    return r == count ? r : -1;
}

std::int32_t bytesLeft(DataStream& s) { return std::max(0, s.size() - s.tell()); }

std::int32_t readUIntArray(DataStream& s, std::vector<std::uint32_t>& array) {
    array.clear();
    std::uint32_t count = 0;
    const std::int32_t head = readU32(s, count);
    if (head < 0) return head;
    // The count comes from data: never allocate more than the stream can hold.
    if (count > static_cast<std::uint32_t>(bytesLeft(s)) / 4) return -1;
    array.assign(count, 0);
    if (count == 0) return head;
    const std::int32_t body = readExact(s, array.data(), static_cast<std::int32_t>(count * 4));
    if (body < 0) {
        array.clear();
        return body;
    }
    for (auto& v : array) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(&v);
        v = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    }
    return head + body;
}

void copyString64(const char* source, char* destination) {
    std::memset(destination, 0, 64);
    if (source) std::strncpy(destination, source, 63);
}

char* copyName128(char* field, const char* text) {
    std::memset(field, 0, 128);
    if (text) std::strncpy(field, text, 127);
    return field;
}

bool fileExists(std::string_view path) { return platform::pathKind(path) == platform::PathKind::File; }

bool ensurePathFolders(std::string_view path) {
    FilePath filePath;
    filePath.append(path);
    return filePath.createDirectories();
}

std::int32_t writeFloats(DataStream& s, const float* values, int count) {
    std::int32_t total = 0;
    for (int i = 0; i < count; ++i)
        if (!addField(total, writeF32(s, values[i]))) return total;
    return total;
}

std::int32_t readFloats(DataStream& s, float* values, int count) {
    std::int32_t total = 0;
    for (int i = 0; i < count; ++i)
        if (!addField(total, readF32(s, values[i]))) return total;
    return total;
}

std::int32_t writeFloats(DataStream& s, const float* values, int count, std::int32_t& total) {
    addField(total, writeFloats(s, values, count));
    return total;
}

std::int32_t readFloats(DataStream& s, float* values, int count, std::int32_t& total) {
    addField(total, readFloats(s, values, count));
    return total;
}
