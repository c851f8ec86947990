// What the connection watcher reads from a snapshot: which entries are listed, and which
// caption shows the connection named by the seek text.

#include "watch/windows_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane::test {
namespace {

TEST(CaptionMatchTest, SeekTextMyIsp) {
    const struct {
        const char* caption;
        bool match;
    } cases[] = {
        {"Connected to MyISP", true},
        {"MYISP", true},
        {"myisp", true},
        {"MyISP", true},
        {"connected to MyISP", false},
        {"Connected to myisp", false},
        {"Connected to MyISP (2)", false},
        {"MyISP - Connected", false},
        {"Connected to  MyISP", false},
        {"My", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CaptionMatches(c.caption, "MyISP"), c.match) << c.caption;
}

// Only a-z fold: other letters must match as written.
TEST(CaptionMatchTest, CaseFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(CaptionMatches("CAF\u00e9", "caf\u00e9"));
    EXPECT_FALSE(CaptionMatches("CAF\u00c9", "caf\u00e9"));
    EXPECT_FALSE(CaptionMatches("Connected to CAF\u00c9", "caf\u00e9"));
}

class SnapshotTest : public ::testing::Test {
protected:
    FixedWindowTitles desktop;
    TWindowsList list{desktop};
};

// An empty seek text finds only the caption "Connected to " itself: empty captions are never
// listed for the watcher.
TEST_F(SnapshotTest, EmptySeekTextFindsOnlyTheBarePrefix) {
    desktop.titles = {{1, ""}, {2, "Connected to"}, {3, "Connected to "}, {4, "Connected to x"}};
    list.FillWindowList();
    ASSERT_EQ(FindSeekText(list, ""), 1);
    EXPECT_EQ(list.TheWindowsList[1].Info.Handle, 3u);
}

TEST_F(SnapshotTest, FirstMatchTopmostFirst) {
    desktop.titles = {{7, "Editor"}, {8, "myisp"}, {9, "Connected to MyISP"}};
    list.FillWindowList();
    EXPECT_EQ(FindSeekText(list, "MyISP"), 1);
    EXPECT_EQ(FindSeekText(list, "Other"), -1);

    desktop.titles.clear();
    list.FillWindowList();
    EXPECT_EQ(FindSeekText(list, "MyISP"), -1);
}
} // namespace
} // namespace quorvane::test
