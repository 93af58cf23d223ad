// The brisko tool and the machine's hives: hive check, imports that fail or
// are refused, two writers at once, and imports killed at random moments.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "core/machine/image/image_machine.h"
#include "core/machine/image/machine_lock.h"
#include "core/machine/registry_key.h"
#include "demo/machine_builder.h"
#include "support/real_data.h"
#include "support/test_machine.h"

extern char** environ;

namespace brisko {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

const std::string kSid = "S-1-5-21-1-2-3-1001";

// A started brisko process; stdout and stderr go to files.
struct Process {
    pid_t pid = -1;
    fs::path out, err;

    // Exit code, or -signal when killed.
    int wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
};

class HiveCli : public ::testing::Test {
  protected:
    void SetUp() override {
        MachineBuilder b("Ann", kSid);
        b.addRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Old]\n\"a\"=\"1\"\n");
        b.write(machine());
    }
    fs::path machine() const { return dir.path() / "m"; }
    fs::path hive(const std::string& name) const {
        if (name == "NTUSER.DAT") return machine() / "Users" / "Ann" / "NTUSER.DAT";
        return machine() / "Windows" / "System32" / "config" / name;
    }
    fs::path regFile(const std::string& name, const std::string& body) {
        auto p = dir.path() / name;
        test::writeFile(p, "REGEDIT4\r\n\r\n" + body);
        return p;
    }

    Process start(const std::vector<std::string>& args, const std::string& env = "") {
        static int serial = 0;
        Process p;
        p.out = dir.path() / ("out" + std::to_string(serial));
        p.err = dir.path() / ("err" + std::to_string(serial++));
        std::vector<std::string> argv = {BRISKO_CLI, "--machine", machine().string()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::vector<std::string> envs;
        for (char** e = environ; *e; ++e) envs.emplace_back(*e);
        if (!env.empty()) envs.push_back(env);
        std::vector<char*> cenv;
        for (auto& e : envs) cenv.push_back(e.data());
        cenv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, p.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, p.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        EXPECT_EQ(::posix_spawn(&p.pid, BRISKO_CLI, &actions, nullptr, cargv.data(), cenv.data()),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        return p;
    }
    struct Result {
        int code;
        std::string out, err;
    };
    Result run(const std::vector<std::string>& args, const std::string& env = "") {
        auto p = start(args, env);
        int code = p.wait();
        return {code, test::readFile(p.out), test::readFile(p.err)};
    }

    bool keyExists(RootKey root, const std::string& key) {
        ImageMachine m(machine());
        return RegistryKey(m.registry(), root).openKeyReadOnly(key);
    }

    test::TempDir dir;
};

// hivexml and regfexport read every one of the hives (run side by side).
bool oraclesRead(const std::vector<fs::path>& hives) {
    std::vector<pid_t> pids;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    for (const auto& hive : hives) {
        for (const char* tool : {"hivexml", "regfexport"}) {
            std::string file = hive.string();
            char* argv[] = {const_cast<char*>(tool), file.data(), nullptr};
            pid_t pid;
            if (::posix_spawnp(&pid, tool, &quiet, nullptr, argv, environ) == 0)
                pids.push_back(pid);
            else
                pids.push_back(-1);
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
    bool ok = true;
    for (pid_t pid : pids) {
        int status = 0;
        ok = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
             WEXITSTATUS(status) == 0 && ok;
    }
    return ok;
}

TEST_F(HiveCli, HiveCheckReportsEveryHiveAndOneHostFile) {
    auto r = run({"hive", "check"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("C:\\Users\\Ann\\NTUSER.DAT: clean"), std::string::npos) << r.out;

    r = run({"--json", "hive", "check", hive("SOFTWARE").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    auto j = json::parse(r.out);
    EXPECT_EQ(j["usable"], true);
    ASSERT_EQ(j["hives"].size(), 1u);
    EXPECT_EQ(j["hives"][0]["state"], "clean");

    test::writeFile(dir.path() / "junk", std::string(8192, 'x'));
    r = run({"hive", "check", (dir.path() / "junk").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find(": damaged ("), std::string::npos) << r.out;

    // A hive that cannot be read at all: checked as damaged, the rest of the
    // machine goes on working.
    test::writeFile(hive("NTUSER.DAT"), "this is not a hive");
    r = run({"--json", "hive", "check"});
    EXPECT_EQ(r.code, 1);
    j = json::parse(r.out);
    EXPECT_EQ(j["usable"], false);
    std::map<std::string, std::string> states;
    for (const auto& h : j["hives"]) states[h["file"]] = h["state"];
    EXPECT_EQ(states["C:\\Users\\Ann\\NTUSER.DAT"], "damaged");
    EXPECT_EQ(states["C:\\Windows\\System32\\config\\SOFTWARE"], "clean");
    r = run({"info"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("C:\\Users\\Ann\\NTUSER.DAT  damaged ("), std::string::npos) << r.out;
    EXPECT_EQ(run({"reg", "import",
                   regFile("m.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Still]\r\n").string()})
                  .code,
              0);
}

TEST_F(HiveCli, AReadOnlyHiveSaysWhyInCleanAndExport) {
    MachineBuilder b("Ann", kSid);
    b.addRegText(
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
        "Explorer\\ComDlg32\\OpenSaveMRU\\txt]\n\"a\"=\"C:\\\\notes.txt\"\n");
    fs::remove_all(machine());
    b.write(machine());
    // Not closed cleanly, and its log holds nothing usable: readable, never written.
    std::string bytes = test::readFile(hive("NTUSER.DAT"));
    auto word = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    uint32_t sequence = word(4) + 1, sum = 0;
    std::memcpy(bytes.data() + 4, &sequence, 4);
    for (size_t at = 0; at < 508; at += 4) sum ^= word(at);
    std::memcpy(bytes.data() + 508, &sum, 4);
    test::writeFile(hive("NTUSER.DAT"), bytes);
    test::writeFile(hive("NTUSER.DAT").string() + ".LOG1", std::string(2048, 'x'));

    // Nothing can be deleted from it: the clean says why, counts nothing and fails.
    auto r = run({"clean", "--yes", "Advanced - Open File History"});
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.err.find("could not be applied"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("0 items"), std::string::npos) << r.out;
    EXPECT_EQ(test::readFile(hive("NTUSER.DAT")), bytes);

    // An export of it holds what could be read, and says so.
    r = run({"reg", "export", "HKEY_CURRENT_USER\\Software", (dir.path() / "u.reg").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("warning: the hive C:\\Users\\Ann\\NTUSER.DAT is damaged"),
              std::string::npos)
        << r.err;
    r = run({"reg", "export", "HKEY_LOCAL_MACHINE\\SOFTWARE", (dir.path() / "s.reg").string()});
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

TEST_F(HiveCli, HiveCheckOfRealWindowsHives) {
    BRISKO_REQUIRE_REAL_DATA();
    for (const char* f : {"win10_UsrClass.dat", "win10_UsrClass.dat.LOG1",
                          "win10_UsrClass.dat.LOG2", "win10_SECURITY"})
        ASSERT_TRUE(test::unpackRealData(std::string("hives/") + f, dir.path()));
    auto r = run({"hive", "check", (dir.path() / "win10_UsrClass.dat").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(": recovered (14 log entries)"), std::string::npos) << r.out;
    r = run({"--json", "hive", "check", (dir.path() / "win10_SECURITY").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    auto j = json::parse(r.out);
    EXPECT_EQ(j["hives"][0]["state"], "asStored");
    EXPECT_EQ(j["hives"][0]["writable"], true);
    EXPECT_EQ(j["hives"][0]["reason"], "not closed cleanly; no transaction logs; used as stored");
}

TEST_F(HiveCli, QueryShowsEveryStringOfAMultiString) {
    // PendingFileRenameOperations: a rename, then a deletion (empty target).
    auto reg = regFile("pending.reg",
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Pending]\r\n"
                       "\"Ops\"=hex(7):41,00,00,42,00,43,00,00\r\n");
    ASSERT_EQ(run({"reg", "import", reg.string()}).code, 0);
    auto r = run({"reg", "query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Pending"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("REG_MULTI_SZ    A\\0\\0B\\0C\n"), std::string::npos) << r.out;
}

TEST_F(HiveCli, AnImportThatFailsChangesNoHive) {
    std::string software = test::readFile(hive("SOFTWARE"));
    std::string user = test::readFile(hive("NTUSER.DAT"));
    // The last key cannot be made (HARDWARE is built when Windows starts).
    auto reg = regFile("partial.reg",
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Partial]\r\n\"a\"=\"1\"\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Partial]\r\n\"b\"=\"2\"\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\HARDWARE\\Nope]\r\n\"c\"=\"3\"\r\n");
    auto r = run({"reg", "import", reg.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Nothing was imported"), std::string::npos) << r.err;
    // The same file restored as a backup: refused whole, with the reason, and kept.
    const fs::path backups = machine() / "Users" / "Ann" / "AppData" / "Roaming" / "Brisko" /
                             "Brisko Cleaner" / "Backup";
    fs::create_directories(backups);
    fs::copy_file(reg, backups / "partial.reg");
    r = run({"backups", "restore", "partial.reg"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("2 of 6 operations could not be carried out. Nothing was restored."),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::exists(backups / "partial.reg"));
    EXPECT_EQ(test::readFile(hive("SOFTWARE")), software);
    EXPECT_EQ(test::readFile(hive("NTUSER.DAT")), user);
    EXPECT_FALSE(keyExists(RootKey::LocalMachine, "SOFTWARE\\Partial"));
}

TEST_F(HiveCli, AnImportIntoADamagedHiveIsRefusedAndChangesNoOtherHive) {
    // Hive bins data size beyond the end of the file, in a base block whose
    // checksum is right: the hive is damaged, not dirty.
    test::claimBinsBeyondTheFile(hive("NTUSER.DAT"));
    std::string bytes = test::readFile(hive("NTUSER.DAT"));
    std::string software = test::readFile(hive("SOFTWARE"));
    auto reg = regFile("both.reg",
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Both]\r\n\"a\"=\"1\"\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Both]\r\n\"b\"=\"2\"\r\n");
    auto r = run({"reg", "import", reg.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing was changed"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFile(hive("SOFTWARE")), software);
    EXPECT_EQ(test::readFile(hive("NTUSER.DAT")), bytes);
    r = run({"hive", "check"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("NTUSER.DAT: damaged"), std::string::npos) << r.out;
}

TEST_F(HiveCli, AWriterKeptWaitingTooLongFailsClearlyAndChangesNothing) {
    auto reg = regFile("late.reg", "[HKEY_CURRENT_USER\\Software\\Late]\r\n\"a\"=\"1\"\r\n");
    {
        MachineLock other(machine());
        ASSERT_TRUE(other.acquire(0ms));
        auto r = run({"reg", "import", reg.string()}, "BRISKO_LOCK_WAIT=0.2");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(kMachineBusyMessage), std::string::npos) << r.err;
        // Readers are not held up.
        EXPECT_EQ(run({"reg", "query", "HKEY_CURRENT_USER\\Software\\Old"}).code, 0);
    }
    EXPECT_FALSE(keyExists(RootKey::CurrentUser, "Software\\Late"));
    EXPECT_EQ(run({"reg", "import", reg.string()}).code, 0);
    EXPECT_TRUE(keyExists(RootKey::CurrentUser, "Software\\Late"));
}

TEST_F(HiveCli, TwoImportsAtOnceBothLand) {
    for (int round = 0; round < 5; ++round) {
        std::string n = std::to_string(round);
        auto a = regFile("a" + n + ".reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A" + n +
                                               "]\r\n\"v\"=\"a\"\r\n\r\n"
                                               "[HKEY_CURRENT_USER\\Software\\A" +
                                               n + "]\r\n\"v\"=\"a\"\r\n");
        auto b = regFile("b" + n + ".reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\B" + n +
                                               "]\r\n\"v\"=\"b\"\r\n\r\n"
                                               "[HKEY_CURRENT_USER\\Software\\B" +
                                               n + "]\r\n\"v\"=\"b\"\r\n");
        auto pa = start({"reg", "import", a.string()});
        auto pb = start({"reg", "import", b.string()});
        EXPECT_EQ(pa.wait(), 0) << test::readFile(pa.err);
        EXPECT_EQ(pb.wait(), 0) << test::readFile(pb.err);
        ImageMachine m(machine());
        for (const char* which : {"A", "B"}) {
            EXPECT_TRUE(RegistryKey(m.registry(), RootKey::LocalMachine)
                            .openKeyReadOnly(std::string("SOFTWARE\\") + which + n))
                << which << n;
            EXPECT_TRUE(RegistryKey(m.registry(), RootKey::CurrentUser)
                            .openKeyReadOnly(std::string("Software\\") + which + n))
                << which << n;
        }
    }
}

// `brisko reg import` of one generation mark into SYSTEM, SOFTWARE and the
// user's hive, killed at random moments. After each kill the machine opens
// with all three hives at the old mark or all at the new one, each hive
// readable by hivexml and regfexport, and nothing left beside the hives.
// BRISKO_KILL_RUNS sets the number of kills (default 100).
TEST_F(HiveCli, AnImportKilledAtAnyMomentLeavesEveryHiveOldOrNew) {
    int runs = 100;
    if (const char* env = std::getenv("BRISKO_KILL_RUNS")) runs = std::max(1, std::atoi(env));
    const std::vector<fs::path> hives = {hive("SYSTEM"), hive("SOFTWARE"), hive("NTUSER.DAT")};
    auto markReg = [&](int gen) {
        std::string body;
        char dword[16];
        std::snprintf(dword, sizeof dword, "%08x", gen);
        for (const char* key :
             {"HKEY_LOCAL_MACHINE\\SYSTEM\\Brisko", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brisko",
              "HKEY_CURRENT_USER\\Software\\Brisko"}) {
            body += std::string("[") + key + "]\r\n\"Gen\"=dword:" + dword + "\r\n";
            for (int i = 0; i < 20; ++i)
                body +=
                    "\"V" + std::to_string(i) + "\"=\"generation " + std::to_string(gen) + "\"\r\n";
            body += "\r\n";
        }
        return regFile("gen.reg", body);
    };
    auto marks = [&] {
        ImageMachine m(machine());
        std::vector<int> out;
        for (auto [root, key] : {std::pair{RootKey::LocalMachine, "SYSTEM\\Brisko"},
                                 std::pair{RootKey::LocalMachine, "SOFTWARE\\Brisko"},
                                 std::pair{RootKey::CurrentUser, "Software\\Brisko"}}) {
            RegistryKey k(m.registry(), root);
            out.push_back(k.openKeyReadOnly(key) ? k.readInteger("Gen").value_or(-1) : 0);
        }
        EXPECT_TRUE(m.warnings().empty()) << m.warnings().front();
        return out;
    };

    // How long one import takes, to spread the kills over it.
    // The quickest of three, as the first run meets cold caches and a busy
    // machine can slow any one.
    auto full = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(run({"reg", "import", markReg(1).string()}).code, 0);
        full = std::min(full, std::chrono::steady_clock::now() - t0);
    }
    int gen = 1;
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<double> when(0.2, 1.1);
    int killed = 0, landed = 0, old = 0;
    for (int i = 0; i < runs; ++i) {
        SCOPED_TRACE(i);
        auto reg = markReg(gen + 1);
        auto p = start({"reg", "import", reg.string()});
        std::this_thread::sleep_for(
            std::chrono::duration_cast<std::chrono::microseconds>(full * when(rng)));
        ::kill(p.pid, SIGKILL);
        if (p.wait() == -SIGKILL) ++killed;
        auto now = marks();
        ASSERT_TRUE(now == std::vector<int>(3, gen) || now == std::vector<int>(3, gen + 1))
            << now[0] << " " << now[1] << " " << now[2] << " after generation " << gen;
        if (now[0] == gen + 1) {
            ++landed;
            ++gen;
        } else {
            ++old;
        }
        ASSERT_TRUE(oraclesRead(hives));
        for (const auto& h : hives) {
            for (const auto& e : fs::directory_iterator(h.parent_path())) {
                auto name = e.path().filename().string();
                EXPECT_TRUE(name.find(".brisko-") == std::string::npos && !name.ends_with(".tmp"))
                    << name;
            }
        }
        EXPECT_FALSE(fs::exists(machine() / ".brisko-commit"));
    }
    std::printf("[ kills    ] %d runs, %d killed: %d old, %d new\n", runs, killed, old, landed);
    // Most kills land mid-import; on a loaded machine fewer do, but a run that
    // killed hardly any import tested nothing.
    EXPECT_GE(killed, runs / 5);
}

// A hive file swapped for a link, or gone, is said: at every open, and by
// `hive check`, which then fails.
TEST_F(HiveCli, AHiveThatIsALinkOrMissingIsSaidAndFailsTheCheck) {
    fs::rename(hive("SAM"), dir.path() / "SAM.outside");
    fs::create_symlink(dir.path() / "SAM.outside", hive("SAM"));
    fs::remove(hive("SECURITY"));
    auto r = run({"hive", "check"});
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find("config\\SAM is a link or not a regular file; it is not mounted."),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("config\\SECURITY is missing; it is not mounted."), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("warning: The hive file"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace brisko
