#include "foundation/TextRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/DataStream.h"
#include "foundation/Log.h"
#include "support/TestSupport.h"

namespace {

using testing_support::ScopedGameCore;

void fill(MemoryStream& stream, const std::string& text) {
    stream.write(text.data(), static_cast<std::int32_t>(text.size()));
    stream.setPosition(0);
}

TEST(TextRecord, LineReaderBreaks) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\r\nb\n\rc", {"a", "b", "c"}},
        {"a\r\rb\n\nc", {"a", "b", "c"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\nb", {"", "b"}},
        {"last\n", {"last"}},
        {"no break", {"no break"}},
    };
    char buffer[kRecordLineSize];
    for (const Case& c : cases) {
        MemoryStream stream;
        fill(stream, c.text);
        std::vector<std::string> lines;
        std::int32_t total = 0;
        while (stream.tell() < stream.size()) {
            const std::int32_t n = readRecordLine(stream, buffer);
            ASSERT_GT(n, 0);
            total += n;
            lines.emplace_back(buffer);
        }
        EXPECT_EQ(lines, c.lines) << c.text;
        EXPECT_EQ(total, static_cast<std::int32_t>(c.text.size())) << c.text;
        EXPECT_EQ(stream.lineNumber, static_cast<std::int32_t>(c.lines.size()));
    }

    // A line longer than the buffer is cut, and the next line still follows.
    MemoryStream stream;
    fill(stream, std::string(3000, 'x') + "\ny");
    EXPECT_EQ(readRecordLine(stream, buffer), 3001);
    EXPECT_EQ(std::string(buffer), std::string(kRecordLineSize - 1, 'x'));
    readRecordLine(stream, buffer);
    EXPECT_STREQ(buffer, "y");
}

TEST(TextRecord, ReadsFieldValues) {
    ScopedGameCore core;
    MemoryStream stream;
    fill(stream, "scale 1 2.5 -3\r\nname    box\r\nnobreak\r\ntail end");
    char value[64];
    std::int32_t read = -1;
    ASSERT_EQ(readValidData(stream, "scale", "", read, value, sizeof(value), "f.txt", false), 0);
    EXPECT_STREQ(value, "1 2.5 -3");
    EXPECT_EQ(read, 16);
    ASSERT_EQ(readValidData(stream, "name", "", read, value, sizeof(value), "f.txt", false), 0);
    EXPECT_STREQ(value, "box");
    // "nobreak" holds no blank and is skipped; the last line has no break.
    ASSERT_EQ(readValidData(stream, "tail", "", read, value, sizeof(value), "f.txt", false), 0);
    EXPECT_STREQ(value, "end");
    EXPECT_EQ(stream.lineNumber, 4);

    // At the end: -2, nothing logged, bytes read untouched.
    read = 77;
    EXPECT_EQ(readValidData(stream, "more", "", read, value, sizeof(value), "f.txt", false), -2);
    EXPECT_EQ(read, 77);
    EXPECT_EQ(core.log().recordCount(), 0u);

    // A value longer than the buffer is cut to fit.
    MemoryStream longer;
    fill(longer, "text abcdefghij\n");
    char small[5];
    ASSERT_EQ(readValidData(longer, "text", "", read, small, sizeof(small), "f.txt", false), 0);
    EXPECT_STREQ(small, "abcd");
}

TEST(TextRecord, MismatchesRestoreTheStream) {
    ScopedGameCore core;
    MemoryStream stream;
    fill(stream, "position 1 2 3\r\nrotation 0 0 0 1\r\n\r\nposition 4 5 6\r\n");
    char value[64];
    std::int32_t read = 0;
    ASSERT_EQ(readValidData(stream, "position", "", read, value, sizeof(value), "poses.txt", false), 0);

    const std::int32_t position = stream.tell();
    EXPECT_EQ(readValidData(stream, "scale", "", read, value, sizeof(value), "poses.txt", false), -3);
    EXPECT_TRUE(core.log().contains("[poses.txt] line 2: readValidData: Expected [scale] field, but found [rotation]."));
    EXPECT_EQ(stream.tell(), position);
    EXPECT_EQ(stream.lineNumber, 1);

    ASSERT_EQ(readValidData(stream, "rotation", "", read, value, sizeof(value), "poses.txt", false), 0);
    // The empty line between records: refused, then allowed.
    const std::int32_t beforeEmpty = stream.tell();
    EXPECT_EQ(readValidData(stream, "scale", "position", read, value, sizeof(value), "poses.txt", false), -2);
    EXPECT_TRUE(core.log().contains("[poses.txt] line 3: readValidData: Unexpected empty line. Expected field [scale]"));
    EXPECT_EQ(stream.tell(), beforeEmpty);

    // The next record's first field stops the read at the start of its line.
    EXPECT_EQ(readValidData(stream, "scale", "position", read, value, sizeof(value), "poses.txt", true), -4);
    EXPECT_EQ(stream.lineNumber, 3);
    ASSERT_EQ(readValidData(stream, "position", "", read, value, sizeof(value), "poses.txt", false), 0);
    EXPECT_STREQ(value, "4 5 6");
    EXPECT_EQ(stream.lineNumber, 4);
}

// A file stream cut short: it claims more bytes than its reads give, and
// reads at its end give 0, as a file does. It gives up after many reads so
// that a reader that keeps asking ends.
class CutFileStream : public DataStream {
public:
    CutFileStream(const std::string& text, std::int32_t claimed) : text_(text), claimed_(claimed) {}
    bool reserve(std::int32_t) override { return false; }
    std::int32_t write(const void*, std::int32_t) override { return 0; }
    std::int32_t read(void* buffer, std::int32_t count) override {
        const auto left = static_cast<std::int32_t>(text_.size()) - position_;
        if (left <= 0) return ++emptyReads > 1000 ? -1 : 0;
        const std::int32_t n = std::min(count, left);
        std::memcpy(buffer, text_.data() + position_, static_cast<std::size_t>(n));
        position_ += n;
        return n;
    }
    std::int32_t tell() override { return position_; }
    void setPosition(std::int32_t position) override { position_ = position; }
    std::int32_t size() override { return claimed_; }

    int emptyReads = 0;

private:
    std::string text_;
    std::int32_t claimed_;
    std::int32_t position_ = 0;
};

TEST(TextRecord, StreamCutShortEndsTheRead) {
    ScopedGameCore core;
    CutFileStream stream("name box\n\n", 4096);
    char value[64];
    std::int32_t read = 0;
    ASSERT_EQ(readValidData(stream, "name", "", read, value, sizeof(value), "cut.txt", true), 0);
    const std::int32_t before = stream.tell();
    EXPECT_EQ(readValidData(stream, "scale", "", read, value, sizeof(value), "cut.txt", true), -2);
    EXPECT_LT(stream.emptyReads, 5);
    EXPECT_EQ(stream.tell(), before);
}

}  // namespace
