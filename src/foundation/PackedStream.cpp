#include "foundation/PackedStream.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"

namespace {

constexpr std::int32_t kHeaderSize = 9;
// A larger unpacked size in a header than its packed bytes can give is
// damage, and allocating it would trust the damage.
bool unpackedSizePlausible(std::uint32_t packed, std::uint32_t unpacked) {
    return unpacked <= maxUnpackedSize(packed) && unpacked < static_cast<std::uint32_t>(INT32_MAX);
}

// uncompress of count bytes into a fresh malloc'ed buffer of unpacked
// bytes; null (logged "Failed decompress...") on failure.
std::uint8_t* unpackBuffer(const std::uint8_t* data, std::uint32_t count, std::uint32_t unpacked,
                           std::int32_t& length) {
    if (unpacked >= static_cast<std::uint32_t>(INT32_MAX)) {
        engineLog().systemError("Failed decompress memory stream (%i)", Z_MEM_ERROR);
        return nullptr;
    }
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(unpacked > 0 ? unpacked : 1));
    if (!buffer) {
        engineLog().systemError("Failed decompress memory stream (%i)", Z_MEM_ERROR);
        return nullptr;
    }
    uLongf got = unpacked;
    const int result = uncompress(buffer, &got, data, count);
    if (result != Z_OK) {
        std::free(buffer);
        engineLog().systemError("Failed decompress memory stream (%i)", result);
        return nullptr;
    }
    length = static_cast<std::int32_t>(got);
    return buffer;
}

bool unpackBytes(MemoryStream& destination, const std::uint8_t* data, std::uint32_t count, std::uint32_t unpacked) {
    std::int32_t length = 0;
    std::uint8_t* buffer = unpackBuffer(data, count, unpacked, length);
    if (!buffer) return false;
    destination.adopt(buffer, length, static_cast<std::int32_t>(unpacked));
    return true;
}

std::uint32_t u32At(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads count bytes of the source into destination (an owned buffer of
// exactly count bytes). False when they are not all there.
bool readBlock(MemoryStream& destination, DataStream& source, std::int32_t count) {
    if (count > bytesLeft(source)) return false;
    if (!destination.allocateExact(count)) return false;
    return readExact(source, destination.data(), count) == count;
}

// Writes count bytes; a short write (a full disk) is a failure (-1).
std::int32_t writeAll(DataStream& destination, const void* data, std::int32_t count) {
    if (count <= 0) return 0;
    const std::int32_t written = destination.write(data, count);
    if (written < 0) return written;
    return written == count ? written : -1;
}

}  // namespace

std::uint64_t maxUnpackedSize(std::uint64_t count) {
    constexpr std::uint64_t kMaxRatio = 1032;
    constexpr std::uint64_t kSlack = 64;
    return count * kMaxRatio + kSlack;
}

bool packMemoryStream(MemoryStream& stream, int level) {
    const std::uint32_t size = static_cast<std::uint32_t>(stream.size());
    const std::uint64_t bound = static_cast<std::uint64_t>(size) + size / 4096 + size / 16384 + 27;
    if (bound > static_cast<std::uint64_t>(INT32_MAX)) {
        engineLog().systemError("Failed compress memory stream (%i)", Z_BUF_ERROR);
        return false;
    }
    auto* buffer = static_cast<std::uint8_t*>(std::malloc(static_cast<size_t>(bound)));
    if (!buffer) {
        engineLog().systemError("Failed compress memory stream (%i)", Z_MEM_ERROR);
        return false;
    }
    static const std::uint8_t kEmpty = 0;
    uLongf length = static_cast<uLongf>(bound);
    const int result = compress2(buffer, &length, size > 0 ? stream.data() : &kEmpty, size, level);
    if (result != Z_OK) {
        std::free(buffer);
        engineLog().systemError("Failed compress memory stream (%i)", result);
        return false;
    }
    stream.adopt(buffer, static_cast<std::int32_t>(length), static_cast<std::int32_t>(bound));
    return true;
}

bool unpackMemoryStream(MemoryStream& stream, std::uint32_t unpackedSize) {
    static const std::uint8_t kEmpty = 0;
    const std::uint8_t* data = stream.size() > 0 ? stream.data() : &kEmpty;
    std::int32_t length = 0;
    std::uint8_t* buffer = unpackBuffer(data, static_cast<std::uint32_t>(stream.size()), unpackedSize, length);
    if (!buffer) return false;
    stream.adopt(buffer, length, static_cast<std::int32_t>(unpackedSize));
    return true;
}

bool unpackFromStream(MemoryStream& destination, MemoryStream& source, std::uint32_t unpackedSize) {
    destination.release();
    const std::int32_t position = source.tell();
    const std::int32_t left = position >= 0 && position < source.size() ? source.size() - position : 0;
    static const std::uint8_t kEmpty = 0;
    const std::uint8_t* data = left > 0 ? source.data() + position : &kEmpty;
    return unpackBytes(destination, data, static_cast<std::uint32_t>(left), unpackedSize);
}

std::int32_t writePackedStream(MemoryStream& source, int level, bool pack, DataStream& destination) {
    const std::uint32_t unpacked = static_cast<std::uint32_t>(source.size());
    bool packed = false;
    if (pack) {
        packed = packMemoryStream(source, level);
        if (!packed) engineLog().systemError("Can't compress memory data");
    }
    std::int32_t total = 0;
    if (packed) {
        std::uint8_t header[kHeaderSize];
        header[0] = 1;
        const std::uint32_t packedSize = static_cast<std::uint32_t>(source.size());
        for (int i = 0; i < 4; ++i) {
            header[1 + i] = static_cast<std::uint8_t>(packedSize >> (8 * i));
            header[5 + i] = static_cast<std::uint8_t>(unpacked >> (8 * i));
        }
        total = writeAll(destination, header, kHeaderSize);
        if (total < 0) return total;
    }
    // Raw form (packing not asked for, or failed): the bytes alone.
    const std::int32_t body = writeAll(destination, source.data(), source.size());
    if (body < 0) return body;
    return total + body;
}

std::int32_t readPackedStream(std::int32_t length, MemoryStream& destination, bool direct, DataStream& source) {
    destination.release();
    std::int32_t recordLength = length > 0 ? length : length < 0 ? source.size() : 0;
    if (recordLength < 0) recordLength = 0;
    const bool haveLength = recordLength > 0;
    if (haveLength && recordLength > bytesLeft(source)) {
        engineLog().error("Can't read packed stream: record of %i bytes, %i bytes left", recordLength,
                          bytesLeft(source));
        return -1;
    }

    bool headerRead = false;
    bool headerGood = false;
    std::uint8_t flag = 0;
    std::uint32_t packed = 0;
    std::uint32_t unpacked = 0;
    if (!haveLength || recordLength > kHeaderSize) {
        std::uint8_t header[kHeaderSize];
        const std::int32_t got = readExact(source, header, kHeaderSize);
        if (got < 0) return got;
        headerRead = true;
        flag = header[0];
        packed = u32At(header + 1);
        unpacked = u32At(header + 5);
        headerGood = flag <= 1;
        if (haveLength && static_cast<std::uint64_t>(packed) + kHeaderSize != static_cast<std::uint64_t>(recordLength))
            headerGood = false;
        // Without a length the header alone says how much follows: it must fit.
        if (headerGood && packed > static_cast<std::uint32_t>(bytesLeft(source))) {
            engineLog().error("Can't read packed stream: %u packed bytes, %i bytes left", packed, bytesLeft(source));
            return -1;
        }
    }

    if (headerGood && flag == 1) {
        if (!unpackedSizePlausible(packed, unpacked)) {
            engineLog().error("Can't read packed stream: unpacked size %u is out of range for %u packed bytes",
                              unpacked, packed);
            return -1;
        }
        auto* memory = direct ? dynamic_cast<MemoryStream*>(&source) : nullptr;
        if (memory) {
            const std::uint8_t* data = memory->data() + memory->tell();
            if (!unpackBytes(destination, data, packed, unpacked)) {
                engineLog().error("Can't decompress memory stream data");
                return -1;
            }
            return kHeaderSize;
        }
        if (!readBlock(destination, source, static_cast<std::int32_t>(packed))) {
            destination.release();
            return -1;
        }
        if (!unpackMemoryStream(destination, unpacked)) {
            destination.release();
            engineLog().error("Can't decompress memory stream data");
            return -1;
        }
        return kHeaderSize + static_cast<std::int32_t>(packed);
    }
    if (headerGood) {
        if (!readBlock(destination, source, static_cast<std::int32_t>(packed))) {
            destination.release();
            return -1;
        }
        return kHeaderSize + static_cast<std::int32_t>(packed);
    }

    // Raw: only where the record's length is known.
    if (!haveLength) return -1;
    if (headerRead) source.seek(-kHeaderSize, 1);
    if (!readBlock(destination, source, recordLength)) {
        destination.release();
        return -1;
    }
    return recordLength;
}

bool writePackedFile(std::string_view path, MemoryStream& source, int level, bool pack) {
    ensurePathFolders(path);
    std::unique_ptr<WinFileStream> file(
        WinFileStream::open(path, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS));
    if (!file) return false;
    return writePackedStream(source, level, pack, *file) >= 0;
}
