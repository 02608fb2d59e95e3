#include "tools/ChartReport.h"

#include "platform/TextCodec.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

std::string OptionalInt(const std::optional<int>& value)
{
    return value ? std::to_string(*value) : std::string("null");
}

std::string Number(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

std::string JsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    return Number(value);
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::string CsvText(std::string_view text) { return EscapeControlBytes(text); }

std::string ChartJson(const ChartRun& run, const ValueChartState& state)
{
    const ValueChartLayout& layout = state.layout;
    const bool isMessage = run.pass.outcome == ChartOutcome::Message;
    std::string out = "{";
    out += "\"outcome\":" + JsonString(OutcomeName(run.pass.outcome));
    out += ",\"message\":" + JsonString(isMessage ? run.pass.message : std::string());
    out += ",\"title\":" + JsonString(run.pass.title);
    out += ",\"passes\":" + std::to_string(run.passes);
    out += ",\"yunit\":" + JsonNumber(layout.yunit);
    out += ",\"ymax\":" + JsonNumber(layout.ymax);
    out += ",\"ymin\":" + JsonNumber(layout.ymin);
    out += ",\"retMax\":" + JsonNumber(layout.retMax);
    out += ",\"retMin\":" + JsonNumber(layout.retMin);
    out += ",\"rows\":" + std::to_string(layout.rows);
    out += ",\"widest\":" + std::to_string(layout.widest);
    out += ",\"u\":" + std::to_string(layout.upCount);
    out += ",\"d\":" + std::to_string(layout.downCount);
    out += ",\"longZ\":" + OptionalInt(layout.longZ);
    out += ",\"shortZ\":" + OptionalInt(layout.shortZ);

    out += ",\"labels\":[";
    bool first = true;
    for (int r = 0; r < kTpoRows; ++r) {
        const TpoCell& cell = state.grid.at(r, 0);
        if (cell.empty())
            continue;
        out += first ? "" : ",";
        first = false;
        out += JsonString(cell.text);
    }
    out += "],\"cells\":[";
    first = true;
    for (int r = 0; r < kTpoRows; ++r) {
        for (int q = 1; q < kTpoColumns; ++q) {
            const TpoCell& cell = state.grid.at(r, q);
            if (cell.empty())
                continue;
            out += first ? "{" : ",{";
            first = false;
            out += "\"row\":" + std::to_string(r) + ",\"col\":" + std::to_string(q);
            out += ",\"text\":" + JsonString(cell.text);
            out += ",\"label\":" + JsonString(cell.label);
            out += ",\"bold\":";
            out += cell.edgeBar ? "true" : "false";
            out += "}";
        }
    }
    out += "]}\n";
    return out;
}

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
