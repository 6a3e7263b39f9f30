#include "support/Markup.h"

#include <algorithm>
#include <cstdint>

namespace {

const char* const kLineEnd = "\r\n";
const char* const kReplacementChar = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Characters that end a name inside a tag.
bool IsNameDelimiter(char c) {
    return IsBlank(c) || c == '<' || c == '>' || c == '=' || c == '\\' || c == '/' || c == '?' ||
           c == '!';
}

// Length of the valid UTF-8 sequence at text[i] (0 when it is not one), for
// a lead byte of 0x80 or above.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    if (byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    // U+FFFE and U+FFFF are not XML characters.
    if (length == 3 && lead == 0xEF && byte(i + 1) == 0xBF && byte(i + 2) >= 0xBE) {
        return 0;
    }
    return length;
}

// The code point of a valid UTF-8 sequence of the given length at text[i].
std::uint32_t DecodeUtf8(std::string_view text, std::size_t i, std::size_t length) {
    static constexpr unsigned char kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    std::uint32_t code = static_cast<unsigned char>(text[i]) & kLeadMask[length];
    for (std::size_t k = 1; k < length; ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    }
    return code;
}

// The characters XML 1.0 lets a name start with, and those it lets follow.
bool IsNameStartChar(std::uint32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(std::uint32_t c) {
    return IsNameStartChar(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

}  // namespace

CMarkup::CMarkup() { SetDocument({}); }

bool CMarkup::SetDocument(std::string_view text) {
    if (!text.empty()) {
        lastError = "Only an empty document can be set";
        return false;
    }
    document.clear();
    lastError.clear();
    spans.assign(8, ElementSpan{});
    nextFreeSpan = 1;
    SetPosition(0, 0, 0);
    return IsWellFormed();
}

bool CMarkup::IsWellFormed() const { return !spans.empty() && spans[0].firstChildSpan != 0; }

void CMarkup::SetPosition(int parent, int main, int child) {
    parentPos = parent;
    mainPos = main;
    childPos = child;
    nodeType = main ? 1 : 0;
}

std::string CMarkup::GetTagName() const {
    if (!mainPos) {
        return {};
    }
    const std::size_t begin = static_cast<std::size_t>(spans[mainPos].startTagLeft) + 1;
    std::size_t end = begin;
    while (end < document.size() && !IsNameDelimiter(document[end])) {
        ++end;
    }
    return document.substr(begin, end - begin);
}

bool CMarkup::IsXmlName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        std::uint32_t code = c;
        std::size_t length = 1;
        if (c >= 0x80) {
            length = Utf8SequenceLength(name, i);
            if (length == 0) {
                return false;  // not UTF-8
            }
            code = DecodeUtf8(name, i, length);
        }
        if (!IsNameStartChar(code) && !(i > 0 && IsNameChar(code))) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string CMarkup::EscapeText(std::string_view text, bool attribute) {
    std::string out;
    out.reserve(text.size() + text.size() / 10 + 7);
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                out += kReplacementChar;
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        ++i;
        if (byte < 0x20 && !IsBlank(c)) {
            out += kReplacementChar;
        } else if (c == '\r') {
            out += "&#13;";  // a reader would make LF of a raw CR
        } else if (attribute && c == '\t') {
            out += "&#9;";  // a reader would make blanks of these in a value
        } else if (attribute && c == '\n') {
            out += "&#10;";
        } else if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>' && i >= 3 && text[i - 2] == ']' && text[i - 3] == ']') {
            out += "&gt;";  // "]]>" may not stand in text
        } else if (attribute && c == '\'') {
            out += "&apos;";
        } else if (attribute && c == '"') {
            out += "&quot;";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

int CMarkup::AllocateSpan() {
    if (nextFreeSpan >= static_cast<int>(spans.size())) {
        spans.resize(spans.size() + std::max<std::size_t>(spans.size() / 2, 8));
    }
    spans[nextFreeSpan] = ElementSpan{};
    return nextFreeSpan++;
}

int CMarkup::LastChild(int parent) const { return spans[parent].lastChildSpan; }

void CMarkup::ReplaceDocumentText(int offset, int length, const std::string& text) {
    const std::size_t at = std::min(static_cast<std::size_t>(std::max(offset, 0)), document.size());
    const std::size_t count =
        std::min(static_cast<std::size_t>(std::max(length, 0)), document.size() - at);
    document.replace(at, count, text);
}

void CMarkup::ShiftSpan(int index, int from, int delta) {
    ElementSpan& span = spans[index];
    for (int* offset : {&span.startTagLeft, &span.startTagRight, &span.endTagLeft, &span.endTagRight}) {
        if (*offset >= from) {
            *offset += delta;
        }
    }
}

void CMarkup::ShiftSubtree(int top, int from, int delta, int skipA, int skipB) {
    // Depth first through the links, back up by the parent links.
    int node = top;
    for (;;) {
        if (node != skipA && node != skipB) {
            ShiftSpan(node, from, delta);
        }
        if (spans[node].firstChildSpan) {
            node = spans[node].firstChildSpan;
            continue;
        }
        while (node != top && !spans[node].nextSiblingSpan) {
            node = spans[node].parentSpan;
        }
        if (node == top) {
            return;
        }
        node = spans[node].nextSiblingSpan;
    }
}

void CMarkup::ShiftSpans(int anchor, int from, int delta, int skipA, int skipB) {
    // Only the anchor's subtree, what follows it at its level and every level
    // above, and the elements around it can hold an offset at or after from;
    // everything before it is left as it is.
    ShiftSubtree(anchor, from, delta, skipA, skipB);
    for (int node = anchor; node != 0; node = spans[node].parentSpan) {
        for (int next = spans[node].nextSiblingSpan; next; next = spans[next].nextSiblingSpan) {
            ShiftSubtree(next, from, delta, skipA, skipB);
        }
        const int parent = spans[node].parentSpan;
        if (parent != 0 && parent != skipA && parent != skipB) {
            ShiftSpan(parent, from, delta);
        }
    }
}

bool CMarkup::InsertElement(std::string_view name, std::string_view text, bool child) {
    if (!IsXmlName(name)) {
        lastError = "Invalid element name";
        return false;
    }
    int parent = 0;
    int after = 0;
    if (child) {
        if (!mainPos) {
            return false;
        }
        parent = mainPos;
        after = childPos;
    } else {
        if (parentPos == 0) {
            if (IsWellFormed()) {
                return false;  // one top-level element only
            }
            spans[0].endTagLeft = static_cast<int>(document.size());
        }
        parent = parentPos;
        after = mainPos;
    }

    // Where the new element's line goes.
    const ElementSpan parentSpan = spans[parent];
    const bool emptyParent = parent != 0 && parentSpan.IsEmptyElement();
    const bool adjacentTags =
        parent != 0 && !emptyParent && parentSpan.startTagRight + 1 == parentSpan.endTagLeft;
    int offset = 0;
    if (after) {
        offset = spans[after].endTagRight + 1;
    } else if (parent == 0) {
        offset = static_cast<int>(document.size());
    } else if (emptyParent) {
        offset = parentSpan.startTagRight;
    } else {
        offset = parentSpan.endTagLeft;
    }
    if (!emptyParent) {
        // Land right before the next tag, past the line end of the one before.
        std::size_t next = static_cast<std::size_t>(offset);
        while (next < document.size() && IsBlank(document[next])) {
            ++next;
        }
        if (next == document.size() || document[next] == '<') {
            offset = static_cast<int>(next);
        }
    }
    const int start = (emptyParent || adjacentTags) ? offset + 2 : offset;

    // The element's own line and its offsets.
    const std::string nameText(name);
    const int nameLength = static_cast<int>(name.size());
    std::string line;
    ElementSpan element;
    element.startTagLeft = start;
    if (text.empty()) {
        line = "<" + nameText + "/>" + kLineEnd;
        element.startTagRight = start + nameLength + 2;
        element.endTagLeft = element.startTagRight - 1;
        element.endTagRight = element.endTagLeft + 1;
    } else {
        const std::string escaped = EscapeText(text, false);
        line = "<" + nameText + ">" + escaped + "</" + nameText + ">" + kLineEnd;
        element.startTagRight = start + nameLength + 1;
        element.endTagLeft = element.startTagRight + static_cast<int>(escaped.size()) + 1;
        element.endTagRight = element.endTagLeft + nameLength + 2;
    }

    // The text that goes into the document.
    int spliceAt = offset;
    int replaced = 0;
    std::string insert = line;
    std::string parentName;
    if (emptyParent) {
        // "<p/>" becomes "<p>", the new line, "</p>".
        const int nameStart = parentSpan.startTagLeft + 1;
        int nameEnd = nameStart;
        while (nameEnd < static_cast<int>(document.size()) && !IsNameDelimiter(document[nameEnd])) {
            ++nameEnd;
        }
        parentName = document.substr(nameStart, nameEnd - nameStart);
        insert = std::string(">") + kLineEnd + line + "</" + parentName;
        spliceAt = parentSpan.endTagLeft;
        replaced = 1;
    } else if (adjacentTags) {
        insert = kLineEnd + line;
        spliceAt = parentSpan.startTagRight + 1;
    }

    const int span = AllocateSpan();
    element.parentSpan = parent;
    const int before = after ? after : LastChild(parent);
    if (before) {
        element.nextSiblingSpan = spans[before].nextSiblingSpan;
        spans[before].nextSiblingSpan = span;
    } else {
        element.nextSiblingSpan = spans[parent].firstChildSpan;
        spans[parent].firstChildSpan = span;
    }
    if (!element.nextSiblingSpan) {
        spans[parent].lastChildSpan = span;
    }
    spans[span] = element;

    const int delta = static_cast<int>(insert.size()) - replaced;
    ReplaceDocumentText(spliceAt, replaced, insert);
    ShiftSpans(span, spliceAt + replaced, delta, span, emptyParent ? parent : 0);
    if (emptyParent) {
        ElementSpan& reopened = spans[parent];
        reopened.startTagRight -= 1;
        reopened.endTagLeft = spliceAt + static_cast<int>(insert.size()) -
                              static_cast<int>(parentName.size()) - 2;
        reopened.endTagRight = reopened.endTagLeft + static_cast<int>(parentName.size()) + 2;
    }

    if (child) {
        SetPosition(parentPos, parent, span);
    } else {
        SetPosition(parent, span, 0);
    }
    return true;
}

bool CMarkup::AddElement(std::string_view name, std::string_view text) {
    return InsertElement(name, text, false);
}

bool CMarkup::AddChildElement(std::string_view name, std::string_view text) {
    return InsertElement(name, text, true);
}

bool CMarkup::AddAttribute(std::string_view name, std::string_view value) {
    return SetAttribute(mainPos, name, value);
}

bool CMarkup::SetAttribute(int pos, std::string_view name, std::string_view value) {
    if (!pos) {
        return false;
    }
    if (!IsXmlName(name)) {
        lastError = "Invalid attribute name";
        return false;
    }
    const std::string escaped = EscapeText(value, true);
    const ElementSpan element = spans[pos];
    const int tagEnd = element.IsEmptyElement() ? element.endTagLeft : element.startTagRight;
    auto skipBlanks = [&](int i) {
        while (i < tagEnd && IsBlank(document[i])) {
            ++i;
        }
        return i;
    };

    // Look for the attribute among name="value" pairs after the tag name.
    int i = element.startTagLeft + 1;
    while (i < tagEnd && !IsNameDelimiter(document[i])) {
        ++i;
    }
    for (;;) {
        i = skipBlanks(i);
        const int nameStart = i;
        while (i < tagEnd && !IsNameDelimiter(document[i])) {
            ++i;
        }
        if (i == nameStart) {
            break;
        }
        const std::string_view found(document.data() + nameStart, i - nameStart);
        i = skipBlanks(i);
        if (i >= tagEnd || document[i] != '=') {
            break;
        }
        i = skipBlanks(i + 1);
        if (i >= tagEnd || (document[i] != '"' && document[i] != '\'')) {
            break;
        }
        const char quote = document[i];
        const int valueStart = i + 1;
        int valueEnd = valueStart;
        while (valueEnd < tagEnd && document[valueEnd] != quote) {
            ++valueEnd;
        }
        if (valueEnd >= tagEnd) {
            break;
        }
        if (found == name) {
            // The escaped value holds neither quote, so it fits either.
            const int length = valueEnd - valueStart;
            ReplaceDocumentText(valueStart, length, escaped);
            ShiftSpans(pos, valueEnd, static_cast<int>(escaped.size()) - length, 0, 0);
            return true;
        }
        i = valueEnd + 1;
    }

    const std::string insert = " " + std::string(name) + "=\"" + escaped + "\"";
    ReplaceDocumentText(tagEnd, 0, insert);
    ShiftSpans(pos, tagEnd, static_cast<int>(insert.size()), 0, 0);
    return true;
}

bool CMarkup::EnterElement() {
    if (!mainPos) {
        return false;
    }
    SetPosition(mainPos, childPos, 0);
    return true;
}

bool CMarkup::LeaveElement() {
    if (!parentPos) {
        return false;
    }
    SetPosition(spans[parentPos].parentSpan, parentPos, mainPos);
    return true;
}
