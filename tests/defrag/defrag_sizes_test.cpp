// The numbers the analysis shows, its progress bar, and the hive names the
// replacement is given.
#include <gtest/gtest.h>

#include "defrag/defrag_run.h"
#include "defrag/hive_copy_progress.h"
#include "defrag/hive_sizes.h"

using namespace brisko;

TEST(DefragSizes, KilobytesRoundUpAndGroupDigits) {
    EXPECT_EQ(FormatKilobytes(0), "0 KB");
    EXPECT_EQ(FormatKilobytes(1), "1 KB");
    EXPECT_EQ(FormatKilobytes(1024), "1 KB");
    EXPECT_EQ(FormatKilobytes(1025), "2 KB");
    EXPECT_EQ(FormatKilobytes(1048576), "1,024 KB");
    EXPECT_EQ(FormatKilobytes(1262343168), "1,232,757 KB");
    EXPECT_EQ(FormatKilobytes(-1), "1 KB");  // a file that cannot be measured
}

TEST(DefragSizes, TotalsAndTheAdviceBoundary) {
    auto two = ComputeDefragSizes({1024000}, {1003520});
    EXPECT_EQ(two.sizeReduction, "20 KB");
    EXPECT_EQ(two.compactPercent, "2.0%");
    EXPECT_TRUE(NeedsLowFragmentationAdvice(two));
    EXPECT_EQ(LowFragmentationAdvice(two).substr(0, 48),
              "The fragment rate of your registry is only 2.0%.");
    auto three = ComputeDefragSizes({1024000}, {993280});
    EXPECT_EQ(three.compactPercent, "3.0%");
    EXPECT_FALSE(NeedsLowFragmentationAdvice(three));

    // A copy larger than its hive: "0%", "0 KB" and no advice.
    auto larger = ComputeDefragSizes({4096, 8192}, {8192, 8192});
    EXPECT_EQ(larger.rows[0].reduction, "0%");
    EXPECT_EQ(larger.sizeReduction, "0 KB");
    EXPECT_EQ(larger.compactPercent, "0%");
    EXPECT_FALSE(NeedsLowFragmentationAdvice(larger));

    // A hive file of size 0 divides nothing by zero.
    auto empty = ComputeDefragSizes({0}, {0});
    EXPECT_EQ(empty.rows[0].reduction, "0%");
    EXPECT_EQ(empty.compactPercent, "0%");
    EXPECT_EQ(ReductionText(10000, 6000), "40%");
    EXPECT_EQ(ReductionText(3, 2), "33%");

    // A hive left out counts as unchanged rather than as shrunk to nothing.
    auto skipped = ComputeDefragSizes({8192, 8192}, {4096, 0}, {false, true});
    EXPECT_EQ(skipped.rows[1].newSize, "8 KB");
    EXPECT_EQ(skipped.totalNew, 4096 + 8192);
}

TEST(DefragReplaceTarget, DefaultAndSamGoUnderTheirRoots) {
    auto d = ParseReplaceTarget("\\REGISTRY\\USER\\.DEFAULT");
    EXPECT_EQ(d.root, RootKey::Users);
    EXPECT_EQ(d.subkey, ".DEFAULT");
    auto sam = ParseReplaceTarget("\\REGISTRY\\MACHINE\\SAM");
    EXPECT_EQ(sam.root, RootKey::LocalMachine);
    EXPECT_EQ(sam.subkey, "SAM");
    EXPECT_EQ(sam.keyPath(), "\\REGISTRY\\MACHINE\\SAM");
    auto user = ParseReplaceTarget("\\Registry\\User\\S-1-5-21-1-2-3-1001_Classes");
    EXPECT_EQ(user.keyPath(), "\\REGISTRY\\USER\\S-1-5-21-1-2-3-1001_Classes");
}

TEST(HiveCopyProgressTest, StepFromTheFirstHiveAndNeverPastTheHiveInProgress) {
    HiveCopyProgress p;
    p.start({1000, 3000, 6000}, false);
    EXPECT_EQ(p.total(), 10000);
    // 1000 bytes of copy in 10 ms of 10000 bytes: 1000*1e6/(10*10000) = 10000 -> capped at 50.
    p.hiveDone(10, 1, 1000);
    EXPECT_EQ(p.step(), 50);
    EXPECT_EQ(p.bar(), 100);
    EXPECT_EQ(p.target(), 400);
    // No bytes of the second copy yet: the bar creeps, but stops short of its share.
    for (int i = 0; i < 20; ++i) p.tick(0);
    EXPECT_LE(p.bar(), 400);
    EXPECT_GE(p.bar(), 350 - 50);
    p.tick(1500);  // half of the second copy is visible
    EXPECT_EQ(p.bar(), 250);

    HiveCopyProgress slow;
    slow.start({1000, 1000}, true);
    slow.hiveDone(0, 1, 0);  // the first hive took no measurable time
    EXPECT_EQ(slow.step(), 40 / 2 - 3);
    HiveCopyProgress slower;
    slower.start({1000, 1000}, false);
    slower.hiveDone(100000, 1, 1000);  // 1000*1e6/(1e5*2000) = 5 -> 15
    EXPECT_EQ(slower.step(), 15);
    slower.hiveDone(100000, 2, 1000);
    EXPECT_EQ(slower.bar(), 1000);
    EXPECT_TRUE(slower.tick(0));  // every hive done: nothing moves
}
