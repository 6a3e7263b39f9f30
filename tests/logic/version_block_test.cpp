// Version blocks that lie about their values.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/VersionResource.h"

namespace {

// One string table holding one string, nothing after it: the string's value
// is the last bytes of the block.
std::vector<std::uint8_t> OneStringBlock() {
    platform::VersionSpec layout;
    layout.tables = {{"041104B0", {{"ProductName", "ABC"}}}};
    layout.hasTranslations = false;
    return platform::BuildVersionBlock(layout);
}

// Reads a string the way the About box does.
bool ReadText(const std::vector<std::uint8_t>& block, std::string& text) {
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!platform::VerQueryValue(block.data(), "\\StringFileInfo\\041104B0\\ProductName", &value, &length)) {
        return false;
    }
    text = platform::VersionTextToUtf8(value, length);
    return true;
}

}  // namespace

TEST(VersionBlock, AStringTypedBinaryIsNotReadAsText) {
    std::vector<std::uint8_t> block = OneStringBlock();
    std::string text;
    ASSERT_TRUE(ReadText(block, text));
    EXPECT_EQ(text, "ABC");

    // The string's header: length, value length, type; then "ProductName"
    // and its zero, padded to four bytes; then the value's 8 bytes.
    ASSERT_EQ(block.size() % 4, 0u);
    const std::size_t value = block.size() - 8;
    const std::size_t header = value - 32;
    ASSERT_EQ(block[header + 2], 4);  // four characters with the zero
    ASSERT_EQ(block[header + 4], 1);  // text
    // Binary, the value's 8 bytes counted as bytes and no zero among them:
    // read as text, 16 bytes would be taken from the last 8 of the block.
    block[header + 2] = 8;
    block[header + 4] = 0;
    block[value + 6] = 'D';
    const std::vector<std::uint8_t> exact(block);  // the heap holds no byte more
    EXPECT_FALSE(ReadText(exact, text));
}
