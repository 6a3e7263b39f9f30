// An XML document held as one text and edited in place, element by element.
//
// The document starts empty and is built with AddElement, AddChildElement
// and AddAttribute at a current position that EnterElement and LeaveElement
// move. Every element stands on its own line ending CR LF, with no
// indentation:
//
//   <kml xmlns="V">
//   <Document>
//   <name>x</name>
//   </Document>
//   </kml>
//
// Text and attribute values are escaped so that the document is always
// well-formed XML. Text is UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CMarkup {
public:
    // Offsets into the document of one element's tags, and its links (indices
    // into the span table, 0 = none). Span 0 stands for the document. An empty element "<a/>" has
    // startTagRight == endTagLeft + 1 (endTagLeft is its "/").
    struct ElementSpan {
        int startTagLeft = 0;
        int startTagRight = 0;
        int endTagLeft = 0;
        int endTagRight = 0;
        int parentSpan = 0;
        int firstChildSpan = 0;
        int nextSiblingSpan = 0;
        int lastChildSpan = 0;

        bool IsEmptyElement() const { return startTagRight == endTagLeft + 1; }
    };

    CMarkup();
    virtual ~CMarkup() = default;
    CMarkup(const CMarkup&) = default;
    CMarkup& operator=(const CMarkup&) = default;

    // Adds an element after the main element (or at the end of the parent)
    // and makes it the main element. Text empty: the element is written as
    // one tag "<name/>". False when a top-level element exists already or
    // the name is not an XML name.
    bool AddElement(std::string_view name, std::string_view text = {});
    // Adds an element below the main element, after the child position (or
    // at the end), and makes it the child position. False without a main
    // element or with a name that is not an XML name.
    bool AddChildElement(std::string_view name, std::string_view text = {});
    // Sets an attribute of the main element, replacing the value of one that
    // is already there. False without a main element or with a bad name.
    bool AddAttribute(std::string_view name, std::string_view value);
    // Into the main element: it becomes the parent, the child position
    // becomes the main element. False without a main element.
    bool EnterElement();
    // Out of the parent: it becomes the main element, the former main element
    // the child position. False at the top level.
    bool LeaveElement();
    std::string GetDocument() const { return document; }

    // Replaces the document. Only an empty text is taken (the document is
    // built, never parsed); any other text is refused with an error.
    bool SetDocument(std::string_view text);
    // True when the document has a top-level element.
    bool IsWellFormed() const;
    // The text of the last error.
    const std::string& GetError() const { return lastError; }
    // 1 while a main element is set, else 0.
    int GetNodeType() const { return nodeType; }
    // Name of the main element; empty without one.
    std::string GetTagName() const;

    // Escapes "&", "<" and a ">" that would close "]]>" (text), and also the
    // apostrophe and the double quote (attribute). CR goes as "&#13;" (a
    // reader would turn it into LF), and in attributes TAB and LF go as
    // "&#9;" and "&#10;" (a reader would turn them into blanks). Invalid
    // UTF-8 bytes and control characters that XML 1.0 does not allow become
    // U+FFFD.
    static std::string EscapeText(std::string_view text, bool attribute);
    // True for a name that XML accepts as an element or attribute name: UTF-8
    // made of XML 1.0 name characters, a name start character first.
    static bool IsXmlName(std::string_view name);

private:
    bool InsertElement(std::string_view name, std::string_view text, bool child);
    bool SetAttribute(int pos, std::string_view name, std::string_view value);
    int AllocateSpan();
    // Replaces length bytes at offset with text.
    void ReplaceDocumentText(int offset, int length, const std::string& text);
    // Moves every offset at or after from by delta, except those of the
    // spans skipA and skipB. from lies in or after the element anchor, so
    // only it, its subtree and what follows it are visited: the cost is the
    // number of elements after the change, not the size of the document.
    void ShiftSpans(int anchor, int from, int delta, int skipA, int skipB);
    void ShiftSubtree(int top, int from, int delta, int skipA, int skipB);
    void ShiftSpan(int index, int from, int delta);
    int LastChild(int parent) const;
    void SetPosition(int parent, int main, int child);

    std::string document;
    std::string lastError;
    std::vector<ElementSpan> spans;
    int parentPos = 0;
    int mainPos = 0;
    int childPos = 0;
    int nextFreeSpan = 1;
    int nodeType = 0;
};
