#pragma once

#include <string>

namespace velmora {

// The user of this run. Only a successful login in the user center sets `loggedIn`.
struct UserInfo {
    bool loggedIn = false;
    std::string userName;
};

inline UserInfo CurrentUser;

} // namespace velmora
