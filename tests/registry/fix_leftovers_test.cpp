// A fix deletes the checked rows and nothing else; what its deletions leave
// behind is found by a second scan and reported, never deleted.
#include <gtest/gtest.h>

#include <set>

#include "base/text.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/registry_key.h"
#include "core/machine/registry_view.h"
#include "core/settings.h"
#include "demo/demo_machine.h"
#include "registry/key_identity.h"
#include "registry/leftover_scan.h"
#include "registry/registry_fix.h"
#include "registry/section_tree.h"
#include "scan_test_machine.h"

namespace brisko {
namespace {

using test::ScanMachine;

constexpr const char* kBackupDir = "C:\\Program Files\\Brisko\\Backup";
constexpr const char* kBackup = "C:\\Program Files\\Brisko\\Backup\\2013_07_04_093005.reg";
constexpr const char* kUninstall =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::vector<RegistryProblem> scanSections(Machine& m, const std::vector<int>& sections) {
    TOptionsSetting settings;
    return scanInPlace(m, makeScanEnvironment(m, true, 12), sections, settings, 12);
}

FixReport fixWithRescan(Machine& m, const std::vector<RegistryProblem>& rows,
                        const std::vector<int>& sections) {
    EXPECT_TRUE(m.files().forceDirectories(kBackupDir));
    auto report = fixProblems(m, rows, kBackup, false, [&] { return scanSections(m, sections); });
    EXPECT_TRUE(m.registry().commit());
    return report;
}

TEST(FixLeftovers, UninstallCommandGoesAloneAndItsKeyIsListedAsLeftBehind) {
    ScanMachine sm;
    const std::string key = std::string(kUninstall) + "\\GoneInst";
    sm.sz(key, "UninstallString", "C:\\Program Files\\GoneInst\\uninst.exe")
        .sz(key, "DisplayName", "Gone Installer");
    Machine& m = sm.open();
    const std::vector<int> sections{kSecAddRemovePrograms, kSecInstaller};
    auto rows = scanSections(m, sections);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].keyPath, key + "\\UninstallString");

    auto report = fixWithRescan(m, rows, sections);
    EXPECT_EQ(report.fixed, 1u);
    ASSERT_EQ(report.leftovers.size(), 1u);
    EXPECT_EQ(report.leftovers[0].kind, pkDataSubkey);
    EXPECT_EQ(report.leftovers[0].data, "GoneInst");
    EXPECT_FALSE(report.leftovers[0].checked);

    RegistryKey k(m.registry(), RootKey::LocalMachine);
    ASSERT_TRUE(
        k.openKeyReadOnly("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GoneInst"));
    EXPECT_EQ(k.readString("DisplayName").value_or(""), "Gone Installer");
    EXPECT_FALSE(k.readString("UninstallString"));
}

TEST(FixLeftovers, RunKeysWindowsKeepsAreNeverEmptyKeys) {
    // The only value of each Run key names a missing program; once it goes
    // the keys are empty, and so is the chain of single keys above them.
    ScanMachine sm;
    sm.sz("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Gone",
          "C:\\Gone\\gone.exe")
        .sz("HKEY_CURRENT_USER\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
            "Gone", "C:\\Gone\\gone.exe")
        .key("HKEY_CURRENT_USER\\Software\\Vendor\\Empty");
    Machine& m = sm.open();
    const std::vector<int> sections{kSecStartupPrograms, kSecObsoleteSoftware, kSecEmptyKeys};
    auto rows = scanSections(m, sections);
    auto report = fixWithRescan(m, rows, sections);
    EXPECT_GE(report.fixed, 1u);
    RegistryKey k(m.registry(), RootKey::CurrentUser);
    EXPECT_TRUE(k.openKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    auto again = scanSections(m, sections);
    for (const auto& row : again) {
        EXPECT_EQ(upperCase(row.data).find("MICROSOFT"), std::string::npos) << row.keyPath;
        EXPECT_EQ(upperCase(row.keyPath + "\\" + row.data).find("\\RUN"), std::string::npos)
            << row.keyPath << " " << row.data;
    }
    // A plain empty key of a program is still one (and went with the fix).
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                            [](const RegistryProblem& r) { return r.data == "Vendor"; }));
}

// Every key and value of the machine's hives, spelt in full and upper-cased;
// a value as "KEY\x01NAME".
void walk(KeyHandle& key, const std::string& path, std::set<std::string>& out) {
    out.insert(path);
    for (const auto& v : key.valueNames()) out.insert(path + "\x01" + upperCase(v));
    for (const auto& name : key.subkeyNames())
        if (auto sub = key.openSubkey(name, KeyAccess::Read))
            walk(*sub, path + "\\" + upperCase(name), out);
}

std::set<std::string> everything(Machine& m) {
    std::set<std::string> out;
    for (auto [root, name] : {std::pair{RootKey::LocalMachine, "HKEY_LOCAL_MACHINE"},
                              std::pair{RootKey::Users, "HKEY_USERS"}})
        if (auto k = m.registry().openKey(root, "", KeyAccess::Read)) walk(*k, name, out);
    return out;
}

// Whether deleting the row would take the entry (a key, or "KEY\x01VALUE").
bool rowTakes(const RegistryProblem& row, const std::string& entry, const KeyIdentity& id) {
    auto target = RegistryFixer::targetOf(row);
    if (!target) return false;
    const std::string upper = upperCase(target->rootText + "\\" + target->sub);
    size_t cut = entry.find('\x01');
    const std::string entryKey = entry.substr(0, cut);
    auto forms = id.forms(upper);
    if (forms.empty()) forms.push_back({upper});
    for (const auto& f : forms) {
        if (target->wholeKey && keyAtOrAbove(f.text, entryKey)) return true;
        if (!target->wholeKey && cut != std::string::npos && f.text == entryKey &&
            entry.substr(cut + 1) == upperCase(target->value))
            return true;
    }
    return false;
}

TEST(FixLeftovers, DemoFixOfHalfTheRowsTakesOnlyWhatThoseRowsName) {
    test::TempDir dir;
    createDemoMachine(dir.path() / "demo");
    ImageMachine m(dir.path() / "demo");
    std::vector<int> sections;
    for (const auto& s : sectionCatalog()) sections.push_back(s.code);
    auto rows = scanSections(m, sections);
    ASSERT_GT(rows.size(), 20u);
    for (size_t i = 0; i < rows.size(); i += 2) rows[i].checked = false;
    const auto before = everything(m);

    auto report = fixWithRescan(m, rows, sections);
    EXPECT_GT(report.fixed, 0u);
    const auto after = everything(m);
    ViewRegistry view(m.registry(), programView(m.isWow64()));
    const KeyIdentity id = KeyIdentity::of(m.currentUser().sid, view);
    size_t gone = 0;
    for (const auto& entry : before) {
        if (after.count(entry)) continue;
        ++gone;
        EXPECT_TRUE(std::any_of(
            rows.begin(), rows.end(),
            [&](const RegistryProblem& r) { return r.checked && rowTakes(r, entry, id); }))
            << "deleted without a checked row: " << entry;
    }
    EXPECT_GT(gone, 0u);
    // The leftovers are in the registry still, for the user to look at.
    for (const auto& row : report.leftovers) {
        EXPECT_FALSE(row.checked);
        auto t = RegistryFixer::targetOf(row);
        ASSERT_TRUE(t);
        std::string probe = upperCase(t->rootText + "\\" + t->sub);
        auto forms = id.forms(probe);
        EXPECT_TRUE(std::any_of(forms.begin(), forms.end(),
                                [&](const KeyIdentity::Form& f) { return after.count(f.text); }) ||
                    after.count(probe))
            << probe;
    }
}

}  // namespace
}  // namespace brisko
