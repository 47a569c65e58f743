#include "foundation/PackedStream.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

using testing_support::ScopedGameCore;

namespace {

void fill(MemoryStream& s, const std::string& bytes) {
    s.release();
    if (!bytes.empty()) s.write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    s.setPosition(0);
}

std::string bytesOf(MemoryStream& s) {
    return s.size() > 0 ? std::string(reinterpret_cast<const char*>(s.data()), static_cast<std::size_t>(s.size()))
                        : std::string();
}

std::string block(std::size_t size) {
    std::string b;
    for (std::size_t i = 0; i < size; ++i) b += static_cast<char>('a' + i % 7);
    return b;
}

// Writes one record and returns the bytes written to the destination.
std::string writeRecord(const std::string& bytes, bool pack, int level = 9) {
    MemoryStream source;
    fill(source, bytes);
    MemoryStream out;
    EXPECT_GE(writePackedStream(source, level, pack, out), 0);
    return bytesOf(out);
}

std::int32_t readRecord(const std::string& record, std::int32_t length, bool direct, std::string& data) {
    MemoryStream source;
    fill(source, record);
    MemoryStream destination;
    const std::int32_t r = readPackedStream(length, destination, direct, source);
    data = bytesOf(destination);
    return r;
}

}  // namespace

TEST(PackedStream, PackedRecordRoundTripsWithAndWithoutLength) {
    ScopedGameCore core;
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{100}, std::size_t{70000}}) {
        const std::string data = block(size);
        const std::string record = writeRecord(data, true);
        ASSERT_GE(record.size(), 9u);
        EXPECT_EQ(record[0], 1);
        const std::int32_t length = static_cast<std::int32_t>(record.size());
        for (std::int32_t given : {0, length, -1}) {
            for (bool direct : {false, true}) {
                std::string back;
                const std::int32_t taken = readRecord(record, given, direct, back);
                EXPECT_EQ(taken, direct ? 9 : length) << size << " " << given;
                EXPECT_EQ(back, data) << size << " " << given << " " << direct;
            }
        }
    }
}

TEST(PackedStream, WriterLeavesPackedBytesInSource) {
    ScopedGameCore core;
    MemoryStream source;
    fill(source, block(100));
    MemoryStream out;
    const std::int32_t written = writePackedStream(source, 6, true, out);
    EXPECT_EQ(written, 9 + source.size());
    EXPECT_EQ(source.tell(), 0);
    EXPECT_EQ(bytesOf(out).substr(9), bytesOf(source));
}

TEST(PackedStream, RawRecordsNeedTheirLength) {
    ScopedGameCore core;
    struct Case {
        const char* what;
        std::string data;
    } cases[] = {
        {"five bytes, no header looked for", std::string("\x01\x02\x03\x04\x05", 5)},
        {"first byte 1, length test fails", std::string("\x01") + block(40)},
        {"plain text", block(300)},
    };
    for (const Case& c : cases) {
        const std::string record = writeRecord(c.data, false);
        EXPECT_EQ(record, c.data) << c.what;
        std::string back;
        EXPECT_EQ(readRecord(record, static_cast<std::int32_t>(record.size()), false, back),
                  static_cast<std::int32_t>(record.size()))
            << c.what;
        EXPECT_EQ(back, c.data) << c.what;
    }
    // Without a length a raw record is refused.
    std::string back;
    EXPECT_LT(readRecord(block(300), 0, false, back), 0);
}

TEST(PackedStream, PackedRecordWithOtherLengthIsReadRaw) {
    ScopedGameCore core;
    const std::string record = writeRecord(block(100), true) + "xyz";
    std::string back;
    EXPECT_EQ(readRecord(record, static_cast<std::int32_t>(record.size()), false, back),
              static_cast<std::int32_t>(record.size()));
    EXPECT_EQ(back, record);
}

TEST(PackedStream, FailedPackWritesTheRawForm) {
    ScopedGameCore core;
    const std::string data = block(50);
    const std::string record = writeRecord(data, true, 42);  // no such zlib level
    EXPECT_TRUE(core.log().contains("Failed compress memory stream ("));
    EXPECT_TRUE(core.log().contains("Can't compress memory data"));
    EXPECT_EQ(record, data);
    std::string back;
    EXPECT_EQ(readRecord(record, static_cast<std::int32_t>(record.size()), false, back), 50);
    EXPECT_EQ(back, data);
}

TEST(PackedStream, StoredFormIsRead) {
    ScopedGameCore core;
    const std::string data = block(30);
    std::string record("\0\x1e\0\0\0\x1e\0\0\0", 9);
    record += data;
    for (std::int32_t length : {0, 39, -1}) {
        std::string back;
        EXPECT_EQ(readRecord(record, length, false, back), 39) << length;
        EXPECT_EQ(back, data) << length;
    }
}

TEST(PackedStream, ShortWritesFail) {
    ScopedGameCore core;
    for (bool pack : {false, true}) {
        // A destination with room for part of the record only.
        std::string room(12, '\0');
        MemoryStream destination(room.data(), static_cast<std::int32_t>(room.size()));
        MemoryStream source;
        fill(source, block(100));
        EXPECT_LT(writePackedStream(source, 9, pack, destination), 0) << pack;
    }
    // A full disk takes nothing.
    if (fileExists("/dev/full")) {
        MemoryStream source;
        fill(source, block(100));
        EXPECT_FALSE(writePackedFile("/dev/full", source, 9, false));
        fill(source, block(100));
        EXPECT_FALSE(writePackedFile("/dev/full", source, 9, true));
    }
}

TEST(PackedStream, DamagedHeadersAndDataAreRefusedBeforeAllocation) {
    ScopedGameCore core;
    const std::string good = writeRecord(block(1000), true);
    auto withU32 = [&](std::size_t at, std::uint32_t v) {
        std::string r = good;
        for (int i = 0; i < 4; ++i) r[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
        return r;
    };
    std::string corrupt = good;
    corrupt[12] = static_cast<char>(corrupt[12] ^ 0x5A);
    corrupt[20] = static_cast<char>(corrupt[20] ^ 0x33);
    struct Case {
        const char* what;
        std::string record;
        const char* message;
    } cases[] = {
        {"packed size past the end", withU32(1, 0x7FFFFFF0u), "packed bytes"},
        {"unpacked size beyond any ratio", withU32(5, 0xFFFFFFF0u), "out of range"},
        {"truncated body", good.substr(0, good.size() - 5), "packed bytes"},
        {"truncated header", good.substr(0, 6), nullptr},
        {"corrupt zlib data", corrupt, "Can't decompress memory stream data"},
    };
    for (const Case& c : cases) {
        for (bool direct : {false, true}) {
            std::string back = "left over";
            EXPECT_EQ(readRecord(c.record, 0, direct, back), -1) << c.what;
            EXPECT_TRUE(back.empty()) << c.what;
            if (c.message) {
                EXPECT_TRUE(core.log().contains(c.message)) << c.what;
            }
        }
    }
    EXPECT_TRUE(core.log().contains("Failed decompress memory stream ("));
}

TEST(PackedStream, LengthBeyondSourceIsRefused) {
    ScopedGameCore core;
    std::string back;
    EXPECT_EQ(readRecord(block(20), 500, false, back), -1);
}

TEST(PackedStream, PackAndUnpackInPlace) {
    ScopedGameCore core;
    const std::string data = block(5000);
    MemoryStream s;
    fill(s, data);
    ASSERT_TRUE(packMemoryStream(s, 9));
    EXPECT_LT(s.size(), 5000);
    MemoryStream copy;
    fill(copy, bytesOf(s));
    MemoryStream unpacked;
    ASSERT_TRUE(unpackFromStream(unpacked, copy, 5000));
    EXPECT_EQ(copy.tell(), 0);
    EXPECT_EQ(bytesOf(unpacked), data);
    ASSERT_TRUE(unpackMemoryStream(s, 5000));
    EXPECT_EQ(bytesOf(s), data);
    EXPECT_FALSE(unpackMemoryStream(s, 5000));  // not zlib data any more: unchanged
    EXPECT_EQ(bytesOf(s), data);
}

TEST(PackedStream, PackedFileIsWrittenWithItsFolders) {
    ScopedGameCore core;
    testing_support::TempDir dir;
    const std::string path = dir.file("a/b/record.bin");
    MemoryStream s;
    fill(s, block(300));
    ASSERT_TRUE(writePackedFile(path, s, 9, true));
    std::string back;
    const std::string record = testing_support::readFile(path);
    EXPECT_GT(readRecord(record, -1, false, back), 0);
    EXPECT_EQ(back, block(300));
}
