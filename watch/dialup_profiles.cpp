#include "watch/dialup_profiles.h"

#include "settings/registry.h"
#include "core/text_codec.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <system_error>

namespace quorvane {

namespace {

// The peer files' names, sorted; none when the folder cannot be read to its end.
std::vector<std::string> PeerNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code typeError;
        if (name.starts_with('.') || !IsValidUtf8(name) || !it->is_regular_file(typeError))
            continue;
        names.push_back(std::move(name));
    }
    if (ec)
        return {};
    // In the store's order of subkeys: letter case ignored, then as written.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string fa = FoldCase(a), fb = FoldCase(b);
        return fa != fb ? fa < fb : a < b;
    });
    return names;
}

} // namespace

std::filesystem::path PppPeersFolder() {
    const char* folder = std::getenv("QUORVANE_PPP_PEERS");
    return folder != nullptr && *folder != '\0' ? folder : "/etc/ppp/peers";
}

std::vector<std::string> DialUpProfileNames() {
    std::vector<std::string> names;
    GetKeyNamesByPath(HKEY_CURRENT_USER, kDialUpProfilesKey, names);
    std::set<std::string> listed;
    for (const std::string& name : names)
        listed.insert(FoldCase(name));
    for (std::string& peer : PeerNames(PppPeersFolder())) {
        if (listed.insert(FoldCase(peer)).second)
            names.push_back(std::move(peer));
    }
    return names;
}

} // namespace quorvane
