#include "core/machine/reg_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "base/text.h"
#include "core/machine/code_page.h"
#include "core/machine/registry_key.h"
#include "core/memory_registry.h"

namespace brisko {
namespace {

using test::MemoryRegistry;

std::vector<uint8_t> wide(std::string_view s) {
    return utf8ToUtf16le(s);
}

std::string utf16File(std::string_view text) {
    auto w = utf8ToUtf16le(text, false);
    return "\xFF\xFE" + std::string(w.begin(), w.end());
}

std::string parseError(std::string_view text) {
    try {
        parseRegText(text);
    } catch (const RegFileError& e) {
        return e.message;
    }
    return "(no error)";
}

TEST(RegFileParse, ReadsEveryLineKind) {
    auto p = parseRegText(
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
        "@=\"default\"\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
        "\"Count\"=dword:0000001f\r\n"
        "\"Bin\"=hex:01,02,ff\r\n"
        "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\"None\"=hex(0):\r\n"
        "\"Gone\"=-\r\n"
        "  \"Indented\" = \"ok\"\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Old]\r\n");
    EXPECT_TRUE(p.unicode);
    ASSERT_EQ(p.ops.size(), 10u);
    EXPECT_EQ(p.ops[0].kind, RegFileOp::CreateKey);
    EXPECT_EQ(p.ops[0].keyPath, "HKEY_CURRENT_USER\\Software\\Test");
    EXPECT_EQ(p.ops[0].line, 4);
    EXPECT_EQ(p.ops[1].valueName, "");
    EXPECT_EQ(p.ops[1].data, wide("default"));
    EXPECT_EQ(p.ops[2].data, wide("C:\\Program Files\\\"x\""));
    EXPECT_EQ(p.ops[3].type, uint32_t(REG_DWORD));
    EXPECT_EQ(p.ops[3].data, (std::vector<uint8_t>{0x1f, 0, 0, 0}));
    EXPECT_EQ(p.ops[4].type, uint32_t(REG_BINARY));
    EXPECT_EQ(p.ops[4].data, (std::vector<uint8_t>{1, 2, 0xff}));
    EXPECT_EQ(p.ops[5].type, uint32_t(REG_QWORD));
    EXPECT_EQ(p.ops[5].data.size(), 8u);
    EXPECT_EQ(p.ops[6].type, uint32_t(REG_NONE));
    EXPECT_TRUE(p.ops[6].data.empty());
    EXPECT_EQ(p.ops[7].kind, RegFileOp::DeleteValue);
    EXPECT_EQ(p.ops[7].valueName, "Gone");
    EXPECT_EQ(p.ops[8].valueName, "Indented");
    EXPECT_EQ(p.ops[9].kind, RegFileOp::DeleteKey);
    EXPECT_EQ(p.ops[9].keyPath, "HKEY_CURRENT_USER\\Software\\Old");
}

TEST(RegFileParse, AcceptsEveryEncodingAndLineEnd) {
    const std::string body = "[HKEY_CURRENT_USER\\A]\n\"N\xC3\xA9\"=\"\xE6\x97\xA5\"\n";
    for (const std::string& bytes :
         {utf16File("Windows Registry Editor Version 5.00\r\n" + body),
          "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n" + body,
          "Windows Registry Editor Version 5.00\n" + body, "REGEDIT4\r\n" + body}) {
        auto p = parseRegText(bytes);
        ASSERT_EQ(p.ops.size(), 2u);
        EXPECT_EQ(p.ops[1].valueName, "N\xC3\xA9");
        EXPECT_EQ(p.ops[1].data, wide("\xE6\x97\xA5"));
    }
    // ANSI bytes that are not UTF-8 are read in the Western code page.
    auto ansi = parseRegText("REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"caf\xE9\"=\"\x80\"\r\n");
    EXPECT_EQ(ansi.ops[1].valueName, "caf\xC3\xA9");
    EXPECT_EQ(ansi.ops[1].data, wide("\xE2\x82\xAC"));
}

TEST(RegFileParse, JoinsHexContinuationLines) {
    // Indented as regedit writes them, and unindented as in our backups.
    auto p = parseRegText(
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n"
        "\"B\"=hex:01,02,\\\r\n"
        "  03,04,\\\r\n"
        "05 ; trailing comment\r\n"
        "\"C\"=hex:0A,\\\r\n"
        "FF\r\n");
    ASSERT_EQ(p.ops.size(), 3u);
    EXPECT_EQ(p.ops[1].data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(p.ops[2].data, (std::vector<uint8_t>{0x0a, 0xff}));
    EXPECT_EQ(p.ops[2].line, 6);
}

TEST(RegFileParse, Regedit4StringsInHexAreAnsi) {
    auto p = parseRegText(
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n"
        "\"E\"=hex(2):25,54,45,4d,50,25,e9,00\r\n"
        "\"M\"=hex(7):61,00,62,00,00\r\n");
    EXPECT_EQ(p.ops[1].type, uint32_t(REG_EXPAND_SZ));
    EXPECT_EQ(p.ops[1].data, wide("%TEMP%\xC3\xA9"));
    EXPECT_EQ(p.ops[2].data, encodeMultiString({"a", "b"}));
    // Version 5 keeps the bytes as they are.
    auto v5 = parseRegText(
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n"
        "\"E\"=hex(2):41,00,00,00\r\n");
    EXPECT_EQ(v5.ops[1].data, wide("A"));
}

TEST(RegFileParse, ValuesOfADeletedKeyAreIgnored) {
    auto p = parseRegText(
        "REGEDIT4\r\n[-HKEY_CURRENT_USER\\A]\r\n\"x\"=\"y\"\r\n\"b\"=hex:01,\\\r\n 02\r\n");
    ASSERT_EQ(p.ops.size(), 1u);
    EXPECT_EQ(p.ops[0].kind, RegFileOp::DeleteKey);
}

TEST(RegFileParse, ErrorsNameTheLine) {
    EXPECT_EQ(parseError(""), "not a registry file (no REGEDIT4 header)");
    EXPECT_EQ(parseError("[HKEY_CURRENT_USER\\A]\r\n"), "not a registry file (no REGEDIT4 header)");
    EXPECT_EQ(parseError("REGEDIT4\r\n\r\n\"a\"=\"b\"\r\n"), "line 3: value line outside of a key");
    const std::string key = "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n";
    EXPECT_EQ(parseError(key + "\"a=\"b\"\n"), "line 3: expected '=' after the value name");
    EXPECT_EQ(parseError(key + "\"a\"=\"b\n"), "line 3: string without closing quote");
    EXPECT_EQ(parseError(key + "\"a\"=\"b\" x\n"), "line 3: unexpected text after the string");
    EXPECT_EQ(parseError(key + "\"a\"=dword:123456789\n"),
              "line 3: bad dword value (1 to 8 hex digits expected)");
    EXPECT_EQ(parseError(key + "\"a\"=dword:\n"),
              "line 3: bad dword value (1 to 8 hex digits expected)");
    EXPECT_EQ(parseError(key + "\"a\"=hex:1,zz\n"), "line 3: bad hex byte 'zz'");
    EXPECT_EQ(parseError(key + "\"a\"=hex:1,,2\n"), "line 3: empty hex byte");
    EXPECT_EQ(parseError(key + "\"a\"=hex(1x):00\n"), "line 3: bad value type in hex(...)");
    EXPECT_EQ(parseError(key + "\"a\"=text\n"), "line 3: unknown value type");
    EXPECT_EQ(parseError(key + "garbage\n"), "line 3: not a key, value or comment line");
    EXPECT_EQ(parseError(key + "[HKEY_CURRENT_USER\\B\n"), "line 3: key name without closing ']'");
    EXPECT_EQ(parseError(key + "[-]\n"), "line 3: empty key name");
}

// A value line that stops before its end is an error, not a shorter value.
TEST(RegFileParse, ACutValueIsAnError) {
    const std::string key = "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n";
    for (const char* cut :
         {"\"a\"=hex:01,02,\r\n", "\"a\"=hex(2):41,00,\\\r\n", "\"a\"=hex(2):41,00,\\\r\n\r\n",
          "\"a\"=hex(7):41,00,\\", "\"a\"=hex(2):41,00,42", "\"a\"=hex(1):41", "\"a\"=dword:0000",
          "\"a\"=\"C:\\\\Program Fi", "\"a"})
        EXPECT_NE(parseError(key + cut), "(no error)") << cut;
    EXPECT_EQ(parseError(key + "\"a\"=hex:01,\n"),
              "line 3: the value is cut short: a ',' with no byte after it");
    // What ends where the format says it does is read as before: empty data,
    // a short dword written out with its line end, an odd count of bytes a
    // value was stored with.
    auto p =
        parseRegText(key + "\"a\"=hex:\r\n\"b\"=dword:1a\r\n\"c\"=hex(2):41,00,42\r\n\"d\"=hex:01");
    ASSERT_EQ(p.ops.size(), 5u);
    EXPECT_TRUE(p.ops[1].data.empty());
    EXPECT_EQ(p.ops[3].data, (std::vector<uint8_t>{0x41, 0, 0x42}));
    EXPECT_EQ(p.ops[4].data, (std::vector<uint8_t>{1}));
    EXPECT_TRUE(regFileEndsWhole(key + "\"a\"=dword:00000001\r\n"));
    EXPECT_TRUE(regFileEndsWhole(utf16File(key + "\"a\"=dword:00000001\r\n")));
    EXPECT_FALSE(regFileEndsWhole(key + "\"a\"=dword:00000001"));
    EXPECT_FALSE(regFileEndsWhole(key + "\"a\"=hex:01,\\\r\n"));
    EXPECT_FALSE(regFileEndsWhole(utf16File(key + "\"a\"=\"b\"\r\n").substr(0, 99)));
    EXPECT_FALSE(regFileEndsWhole(""));
}

// A backup cut at every byte: what a restore takes (the file ends whole and
// reads) never holds a value other than the one the whole file holds.
TEST(RegFileParse, EveryCutOfABackupIsRefusedOrHoldsOnlyWholeValues) {
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Svc]\r\n"
        "\"ImagePath\"=hex(2):22,00,43,00,3a,00,5c,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,20,"
        "\\\r\n"
        "00,46,00,69,00,6c,00,65,00,73,00,5c,00,53,00,76,00,63,00,2e,00,65,00,78,00,65,00,22,00,"
        "\\\r\n"
        "00,00\r\n"
        "\"Start\"=dword:00000002\r\n"
        "\"DisplayName\"=\"Some Service\"\r\n"
        "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,10,11,12,13,14,15,16,17,18,19,"
        "1A,\\\r\n"
        "1B,1C\r\n"
        "\"Deps\"=hex(7):41,00,00,00,42,00,00,00,00,00\r\n";
    for (bool unicode : {false, true}) {
        const std::string bytes = unicode ? utf16File(text) : text;
        const auto whole = parseRegText(bytes).ops;
        int tried = 0, restored = 0, cutValues = 0, importedCut = 0;
        for (size_t len = unicode ? 2 : 0; len < bytes.size(); len += unicode ? 2 : 1) {
            const std::string cut = bytes.substr(0, len);
            ++tried;
            std::vector<RegFileOp> ops;
            try {
                ops = parseRegText(cut).ops;
            } catch (const RegFileError&) {
                continue;
            }
            bool differs = false;
            for (size_t i = 0; i < ops.size(); ++i)
                differs = differs || ops[i].data != whole[i].data || ops[i].type != whole[i].type;
            importedCut += differs;
            if (!regFileEndsWhole(cut)) continue;
            ++restored;
            cutValues += differs;
        }
        EXPECT_EQ(cutValues, 0);
        std::printf(
            "[ figures  ] %s cuts tried %d, restorable %d, cut values restored %d, "
            "read as a plain import %d\n",
            unicode ? "UTF-16" : "ANSI", tried, restored, cutValues, importedCut);
    }
}

TEST(RegFileApply, CarriesOutEveryOperation) {
    MemoryRegistry reg;
    reg.root(RootKey::CurrentUser).find("Old\\Sub", true);
    reg.root(RootKey::CurrentUser).find("Keep", true)->setValue("gone", REG_SZ, wide("x"));
    auto p = parseRegText(
        "REGEDIT4\r\n"
        "[HKEY_CURRENT_USER\\New\\Deep]\r\n\"v\"=dword:00000002\r\n"
        "[-HKEY_CURRENT_USER\\Old]\r\n"
        "[-HKEY_CURRENT_USER\\NeverWas]\r\n"
        "[HKEY_CURRENT_USER\\Keep]\r\n\"gone\"=-\r\n\"absent\"=-\r\n"
        "[HKEY_PERFORMANCE_DATA\\X]\r\n\"a\"=\"b\"\r\n");
    EXPECT_EQ(applyRegOps(reg, p.ops), 0u);
    auto& cu = reg.root(RootKey::CurrentUser);
    ASSERT_NE(cu.find("New\\Deep"), nullptr);
    EXPECT_EQ(cu.find("New\\Deep")->findValue("v")->data, (std::vector<uint8_t>{2, 0, 0, 0}));
    EXPECT_EQ(cu.find("Old"), nullptr);
    EXPECT_EQ(cu.find("Keep")->findValue("gone"), nullptr);
}

// A registry that changes at once (the running Windows) keeps what an import
// carried out before an operation failed: the message must not say otherwise.
TEST(RegFileApply, AFailedImportSaysWhatStayedWhereChangesAreImmediate) {
    MemoryRegistry reg;
    ASSERT_FALSE(reg.changesWaitForCommit());
    std::string text = importFailureText(reg, "C:\\b.reg", 1, 3, "restored");
    EXPECT_NE(text.find("C:\\b.reg: 1 of 3 operations could not be carried out."),
              std::string::npos);
    EXPECT_NE(text.find("The other 2 operations were carried out"), std::string::npos) << text;
    EXPECT_EQ(text.find("Nothing was"), std::string::npos) << text;
    EXPECT_NE(importFailureText(reg, "b.reg", 3, 3, "restored").find("Nothing was restored."),
              std::string::npos);
}

TEST(RegFileExport, WritesTheRegeditLayout) {
    MemoryRegistry reg;
    auto* k = reg.root(RootKey::LocalMachine).find("SOFTWARE\\Test", true);
    k->setValue("", REG_SZ, wide("def"));
    k->setValue("Na\"me\\", REG_SZ, wide("C:\\x"));
    k->setValue("D", REG_DWORD, {0x1f, 0, 0, 0});
    std::vector<uint8_t> bin(60);
    for (size_t i = 0; i < bin.size(); ++i) bin[i] = uint8_t(i);
    k->setValue("Bin", REG_BINARY, bin);
    k->setValue("E", REG_EXPAND_SZ, wide("%A%"));
    k->find("Sub", true)->setValue("Q", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});

    auto text = exportRegText(reg, "HKLM\\SOFTWARE\\Test\\");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n"
              "@=\"def\"\r\n"
              "\"Na\\\"me\\\\\"=\"C:\\\\x\"\r\n"
              "\"D\"=dword:0000001f\r\n"
              // 23 bytes fill the first line to 79 characters, then 25 per line.
              "\"Bin\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,"
              "16,\\\r\n"
              "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
              "  30,31,32,33,34,35,36,37,38,39,3a,3b\r\n"
              "\"E\"=hex(2):25,00,41,00,25,00,00,00\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Sub]\r\n"
              "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
              "\r\n");
    auto ansi = exportRegText(reg, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Test", RegFileFormat::Regedit4);
    ASSERT_TRUE(ansi);
    EXPECT_TRUE(ansi->starts_with("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE"));
    EXPECT_NE(ansi->find("\"E\"=hex(2):25,41,25,00\r\n"), std::string::npos);
    EXPECT_FALSE(exportRegText(reg, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing"));
    EXPECT_FALSE(exportRegText(reg, "HKEY_NOWHERE\\SOFTWARE"));
}

// Export, read back into an empty registry, export again: the same text.
void expectRoundTrip(RegFileFormat format) {
    MemoryRegistry reg;
    auto* k = reg.root(RootKey::CurrentUser).find("Software\\R\xC3\xA9g\\T=1", true);
    std::vector<uint8_t> big(300);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
    k->setValue("", REG_SZ, wide("d\xC3\xA9\x66"));
    k->setValue("q\"uo\\te=\xE6\x97\xA5", REG_SZ, wide("v\"\\=\xE2\x82\xAC"));
    k->setValue("line\nbreak", REG_SZ, wide("x"));
    k->setValue("exp", REG_EXPAND_SZ, wide("%SystemRoot%\\caf\xC3\xA9"));
    k->setValue("multi", REG_MULTI_SZ, encodeMultiString({"a", "\xC3\xA9", "\xE6\x97\xA5"}));
    k->setValue("dw", REG_DWORD, {0xef, 0xbe, 0xad, 0xde});
    k->setValue("be", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1});
    k->setValue("bin", REG_BINARY, big);
    k->setValue("none", REG_NONE, {});
    k->setValue("link", REG_LINK, wide("\\Registry\\Machine"));
    k->setValue("res", REG_RESOURCE_LIST, {1, 2, 3});
    k->setValue("q", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    k->setValue("odd", 0x12345, {9});
    k->setValue("mojibake", REG_SZ, wide("\xC3\x83\xC2\xA9"));  // "Ã©"
    // Data a quoted string or dword: cannot carry goes out as hex(1) / hex(4).
    k->setValue("noNul", REG_SZ, {'a', 0});
    k->setValue("lines", REG_SZ, wide("a\r\nb"));
    k->setValue("empty", REG_SZ, {});
    k->setValue("short", REG_DWORD, {1, 2});
    k->find("Child\\Grand", true)->setValue("x", REG_SZ, wide(""));

    const std::string path = "HKEY_CURRENT_USER\\Software\\R\xC3\xA9g";
    auto first = exportRegText(reg, path, format);
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("\"lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\r\n"), std::string::npos);
    EXPECT_NE(first->find("\"short\"=hex(4):01,02\r\n"), std::string::npos);
    MemoryRegistry copy;
    EXPECT_EQ(applyRegOps(copy, parseRegText(encodeRegFileBytes(*first, format)).ops), 0u);
    auto second = exportRegText(copy, path, format);
    ASSERT_TRUE(second);
    EXPECT_EQ(*first, *second);
    if (format == RegFileFormat::Version5) {
        // Version 5 carries every byte: the copy is the original.
        auto* c = copy.root(RootKey::CurrentUser).find("Software\\R\xC3\xA9g\\T=1");
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->values.size(), k->values.size());
        for (size_t i = 0; i < k->values.size(); ++i) {
            EXPECT_EQ(c->values[i].name, k->values[i].name);
            EXPECT_EQ(c->values[i].type, k->values[i].type);
            EXPECT_EQ(c->values[i].data, k->values[i].data) << k->values[i].name;
        }
    }
}

TEST(RegFileExport, RoundTripsVersion5) {
    expectRoundTrip(RegFileFormat::Version5);
}
TEST(RegFileExport, RoundTripsRegedit4) {
    expectRoundTrip(RegFileFormat::Regedit4);
}

TEST(RegFileExport, EncodesFileBytes) {
    EXPECT_EQ(encodeRegFileBytes("A\r\n", RegFileFormat::Version5), std::string("\xFF\xFE"
                                                                                "A\0\r\0\n\0",
                                                                                8));
    EXPECT_EQ(encodeRegFileBytes("caf\xC3\xA9", RegFileFormat::Regedit4), "caf\xE9");
    // No ANSI form: the text stays UTF-8, which the import reads back.
    EXPECT_EQ(encodeRegFileBytes("\xE6\x97\xA5", RegFileFormat::Regedit4), "\xE6\x97\xA5");
    // "Ã©" in ANSI is C3 A9, which would read back as UTF-8 "é": kept as UTF-8.
    EXPECT_EQ(encodeRegFileBytes("\xC3\x83\xC2\xA9", RegFileFormat::Regedit4), "\xC3\x83\xC2\xA9");
}

// Random bytes and damaged real files: an error or a result, never a crash.
TEST(RegFileFuzz, SurvivesGarbageAndMutations) {
    MemoryRegistry reg;
    auto* k = reg.root(RootKey::CurrentUser).find("F", true);
    k->setValue("s", REG_SZ, wide("text\\\"q"));
    k->setValue("b", REG_BINARY, std::vector<uint8_t>(90, 0xab));
    k->setValue("m", REG_MULTI_SZ, encodeMultiString({"x", "y"}));
    k->setValue("d", REG_DWORD, {1, 0, 0, 0});
    k->find("Sub", true)->setValue("", REG_EXPAND_SZ, wide("%x%"));
    std::vector<std::string> seeds;
    for (auto f : {RegFileFormat::Version5, RegFileFormat::Regedit4}) {
        auto text = *exportRegText(reg, "HKEY_CURRENT_USER\\F", f);
        seeds.push_back(text);
        seeds.push_back(encodeRegFileBytes(text, f));
    }
    std::mt19937 rng(12345);
    const std::string alphabet = "[]\"\\@=-:,;()hexdword0123456789abcdef \r\n\t\xFF\xFE\0";
    size_t parsed = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string input;
        if (round % 4 == 0) {
            input.resize(rng() % 200);
            for (auto& c : input) c = char(rng());
            if (round % 8 == 0) input = "REGEDIT4\n" + input;
        } else {
            input = seeds[rng() % seeds.size()];
            int edits = 1 + int(rng() % 6);
            for (int e = 0; e < edits && !input.empty(); ++e) {
                size_t at = rng() % input.size();
                switch (rng() % 4) {
                    case 0:
                        input[at] = alphabet[rng() % alphabet.size()];
                        break;
                    case 1:
                        input.erase(at, 1 + rng() % 8);
                        break;
                    case 2:
                        input.insert(at, 1, alphabet[rng() % alphabet.size()]);
                        break;
                    default:
                        input.resize(at);
                        break;
                }
            }
        }
        try {
            auto p = parseRegText(input);
            MemoryRegistry target;
            applyRegOps(target, p.ops);
            ++parsed;
        } catch (const RegFileError& e) {
            EXPECT_FALSE(e.message.empty());
        }
    }
    EXPECT_GT(parsed, 100u);  // the mutations must not all be fatal, or the test proves little
}

}  // namespace
}  // namespace brisko
