#include "support/VersionText.h"

#include <gtest/gtest.h>

TEST(VersionText, RevisionIsTheTextAfterTheFirstBlank) {
    EXPECT_EQ(RevisionFromText("$Revision: 93$"), "93");
    EXPECT_EQ(RevisionFromText("93"), "93");
    EXPECT_EQ(RevisionFromText("$Revision:   93 $"), "93");
    EXPECT_EQ(RevisionFromText(""), "");
    EXPECT_EQ(RevisionFromText("$$"), "");
}

TEST(VersionText, VersionNumberCountsWhatIsNoIntegerAsZero) {
    EXPECT_EQ(VersionNumberFrom("2.2", "93"), 2020093);
    EXPECT_EQ(VersionNumberFrom("3", "5"), 30005);
    EXPECT_EQ(VersionNumberFrom("2.10.1", "7"), 2000007);
    EXPECT_EQ(VersionNumberFrom("", ""), 0);
    EXPECT_EQ(VersionNumberFrom("x.2", "beta"), 20000);
}
