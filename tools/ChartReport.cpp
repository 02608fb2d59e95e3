#include "tools/ChartReport.h"

#include "analysis/ChartAids.h"
#include "analysis/ValueProfile.h"
#include "platform/QtText.h"
#include "platform/TextCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <utility>
#include <vector>

namespace velmora {

namespace {

std::string_view OutcomeName(ChartOutcome outcome)
{
    switch (outcome) {
    case ChartOutcome::Drawn:
        return "drawn";
    case ChartOutcome::Message:
        return "message";
    case ChartOutcome::Suggestion:
        return "suggestion";
    }
    return "message";
}

QJsonValue OptionalInt(const std::optional<int>& value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// Non-finite numbers have no JSON form: null.
QJsonValue NumberValue(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

std::string Number(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// One JSON value as Qt writes it, compact.
std::string JsonText(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2).toStdString(); // without the array's brackets
}

// A JSON object with its keys in the order given (QJsonObject would sort them).
std::string OrderedObject(std::initializer_list<std::pair<const char*, QJsonValue>> members)
{
    std::string out = "{";
    for (const auto& [key, value] : members)
        out += (out.size() > 1 ? ",\"" : "\"") + std::string(key) + "\":" + JsonText(value);
    return out + "}";
}

// The drawn chart's profile measures as an object, or null when it has none.
std::string ProfileJson(const ChartRun& run, const ValueChartState& state)
{
    const auto profile = run.pass.outcome == ChartOutcome::Drawn
                             ? ProfileOf(state.layout, state.grid)
                             : std::nullopt;
    if (!profile)
        return "null";
    QJsonArray counts;
    for (const int count : profile->counts)
        counts.append(count);
    QJsonArray singles;
    for (const int row : profile->singlePrints)
        singles.append(row);
    return OrderedObject({{"counts", counts},
                          {"poc", profile->poc},
                          {"pocPrice", NumberValue(profile->pocPrice)},
                          {"vaTop", profile->vaTop},
                          {"vaBottom", profile->vaBottom},
                          {"vah", NumberValue(profile->vah)},
                          {"val", NumberValue(profile->val)},
                          {"singlePrints", singles}});
}

} // namespace

std::string ChartJson(const ChartRun& run, const ValueChartState& state)
{
    const ValueChartLayout& layout = state.layout;
    const bool isMessage = run.pass.outcome == ChartOutcome::Message;
    QJsonArray labels;
    std::vector<std::string> cells;
    for (int r = 0; r < kTpoRows; ++r) {
        if (const TpoCell& label = state.grid.at(r, 0); !label.empty())
            labels.append(ToQString(label.text));
        for (int q = 1; q < kTpoColumns; ++q) {
            const TpoCell& cell = state.grid.at(r, q);
            if (cell.empty())
                continue;
            cells.push_back(OrderedObject({{"row", r},
                                           {"col", q},
                                           {"text", ToQString(cell.text)},
                                           {"label", ToQString(cell.label.view())},
                                           {"bold", cell.edgeBar}}));
        }
    }
    std::string cellList = "[";
    for (const std::string& cell : cells)
        cellList += (cellList.size() > 1 ? "," : "") + cell;
    cellList += "]";
    std::string out =
        OrderedObject({{"outcome", ToQString(OutcomeName(run.pass.outcome))},
                       {"message", ToQString(isMessage ? run.pass.message : std::string())},
                       {"title", ToQString(run.pass.title)},
                       {"passes", run.passes},
                       {"yunit", NumberValue(layout.yunit)},
                       {"ymax", NumberValue(layout.ymax)},
                       {"ymin", NumberValue(layout.ymin)},
                       {"retMax", NumberValue(layout.retMax)},
                       {"retMin", NumberValue(layout.retMin)},
                       {"rows", layout.rows},
                       {"widest", layout.widest},
                       {"u", layout.upCount},
                       {"d", layout.downCount},
                       {"longZ", OptionalInt(layout.longZ)},
                       {"shortZ", OptionalInt(layout.shortZ)},
                       {"labels", labels}});
    out.pop_back(); // the closing brace: the cells follow
    return out + ",\"cells\":" + cellList + ",\"profile\":" + ProfileJson(run, state) + "}\n";
}

std::string CsvText(std::string_view text) { return EscapeControlBytes(text); }

std::string ChartText(const ChartRun& run, const ValueChartState& state)
{
    const ValueChartLayout& layout = state.layout;
    std::string out = run.pass.title + "\n";
    if (run.pass.outcome == ChartOutcome::Message)
        return out + run.pass.message + "\n";
    char line[256];
    std::snprintf(line, sizeof line, "YUnit=%s YMax=%s YMin=%s rows=%d widest=%d U=%d D=%d\n",
                  Number(layout.yunit).c_str(), Number(layout.ymax).c_str(),
                  Number(layout.ymin).c_str(), layout.rows, layout.widest, layout.upCount,
                  layout.downCount);
    out += line;
    if (run.pass.outcome != ChartOutcome::Drawn)
        return out;
    out += "(+ up, - down, * edge bar; == long average, -- short average)\n";
    for (int r = 0; r < layout.rows && r < kTpoRows; ++r) {
        std::snprintf(line, sizeof line, "%12s |", state.grid.at(r, 0).text.c_str());
        out += line;
        for (int q = 1; q < kTpoColumns; ++q) {
            const TpoCell& cell = state.grid.at(r, q);
            if (cell.empty())
                break;
            const std::string_view label = cell.label.view();
            std::snprintf(line, sizeof line, " %c%-3.*s%c", cell.isUp() ? '+' : '-',
                          static_cast<int>(label.size()), label.data(), cell.edgeBar ? '*' : ' ');
            out += line;
        }
        if (layout.longZ == r)
            out += "  ==";
        if (layout.shortZ == r)
            out += "  --";
        out += "\n";
    }
    if (const auto profile = ProfileOf(layout, state.grid)) {
        const auto price = [&](int row) { return LevelPriceText(layout, row); };
        out += "POC " + price(profile->poc) + " (row " + std::to_string(profile->poc) + ")\n";
        out += "VAH " + price(profile->vaTop) + " (row " + std::to_string(profile->vaTop) +
               ")  VAL " + price(profile->vaBottom) + " (row " + std::to_string(profile->vaBottom) +
               ")\n";
        out += "single prints:";
        for (const int row : profile->singlePrints)
            out += " " + price(row);
        out += profile->singlePrints.empty() ? " none\n" : "\n";
        out += "counts:";
        for (const int count : profile->counts)
            out += " " + std::to_string(count);
        out += "\n";
    }
    return out;
}

std::string SeriesCsv(const BarSeries& series)
{
    std::string out = "count," + std::to_string(series.count) + "\n";
    out += "cursor," + std::to_string(series.cursor) + "\n";
    out += "slot,time,open,close,high,low,volume\n";
    for (int i = 0; i < series.count && i < kMaxBars; ++i) {
        const BarRecord& bar = series.bars[i];
        out += std::to_string(i) + "," + CsvText(bar.time) + "," + Number(bar.open) + "," +
               Number(bar.close) + "," + Number(bar.high) + "," + Number(bar.low) + "," +
               std::to_string(bar.volume) + "\n";
    }
    return out;
}

} // namespace velmora
