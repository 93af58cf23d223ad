// Items whose traces overlap, ticked together: the Test run counts, item by
// item, what the Clean of the same selection then removes.
#include <gtest/gtest.h>

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

json runJson(const fs::path& machine, const std::vector<std::string>& args) {
    std::vector<std::string> argv{BRISKO_CLI, "--machine", machine.string(), "--json"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = test::runShell(test::shellCommand(argv) + " 2>/dev/null </dev/null");
    EXPECT_EQ(r.code, 0) << r.out;
    return json::parse(r.out);
}

TEST(OverlapCli, TestCountsWhatTheCleanOfTheSameSelectionRemoves) {
    test::TempDir dir;
    const fs::path m = dir.path() / "demo";
    createDemoMachine(m);
    // "Visited URL History" takes Chrome's History file whole; "Download
    // History" works on its rows; the recent documents' shortcuts lie in the
    // Recent folder that "Recent Documents" empties.
    const std::vector<std::string> items = {
        "Google Chrome - Visited URL History", "Google Chrome - Download History",
        "Windows - Recent Documents", "Windows - Temporary Files", "Windows - Start Run"};
    std::vector<std::string> test{"test"}, clean{"clean", "--yes"};
    test.insert(test.end(), items.begin(), items.end());
    clean.insert(clean.end(), items.begin(), items.end());
    const json counted = runJson(m, test);
    const json removed = runJson(m, clean);
    ASSERT_EQ(counted["items"].size(), removed["items"].size());
    for (size_t i = 0; i < counted["items"].size(); ++i) {
        SCOPED_TRACE(counted["items"][i]["caption"].get<std::string>());
        EXPECT_EQ(counted["items"][i]["count"], removed["items"][i]["count"]);
        EXPECT_EQ(counted["items"][i]["bytes"], removed["items"][i]["bytes"]);
    }
    EXPECT_EQ(counted["totalCount"], removed["totalCount"]);
    EXPECT_GT(counted["totalCount"].get<int>(), 0);
}

}  // namespace
}  // namespace brisko
