#include "core/ini_file.h"

#include <gtest/gtest.h>

#include <random>

namespace brisko {
namespace {

TEST(IniFile, ReadsLikeTheProfileFunctions) {
    IniFile ini(
        "; comment\r\n"
        "[Options]\r\n"
        "  WipeNumber = 7  \r\n"
        "Quoted=\"  padded \"\r\n"
        "Single='x'\r\n"
        "Half=\"x\r\n"
        "Empty=\r\n"
        "no equals sign here\r\n"
        "wipenumber=9\r\n"
        "[options]\r\n"
        "Later=1\r\n");
    EXPECT_EQ(ini.readString("OPTIONS", "wipeNUMBER"), "7");  // first section, first key
    EXPECT_EQ(ini.readString("Options", "Quoted"), "  padded ");
    EXPECT_EQ(ini.readString("Options", "Single"), "x");
    EXPECT_EQ(ini.readString("Options", "Half"), "\"x");
    EXPECT_EQ(ini.readString("Options", "Empty", "def"), "");  // present but empty
    EXPECT_EQ(ini.readString("Options", "Missing", "def"), "def");
    EXPECT_EQ(ini.readString("Options", "Later", "def"), "def");  // duplicate section unseen
    EXPECT_EQ(ini.readString("Nowhere", "Key", "def"), "def");
    EXPECT_EQ(ini.keys("Options"),
              (std::vector<std::string>{"WipeNumber", "Quoted", "Single", "Half", "Empty"}));
    EXPECT_EQ(ini.sections(), (std::vector<std::string>{"Options"}));
}

TEST(IniFile, IntegersAndBooleansFallBackToTheDefault) {
    IniFile ini(
        "[N]\nplain=42\nneg=-3\nplus=+5\nhex=0x1F\ndollar=$10\nall=$FFFFFFFF\n"
        "junk=12abc\nword=yes\nempty=\nbig=2147483648\nsmall=-2147483648\n"
        "bool0=0\nbool2=2\n");
    EXPECT_EQ(ini.readInteger("N", "plain", 0), 42);
    EXPECT_EQ(ini.readInteger("N", "neg", 0), -3);
    EXPECT_EQ(ini.readInteger("N", "plus", 0), 5);
    EXPECT_EQ(ini.readInteger("N", "hex", 0), 31);
    EXPECT_EQ(ini.readInteger("N", "dollar", 0), 16);
    EXPECT_EQ(ini.readInteger("N", "all", 0), -1);
    EXPECT_EQ(ini.readInteger("N", "junk", 77), 77);
    EXPECT_EQ(ini.readInteger("N", "word", 77), 77);
    EXPECT_EQ(ini.readInteger("N", "empty", 77), 77);
    EXPECT_EQ(ini.readInteger("N", "big", 77), 77);
    EXPECT_EQ(ini.readInteger("N", "small", 77), INT32_MIN);
    EXPECT_EQ(ini.readInteger("N", "missing", 77), 77);
    EXPECT_FALSE(ini.readBool("N", "bool0", true));
    EXPECT_TRUE(ini.readBool("N", "bool2", false));
    EXPECT_TRUE(ini.readBool("N", "word", true));
    EXPECT_FALSE(ini.readBool("N", "word", false));
}

TEST(IniFile, WritesInPlaceAndKeepsEveryOtherLine) {
    const std::string original =
        "; my settings\n"
        "\n"
        "[Options]\n"
        "IsWipeFile = 1\n"
        "garbage line\n"
        "\n"
        "[Hotkey]\n"
        "IsCtrl=1";  // no final line break
    IniFile ini(original);
    EXPECT_EQ(ini.text(), original);
    EXPECT_FALSE(ini.modified());

    ini.writeString("options", "iswipefile", "0");  // existing key, keeps its spelling
    ini.writeString("Options", "WipeNumber", "3");  // new key after the section's last line
    ini.writeString("Hotkey", "IsAlt", "1");        // section at the end without a break
    ini.writeString("SChedule", "AutoClean", "0");  // new section at the end
    EXPECT_TRUE(ini.modified());
    EXPECT_EQ(ini.text(),
              "; my settings\n"
              "\n"
              "[Options]\n"
              "IsWipeFile=0\n"
              "garbage line\n"
              "WipeNumber=3\n"
              "\n"
              "[Hotkey]\n"
              "IsCtrl=1\n"
              "IsAlt=1\n"
              "[SChedule]\n"
              "AutoClean=0\n");
    EXPECT_EQ(ini.readString("Options", "WipeNumber"), "3");
    EXPECT_EQ(IniFile(ini.text()).readString("SCHEDULE", "AUTOCLEAN"), "0");
}

TEST(IniFile, NewFileUsesCrLfAndRefusesUnwritableNames) {
    IniFile ini;
    EXPECT_TRUE(ini.writeBool("A", "x", true));
    EXPECT_TRUE(ini.writeInteger("A", "y", -12));
    EXPECT_TRUE(ini.writeString("A", "multi", "one\r\ntwo"));
    EXPECT_FALSE(ini.writeString("A", "k=v", "1"));
    EXPECT_FALSE(ini.writeString("A]", "k", "1"));
    EXPECT_FALSE(ini.writeString("A", "", "1"));
    EXPECT_EQ(ini.text(), "[A]\r\nx=1\r\ny=-12\r\nmulti=one  two\r\n");

    EXPECT_TRUE(ini.deleteKey("a", "Y"));
    EXPECT_FALSE(ini.deleteKey("a", "y"));
    EXPECT_EQ(ini.text(), "[A]\r\nx=1\r\nmulti=one  two\r\n");
    ini.writeString("A", "z", "3");
    EXPECT_EQ(ini.readString("A", "multi"), "one  two");
    EXPECT_EQ(ini.readString("A", "z"), "3");
}

TEST(IniFile, KeepsByteOrderMarkAndLineBreakStyle) {
    IniFile ini("\xEF\xBB\xBF[S]\r\na=1\r\n");
    EXPECT_EQ(ini.readString("S", "a"), "1");
    ini.writeString("S", "b", "2");
    EXPECT_EQ(ini.text(), "\xEF\xBB\xBF[S]\r\na=1\r\nb=2\r\n");
}

TEST(IniFile, MalformedInputNeverBreaksIt) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        std::string junk(size_t(rng() % 2000), '\0');
        for (char& c : junk) {
            // Mostly the characters that matter to the parser, some binary.
            static const char kAlphabet[] = "[]=;\r\n \t\"'aB0\x00\xff";
            c = (rng() % 4) ? kAlphabet[rng() % (sizeof kAlphabet - 1)] : char(rng());
        }
        IniFile ini(junk);
        EXPECT_EQ(ini.text(), junk);
        for (const auto& s : ini.sections())
            for (const auto& k : ini.keys(s)) (void)ini.readInteger(s, k, 0);
        ini.writeString("Options", "WipeNumber", "5");
        EXPECT_EQ(IniFile(ini.text()).readInteger("Options", "WipeNumber", 0), 5);
    }
    std::string huge(3 << 20, 'x');
    IniFile big("[S]\nk=" + huge + "\n" + huge);
    EXPECT_EQ(big.readString("S", "k").size(), huge.size());
}

}  // namespace
}  // namespace brisko
