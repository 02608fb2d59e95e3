#include "market/ReplyFraming.h"

#include <string>

namespace velmora {

namespace {

constexpr std::string_view kSeparator = "<br/>";
constexpr std::size_t kPreamble = 4;

// The reply after its preamble; the lead character stands in front of it.
std::string_view AfterPreamble(std::string_view body)
{
    return body.size() > kPreamble ? body.substr(kPreamble) : std::string_view{};
}

// A record without its terminator; an empty one stays empty.
std::string_view WithoutTerminator(std::string_view text)
{
    return text.empty() ? text : text.substr(0, text.size() - 1);
}

} // namespace

std::size_t ForEachRecord(std::string_view body, char lead,
                          const std::function<bool(std::string_view record)>& record)
{
    const std::string_view text = AfterPreamble(body);
    std::size_t visited = 0;
    std::size_t start = 0;
    std::size_t separator = text.find(kSeparator);
    while (separator != std::string_view::npos) {
        bool more = false;
        if (visited == 0) {
            std::string first(1, lead);
            first.append(text.substr(0, separator));
            more = record(WithoutTerminator(first));
        } else {
            more = record(WithoutTerminator(text.substr(start, separator - start)));
        }
        ++visited;
        if (!more)
            break;
        start = separator + kSeparator.size();
        separator = text.find(kSeparator, start);
    }
    return visited;
}

std::size_t CountRecords(std::string_view body)
{
    const std::string_view text = AfterPreamble(body);
    std::size_t count = 0;
    for (std::size_t at = text.find(kSeparator); at != std::string_view::npos;
         at = text.find(kSeparator, at + kSeparator.size()))
        ++count;
    return count;
}

} // namespace velmora
