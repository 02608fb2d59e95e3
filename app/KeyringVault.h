#pragma once

#include "platform/PasswordVault.h"

namespace velmora {

// Saved passwords in the desktop's Secret Service keyring, under the service "velmora" with
// the user name as key. Answers through the GUI event loop; a missing or locked keyring that
// the user does not unlock answers false / nullopt.
class KeyringVault final : public PasswordVault {
public:
    void store(const std::string& user, const std::string& password,
               std::function<void(bool)> done) override;
    void read(const std::string& user,
              std::function<void(std::optional<std::string>)> done) override;
};

} // namespace velmora
