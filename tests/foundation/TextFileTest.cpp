#include "foundation/TextFile.h"

#include <gtest/gtest.h>

#include "foundation/DataStream.h"
#include "foundation/FilePath.h"
#include "support/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;

Lines split(const std::string& text, bool raw) {
    TextFile file;
    splitLines(file, text, raw);
    EXPECT_EQ(file.text, text);
    return file.lines;
}

TEST(TextFile, SplitModes) {
    struct Case {
        std::string text;
        Lines raw;
        Lines trimmed;
    };
    const Case cases[] = {
        {"", {""}, {}},
        {"a\r\nb\r\n", {"a", "b"}, {"a", "b"}},
        {"a\nb", {"a", "b"}, {"a", "b"}},
        {"a\rb\n\rc", {"a", "b", "c"}, {"a", "b", "c"}},
        {"a\r\n\r\nb", {"a", "", "b"}, {"a", "b"}},
        {"a\n\nb", {"a", "b"}, {"a", "b"}},
        {"a\r\n\rb", {"a", "b"}, {"a", "b"}},
        {"  x  \r\n   \r\n\ty", {"  x  ", "   ", "\ty"}, {"x", "\ty"}},
        {std::string("a\0b\nc", 5), {std::string("a\0b", 3), "c"}, {std::string("a\0b", 3), "c"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split(c.text, true), c.raw) << "raw";
        EXPECT_EQ(split(c.text, false), c.trimmed) << "trimmed";
    }
}

TEST(TextFile, LinesAreAppended) {
    TextFile file;
    splitLines(file, "a", false);
    splitLines(file, "b\nc", false);
    EXPECT_EQ(file.lines, (Lines{"a", "b", "c"}));
    EXPECT_EQ(file.lineCount(), 3);
    EXPECT_EQ(file.text, "b\nc");
}

TEST(TextFile, ReadTextLinesStopsBehindNul) {
    const std::string bytes("a\nb\0c\nd", 7);
    MemoryStream stream;
    stream.write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream.setPosition(0);

    TextFile first;
    ASSERT_TRUE(readTextLines(first, stream));
    EXPECT_EQ(first.lines, (Lines{"a", "b"}));
    EXPECT_EQ(stream.tell(), 4);

    TextFile second;
    ASSERT_TRUE(readTextLines(second, stream));
    EXPECT_EQ(second.lines, (Lines{"c", "d"}));

    // At the end: an empty text, no lines.
    TextFile none;
    EXPECT_TRUE(readTextLines(none, stream));
    EXPECT_TRUE(none.lines.empty());
}

TEST(TextFile, ReadTextLinesReadsPastOneMebibyte) {
    std::string text(0x100000 + 10, 'x');
    text[0x100000 - 1] = '\n';
    text += "\ntail";
    MemoryStream stream;
    stream.write(text.data(), static_cast<std::int32_t>(text.size()));
    stream.setPosition(0);
    TextFile file;
    ASSERT_TRUE(readTextLines(file, stream));
    ASSERT_EQ(file.lines.size(), 3u);
    EXPECT_EQ(file.lines[1], std::string(10, 'x'));
    EXPECT_EQ(file.lines[2], "tail");
}

TEST(TextFile, LoadFileLinesAndMissingFile) {
    testing_support::TempDir dir;
    ASSERT_TRUE(testing_support::writeFile(dir.file("t.txt"), " one \r\ntwo\r\n"));
    TextFile file;
    loadTextFileLines(FilePath(dir.file("t.txt")), file, false);
    EXPECT_EQ(file.lines, (Lines{"one", "two"}));
    EXPECT_NE(file.lastWriteTime, 0u);
    EXPECT_EQ(readTextFile(FilePath(dir.file("t.txt"))), " one \r\ntwo\r\n");

    TextFile trimmed;
    trimmed.lastWriteTime = 77;
    loadTextFileLines(FilePath(dir.file("missing.txt")), trimmed, false);
    EXPECT_TRUE(trimmed.lines.empty());
    EXPECT_EQ(trimmed.lastWriteTime, 77u);

    TextFile raw;
    loadTextFileLines(FilePath(dir.file("missing.txt")), raw, true);
    EXPECT_EQ(raw.lines, Lines{""});
    EXPECT_EQ(readTextFile(FilePath(dir.file("missing.txt"))), "");
    EXPECT_EQ(openFileStream(FilePath(dir.file("missing.txt"))), nullptr);
}

TEST(TextFile, ReadStreamToStringFromPosition) {
    MemoryStream stream;
    stream.write("abcdef", 6);
    stream.setPosition(2);
    std::string text = "old";
    readStreamToString(text, stream);
    EXPECT_EQ(text, "cdef");
    readStreamToString(text, stream);
    EXPECT_EQ(text, "");
}

}  // namespace
