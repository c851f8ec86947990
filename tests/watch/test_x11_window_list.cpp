// The caption scan against the tests' Xvfb, with real windows made by a second connection: the
// Z-order with and without a window manager's stacking list, the caption properties and their
// encodings, empty and duplicate captions, windows that vanish during a walk, and a desktop
// without an X display.

#include "tests/watch/x11_desktop.h"
#include "watch/x11_window_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <ostream>

namespace quorvane {

void PrintTo(const WindowTitle& title, std::ostream* out) {
    *out << "{" << title.window << ", \"" << title.caption << "\"}";
}

namespace test {
namespace {

using namespace std::string_view_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class X11WindowListTest : public ::testing::Test {
protected:
    // The entries of the test's own windows, in walk order: the server may hold others.
    std::vector<WindowTitle> Ours() const {
        std::vector<WindowTitle> ours;
        for (const TWindowEntry& entry : list.TheWindowsList) {
            if (std::ranges::find(desktop.windows(), entry.Info.Handle) != desktop.windows().end())
                ours.push_back({entry.Info.Handle, entry.Caption});
        }
        return ours;
    }
    std::vector<WindowTitle> Walk() {
        list.FillWindowList();
        return Ours();
    }

    TestDesktop desktop;
    X11WindowTitles source;
    TWindowsList list{source};
};

TEST_F(X11WindowListTest, RootChildrenTopmostFirstAfterRestacking) {
    const auto a = desktop.MakeWindow("A"sv);
    const auto b = desktop.MakeWindow("B"sv);
    const auto c = desktop.MakeWindow("C"sv);
    desktop.MakeWindow(std::nullopt); // on top, without a caption

    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{c, "C"}, WindowTitle{b, "B"}, WindowTitle{a, "A"}));
    EXPECT_EQ(list.TheWindowsList.front().Info.Handle, c);

    // Each walk replaces the snapshot of the one before.
    desktop.Restack(a, XCB_STACK_MODE_ABOVE);
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{a, "A"}, WindowTitle{c, "C"}, WindowTitle{b, "B"}));
    desktop.Restack(c, XCB_STACK_MODE_BELOW);
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{a, "A"}, WindowTitle{b, "B"}, WindowTitle{c, "C"}));
    desktop.Destroy(b);
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{a, "A"}, WindowTitle{c, "C"}));
}

// A window manager's list names its clients (not its frames) in its own stacking order; the
// root's children are not read then.
TEST_F(X11WindowListTest, StackingListTopmostFirstWhenPublished) {
    const auto a = desktop.MakeWindow("A"sv);
    const auto b = desktop.MakeWindow("B"sv);
    const auto c = desktop.MakeWindow("C"sv);
    const auto unmanaged = desktop.MakeWindow("D"sv);
    const auto gone = desktop.VanishedWindow(); // a stale entry: no error, no caption

    desktop.SetStackingList({b, gone, a, c});
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{c, "C"}, WindowTitle{a, "A"}, WindowTitle{b, "B"}));
    EXPECT_EQ(list.TheWindowsList.front().Info.Handle, c);

    desktop.SetStackingList({c, a, b});
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{b, "B"}, WindowTitle{a, "A"}, WindowTitle{c, "C"}));

    desktop.RemoveStackingList();
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{unmanaged, "D"}, WindowTitle{c, "C"},
                                    WindowTitle{b, "B"}, WindowTitle{a, "A"}));
}

TEST_F(X11WindowListTest, CaptionsFromEitherPropertyInEachEncoding) {
    const std::string a254(254, 'a');
    std::string eAcute254, emoji253;
    for (int i = 0; i < 254; ++i)
        eAcute254 += "\u00e9";
    for (int i = 0; i < 253; ++i)
        emoji253 += "\U0001F600";

    struct Case {
        const char* what;
        std::optional<std::string> netWmName, wmName;
        xcb_atom_t wmNameType;
        std::string caption;
    } cases[] = {
        {"_NET_WM_NAME alone", "Connected to MyISP", std::nullopt, XCB_ATOM_STRING,
         "Connected to MyISP"},
        {"WM_NAME alone", std::nullopt, "Connected to MyISP", XCB_ATOM_STRING,
         "Connected to MyISP"},
        {"_NET_WM_NAME before WM_NAME", "Verbunden mit Gr\u00fc\u00dfe \u2713", "legacy",
         XCB_ATOM_STRING, "Verbunden mit Gr\u00fc\u00dfe \u2713"},
        {"_NET_WM_NAME set but empty", "", "legacy", XCB_ATOM_STRING, ""},
        {"_NET_WM_NAME not UTF-8", "\xff\xfe bad", "fallback", XCB_ATOM_STRING, "fallback"},
        {"WM_NAME Latin-1", std::nullopt, "Caf\xe9 \xa9 \xbd", XCB_ATOM_STRING,
         "Caf\u00e9 \u00a9 \u00bd"},
        {"WM_NAME Latin-1 0x85 is not Windows-1252", std::nullopt, "a\x85z", XCB_ATOM_STRING,
         "a\u0085z"},
        {"WM_NAME typed UTF8_STRING", std::nullopt, "Gr\u00fc\u00dfe", desktop.utf8String(),
         "Gr\u00fc\u00dfe"},
        {"WM_NAME compound text in Latin-1", std::nullopt, "Caf\xe9", desktop.compoundText(),
         "Caf\u00e9"},
        {"ends at a zero byte", std::string("before\0after", 12), std::nullopt, XCB_ATOM_STRING,
         "before"},
        {"long ASCII", std::string(300, 'a'), std::nullopt, XCB_ATOM_STRING, a254},
        {"long two-byte characters", eAcute254 + eAcute254, std::nullopt, XCB_ATOM_STRING,
         eAcute254},
        {"long four-byte characters past the bytes asked for", "x" + emoji253 + emoji253,
         std::nullopt, XCB_ATOM_STRING, "x" + emoji253},
        {"long Latin-1", std::nullopt, std::string(300, '\xe9'), XCB_ATOM_STRING, eAcute254},
        {"exactly 254", a254, std::nullopt, XCB_ATOM_STRING, a254},
    };
    std::map<std::uint32_t, const Case*> byWindow;
    for (const Case& c : cases) {
        const auto optionalView = [](const std::optional<std::string>& text) {
            return text ? std::optional<std::string_view>(*text) : std::nullopt;
        };
        byWindow[desktop.MakeWindow(optionalView(c.netWmName), optionalView(c.wmName),
                                    c.wmNameType)] = &c;
    }
    list.AcceptEmptyNames = true;
    const std::vector<WindowTitle> walked = Walk();
    ASSERT_EQ(walked.size(), std::size(cases));
    for (const WindowTitle& title : walked)
        EXPECT_EQ(title.caption, byWindow.at(title.window)->caption)
            << byWindow.at(title.window)->what;
}

TEST_F(X11WindowListTest, EmptyCaptionsOnlyWhenAccepted) {
    const auto named = desktop.MakeWindow("named"sv);
    const auto none = desktop.MakeWindow(std::nullopt);
    const auto empty = desktop.MakeWindow(""sv, ""sv);

    EXPECT_FALSE(list.AcceptEmptyNames);
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{named, "named"}));
    list.AcceptEmptyNames = true;
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{empty, ""}, WindowTitle{none, ""},
                                    WindowTitle{named, "named"}));
}

TEST_F(X11WindowListTest, DuplicateCaptionsEachWithItsWindow) {
    const auto lower = desktop.MakeWindow("Same"sv);
    const auto upper = desktop.MakeWindow(std::nullopt, "Same"sv);
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{upper, "Same"}, WindowTitle{lower, "Same"}));
}

// The window goes after the walk has the list and before it asks for the captions: the server
// answers those requests with errors, which give an empty caption.
TEST_F(X11WindowListTest, WindowDestroyedDuringTheWalk) {
    const auto a = desktop.MakeWindow("A"sv);
    auto victim = desktop.MakeWindow("B"sv);
    const auto c = desktop.MakeWindow("C"sv);
    source.BeforeCaptionRequests = [&](const std::vector<std::uint32_t>& windows) {
        ASSERT_NE(std::ranges::find(windows, victim), windows.end());
        desktop.Destroy(victim);
    };
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{c, "C"}, WindowTitle{a, "A"}));

    victim = desktop.MakeWindow("D"sv);
    const auto d = victim;
    list.AcceptEmptyNames = true;
    list.FillWindowList();
    const auto listed = std::ranges::find_if(
        list.TheWindowsList, [&](const TWindowEntry& e) { return e.Info.Handle == d; });
    ASSERT_NE(listed, list.TheWindowsList.end());
    EXPECT_EQ(listed->Caption, "");

    source.BeforeCaptionRequests = nullptr;
    EXPECT_TRUE(source.CaptionsReadable());
    EXPECT_THAT(Walk(), ElementsAre(WindowTitle{c, "C"}, WindowTitle{a, "A"}));
}

TEST_F(X11WindowListTest, NoDisplayGivesAnEmptyListAndSaysSo) {
    desktop.MakeWindow("A"sv);
    EXPECT_TRUE(list.CaptionsReadable());

    X11WindowTitles unset(""), unreachable("unix:65000");
    for (X11WindowTitles* none : {&unset, &unreachable}) {
        TWindowsList nothing(*none);
        nothing.AcceptEmptyNames = true;
        nothing.FillWindowList();
        EXPECT_THAT(nothing.TheWindowsList, IsEmpty());
        EXPECT_FALSE(nothing.CaptionsReadable());
    }

    const std::string display = std::getenv("DISPLAY");
    ::unsetenv("DISPLAY");
    X11WindowTitles fromEnvironment;
    EXPECT_FALSE(fromEnvironment.CaptionsReadable());
    EXPECT_THAT(fromEnvironment.WindowTitles(), IsEmpty());
    ::setenv("DISPLAY", display.c_str(), 1);
    EXPECT_TRUE(fromEnvironment.CaptionsReadable());
}

} // namespace
} // namespace test
} // namespace quorvane
