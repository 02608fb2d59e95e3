#pragma once

#include "market/Catalogue.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

// The file name the save dialog proposes for a chart's picture: code, period name and the date
// of the bar at the cursor, "LLGUSD-日线-2026-12-08.png"; without the date when `barTime` holds
// none. Characters that could make a path or a hidden file become '_'.
std::string ChartImageName(std::string_view code, Period period, std::string_view barTime);

// The quote board's proposed name with the given day: "行情-2026-12-08.png".
std::string QuoteBoardImageName(int year, int month, int day);

// The folder a save dialog starts in: the one a picture was last saved into when it is still a
// folder, else `fallback`.
std::filesystem::path ImageSaveFolder(const std::filesystem::path& fallback);

// Keeps the folder of a saved picture in the settings store for the next save.
void RememberImageSaveFolder(const std::filesystem::path& folder);

} // namespace velmora
