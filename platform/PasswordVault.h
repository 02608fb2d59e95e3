#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velmora {

// A keyring of the desktop that keeps a saved password out of plain files. Both calls answer
// later, on the thread that made them (through its event loop), and may answer before they
// return.
class PasswordVault {
public:
    virtual ~PasswordVault() = default;

    // `done(true)` once the keyring holds `password` for `user`; false when there is no
    // keyring or it refused.
    virtual void store(const std::string& user, const std::string& password,
                       std::function<void(bool)> done) = 0;

    // The password kept for `user`, or nullopt when there is none or no keyring.
    virtual void read(const std::string& user,
                      std::function<void(std::optional<std::string>)> done) = 0;
};

} // namespace velmora
