// The settings file can be edited by hand: any content must be read or refused cleanly.

#include "platform/SettingsStore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = [] {
        char pattern[] = "/tmp/velmora-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp") + "/registry.ini";
    }();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    velmora::SettingsStore store(path);
    std::string value;
    if (store.read("velmora", "VELMORA_VERSION", value) && value.size() > size)
        std::abort(); // a value cannot be longer than the file it came from
    return 0;
}
