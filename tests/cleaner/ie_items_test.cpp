// The Internet Explorer items on the demo machine's IE 8 traces: what a Test
// run counts is what a Clean removes, the cookie keep list, today's history,
// Protected Storage and the index files, which are blanked and never grow.
#include "cleaner/items/ie_items.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "cleaner/clean_test_machine.h"
#include "cleaner/indexdat/index_dat.h"
#include "cleaner/items/ie_cookie_keep_list.h"
#include "cleaner/items/ie_protected_storage.h"
#include "core/machine/image/internet_services.h"
#include "core/machine/registry_key.h"
#include "demo/demo_content.h"

namespace brisko {
namespace {

using test::cleanSettings;
using test::CleanTestMachine;
using test::ItemRun;
using test::runRoutine;

const std::string kProfile = "C:\\Users\\Alex\\";
const std::string kCookies = kProfile + "AppData\\Roaming\\Microsoft\\Windows\\Cookies\\";
const std::string kCache =
    kProfile + "AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\";
const std::string kHistory = kProfile + "AppData\\Local\\Microsoft\\Windows\\History\\";
const std::string kKeepFile = "C:\\Program Files\\Brisko Cleaner\\Cookies.ini";
const std::string kIE = "Software\\Microsoft\\Internet Explorer";

const char* const kItems[] = {
    "Internet Explorer - Recently Typed URLs",      "Internet Explorer - Cookies",
    "Internet Explorer - Visited URL History",      "Internet Explorer - Last Download Location",
    "Internet Explorer - Temporary Internet Files", "Internet Explorer - Index.dat Files",
    "Internet Explorer - Autocomplete History",
};

// The demo's Windows 7 with its IE 8 traces; the machine's own services stand
// behind the WinINet cache, the URL history and Protected Storage, and started
// programs are recorded.
class IeMachine : public CleanTestMachine {
  public:
    explicit IeMachine(MachineBuilder& b, bool withServices = true)
        : CleanTestMachine(b), services_(withServices) {}
    std::vector<std::string> started;
    ProcessResult runProcess(std::string_view cmd, bool, std::stop_token) override {
        started.emplace_back(cmd);
        return {};
    }
    ProtectedStorageService* protectedStorage() override {
        return services_ ? image().protectedStorage() : nullptr;
    }
    UrlCacheService* urlCache() override { return services_ ? image().urlCache() : nullptr; }
    UrlHistoryService* urlHistory() override { return services_ ? image().urlHistory() : nullptr; }

  private:
    bool services_;
};

MachineBuilder ieTraces() {
    MachineBuilder b("Alex");
    addDemoWindows(b);
    addDemoInternetExplorer(b);
    return b;
}

ItemRun runItem(Machine& m, std::string_view caption, int mode,
                const TOptionsSetting& settings = cleanSettings()) {
    const ItemRoutine* r = builtinItemTable().find(caption);
    EXPECT_NE(r, nullptr) << caption;
    return runRoutine(m, settings, mode, [&](CleanContext& ctx) { (*r)(ctx); });
}

size_t listed(Machine& m, const std::string& path) {
    return ReadIndexDat(m.files(), path, 0).size();
}

bool userKeyExists(Machine& m, const std::string& path) {
    return m.registry().openKey(RootKey::CurrentUser, path, KeyAccess::Read) != nullptr;
}

TEST(IeItems, ATestRunCountsWhatACleanRemovesAndChangesNothing) {
    for (const char* item : kItems) {
        SCOPED_TRACE(item);
        auto b = ieTraces();
        IeMachine m(b);
        auto before = m.snapshot();
        ItemRun test = runItem(m, item, kRunTest);
        EXPECT_EQ(m.snapshot(), before);
        ItemRun clean = runItem(m, item, kRunCleanPass);
        EXPECT_GT(test.count, 0);
        EXPECT_EQ(test.count, clean.count);
        EXPECT_EQ(test.bytes, clean.bytes);
        // Every index file we touched keeps its size.
        for (const auto& [path, bytes] : m.snapshot())
            if (endsWithNoCase(path, "index.dat") && before.count(path))
                EXPECT_EQ(bytes.size(), before.at(path).size()) << path;
    }
}

TEST(IeItems, CookiesOnTheKeepListStayAndSoDoesTheirIndex) {
    auto b = ieTraces();
    // A host entry, a file entry, an entry with the trailing "/" (which never
    // matches), and a key beyond Count that is ignored.
    b.addFile(kKeepFile,
              "[Cookies to Keep]\r\nCount=3\r\n0=alex@ads.example[1].txt\r\n1=bank.example.com\r\n"
              "2=mail.example.com/\r\n3=weather.example.net\r\n");
    IeMachine m(b);
    EXPECT_EQ(LoadCookieKeepList(m).size(), 3u);
    ItemRun clean = runItem(m, "Internet Explorer - Cookies", kRunCleanPass);
    auto& f = m.files();
    EXPECT_TRUE(f.fileExists(kCookies + "alex@ads.example[1].txt"));
    EXPECT_TRUE(f.fileExists(kCookies + "alex@bank.example[1].txt"));
    EXPECT_FALSE(f.fileExists(kCookies + "alex@mail.example[2].txt"));
    EXPECT_FALSE(f.fileExists(kCookies + "alex@example-news[1].txt"));
    // The Low folder is cleaned as well; its host entry beyond Count did not count.
    EXPECT_FALSE(f.fileExists(kCookies + "Low\\alex@weather.example[1].txt"));
    EXPECT_FALSE(f.fileExists(kCookies + "Low\\alex@tracker.example[1].txt"));
    // DOM storage and user data.
    EXPECT_FALSE(f.fileExists(kProfile +
                              "AppData\\Local\\Microsoft\\Internet Explorer\\DOMStore\\K3J8Q2ZD\\"
                              "www.example-news[1].xml"));
    EXPECT_EQ(clean.count, 6);
    EXPECT_GT(listed(m, kCookies + "index.dat"), 0u);  // something is kept
}

TEST(IeItems, WithoutAKeepListTheCookieIndexesAreBlanked) {
    auto b = ieTraces();
    b.addFile(kKeepFile, "[Cookies to Keep]\r\nCount=0\r\n");
    IeMachine m(b);
    ASSERT_GT(listed(m, kCookies + "index.dat"), 0u);
    runItem(m, "Internet Explorer - Cookies", kRunCleanPass);
    EXPECT_EQ(listed(m, kCookies + "index.dat"), 0u);
    EXPECT_EQ(listed(m, kCookies + "Low\\index.dat"), 0u);
    EXPECT_FALSE(m.files().fileExists(kCookies + "alex@bank.example[1].txt"));
}

TEST(IeItems, ACookieThatCannotBeReadIsKeptWhileHostsAreKept) {
    auto b = ieTraces();
    IeMachine m(b);  // the demo keeps bank.example.com
    const std::string locked = kCookies + "alex@mail.example[2].txt";
    m.imageFiles().lockFile(locked);
    EXPECT_FALSE(CookieHost(m, locked).has_value());
    runItem(m, "Internet Explorer - Cookies", kRunCleanPass);
    EXPECT_TRUE(m.files().fileExists(locked));
    m.imageFiles().unlockFile(locked);
    // A cookie with fewer than three lines has no host and goes.
    b = ieTraces();
    b.addFile(kCookies + "alex@short[1].txt", "name\nvalue\n");
    IeMachine m2(b);
    EXPECT_EQ(CookieHost(m2, kCookies + "alex@short[1].txt").value_or("x"), "");
    runItem(m2, "Internet Explorer - Cookies", kRunCleanPass);
    EXPECT_FALSE(m2.files().fileExists(kCookies + "alex@short[1].txt"));
    EXPECT_TRUE(m2.files().fileExists(kCookies + "alex@bank.example[1].txt"));
}

TEST(IeItems, TodaysHistoryStaysAndOlderDaysGo) {
    EXPECT_EQ(HistoryPrefixOf(2026, 3, 2), "MSHist0120260302");
    auto b = ieTraces();
    IeMachine m(b);
    const std::string low = kHistory + "Low\\History.IE5\\";
    auto folders = [&] {
        std::vector<std::string> v;
        auto entries = m.files().findFiles(low, "*");
        for (const auto& e : entries.value_or(std::vector<FileEntry>{}))
            if (e.isDirectory() && e.name != "." && e.name != "..") v.push_back(e.name);
        return v;
    };
    ASSERT_EQ(folders().size(), 2u);
    runItem(m, "Internet Explorer - Visited URL History", kRunCleanPass);
    auto left = folders();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(HistoryPrefixOfToday(), 0), 0u);
    // Every history index below the root is blanked in place; the cache's
    // http entries went with their files.
    EXPECT_EQ(listed(m, kHistory + "History.IE5\\index.dat"), 0u);
    EXPECT_EQ(listed(m, low + left[0] + "\\index.dat"), 0u);
    EXPECT_FALSE(m.files().fileExists(kCache + "Content.IE5\\K3J8Q2ZD\\index[1].htm"));
    EXPECT_TRUE(m.files().fileExists(kCache + "Content.IE5\\B0TRE5YN\\app[1].js"));  // https
    EXPECT_EQ(m.image().urlCache()->entries().size(), 1u);
    EXPECT_TRUE(m.image().urlHistory()->urls().empty());
}

TEST(IeItems, ClearMyTracksIsAskedForFromIe8On) {
    for (auto [version, wanted] : std::vector<std::pair<std::string, bool>>{
             {"7.0000", false}, {"8.0000", true}, {"9.11", true}, {"8", false}}) {
        SCOPED_TRACE(version);
        auto b = ieTraces();
        b.addRegText(
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\"
            "Version Vector]\r\n\"IE\"=\"" +
            version + "\"\r\n");
        IeMachine m(b);
        runItem(m, "Internet Explorer - Visited URL History", kRunTest);
        EXPECT_TRUE(m.started.empty());
        runItem(m, "Internet Explorer - Visited URL History", kRunCleanPass);
        EXPECT_EQ(!m.started.empty(), wanted);
        if (wanted) EXPECT_EQ(m.started[0], "RunDll32.exe InetCpl.cpl,ClearMyTracksByProcess 1");
    }
}

TEST(IeItems, AutocompleteEmptiesTheStoreAndIntelliForms) {
    auto b = ieTraces();
    IeMachine m(b);
    TPStorage store(m);
    ASSERT_TRUE(store.Available() && store.Open());
    auto types = store.EnumTypes();
    ASSERT_EQ(types.Count(), 1u);
    EXPECT_EQ(store.GetTypeName(types[0]), "Internet Explorer");
    EXPECT_EQ(formatPStoreId(types[0]), "{e161255a-37c3-11d2-bcaa-00c04fd929db}");
    ItemRun clean = runItem(m, "Internet Explorer - Autocomplete History", kRunCleanPass);
    EXPECT_EQ(clean.count, 2 + 3);  // two saved pairs, three IntelliForms values
    auto subtypes = store.EnumSubtypes(types[0]);
    ASSERT_EQ(subtypes.Count(), 1u);
    EXPECT_EQ(store.EnumItems(types[0], subtypes[0]).Count(), 0u);
    EXPECT_FALSE(userKeyExists(m, kIE + "\\IntelliForms\\Storage2"));
}

TEST(IeItems, WithoutProtectedStorageIntelliFormsStay) {
    auto b = ieTraces();
    IeMachine m(b, false);
    ItemRun clean = runItem(m, "Internet Explorer - Autocomplete History", kRunCleanPass);
    EXPECT_EQ(clean.count, 0);
    EXPECT_TRUE(userKeyExists(m, kIE + "\\IntelliForms\\Storage1"));
}

TEST(IeItems, IndexFilesAreBlankedAndLeftForTheRestart) {
    auto b = ieTraces();
    IeMachine m(b);
    const std::string files[] = {kCookies + "index.dat", kCache + "Content.IE5\\index.dat",
                                 kHistory + "History.IE5\\index.dat"};
    ItemRun test = runItem(m, "Internet Explorer - Index.dat Files", kRunTest);
    EXPECT_EQ(test.count, 3);
    EXPECT_EQ(test.log.front(), "Warning: This will take effect next time windows is rebooted.");
    for (const auto& f : files) EXPECT_GT(listed(m, f), 0u);
    runItem(m, "Internet Explorer - Index.dat Files", kRunCleanPass);
    for (const auto& f : files) {
        EXPECT_TRUE(m.files().fileExists(f));
        EXPECT_EQ(listed(m, f), 0u);
    }
    ASSERT_TRUE(m.image().registry().commit());
    ASSERT_TRUE(m.image().restart());
    for (const auto& f : files) EXPECT_FALSE(m.image().files().fileExists(f)) << f;
}

TEST(IeItems, ProtectedStorageIdsRoundTrip) {
    PStoreId id;
    ASSERT_TRUE(parsePStoreId("{E161255A-37C3-11D2-BCAA-00C04FD929DB}", id));
    EXPECT_EQ(id[0], 0x5a);
    EXPECT_EQ(formatPStoreId(id), "{e161255a-37c3-11d2-bcaa-00c04fd929db}");
    EXPECT_FALSE(parsePStoreId("{E161255A-37C3-11D2-BCAA-00C04FD929D}", id));
    EXPECT_FALSE(parsePStoreId("not a guid at all, but 38 characters!!", id));
}

}  // namespace
}  // namespace brisko
