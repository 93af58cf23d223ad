// A machine on a real NTFS file system, mounted with ntfs-3g as Linux users
// mount a Windows disk: the 8.3 names NTFS stores, a junction as Windows makes
// one, and the whole round of scan, fix, restore, clean and defrag on it.
// Skipped where mkntfs, ntfs-3g or FUSE are missing.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "demo/demo_machine.h"
#include "support/shell_command.h"
#include "support/test_machine.h"

namespace brisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::runShell;
using test::shellQuote;

test::CommandRun brisko(const fs::path& machine, const std::string& args) {
    return runShell(std::string(BRISKO_CLI) + " --machine " + shellQuote(machine.string()) + " " +
                    args + " 2>/dev/null </dev/null");
}

json jsonOf(const test::CommandRun& r) {
    auto at = r.out.find('{');
    return json::parse(r.out.substr(at == std::string::npos ? 0 : at));
}

// An NTFS volume made by mkntfs in a sparse file and mounted with ntfs-3g.
class NtfsVolume {
  public:
    NtfsVolume() : image_(dir_.path() / "ntfs.img"), mount_(dir_.path() / "mnt") {
        fs::create_directories(mount_);
        if (runShell("truncate -s 96M " + shellQuote(image_.string()) + " && mkntfs -F -f -q " +
                     shellQuote(image_.string()) + " >/dev/null 2>&1")
                .code != 0) {
            why_ = "mkntfs is not installed (package ntfs-3g)";
            return;
        }
        mounted_ = mount();
        if (!mounted_) why_ = "ntfs-3g cannot mount here (no FUSE)";
    }
    ~NtfsVolume() {
        if (mounted_) ::umount2(mount_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    const fs::path& root() const { return mount_; }
    // ntfs-3g shows a reparse point set on a mounted volume once mounted anew.
    bool remount() {
        if (::umount2(mount_.c_str(), 0) != 0) return false;
        return mounted_ = mount();
    }

  private:
    bool mount() {
        return runShell("ntfs-3g " + shellQuote(image_.string()) + " " +
                        shellQuote(mount_.string()) + " >/dev/null 2>&1")
                   .code == 0;
    }
    test::TempDir dir_;
    fs::path image_, mount_;
    bool mounted_ = false;
    std::string why_;
};

bool setAttr(const fs::path& p, const std::string& name, const std::string& value) {
    return runShell("setfattr -n " + name + " -v " + shellQuote(value) + " " +
                    shellQuote(p.string()) + " 2>&1")
               .code == 0;
}

// A mount-point reparse point (a junction) to a Windows folder, as Windows
// stores it: tag IO_REPARSE_TAG_MOUNT_POINT, then the substitute name
// ("\??\C:\...") and the print name, UTF-16LE, each with a terminating NUL
// not counted in its length.
std::string junctionData(const std::string& winPath) {
    auto utf16 = [](const std::string& s) {
        std::vector<uint8_t> out;
        for (char c : s) out.insert(out.end(), {uint8_t(c), 0});
        return out;
    };
    auto sub = utf16("\\??\\" + winPath), print = utf16(winPath);
    std::vector<uint8_t> body;
    auto u16 = [&](size_t v) { body.insert(body.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    u16(0);
    u16(sub.size());
    u16(sub.size() + 2);
    u16(print.size());
    body.insert(body.end(), sub.begin(), sub.end());
    body.insert(body.end(), {0, 0});
    body.insert(body.end(), print.begin(), print.end());
    body.insert(body.end(), {0, 0});
    std::vector<uint8_t> all{0x03, 0x00, 0x00, 0xa0};
    all.insert(all.end(), {uint8_t(body.size()), uint8_t(body.size() >> 8), 0, 0});
    all.insert(all.end(), body.begin(), body.end());
    std::string hex = "0x";
    for (uint8_t b : all) {
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02x", b);
        hex += buf;
    }
    return hex;
}

std::vector<std::string> problemData(const json& scan) {
    std::vector<std::string> out;
    for (const auto& p : scan["problems"]) out.push_back(p["data"]);
    std::sort(out.begin(), out.end());
    return out;
}

constexpr const char* kAppPaths =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

TEST(NtfsDisk, StoredShortNamesJunctionsAndTheWholeRound) {
    NtfsVolume volume;
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    const fs::path m = volume.root();
    createDemoMachine(m);

    // Made in this order, so Windows named Office MICROS~1 and Games
    // MICROS~2: the reverse of their sorted order.
    const fs::path pf = m / "Program Files";
    test::writeFile(pf / "Microsoft Office" / "Office14" / "WINWORD.EXE", "word");
    test::writeFile(pf / "Microsoft Games" / "Chess" / "Chess.exe", "chess");
    ASSERT_TRUE(setAttr(pf, "system.ntfs_dos_name", "PROGRA~1"));
    ASSERT_TRUE(setAttr(pf / "Microsoft Office", "system.ntfs_dos_name", "MICROS~1"));
    ASSERT_TRUE(setAttr(pf / "Microsoft Games", "system.ntfs_dos_name", "MICROS~2"));
    const fs::path temp = m / "Users" / "Alex" / "AppData" / "Local" / "Temp";
    fs::create_directories(temp / "Docs");
    ASSERT_TRUE(setAttr(temp / "Docs", "system.ntfs_reparse_data",
                        junctionData("C:\\Users\\Alex\\Documents")));
    ASSERT_TRUE(volume.remount());
    ASSERT_TRUE(fs::is_symlink(temp / "Docs"));
    const size_t documents =
        std::distance(fs::recursive_directory_iterator(m / "Users" / "Alex" / "Documents"),
                      fs::recursive_directory_iterator());

    test::writeFile(
        m / "add.reg",
        std::string("REGEDIT4\r\n\r\n[") + kAppPaths + "WINWORD.EXE]\r\n" +
            "@=\"C:\\\\PROGRA~1\\\\MICROS~1\\\\Office14\\\\WINWORD.EXE\"\r\n\r\n[" + kAppPaths +
            "Chess.exe]\r\n@=\"C:\\\\PROGRA~1\\\\MICROS~2\\\\Chess\\\\Chess.exe\"\r\n\r\n[" +
            kAppPaths +
            "GONE.EXE]\r\n@=\"C:\\\\PROGRA~1\\\\MICROS~1\\\\Office14\\\\GONE.EXE\"\r\n");
    ASSERT_EQ(brisko(m, "reg import " + shellQuote((m / "add.reg").string())).code, 0);
    fs::remove(m / "add.reg");

    // Software Locations: only the really missing program is a problem.
    auto scan = brisko(m, "--json regscan --sections 8");
    ASSERT_EQ(scan.code, 0) << scan.out;
    const std::vector<std::string> before = problemData(jsonOf(scan));
    EXPECT_NE(std::find(before.begin(), before.end(), "C:\\PROGRA~1\\MICROS~1\\Office14\\GONE.EXE"),
              before.end());
    for (const auto& d : before)
        EXPECT_EQ(d.find("MICROS~1\\Office14\\WINWORD"), std::string::npos);
    for (const auto& d : before) EXPECT_EQ(d.find("Chess"), std::string::npos);

    auto fix = brisko(m, "--json fix --sections 8 --yes");
    ASSERT_EQ(fix.code, 0) << fix.out;
    EXPECT_EQ(jsonOf(fix)["fixed"].get<size_t>(), before.size());
    for (const char* kept : {"WINWORD.EXE", "Chess.exe"})
        EXPECT_EQ(
            brisko(m, std::string("reg query ") + shellQuote(kAppPaths + std::string(kept))).code,
            0)
            << kept;
    EXPECT_NE(
        brisko(m, std::string("reg query ") + shellQuote(kAppPaths + std::string("GONE.EXE"))).code,
        0);
    EXPECT_EQ(jsonOf(brisko(m, "--json regscan --sections 8"))["total"], 0);
    auto backups = jsonOf(brisko(m, "--json backups list"));
    ASSERT_EQ(backups["backups"].size(), 1u);
    ASSERT_EQ(
        brisko(m, "backups restore " + shellQuote(backups["backups"][0]["file"].get<std::string>()))
            .code,
        0);
    EXPECT_EQ(problemData(jsonOf(brisko(m, "--json regscan --sections 8"))), before);

    // The same machine copied to a plain folder keeps no short names: the
    // aliases are guesses, and what goes through them is not reported.
    test::TempDir copy;
    ASSERT_EQ(
        runShell("cp -r " + shellQuote(m.string()) + " " + shellQuote((copy.path() / "m").string()))
            .code,
        0);
    for (const auto& d :
         problemData(jsonOf(brisko(copy.path() / "m", "--json regscan --sections 8"))))
        EXPECT_EQ(d.find("MICROS~"), std::string::npos) << d;

    // A clean removes the temporary files, the junction among them, and
    // never enters it.
    auto test = jsonOf(brisko(m, "--json test \"Windows - Temporary Files\""));
    auto clean = brisko(m, "--json clean --yes \"Windows - Temporary Files\"");
    ASSERT_EQ(clean.code, 0) << clean.out;
    EXPECT_EQ(jsonOf(clean)["totalCount"], test["totalCount"]);
    EXPECT_GT(test["totalCount"].get<int>(), 0);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(m / "Users" / "Alex" / "Documents"),
                            fs::recursive_directory_iterator()),
              documents);

    // Hive copies made, put in place at the restart, on the mount: each hive
    // whose copy is smaller (the others are already compact) keeps its old
    // file as .bak.
    auto applied = brisko(m, "--json defrag apply --yes");
    ASSERT_EQ(applied.code, 0) << applied.out;
    ASSERT_EQ(brisko(m, "restart").code, 0);
    const json report = jsonOf(applied);
    size_t replaced = 0;
    for (const auto& h : report["hives"]) {
        if (h.value("alreadyCompact", false)) continue;
        std::string file = h["file"].get<std::string>().substr(3);
        std::replace(file.begin(), file.end(), '\\', '/');
        EXPECT_TRUE(fs::exists(m / (file + ".bak"))) << file;
        ++replaced;
    }
    EXPECT_EQ(report["scheduled"].get<size_t>(), replaced) << applied.out;
    EXPECT_EQ(problemData(jsonOf(brisko(m, "--json regscan --sections 8"))), before);
}

}  // namespace
}  // namespace brisko
