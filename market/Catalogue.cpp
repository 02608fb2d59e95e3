#include "market/Catalogue.h"

namespace velmora {

namespace {

struct CatalogueRow {
    std::string_view code;
    std::string_view name;
    std::string_view quoteName;
    std::array<std::string_view, kPeriodCount> yunit;
};

constexpr std::array<CatalogueRow, kCommodityCount> kRows{{
    {"SGY15KG", "沈贵银", "沈贵银", {"3.00", "5.00", "10.00", "10.00"}},
    {"SGXPD", "钯金", "钯金", {"0.10", "0.20", "1.00", "2.00"}},
    {"SGXPT", "鉑金", "鉑金", {"0.20", "0.50", "1.00", "2.00"}},
    {"LLSUSD", "现货白银", "伦敦银", {"0.02", "0.05", "0.10", "0.25"}},
    {"CNH", "美元人民币", "人民币", {"0.001", "0.005", "0.01", "0.02"}},
    {"EURUSD", "外汇欧元", "欧罗美元", {"0.0005", "0.0010", "0.0025", "0.0050"}},
    {"GBPUSD", "外汇英镑", "英镑美元", {"0.0005", "0.0010", "0.0025", "0.0050"}},
    {"USDJPY", "外汇日元", "美元日圆", {"0.05", "0.10", "0.15", "0.25"}},
    {"AUDUSD", "外汇澳元", "澳元美元", {"0.0005", "0.0010", "0.0025", "0.0050"}},
    {"USDCHF", "外汇瑞郎", "美元瑞郎", {"0.0005", "0.0010", "0.0025", "0.0050"}},
    {"USDCAD", "外汇加元", "美元加元", {"0.0005", "0.0010", "0.0025", "0.0050"}},
    {"NZDUSD", "外汇纽元", "纽元美元", {"0.0005", "0.0010", "0.0025", "0.0050"}},
    {"LLGUSD", "现货黄金", "伦敦金", {"0.50", "1.00", "2.50", "5.00"}},
}};

struct PeriodRow {
    std::string_view name;
    std::string_view lineType;
    int mt4Suffix;
};

constexpr std::array<PeriodRow, kPeriodCount> kPeriods{{
    {"半小时线", "half", 30},
    {"日线", "day", 1440},
    {"周线", "week", 10080},
    {"月线", "month", 43200},
}};

} // namespace

std::string_view PeriodName(Period p) { return IsValidPeriod(p) ? kPeriods[p].name : ""; }

std::string_view PeriodLineType(Period p) { return IsValidPeriod(p) ? kPeriods[p].lineType : ""; }

int PeriodMt4Suffix(Period p) { return IsValidPeriod(p) ? kPeriods[p].mt4Suffix : 0; }

void InitCatalogue(Catalogue& catalogue)
{
    for (int i = 0; i < kCommodityCount; ++i) {
        CommodityEntry entry;
        entry.code = kRows[i].code;
        entry.name = kRows[i].name;
        for (int p = 0; p < kPeriodCount; ++p)
            entry.yunit[p] = kRows[i].yunit[p];
        catalogue[i] = std::move(entry);
    }
}

std::string_view CommodityCode(int commodity)
{
    return IsValidCommodity(commodity) ? kRows[commodity].code : std::string_view{};
}

int FindCommodity(std::string_view code)
{
    if (code.empty())
        return kCommodityCount;
    for (int i = 0; i < kCommodityCount; ++i) {
        if (kRows[i].code == code)
            return i;
    }
    return kCommodityCount;
}

std::string_view QuoteDisplayName(std::string_view code)
{
    const int index = FindCommodity(code);
    return IsValidCommodity(index) ? kRows[index].quoteName : std::string_view{};
}

} // namespace velmora
