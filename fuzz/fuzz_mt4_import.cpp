// MT4 history files come from another program: any file content must import without a crash,
// with count and cursor inside the series.

#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/Mt4Import.h"
#include "platform/MessageSink.h"
#include "tests/support/RecordingMessageSink.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One catalogue and store for the whole run: a fresh 2 MB store per input would only slow
    // the search down.
    static velmora::Catalogue catalogue;
    static velmora::BarStore barStore;
    static const std::string dir = [] {
        char pattern[] = "/tmp/velmora-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        velmora::InitCatalogue(catalogue);
        return std::string(made ? made : "/tmp");
    }();
    const std::string path = velmora::Mt4HistoryPath(dir, "EURUSD", velmora::kHalfHour);
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    velmora::RecordingMessageSink messages;
    velmora::ImportMt4Series(barStore, catalogue[5], velmora::kHalfHour, dir, 200, messages);
    const velmora::BarSeries& series = barStore.Series(5, velmora::kHalfHour);
    if (series.count < 0 || series.count > velmora::kMaxBars || series.cursor >= velmora::kMaxBars)
        std::abort();
    return 0;
}
