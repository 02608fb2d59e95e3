#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

// Starts `program` with the argument words `words` (the first is its name), with `folder` as
// working directory, in a session of its own and with the signals it may meet at their
// defaults, so that it outlives the process that started it. False, with the reason in
// `*error`, when it cannot start.
bool SpawnDetached(const std::filesystem::path& folder, const std::filesystem::path& program,
                   std::vector<std::string> words, std::string* error);

} // namespace velmora
