// Links that stay inside the machine: read through, never acted through. A
// folder exchanged for such a link at any level of a path, at any moment,
// carries no operation into the folder the link leads to.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/machine/image/image_files.h"
#include "support/test_machine.h"

using namespace brisko;
namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

namespace {

constexpr int kFiles = 150;

struct InsideMachine {
    InsideMachine()
        : machine(tmp.path() / "m"), files(machine, {{'C', DriveKind::Fixed, "", "."}}) {
        // The same names below Temp and below Docs, so that a path that
        // strays through a link finds a file to act on.
        for (const char* top : {"Temp", "Docs"})
            for (int i = 0; i < kFiles; ++i) {
                writeFile(machine / top / "a" / "b" / ("f" + std::to_string(i)), top);
                writeFile(machine / top / "a" / ("g" + std::to_string(i)), top);
            }
    }
    int docsFiles() const {
        int n = 0;
        for (auto& e : fs::recursive_directory_iterator(machine / "Docs")) {
            if (!e.is_regular_file()) continue;
            if (readFile(e.path()) != "Docs") return -1;
            if ((e.status().permissions() & fs::perms::owner_write) == fs::perms::none) return -1;
            ++n;
        }
        return n;
    }
    test::TempDir tmp;
    fs::path machine;
    ImageFileApi files;
};

}  // namespace

TEST(InsideLinks, ReadThroughButNeverActedThrough) {
    InsideMachine m;
    fs::create_directory_symlink("../Docs/a", m.machine / "Temp" / "docs");
    const std::string viaLink = "C:\\Temp\\docs\\b\\f1";
    EXPECT_TRUE(m.files.fileExists(viaLink));
    EXPECT_TRUE(m.files.openFile(viaLink, FileMode::Read));
    EXPECT_FALSE(m.files.findFiles("C:\\Temp\\docs\\b", "f1*")->empty());
    EXPECT_FALSE(m.files.deleteFile(viaLink));
    EXPECT_FALSE(m.files.shellDelete("C:\\Temp\\docs\\b"));
    EXPECT_FALSE(m.files.openFile(viaLink, FileMode::ReadWrite));
    EXPECT_FALSE(m.files.createFile(viaLink));
    EXPECT_FALSE(m.files.createFile("C:\\Temp\\docs\\b\\new"));
    EXPECT_FALSE(m.files.setAttributes(viaLink, faReadOnly));
    EXPECT_FALSE(m.files.moveFile(viaLink, "C:\\Temp\\moved"));
    EXPECT_FALSE(m.files.moveFile("C:\\Temp\\a\\g1", "C:\\Temp\\docs\\g1moved"));
    EXPECT_FALSE(m.files.copyFile("C:\\Temp\\a\\g1", "C:\\Temp\\docs\\g2", false));
    EXPECT_FALSE(m.files.forceDirectories("C:\\Temp\\docs\\new\\deeper"));
    EXPECT_EQ(m.docsFiles(), 2 * kFiles);
    EXPECT_FALSE(fs::exists(m.machine / "Docs" / "a" / "new"));
    // The link itself is an entry of Temp like any other.
    EXPECT_TRUE(m.files.removeDirectory("C:\\Temp\\docs"));
    EXPECT_EQ(m.docsFiles(), 2 * kFiles);
}

// Each level of C:\Temp\a\b in turn is exchanged (RENAME_EXCHANGE) with a
// link to the same level below Docs while every kind of change runs on it.
TEST(InsideLinks, AnExchangeAtAnyLevelLeadsNowhere) {
    struct Level {
        const char* real;    // below the machine folder
        const char* link;    // the link beside it
        const char* target;  // what the link holds
    };
    for (const Level& level :
         {Level{"Temp", "TempLink", "Docs"}, Level{"Temp/a", "Temp/aLink", "../Docs/a"},
          Level{"Temp/a/b", "Temp/a/bLink", "../../Docs/a/b"}}) {
        SCOPED_TRACE(level.real);
        InsideMachine m;
        const fs::path real = m.machine / level.real, link = m.machine / level.link;
        fs::create_directory_symlink(level.target, link);
        std::atomic<bool> stop{false};
        std::atomic<int> swaps{0};
        std::thread swapper([&] {
            while (!stop) {
                if (::renameat2(AT_FDCWD, real.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) ==
                    0)
                    ++swaps;
            }
        });
        for (int i = 0; i < kFiles; ++i) {
            const std::string n = std::to_string(i);
            const std::string f = "C:\\Temp\\a\\b\\f" + n, g = "C:\\Temp\\a\\g" + n;
            m.files.deleteFile(f);
            m.files.shellDelete(g);
            if (auto h = m.files.openFile("C:\\Temp\\a\\b\\f" + std::to_string(kFiles - 1 - i),
                                          FileMode::ReadWrite))
                h->write("xxxx", 4);
            if (auto h = m.files.createFile(f)) h->write("new", 3);
            m.files.setAttributes(f, faReadOnly);
            m.files.copyFile("C:\\Temp\\a\\b\\f0", g, false);
            m.files.moveFile(f, "C:\\Temp\\a\\moved" + n);
            if (i % 50 == 49) {
                m.files.shellDelete("C:\\Temp\\a\\b");
                m.files.forceDirectories("C:\\Temp\\a\\b");
            }
        }
        stop = true;
        swapper.join();
        EXPECT_GT(swaps.load(), 0);
        EXPECT_EQ(m.docsFiles(), 2 * kFiles);
    }
}
