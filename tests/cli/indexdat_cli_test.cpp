// brisko indexdat list|wipe on the demo machine's IE 8 indexes and on host files.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "support/shell_command.h"
#include "support/test_machine.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kCache =
    "C:\\Users\\Alex\\AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Content.IE5\\"
    "index.dat";
const std::string kHistory =
    "C:\\Users\\Alex\\AppData\\Local\\Microsoft\\Windows\\History\\History.IE5\\index.dat";

using CliRun = brisko::test::CommandRun;

class IndexDatCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::make_unique<brisko::test::TempDir>();
        ASSERT_EQ(run({"demo-machine", machine().string()}, false).code, 0);
    }
    fs::path machine() const { return dir_->path() / "demo"; }
    fs::path hostOf(const std::string& win) const {
        std::string rel = win.substr(3);
        for (char& c : rel)
            if (c == '\\') c = '/';
        return machine() / rel;
    }
    CliRun run(const std::vector<std::string>& args, bool onMachine = true) {
        std::vector<std::string> argv{BRISKO_CLI};
        if (onMachine) argv.insert(argv.end(), {"--machine", machine().string()});
        argv.insert(argv.end(), args.begin(), args.end());
        return brisko::test::runShell(brisko::test::shellCommand(argv) + " 2>/dev/null </dev/null");
    }
    std::unique_ptr<brisko::test::TempDir> dir_;
};

TEST_F(IndexDatCli, ListsEntriesInFileOrderWithTypesAndUtcTimes) {
    auto r = run({"indexdat", "list", kCache, "--json"});
    ASSERT_EQ(r.code, 0) << r.out;
    auto j = json::parse(r.out);
    ASSERT_EQ(j["total"], 7);
    EXPECT_EQ(r.out, j.dump() + "\n");  // streamed, laid out as one dump on one line
    ASSERT_EQ(j["entries"].size(), 7u);
    EXPECT_EQ(j["entries"][0]["url"], "http://www.example-news.com/");
    // Each time under the name of what it holds: the record's last
    // modification (at 8) and its last access (at 16).
    EXPECT_EQ(j["entries"][0]["lastModified"], "2026-03-02T08:14:00Z");
    EXPECT_EQ(j["entries"][0]["lastAccessed"], "2026-03-02T09:14:00Z");
    EXPECT_EQ(j["entries"][0]["type"], "URL");

    auto h = json::parse(run({"--json", "indexdat", "list", kHistory}).out);
    EXPECT_EQ(h["entries"].back()["type"], "REDR");
    EXPECT_TRUE(h["entries"].back()["lastModified"].is_null());

    auto text = run({"indexdat", "list", kCache});
    EXPECT_NE(text.out.find("Total Record: 7\n"), std::string::npos);
    // In the machine's date and time format and time zone (the demo's are
    // Windows' defaults and UTC), then as a British user has it, an hour
    // east of UTC.
    EXPECT_NE(text.out.find("URL\t3/2/2026 9:14:00 AM\thttp://www.example-news.com/"),
              std::string::npos)
        << text.out;
    brisko::test::writeFile(dir_->path() / "uk.reg",
                            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\International]\r\n"
                            "\"sShortDate\"=\"dd/MM/yyyy\"\r\n\"sTimeFormat\"=\"HH:mm:ss\"\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\"
                            "TimeZoneInformation]\r\n\"ActiveTimeBias\"=dword:ffffffc4\r\n");
    ASSERT_EQ(run({"reg", "import", (dir_->path() / "uk.reg").string()}).code, 0);
    text = run({"indexdat", "list", kCache});
    EXPECT_NE(text.out.find("URL\t02/03/2026 10:14:00\thttp://www.example-news.com/"),
              std::string::npos)
        << text.out;
}

TEST_F(IndexDatCli, WipeAsksBlanksInPlaceAndKeepsTheSize) {
    const auto size = fs::file_size(hostOf(kCache));
    EXPECT_EQ(run({"indexdat", "wipe", kCache}).code, 5);  // not confirmed
    EXPECT_EQ(json::parse(run({"--json", "indexdat", "list", kCache}).out)["total"], 7);
    ASSERT_EQ(run({"indexdat", "wipe", kCache, "--yes"}).code, 0);
    EXPECT_EQ(fs::file_size(hostOf(kCache)), size);
    EXPECT_EQ(json::parse(run({"--json", "indexdat", "list", kCache}).out)["total"], 0);
}

TEST_F(IndexDatCli, HostFilesAndBadInput) {
    fs::path copy = dir_->path() / "copy.dat";
    fs::copy_file(hostOf(kHistory), copy);
    auto r = run({"--json", "indexdat", "list", "--host", copy.string()}, false);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(json::parse(r.out)["total"], 6);
    EXPECT_EQ(run({"indexdat", "wipe", "--host", copy.string(), "--yes"}, false).code, 0);
    EXPECT_EQ(json::parse(
                  run({"--json", "indexdat", "list", "--host", copy.string()}, false).out)["total"],
              0);

    // A table chain that loops back on its first table: nothing can be
    // blanked, and the wipe says so.
    fs::path loop = dir_->path() / "loop.dat";
    fs::copy_file(hostOf(kHistory), loop);
    {
        std::string bytes = brisko::test::readFile(loop);
        // Header offset 32: the first hash table; table offset 8: the next one.
        const auto u32 = [&](size_t at) {
            return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
                   uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
        };
        const uint32_t first = u32(32);
        bytes.replace(first + 8, 4, bytes.substr(32, 4));
        brisko::test::writeFile(loop, bytes);
    }
    auto looped = run({"indexdat", "wipe", "--host", loop.string(), "--yes"}, false);
    EXPECT_EQ(looped.code, 1);
    EXPECT_GT(json::parse(
                  run({"--json", "indexdat", "list", "--host", loop.string()}, false).out)["total"]
                  .get<int>(),
              0);

    brisko::test::writeFile(dir_->path() / "notes.dat", "just some text, not an index");
    EXPECT_EQ(
        run({"indexdat", "list", "--host", (dir_->path() / "notes.dat").string()}, false).code, 4);
    EXPECT_EQ(run({"indexdat", "list", "C:\\nowhere\\index.dat"}).code, 1);
    // A host path is not a machine path: nothing outside the machine is reached.
    EXPECT_EQ(run({"indexdat", "list", copy.string()}).code, 1);
}

}  // namespace
