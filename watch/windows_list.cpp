#include "watch/windows_list.h"

namespace quorvane {

namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

} // namespace

TWindowsList::TWindowsList() : source_(&DesktopWindowTitles()) {}

void TWindowsList::FillWindowList() {
    TheWindowsList.clear();
    for (WindowTitle& title : source_->WindowTitles()) {
        if (AcceptEmptyNames || !title.caption.empty())
            TheWindowsList.push_back({std::move(title.caption), TWindowInfo{title.window}});
    }
}

bool CaptionMatches(std::string_view caption, std::string_view seekText) {
    if (EqualAsciiNoCase(caption, seekText))
        return true;
    return caption.size() == kConnectedTo.size() + seekText.size() &&
           caption.starts_with(kConnectedTo) && caption.ends_with(seekText);
}

int FindSeekText(const TWindowsList& list, std::string_view seekText) {
    for (std::size_t i = 0; i < list.TheWindowsList.size(); ++i)
        if (CaptionMatches(list.TheWindowsList[i].Caption, seekText))
            return static_cast<int>(i);
    return -1;
}

} // namespace quorvane
