#include "app/ImageName.h"

#include "platform/RegistryKey.h"
#include "platform/SettingsStore.h"

#include <array>
#include <cstdio>
#include <system_error>

namespace velmora {

namespace {

// Letters, digits, '-' and '_' stay, and so do the bytes of non-ASCII characters; anything
// else (separators, dots, blanks, control bytes) would let the name leave its folder, hide
// the file or trouble a shell.
std::string FileNamePart(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool keep = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                          (byte >= 'a' && byte <= 'z') || byte == '-' || byte == '_' ||
                          byte >= 0x80;
        out += keep ? c : '_';
    }
    return out;
}

bool Digits(std::string_view text)
{
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return !text.empty();
}

std::string Date(int year, int month, int day)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", year, month, day);
    return text.data();
}

} // namespace

std::string ChartImageName(std::string_view code, Period period, std::string_view barTime)
{
    std::string name = code.empty() ? std::string("价值图") : FileNamePart(code);
    if (IsValidPeriod(period)) {
        name += '-';
        name += PeriodName(period);
    }
    // Year, month and day at their places in a bar time, whatever the separators.
    if (barTime.size() >= 10 && Digits(barTime.substr(0, 4)) && Digits(barTime.substr(5, 2)) &&
        Digits(barTime.substr(8, 2))) {
        name += '-';
        name.append(barTime.substr(0, 4));
        name += '-';
        name.append(barTime.substr(5, 2));
        name += '-';
        name.append(barTime.substr(8, 2));
    }
    return name + ".png";
}

std::string QuoteBoardImageName(int year, int month, int day)
{
    return "行情-" + Date(year, month, day) + ".png";
}

// Kept apart from the registry-style key, which refuses values of 200 bytes or more: a deep
// folder of Chinese names reaches that.
std::filesystem::path ImageSaveFolder(const std::filesystem::path& fallback)
{
    const std::filesystem::path store = SettingsStore::defaultPath();
    std::string folder;
    if (store.empty() || !ReadProgramSetting(store, kRegistry.imageDir, folder) || folder.empty())
        return fallback;
    std::error_code error;
    const std::filesystem::path path(folder);
    return path.is_absolute() && std::filesystem::is_directory(path, error) ? path : fallback;
}

void RememberImageSaveFolder(const std::filesystem::path& folder)
{
    const std::filesystem::path store = SettingsStore::defaultPath();
    if (store.empty() || folder.empty())
        return;
    const SettingsStore settings(store);
    if (settings.prepare())
        settings.write(kRegistry.subKey, kRegistry.imageDir, folder.string());
}

} // namespace velmora
