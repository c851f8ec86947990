#pragma once
// A snapshot of the captions of the desktop's top-level windows, topmost first, each with the
// handle of its window, and the test the connection watcher applies to each caption.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// The most characters of a caption that are read; a longer caption is cut after them.
inline constexpr std::size_t kMaxCaptionChars = 254;

struct WindowTitle {
    std::uint32_t window = 0;
    // UTF-8, at most kMaxCaptionChars characters; "" when the window has none or vanished.
    std::string caption;

    bool operator==(const WindowTitle&) const = default;
};

// Where the captions come from: the X server (x11_window_list.h), or a fixed list in tests.
class WindowTitleSource {
public:
    virtual ~WindowTitleSource() = default;
    // Every top-level window, topmost first. Empty when the captions cannot be read.
    virtual std::vector<WindowTitle> WindowTitles() = 0;
    // False when this desktop offers no way to read other programs' window captions (no X
    // display), so watching by caption can never see a connection.
    virtual bool CaptionsReadable() = 0;
};

// A source that gives back what it is told: for tests of the code that reads the list.
class FixedWindowTitles final : public WindowTitleSource {
public:
    std::vector<WindowTitle> titles;
    bool readable = true;

    std::vector<WindowTitle> WindowTitles() override {
        return readable ? titles : std::vector<WindowTitle>{};
    }
    bool CaptionsReadable() override { return readable; }
};

// The desktop of this process (X11 through $DISPLAY). One instance, for the main thread.
WindowTitleSource& DesktopWindowTitles();

struct TWindowInfo {
    std::uint32_t Handle = 0;
};

struct TWindowEntry {
    std::string Caption;
    TWindowInfo Info;
};

class TWindowsList {
public:
    // Reads the desktop of this process.
    TWindowsList();
    explicit TWindowsList(WindowTitleSource& source) : source_(&source) {}

    // One entry per listed window in walk order (topmost first); unsorted, duplicates kept.
    std::vector<TWindowEntry> TheWindowsList;
    // When false (the default), windows with an empty caption are left out.
    bool AcceptEmptyNames = false;

    // Replaces TheWindowsList with a fresh snapshot of the desktop.
    void FillWindowList();
    bool CaptionsReadable() const { return source_->CaptionsReadable(); }

private:
    WindowTitleSource* source_;
};

// The caption prefix of a dial-up connection's status window; the literal ends in one blank.
inline constexpr std::string_view kConnectedTo = "Connected to ";

// Whether a window's caption shows the connection named by the seek text: the two texts are
// equal with the letters a to z folded to upper case (no other letters), or the caption is
// exactly "Connected to " followed by the seek text.
bool CaptionMatches(std::string_view caption, std::string_view seekText);

// The index of the first entry whose caption matches, or -1.
int FindSeekText(const TWindowsList& list, std::string_view seekText);

} // namespace quorvane
