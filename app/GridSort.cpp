#include "app/GridSort.h"

#include "platform/TextCodec.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <locale.h>

namespace velmora {

namespace {

// strtoul in base 16 as a 32-bit unsigned long reads it: the whole text or nothing.
bool ParseHex32(const std::string& text, std::uint32_t& value)
{
    if (text.empty())
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const unsigned long long raw = std::strtoull(begin, &end, 16);
    if (end == begin || *end != '\0')
        return false;
    bool negative = false;
    for (const char* p = begin; p < end; ++p) {
        if (*p == '-') {
            negative = true;
            break;
        }
        if (*p == '+' || (*p >= '0' && *p <= '9'))
            break;
    }
    // The magnitude the text wrote, before the sign wrapped it.
    const unsigned long long magnitude = negative ? 0 - raw : raw;
    if (errno == ERANGE || magnitude > 0xffffffffull)
        value = 0xffffffffu;
    else
        value = negative ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(magnitude))
                         : static_cast<std::uint32_t>(magnitude);
    return true;
}

// strtod in the C locale, whatever locale the windowing toolkit chose: nothing or exactly one
// "%" may follow the number.
bool ParseDecimal(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const char* begin = text.c_str();
    char* end = nullptr;
    value = strtod_l(begin, &end, cLocale);
    if (end == begin)
        return false;
    return *end == '\0' || (end[0] == '%' && end[1] == '\0');
}

// Reads 1 to `most` digits.
bool Digits(std::string_view text, std::size_t& i, int most, int& value)
{
    int read = 0;
    value = 0;
    while (i < text.size() && read < most && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        ++i;
        ++read;
    }
    return read > 0;
}

bool TimeOfDay(std::string_view text, std::size_t& i, long long& seconds)
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!Digits(text, i, 2, hour) || i >= text.size() || text[i] != ':')
        return false;
    ++i;
    if (!Digits(text, i, 2, minute))
        return false;
    if (i < text.size() && text[i] == ':') {
        ++i;
        if (!Digits(text, i, 2, second))
            return false;
    }
    if (hour > 23 || minute > 59 || second > 59)
        return false;
    seconds = hour * 3600LL + minute * 60LL + second;
    return true;
}

int Sign(double difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

} // namespace

bool ParseGridDateTime(std::string_view text, long long& seconds)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::size_t end = text.size();
    while (end > i && text[end - 1] == ' ')
        --end;
    text = text.substr(0, end);
    if (i >= text.size())
        return false;

    const std::size_t start = i;
    long long clock = 0;
    if (TimeOfDay(text, i, clock) && i == text.size()) {
        seconds = clock;
        return true;
    }
    i = start;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!Digits(text, i, 4, year) || i - start != 4 || i >= text.size())
        return false;
    const char separator = text[i];
    if (separator != '-' && separator != '.' && separator != '/')
        return false;
    ++i;
    if (!Digits(text, i, 2, month) || i >= text.size() || text[i] != separator)
        return false;
    ++i;
    if (!Digits(text, i, 2, day))
        return false;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok())
        return false;
    clock = 0;
    if (i < text.size()) {
        if (text[i] != ' ' && text[i] != 'T')
            return false;
        while (i < text.size() && (text[i] == ' ' || text[i] == 'T'))
            ++i;
        if (!TimeOfDay(text, i, clock) || i != text.size())
            return false;
    }
    const long long days = std::chrono::sys_days(date).time_since_epoch().count();
    seconds = days * 86400LL + clock;
    return true;
}

int CompareGridCells(std::string_view a, std::string_view b)
{
    const std::string left(a);
    const std::string right(b);
    std::uint32_t hexLeft = 0;
    std::uint32_t hexRight = 0;
    if (ParseHex32(left, hexLeft) && ParseHex32(right, hexRight))
        return hexLeft < hexRight ? -1 : hexLeft > hexRight ? 1 : 0;
    double decimalLeft = 0;
    double decimalRight = 0;
    if (ParseDecimal(left, decimalLeft) && ParseDecimal(right, decimalRight))
        return Sign(decimalLeft - decimalRight);
    long long timeLeft = 0;
    long long timeRight = 0;
    if (ParseGridDateTime(a, timeLeft) && ParseGridDateTime(b, timeRight))
        return timeLeft < timeRight ? -1 : timeLeft > timeRight ? 1 : 0;
    // The system code page's byte order, which keeps Chinese names in their usual order.
    const int order = Utf8ToGbk(a).compare(Utf8ToGbk(b));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

namespace {

// Partitions around the middle entry and recurses into the lower part, looping on the upper.
// The scans stop at the range's ends: texts of mixed kinds can compare in a circle.
void QuickSort(std::vector<int>& order, int lo, int hi, const std::function<bool(int, int)>& before)
{
    while (lo < hi) {
        const int pivot = order[static_cast<std::size_t>((lo + hi) / 2)];
        int i = hi;
        int j = lo;
        do {
            while (j < hi && before(order[static_cast<std::size_t>(j)], pivot))
                ++j;
            while (i > lo && before(pivot, order[static_cast<std::size_t>(i)]))
                --i;
            if (i < j)
                break;
            if (i != j)
                std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
            --i;
            ++j;
        } while (i >= j);
        if (lo < i)
            QuickSort(order, lo, i, before);
        lo = j;
    }
}

} // namespace

std::vector<int> GridSortOrder(const std::vector<std::string>& texts, bool ascending)
{
    const int n = static_cast<int>(texts.size());
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k)
        order[static_cast<std::size_t>(k)] = k;
    if (n < 2)
        return order;
    const auto before = [&](int x, int y) {
        const int c = CompareGridCells(texts[static_cast<std::size_t>(x)],
                                       texts[static_cast<std::size_t>(y)]);
        return ascending ? c < 0 : c > 0;
    };
    QuickSort(order, 0, n - 1, before);
    return order;
}

} // namespace velmora
