// XML document built element by element.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "support/Markup.h"

namespace fs = std::filesystem;

namespace {

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

bool HaveXmllint() { return std::system("command -v xmllint >/dev/null 2>&1") == 0; }

// Runs xmllint --noout on the text; returns its messages, or "ok".
std::string Xmllint(const std::string& xml) {
    const fs::path path = fs::temp_directory_path() /
                          ("pellora-markup-" + std::to_string(::getpid()) + "-" +
                           std::to_string(std::rand()) + ".xml");
    {
        std::ofstream out(path, std::ios::binary);
        out << xml;
    }
    std::string output;
    const std::string command = "xmllint --noout '" + path.string() + "' 2>&1";
    int status = -1;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[1024];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, n);
        }
        status = pclose(pipe);
    }
    fs::remove(path);
    return status == 0 ? "ok" : output;
}

// The KML of a block read-out with two records, built in the order that the
// track-log setting page uses.
CMarkup BuildReadoutKml() {
    CMarkup xml;
    xml.AddElement("kml");
    xml.AddAttribute("xmlns", "http://earth.google.com/kml/2.1");
    xml.AddChildElement("Document");
    xml.EnterElement();
    xml.AddChildElement("Style");
    xml.EnterElement();
    xml.AddAttribute("id", "roadStyle");
    xml.AddChildElement("LineStyle");
    xml.EnterElement();
    xml.AddChildElement("color", "7fcf0064");
    xml.AddChildElement("width", "6");
    xml.LeaveElement();
    xml.LeaveElement();
    xml.AddChildElement("Open", "1");
    xml.AddChildElement("description", "Track Log");
    xml.AddChildElement("name", "Track Log");
    xml.AddChildElement("Placemark");
    xml.EnterElement();
    xml.AddChildElement("name", "Route");
    xml.AddChildElement("styleUrl", "#roadStyle");
    xml.AddChildElement("MultiGeometry");
    xml.EnterElement();
    xml.AddChildElement("LineString");
    xml.EnterElement();
    xml.AddChildElement("coordinates",
                        "121.5000000,24.7500000,127.50 121.5000100,24.7500100,128.00 ");
    xml.LeaveElement();
    xml.LeaveElement();
    xml.LeaveElement();
    xml.AddChildElement("Folder");
    xml.EnterElement();
    xml.AddChildElement("name", "Waypoints");
    const char* times[2] = {"Mon Dec 11 12:00:00 2006\n", "Mon Dec 11 12:00:05 2006\n"};
    const char* styles[2] = {"root://styleMaps#default+nicon=0x406+hicon=0x416",
                             "root://styleMaps#default+nicon=0x467+hicon=0x477"};
    const char* points[2] = {"121.5000000,24.7500000,127.50", "121.5000100,24.7500100,128.00"};
    for (int i = 0; i < 2; ++i) {
        xml.AddChildElement("Placemark");
        xml.EnterElement();
        xml.AddChildElement("name", times[i]);
        xml.AddChildElement("styleUrl", styles[i]);
        xml.AddChildElement("Point");
        xml.EnterElement();
        xml.AddChildElement("coordinates", points[i]);
        xml.LeaveElement();
        xml.LeaveElement();
    }
    return xml;
}

}  // namespace

// ---------------------------------------------------------------------------
// Output form

TEST(MarkupOutput, SmallDocumentByteForByte) {
    CMarkup xml;
    EXPECT_TRUE(xml.AddElement("kml"));
    EXPECT_TRUE(xml.AddAttribute("xmlns", "V"));
    EXPECT_TRUE(xml.AddChildElement("Document"));
    EXPECT_TRUE(xml.EnterElement());
    EXPECT_TRUE(xml.AddChildElement("name", "x"));
    EXPECT_EQ(xml.GetDocument(),
              "<kml xmlns=\"V\">\r\n<Document>\r\n<name>x</name>\r\n</Document>\r\n</kml>\r\n");
}

TEST(MarkupOutput, ReadoutKmlLineByLine) {
    const CMarkup xml = BuildReadoutKml();
    EXPECT_EQ(xml.GetDocument(),
              Lines({"<kml xmlns=\"http://earth.google.com/kml/2.1\">", "<Document>",
                     "<Style id=\"roadStyle\">", "<LineStyle>", "<color>7fcf0064</color>",
                     "<width>6</width>", "</LineStyle>", "</Style>", "<Open>1</Open>",
                     "<description>Track Log</description>", "<name>Track Log</name>",
                     "<Placemark>", "<name>Route</name>", "<styleUrl>#roadStyle</styleUrl>",
                     "<MultiGeometry>", "<LineString>",
                     "<coordinates>121.5000000,24.7500000,127.50 "
                     "121.5000100,24.7500100,128.00 </coordinates>",
                     "</LineString>", "</MultiGeometry>", "</Placemark>", "<Folder>",
                     "<name>Waypoints</name>", "<Placemark>",
                     "<name>Mon Dec 11 12:00:00 2006\n</name>",
                     "<styleUrl>root://styleMaps#default+nicon=0x406+hicon=0x416</styleUrl>",
                     "<Point>", "<coordinates>121.5000000,24.7500000,127.50</coordinates>",
                     "</Point>", "</Placemark>", "<Placemark>",
                     "<name>Mon Dec 11 12:00:05 2006\n</name>",
                     "<styleUrl>root://styleMaps#default+nicon=0x467+hicon=0x477</styleUrl>",
                     "<Point>", "<coordinates>121.5000100,24.7500100,128.00</coordinates>",
                     "</Point>", "</Placemark>", "</Folder>", "</Document>", "</kml>"}));
    if (HaveXmllint()) {
        EXPECT_EQ(Xmllint("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + xml.GetDocument()),
                  "ok");
    }
}

TEST(MarkupOutput, ElementWithoutTextIsOneTagAndReopensForChildren) {
    CMarkup xml;
    xml.AddElement("a");
    xml.AddChildElement("e");
    xml.AddChildElement("f", "");
    EXPECT_EQ(xml.GetDocument(), Lines({"<a>", "<e/>", "<f/>", "</a>"}));
    ASSERT_TRUE(xml.EnterElement());  // into f
    ASSERT_TRUE(xml.AddChildElement("g", "1"));
    EXPECT_EQ(xml.GetDocument(), Lines({"<a>", "<e/>", "<f>", "<g>1</g>", "</f>", "</a>"}));
    // An empty top-level element reopens too, and keeps its attribute.
    CMarkup top;
    top.AddElement("kml");
    top.AddAttribute("v", "1");
    EXPECT_EQ(top.GetDocument(), "<kml v=\"1\"/>\r\n");
    top.AddChildElement("x");
    EXPECT_EQ(top.GetDocument(), Lines({"<kml v=\"1\">", "<x/>", "</kml>"}));
}

TEST(MarkupOutput, AttributesAddedLateShiftEverythingAfterThem) {
    CMarkup xml = BuildReadoutKml();
    // Back out to the top element and give it and Document another attribute.
    while (xml.LeaveElement()) {
    }
    EXPECT_EQ(xml.GetTagName(), "kml");
    ASSERT_TRUE(xml.AddAttribute("xmlns:gx", "urn:x"));
    ASSERT_TRUE(xml.EnterElement());
    EXPECT_EQ(xml.GetTagName(), "Document");
    ASSERT_TRUE(xml.AddAttribute("id", "d1"));
    ASSERT_TRUE(xml.AddAttribute("id", "d22"));  // replaced in place
    ASSERT_TRUE(xml.AddChildElement("tail", "end"));
    const std::string doc = xml.GetDocument();
    EXPECT_EQ(doc.find("<kml xmlns=\"http://earth.google.com/kml/2.1\" xmlns:gx=\"urn:x\">\r\n"
                       "<Document id=\"d22\">\r\n"),
              0u);
    const std::string ending = Lines({"</Folder>", "<tail>end</tail>", "</Document>", "</kml>"});
    EXPECT_EQ(doc.substr(doc.size() - ending.size()), ending);
}

// ---------------------------------------------------------------------------
// Positions and failures

TEST(MarkupPosition, FailedMovesAndAddsChangeNothing) {
    CMarkup xml;
    EXPECT_FALSE(xml.LeaveElement());
    EXPECT_FALSE(xml.EnterElement());
    EXPECT_FALSE(xml.AddChildElement("x"));
    EXPECT_FALSE(xml.AddAttribute("a", "b"));
    EXPECT_FALSE(xml.AddElement("a b"));  // not an XML name
    EXPECT_FALSE(xml.AddElement("1a"));
    EXPECT_EQ(xml.GetDocument(), "");
    EXPECT_FALSE(xml.IsWellFormed());
    ASSERT_TRUE(xml.AddElement("kml"));
    EXPECT_TRUE(xml.IsWellFormed());
    EXPECT_FALSE(xml.AddElement("second"));  // one top-level element only
    EXPECT_FALSE(xml.LeaveElement());
    EXPECT_FALSE(xml.AddAttribute("x=\"1\" y", "2"));
    EXPECT_FALSE(xml.SetDocument("<a/>"));  // documents are built, not parsed
    EXPECT_FALSE(xml.GetError().empty());
    // The position is still on kml.
    EXPECT_EQ(xml.GetTagName(), "kml");
    ASSERT_TRUE(xml.AddAttribute("gx:a-1.b", "b"));
    ASSERT_TRUE(xml.AddChildElement("Document"));
    EXPECT_EQ(xml.GetDocument(), Lines({"<kml gx:a-1.b=\"b\">", "<Document/>", "</kml>"}));
    EXPECT_FALSE(xml.SetDocument(""));
    EXPECT_EQ(xml.GetDocument(), "");
    EXPECT_TRUE(xml.AddElement("again"));
}

TEST(MarkupPosition, EnterAndLeaveMoveBetweenLevels) {
    CMarkup xml;
    xml.AddElement("r");
    xml.AddChildElement("a");
    ASSERT_TRUE(xml.EnterElement());        // parent r, main a
    ASSERT_TRUE(xml.AddElement("b"));       // sibling of a
    ASSERT_TRUE(xml.EnterElement());        // parent b, no main
    EXPECT_EQ(xml.GetNodeType(), 0);
    EXPECT_FALSE(xml.EnterElement());
    ASSERT_TRUE(xml.AddElement("c"));       // first child of b
    ASSERT_TRUE(xml.LeaveElement());        // main b, child c
    EXPECT_EQ(xml.GetTagName(), "b");
    ASSERT_TRUE(xml.AddChildElement("d"));  // after c
    ASSERT_TRUE(xml.LeaveElement());        // main r
    ASSERT_TRUE(xml.AddChildElement("e"));  // after b
    EXPECT_EQ(xml.GetDocument(),
              Lines({"<r>", "<a/>", "<b>", "<c/>", "<d/>", "</b>", "<e/>", "</r>"}));
}

// ---------------------------------------------------------------------------
// Escaping

TEST(MarkupEscape, TextAndAttributeValues) {
    EXPECT_EQ(CMarkup::EscapeText("a&b<c>d", false), "a&amp;b&lt;c>d");
    EXPECT_EQ(CMarkup::EscapeText("x]]>y ]>", false), "x]]&gt;y ]>");
    EXPECT_EQ(CMarkup::EscapeText("say \"hi\" & 'bye' <x>", true),
              "say &quot;hi&quot; &amp; &apos;bye&apos; &lt;x>");
    EXPECT_EQ(CMarkup::EscapeText("it's \"q\"", false), "it's \"q\"");
    // Multibyte characters are copied whole; bytes that are no character, and
    // control characters XML does not allow, become U+FFFD.
    EXPECT_EQ(CMarkup::EscapeText("東京 😀\t\n", false), "東京 😀\t\n");
    EXPECT_EQ(CMarkup::EscapeText("a\x01" "b\xFF" "c\xE6\x97", false),
              "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(CMarkup::EscapeText("\xED\xA0\x80", false),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // an encoded surrogate
}

TEST(MarkupEscape, EscapedDocumentIsWellFormed) {
    CMarkup xml;
    xml.AddElement("kml");
    xml.AddAttribute("note", "a<b & \"c\" 'd'");
    xml.AddChildElement("name", "a&b<c");
    xml.AddChildElement("cdata", "]]> <![CDATA[ x ]]>");
    xml.AddChildElement("bad", "\x02\xC3");
    xml.AddChildElement("jp", "ペロラ");
    const std::string doc = xml.GetDocument();
    EXPECT_NE(doc.find("<name>a&amp;b&lt;c</name>\r\n"), std::string::npos);
    EXPECT_NE(doc.find("<kml note=\"a&lt;b &amp; &quot;c&quot; &apos;d&apos;\">"),
              std::string::npos);
    if (!HaveXmllint()) {
        GTEST_SKIP() << "xmllint not installed";
    }
    EXPECT_EQ(Xmllint(doc), "ok");
    // The check itself tells a broken document.
    EXPECT_NE(Xmllint("<name>a&b<c</name>\r\n"), "ok");
}

// A reader hands back exactly the CR, TAB and LF that went in: text keeps TAB
// and LF raw, everything else goes as a character reference.
TEST(MarkupEscape, LineBreaksAndTabsSurviveAReader) {
    EXPECT_EQ(CMarkup::EscapeText("a\tb\nc\rd", false), "a\tb\nc&#13;d");
    EXPECT_EQ(CMarkup::EscapeText("a\tb\nc\rd", true), "a&#9;b&#10;c&#13;d");
    CMarkup xml;
    xml.AddElement("r");
    xml.AddAttribute("v", "1\t2\n3\r\n4");
    xml.AddChildElement("t", "x\r\ny\rz\t");
    const std::string doc = xml.GetDocument();
    EXPECT_EQ(doc, "<r v=\"1&#9;2&#10;3&#13;&#10;4\">\r\n<t>x&#13;\ny&#13;z\t</t>\r\n</r>\r\n");
    if (!HaveXmllint()) {
        GTEST_SKIP() << "xmllint not installed";
    }
    // xmllint reads the values back; od shows them byte by byte.
    const fs::path path = fs::temp_directory_path() / ("pellora-markup-cr-" + std::to_string(::getpid()) + ".xml");
    std::ofstream(path, std::ios::binary) << doc;
    auto read = [&](const std::string& xpath) {
        std::string out;
        if (std::FILE* pipe = popen(("xmllint --xpath '" + xpath + "' '" + path.string() + "'").c_str(), "r")) {
            char buffer[256];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            pclose(pipe);
        }
        if (!out.empty() && out.back() == '\n') {
            out.pop_back();  // xmllint ends its answer with a line
        }
        return out;
    };
    EXPECT_EQ(read("string(/r/@v)"), "1\t2\n3\r\n4");
    EXPECT_EQ(read("string(/r/t)"), "x\r\ny\rz\t");
    fs::remove(path);
}

TEST(MarkupName, NamesXmlRefusesAreRefused) {
    for (const char* good : {"a", "gx:b-1.c", "_x", "名前", "é", "a·b", "x\xCC\x81", "\xF0\x90\x80\x80"}) {
        EXPECT_TRUE(CMarkup::IsXmlName(good)) << good;
    }
    // Invalid UTF-8, ×, ÷, no-break space, zero-width space, ideographic
    // space, a combining mark first, a digit first.
    for (const char* bad : {"a\xFF", "\xC3", "a\xC3\x97", "a\xC3\xB7", "a\xC2\xA0", "a\xE2\x80\x8B",
                            "a\xE3\x80\x80", "\xCC\x81x", "1a", "a b", ""}) {
        EXPECT_FALSE(CMarkup::IsXmlName(bad)) << bad;
    }
    CMarkup xml;
    EXPECT_FALSE(xml.AddElement("a\xC3\x97"));
    ASSERT_TRUE(xml.AddElement("a"));
    EXPECT_FALSE(xml.AddAttribute("b\xE3\x80\x80", "1"));
    EXPECT_FALSE(xml.AddChildElement("\x80"));
    EXPECT_EQ(xml.GetDocument(), "<a/>\r\n");
}

// ---------------------------------------------------------------------------
// Random building against a tree model of the output form

namespace {

struct Node {
    std::string name;
    std::string text;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::unique_ptr<Node>> children;
    Node* parent = nullptr;
};

void Serialise(const Node& node, std::string& out) {
    std::string tag = "<" + node.name;
    for (const auto& [name, value] : node.attributes) {
        tag += " " + name + "=\"" + CMarkup::EscapeText(value, true) + "\"";
    }
    if (!node.children.empty()) {
        out += tag + ">\r\n";
        for (const auto& child : node.children) {
            Serialise(*child, out);
        }
        out += "</" + node.name + ">\r\n";
    } else if (!node.text.empty()) {
        out += tag + ">" + CMarkup::EscapeText(node.text, false) + "</" + node.name + ">\r\n";
    } else {
        out += tag + "/>\r\n";
    }
}

}  // namespace

TEST(MarkupModel, RandomBuildsMatchATreeModel) {
    std::mt19937 random(20240611);
    const char* names[] = {"a", "Placemark", "name", "gx:b"};
    const char* texts[] = {"", "x", "a&b", "<t>", "時刻\n", "1\t2\r3"};
    const char* values[] = {"v", "\"q\"", "a<b", "'", "\t\r\n"};
    for (int round = 0; round < 60; ++round) {
        CMarkup xml;
        Node root;  // holds the top element
        Node* parent = &root;
        Node* main = nullptr;
        Node* child = nullptr;
        for (int step = 0; step < 80; ++step) {
            const int op = static_cast<int>(random() % 5);
            const std::string name = names[random() % 4];
            const std::string text = texts[random() % 6];
            if (op == 0) {  // AddElement
                const bool ok = xml.AddElement(name, text);
                const bool expected = parent != &root || root.children.empty();
                ASSERT_EQ(ok, expected);
                if (ok) {
                    auto node = std::make_unique<Node>(Node{name, text, {}, {}, parent});
                    main = node.get();
                    parent->children.push_back(std::move(node));
                    child = nullptr;
                }
            } else if (op == 1) {  // AddChildElement
                // Children only go into elements without text (no mixed content).
                if (main && !main->text.empty()) {
                    continue;
                }
                const bool ok = xml.AddChildElement(name, text);
                ASSERT_EQ(ok, main != nullptr);
                if (ok) {
                    auto node = std::make_unique<Node>(Node{name, text, {}, {}, main});
                    child = node.get();
                    main->children.push_back(std::move(node));
                }
            } else if (op == 2) {  // AddAttribute
                const std::string attribute = "k" + std::to_string(random() % 3);
                const std::string value = values[random() % 5];
                ASSERT_EQ(xml.AddAttribute(attribute, value), main != nullptr);
                if (main) {
                    bool replaced = false;
                    for (auto& [n, v] : main->attributes) {
                        if (n == attribute) {
                            v = value;
                            replaced = true;
                        }
                    }
                    if (!replaced) {
                        main->attributes.emplace_back(attribute, value);
                    }
                }
            } else if (op == 3) {  // EnterElement
                if (main && !main->text.empty()) {
                    continue;
                }
                ASSERT_EQ(xml.EnterElement(), main != nullptr);
                if (main) {
                    parent = main;
                    main = child;
                    child = nullptr;
                }
            } else {  // LeaveElement
                ASSERT_EQ(xml.LeaveElement(), parent != &root);
                if (parent != &root) {
                    child = main;
                    main = parent;
                    parent = parent->parent;
                }
            }
            std::string expected;
            for (const auto& top : root.children) {
                Serialise(*top, expected);
            }
            ASSERT_EQ(xml.GetDocument(), expected) << "round " << round << " step " << step;
        }
        if (round < 5 && HaveXmllint() && xml.IsWellFormed()) {
            EXPECT_EQ(Xmllint(xml.GetDocument()), "ok");
        }
    }
}
