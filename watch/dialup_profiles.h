#pragma once
// The names offered for the seek text: the dial-up connections the store keeps for the current
// user, then pppd's peers (the connections a Linux user dials with "pon <name>").

#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {

// Below HKEY_CURRENT_USER; each direct subkey is one dial-up connection, named as the key.
inline constexpr const char* kDialUpProfilesKey = "RemoteAccess\\Profile\\";

// $QUORVANE_PPP_PEERS when set, else /etc/ppp/peers.
std::filesystem::path PppPeersFolder();

// The subkeys of kDialUpProfilesKey in the store's order (the key is created when missing;
// none when the store is out of reach), then the files of PppPeersFolder() by name, leaving out
// a name already listed (letter case ignored), hidden files, and names that are not UTF-8. A
// folder that is missing or cannot be read adds nothing.
std::vector<std::string> DialUpProfileNames();

} // namespace quorvane
