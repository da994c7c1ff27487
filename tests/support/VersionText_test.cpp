#include "support/VersionText.h"

#include <gtest/gtest.h>

TEST(VersionText, RevisionIsTheTextAfterTheFirstBlank) {
    for (const auto& [text, revision] :
         {std::pair{"$Revision: 93$", "93"}, {"93", "93"}, {"$Revision:   93 $", "93"}, {"", ""}, {"$$", ""}})
        EXPECT_EQ(RevisionFromText(text), revision) << text;
}

// Major, minor and revision as 1,000,000 * major + 10,000 * minor + revision.
TEST(VersionText, VersionNumberCountsWhatIsNoIntegerAsZero) {
    struct {
        const char *Version, *Revision;
        int Number;
    } cases[] = {
        {"2.2", "93", 2020093}, {"3", "5", 30005}, {"2.10.1", "7", 2000007}, {"", "", 0}, {"x.2", "beta", 20000}};
    for (const auto& c : cases) EXPECT_EQ(VersionNumberFrom(c.Version, c.Revision), c.Number) << c.Version;
}
