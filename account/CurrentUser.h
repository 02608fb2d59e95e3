#pragma once

#include <string>

namespace velmora {

// The user of this run, in UTF-8. Only a successful login in the user center sets `loggedIn`;
// registration fills the details without it.
struct UserInfo {
    bool loggedIn = false;
    std::string userName;
    std::string alias;
    std::string password;
    std::string mail;
    std::string telphone;
    std::string type;  // from the login reply; kept, not consulted
    std::string valid; // from the login reply; kept, not consulted
};

} // namespace velmora
