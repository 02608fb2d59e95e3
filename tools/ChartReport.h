#pragma once

#include "analysis/ValueChart.h"

#include <string>

namespace velmora {

struct ChartRun {
    ValueChartPass pass;
    int passes = 0;
};

// One JSON object describing the last pass of a run, on one line, the profile measures of a
// drawn chart last (null otherwise). Texts that are not valid
// UTF-8 show U+FFFD for the bytes that are not.
std::string ChartJson(const ChartRun& run, const ValueChartState& state);

// The grid as aligned text, for people, followed by the profile measures of a drawn chart.
std::string ChartText(const ChartRun& run, const ValueChartState& state);

// One CSV field of text that came from elsewhere, with backslashes and control bytes escaped
// (\\, \n, \r, \t, \xHH), so that a record is always exactly one line.
std::string CsvText(std::string_view text);

// The series as CSV: count, cursor, then slot,time,open,close,high,low,volume for every bar.
std::string SeriesCsv(const BarSeries& series);

} // namespace velmora
