#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The help and key-binding text of the About box (tabs and CR-LF line ends included).
std::string AboutHelpText();

// The About box caption and product line.
inline constexpr std::string_view kAboutCaption = "关于 06.06.29.3.0";
inline constexpr std::string_view kAboutProduct = "Velmora VELMORA";

// The installed version as the About box shows it: empty when it cannot be read.
std::string InstalledVersion();

// The access-code prompt opens the configuration only for the exact code: byte for byte,
// case-sensitive, nothing trimmed.
bool AccessCodeMatches(std::string_view typed, std::string_view accessCode);

} // namespace velmora
