#include <gtest/gtest.h>

#include "base/text.h"

using namespace brisko;

TEST(Text, WildcardsFollowWindowsRules) {
    EXPECT_TRUE(wildcardMatch("*.*", "README"));
    EXPECT_TRUE(wildcardMatch("*.tmp", "A.TMP"));
    EXPECT_FALSE(wildcardMatch("*.tmp", "a.tmpx"));
    EXPECT_TRUE(wildcardMatch("~*.tmp", "~WRL0001.tmp"));
    EXPECT_TRUE(wildcardMatch("file?.txt", "file1.txt"));
    EXPECT_FALSE(wildcardMatch("file?.txt", "file.txt"));
    EXPECT_TRUE(wildcardMatch("memory.*", "memory"));
}

TEST(Text, Utf16RoundTripKeepsNonAscii) {
    std::string s = "Grüße \xF0\x9F\x98\x80 C:\\x";
    auto bytes = utf8ToUtf16le(s);
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(bytes[bytes.size() - 1], 0);
    EXPECT_EQ(utf16leToUtf8(bytes), s);
    // A lone surrogate and an odd trailing byte do not crash.
    std::vector<uint8_t> bad{0x00, 0xd8, 0x41, 0x00, 0x42};
    EXPECT_EQ(utf16leToUtf8(bad),
              "\xEF\xBF\xBD"
              "A");
    // Into a reused buffer: what was there before is gone; text stops at a
    // NUL unless told otherwise, whether ASCII came first or not.
    std::string out = "left over from a longer value";
    utf16leToUtf8(bytes.data(), bytes.size(), out);
    EXPECT_EQ(out, s);
    auto ascii = utf8ToUtf16le("ab", false);
    ascii.insert(ascii.end(), {0, 0, 'c', 0, 0xE9, 0, 0, 0, 'd', 0});
    utf16leToUtf8(ascii.data(), ascii.size(), out);
    EXPECT_EQ(out, "ab");
    utf16leToUtf8(ascii.data(), ascii.size(), out, false);
    EXPECT_EQ(out, std::string("ab\0c\xC3\xA9\0d", 8));
    utf16leToUtf8(ascii.data() + 8, ascii.size() - 8, out);
    EXPECT_EQ(out, "\xC3\xA9");
}

TEST(Text, PathPieces) {
    EXPECT_EQ(extractFileName("C:\\a\\b.txt"), "b.txt");
    EXPECT_EQ(extractFilePath("C:\\a\\b.txt"), "C:\\a\\");
    EXPECT_EQ(extractFileExt("C:\\a.d\\b"), "");
    EXPECT_EQ(extractFileExt("b.tar.gz"), ".gz");
    EXPECT_EQ(includeTrailingBackslash("C:"), "C:\\");
    EXPECT_EQ(findNoCase("HKEY_Local", "local"), 5u);
}
