#include "foundation/XmlWriter.h"

#include <gtest/gtest.h>

#include "foundation/Math.h"
#include "support/TestSupport.h"

using testing_support::TempDir;
using testing_support::readFile;

namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n"
    "<?xml-stylesheet type='text/xsl' href=''?>\r\n";

}  // namespace

TEST(XmlWriter, SmallDocumentMatchesGoldenBytes) {
    TempDir dir;
    XmlWriter doc;
    XmlTag& a = doc.addTag("a");
    a.setAttribute("k", "%d", 1);
    a.setValue("v");
    ASSERT_TRUE(doc.saveFile(false, dir.file("out.txt").c_str(), nullptr, nullptr, nullptr));
    EXPECT_EQ(readFile(dir.file("out.xml")), kHead + "\r\n  <a k='1'>v</a>");
    EXPECT_FALSE(testing_support::exists(dir.file("out.txt")));
}

TEST(XmlWriter, TreeLayoutQuotingAndHeaderLines) {
    TempDir dir;
    XmlWriter doc;
    XmlTag& root = doc.addTag("my root");  // the space becomes "_"
    root.setAttribute("q", "it's");
    root.setAttribute("d", "say \"hi\"");
    root.setAttribute("n", "%s", "first");
    root.setAttribute("n", "%s", "second");  // replaced, not added
    root.addChild("empty");
    XmlTag& child = root.addChildValue("item", "%d<%d & %s", 1, 2, "x");
    child.addChild("leaf").setValue("z");
    XmlTag& later = doc.addTag("b");  // the first tag's reference stays valid
    later.setValue("1");
    root.setValue("t");
    XmlTag extra("extra");

    ASSERT_TRUE(doc.saveFile(true, dir.file("sub/dir/doc").c_str(), "objects.dtd", "view.xsl", &extra));
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n"
        "<!DOCTYPE objects SYSTEM \"objects.dtd\">\r\n"
        "<?xml-stylesheet type='text/xsl' href='view.xsl'?>\r\n"
        "\r\n  <my_root q=\"it's\" d='say &quot;hi&quot;' n='second'>t"
        "\r\n    <empty/>"
        "\r\n    <item>1&lt;2 &amp; x"
        "\r\n      <leaf>z</leaf>"
        "\r\n    </item>"
        "\r\n  </my_root>"
        "\r\n  <b>1</b>"
        "\r\n  <extra/>";
    EXPECT_EQ(readFile(dir.file("sub/dir/doc.xml")), expected);
    EXPECT_EQ(root.attributes().size(), 3u);
}

TEST(XmlWriter, EscapesAsNumericReferences) {
    struct Case {
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"!", "&#x0021;"},
        {"a\tb", "a&#x0009;b"},
        {"\x7F", "&#x007F;"},
        {"\xC0\xFF", "&#x0410;&#x044F;"},  // Cyrillic A and ya in Windows-1251
        {"'~ ", "'~ "},
        {"&\"<>", "&amp;&quot;&lt;&gt;"},
    };
    for (const Case& c : cases) EXPECT_EQ(xmlEscape(c.text), c.escaped) << c.text;
}

TEST(XmlWriter, LongValuesAreWrittenWhole) {
    TempDir dir;
    XmlWriter doc;
    const std::string big(10000, 'x');
    XmlTag& tag = doc.addTag("t");
    tag.setValue("%s%s", big.c_str(), "END");
    tag.setAttribute("a", "%s", big.c_str());
    doc.addTag("u").addChildValue("c", "%s", big.c_str());
    EXPECT_EQ(tag.value().size(), 10003u);
    ASSERT_TRUE(doc.saveFile(false, dir.file("big").c_str(), "", nullptr, nullptr));
    const std::string text = readFile(dir.file("big.xml"));
    EXPECT_NE(text.find("<t a='" + big + "'>" + big + "END</t>"), std::string::npos);
    EXPECT_NE(text.find("<c>" + big + "</c>"), std::string::npos);
}

TEST(XmlWriter, MatrixRowsAsVectors) {
    XmlTag tag("m");
    Matrix34 m = {{1, 0, 0, 0, 1, 0, 0, 0, 1, 2.5f, -3, 4}};
    const XmlTag& matrix = tag.addMatrix("pose", m);
    ASSERT_EQ(matrix.children().size(), 4u);
    EXPECT_EQ(matrix.children()[0].name(), "v-x");
    EXPECT_EQ(matrix.children()[3].name(), "c");
    const auto& attributes = matrix.children()[3].attributes();
    ASSERT_EQ(attributes.size(), 4u);
    EXPECT_EQ(attributes[0].name, "class");
    EXPECT_EQ(attributes[0].value, "Vector");
    EXPECT_EQ(attributes[1].value, "2.500000");
    EXPECT_EQ(attributes[2].value, "-3.000000");
    EXPECT_EQ(attributes[3].value, "4.000000");
}

TEST(XmlWriter, NoFileNameOrUnwritablePathWritesNothing) {
    TempDir dir;
    XmlWriter doc;
    doc.addTag("a");
    EXPECT_FALSE(doc.saveFile(false, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(doc.saveFile(false, "", nullptr, nullptr, nullptr));
    testing_support::writeFile(dir.file("file"), "x");
    // A folder below a plain file cannot be made.
    EXPECT_FALSE(doc.saveFile(false, dir.file("file/inner/doc").c_str(), nullptr, nullptr, nullptr));
    doc.release();
    EXPECT_TRUE(doc.tags().empty());
    EXPECT_TRUE(doc.fileName().empty());
}
