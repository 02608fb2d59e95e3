// velmora-tool: the market-data and value-chart logic of the program, without windows.

#include "BuildVersion.h"
#include "analysis/AnalysisParams.h"
#include "analysis/ValueChart.h"
#include "analysis/ValueChartDrawing.h"
#include "app/GridSort.h"
#include "market/BarList.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/Mt4Import.h"
#include "market/QuotePage.h"
#include "market/TextNumbers.h"
#include "market/live/ServerSync.h"
#include "market/store/LocalHistory.h"
#include "net/Endpoints.h"
#include "net/HttpClient.h"
#include "net/SelfUpdate.h"
#include "platform/MessageSink.h"
#include "session/Session.h"
#include "tools/ChartImage.h"
#include "tools/ChartReport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace velmora;

namespace {

constexpr int kBadArguments = 2;
constexpr int kImageFailed = 3;

constexpr const char* kUsage =
    "usage:\n"
    "  velmora-tool bars  SOURCE --code CODE --period P [--history N]\n"
    "  velmora-tool list  SOURCE --code CODE --period P [--history N]\n"
    "                     [--sort COLUMN [--descending]]\n"
    "  velmora-tool chart SOURCE --code CODE --period P [--cursor K] [--tpo N]\n"
    "                     [--long M] [--short M] [--history N] [--yunit TEXT]\n"
    "                     [--format json|text] [--png FILE] [--svg FILE] [--screen-width W]\n"
    "                     [--profile]\n"
    "\n"
    "  velmora-tool sync [--hst DIR]\n"
    "  velmora-tool quotes\n"
    "  velmora-tool update --check\n"
    "  velmora-tool --help | --version\n"
    "\n"
    "  SOURCE    --hst DIR, --server or --local\n"
    "  --server  synchronise from the configured data server instead of reading MT4 files\n"
    "  --local   read the local bar store (filled by the program or by sync)\n"
    "  sync      writes every series, from the data server or DIR, into the local bar store\n"
    "  DIR     folder of MT4 history files (CODE30.hst, CODE1440.hst, ...)\n"
    "  CODE    catalogue code, e.g. EURUSD or LLGUSD\n"
    "  P       period: 0 half-hour, 1 day, 2 week, 3 month (or half, day, week, month)\n"
    "  COLUMN  0-6: the data management list's column whose header click orders the rows\n"
    "  FILE    PNG or SVG of the drawn chart's page; W is the screen width it is laid out for\n"
    "          (default 1280, the page is W - 20 wide); --profile draws the value area layer\n"
    "exit status: 0 chart drawn, 1 message or suggestion, 2 bad arguments, 3 image not written\n";

int Usage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "velmora-tool: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return kBadArguments;
}

std::optional<Period> ParsePeriod(std::string_view text)
{
    for (Period p = 0; p < kPeriodCount; ++p) {
        if (text == std::to_string(p) || text == PeriodLineType(p))
            return p;
    }
    return std::nullopt;
}

// What the command line asks for, checked.
struct ToolOptions {
    std::string command;
    std::optional<std::string> hstDir; // --hst: a folder of MT4 files
    bool server = false;               // --server: the configured data server
    bool local = false;                // --local: the local bar store
    // bars, list and chart
    std::string code;
    int commodity = -1;
    Period period = 0;
    std::optional<int> history;
    std::optional<std::string> yunit;
    // list
    std::optional<int> sortColumn;
    bool descending = false;
    // chart
    std::optional<int> cursor;
    std::optional<int> tpo;
    std::optional<int> longBars;
    std::optional<int> shortBars;
    bool textFormat = false;
    std::optional<std::string> pngFile;
    std::optional<std::string> svgFile;
    std::optional<int> screenWidth;
    bool profile = false;
};

// The options each command takes.
const std::map<std::string, std::vector<std::string>> kCommandOptions{
    {"bars", {"hst", "server", "local", "code", "period", "history"}},
    {"chart",
     {"hst", "server", "local", "code", "period", "cursor", "tpo", "long", "short", "history",
      "yunit", "format", "png", "svg", "screen-width", "profile"}},
    {"list", {"hst", "server", "local", "code", "period", "history", "sort", "descending"}},
    {"quotes", {"server"}},
    {"sync", {"hst"}},
    {"update", {"check"}},
};

bool IsFlag(const std::string& name)
{
    return name == "server" || name == "local" || name == "check" || name == "descending" ||
           name == "profile";
}

// Latin-1 carries the arguments' bytes through the parser unchanged, whatever their encoding.
QString FromArgument(const char* argument) { return QString::fromLatin1(argument); }
std::string ToArgument(const QString& text) { return text.toLatin1().toStdString(); }

// How an unknown option was written on the command line.
std::string UnknownOptionText(const QStringList& arguments, const QString& name)
{
    for (const QString& argument : arguments) {
        if (argument == QStringLiteral("--") + name ||
            argument.startsWith(QStringLiteral("--") + name + QLatin1Char('=')))
            return ToArgument(argument.section(QLatin1Char('='), 0, 0));
        // Single letters after one dash, such as -abc.
        if (!argument.startsWith(QStringLiteral("--")) &&
            argument.startsWith(QLatin1Char('-') + name))
            return ToArgument(argument);
    }
    return "-" + ToArgument(name);
}

// The command line parsed for the command in argv[1], asked only about that command's options.
class CommandLine {
public:
    // False with `problem` on an unknown command or option, a missing value or a stray word.
    bool parse(int argc, char** argv, std::string& problem)
    {
        if (argc < 2) {
            problem = "no command";
            return false;
        }
        m_command = argv[1];
        const auto names = kCommandOptions.find(m_command);
        if (names == kCommandOptions.end()) {
            problem = "unknown command '" + m_command + "'";
            return false;
        }
        m_known = &names->second;
        for (const std::string& name : *m_known) {
            QCommandLineOption option(QString::fromStdString(name));
            if (!IsFlag(name))
                option.setValueName(QStringLiteral("value"));
            m_parser.addOption(option);
        }
        QStringList arguments{FromArgument(argv[0])};
        for (int i = 2; i < argc; ++i)
            arguments.append(FromArgument(argv[i]));
        if (!m_parser.parse(arguments)) {
            problem = parseProblem(arguments);
            return false;
        }
        if (!m_parser.positionalArguments().isEmpty()) {
            problem = "unknown option '" + ToArgument(m_parser.positionalArguments().first()) + "'";
            return false;
        }
        return true;
    }

    const std::string& command() const { return m_command; }

    bool isSet(const char* name) const
    {
        return std::find(m_known->begin(), m_known->end(), name) != m_known->end() &&
               m_parser.isSet(QString::fromLatin1(name));
    }

    std::optional<std::string> text(const char* name) const
    {
        if (!isSet(name))
            return std::nullopt;
        return ToArgument(m_parser.value(QString::fromLatin1(name)));
    }

private:
    std::string parseProblem(const QStringList& arguments) const
    {
        if (!m_parser.unknownOptionNames().isEmpty())
            return "unknown option '" +
                   UnknownOptionText(arguments, m_parser.unknownOptionNames().first()) + "'";
        // Only the last argument can lack its value.
        const QString last = arguments.last();
        if (last.startsWith(QStringLiteral("--")) && !IsFlag(ToArgument(last.mid(2))))
            return "option '" + ToArgument(last) + "' needs a value";
        return m_parser.errorText().toStdString();
    }

    QCommandLineParser m_parser;
    std::string m_command;
    const std::vector<std::string>* m_known = nullptr;
};

// bars, list and chart: the series named, and exactly one source.
bool ReadSeriesChoice(const CommandLine& line, ToolOptions& options, std::string& problem)
{
    for (const char* required : {"code", "period"}) {
        if (!line.isSet(required)) {
            problem = std::string("missing --") + required;
            return false;
        }
    }
    if (options.descending && !line.isSet("sort")) {
        problem = "--descending needs --sort";
        return false;
    }
    if (int{options.hstDir.has_value()} + int{options.server} + int{options.local} != 1) {
        problem = "give one of --hst DIR, --server and --local";
        return false;
    }
    options.code = *line.text("code");
    options.commodity = FindCommodity(options.code);
    if (!IsValidCommodity(options.commodity)) {
        problem = "'" + options.code + "' is not a catalogue code";
        return false;
    }
    const std::string periodText = *line.text("period");
    const std::optional<Period> period = ParsePeriod(periodText);
    if (!period) {
        problem = "bad period '" + periodText + "'";
        return false;
    }
    options.period = *period;
    return true;
}

bool ReadNumbers(const CommandLine& line, ToolOptions& options, std::string& problem)
{
    const std::pair<const char*, std::optional<int> ToolOptions::*> numbers[] = {
        {"history", &ToolOptions::history}, {"cursor", &ToolOptions::cursor},
        {"tpo", &ToolOptions::tpo},         {"long", &ToolOptions::longBars},
        {"short", &ToolOptions::shortBars}, {"screen-width", &ToolOptions::screenWidth},
        {"sort", &ToolOptions::sortColumn},
    };
    for (const auto& [name, field] : numbers) {
        const std::optional<std::string> value = line.text(name);
        if (!value)
            continue;
        options.*field = ParseExactNumber<int>(*value);
        if (!(options.*field)) {
            problem = std::string("bad number for --") + name;
            return false;
        }
    }
    return true;
}

// The form of the report, the list's order and the images.
bool ReadOutput(const CommandLine& line, ToolOptions& options, std::string& problem)
{
    const std::string format = line.text("format").value_or("json");
    if (format != "json" && format != "text") {
        problem = "bad format '" + format + "'";
        return false;
    }
    options.textFormat = format == "text";
    if (options.sortColumn && (*options.sortColumn < 0 || *options.sortColumn >= kBarListColumns)) {
        problem = "the sort column is 0 to 6";
        return false;
    }
    if (options.screenWidth.value_or(kDefaultScreenWidth) <= kChartPageMargin) {
        problem = "the screen width must leave a page wider than 0";
        return false;
    }
    options.pngFile = line.text("png");
    options.svgFile = line.text("svg");
    return true;
}

// The command line as options, checked against each other and the catalogue; nullopt with
// `problem` when they do not make a run.
std::optional<ToolOptions> ReadOptions(int argc, char** argv, std::string& problem)
{
    CommandLine line;
    if (!line.parse(argc, argv, problem))
        return std::nullopt;
    ToolOptions options;
    options.command = line.command();
    options.hstDir = line.text("hst");
    options.server = line.isSet("server");
    options.local = line.isSet("local");
    options.descending = line.isSet("descending");
    options.profile = line.isSet("profile");
    options.yunit = line.text("yunit");
    if (options.command == "quotes" || options.command == "sync")
        return options;
    if (options.command == "update") {
        if (line.isSet("check"))
            return options;
        problem = "update needs --check";
        return std::nullopt;
    }
    if (!ReadSeriesChoice(line, options, problem) || !ReadNumbers(line, options, problem) ||
        !ReadOutput(line, options, problem))
        return std::nullopt;
    return options;
}

// A synchronisation stops a commodity at its first failed period, so every later period of
// that commodity was never fetched either.
bool SeriesFetched(const SyncFailures& failures, int commodity, Period period)
{
    return std::none_of(failures.begin(), failures.end(), [&](const SyncFailure& failure) {
        return failure.commodity == commodity && failure.period <= period;
    });
}

void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// The session's HTTP client for one run against the configured data server, with its cookie
// file in a temporary folder: a run of the tool must not replace the program's cookies.
class ServerSession {
public:
    explicit ServerSession(Session& session) : m_session(session)
    {
        std::string dir = (std::filesystem::temp_directory_path() / "velmora-tool-XXXXXX").string();
        if (mkdtemp(dir.data()) != nullptr)
            m_dir = dir;
        m_session.g_pHttpClient = std::make_unique<CHttpClient>(CurrentEndpoints(), m_dir);
    }
    ~ServerSession()
    {
        m_session.g_pHttpClient.reset();
        if (!m_dir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_dir, ignored);
        }
    }
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

private:
    Session& m_session;
    std::filesystem::path m_dir;
};

// Fills the local bar store from the data server or an MT4 folder, every series with as many
// bars as the program keeps. Exit 1 when a series could not be fetched or written.
int SyncToStore(Session& session, const ToolOptions& options)
{
    bool storeFailed = false;
    LocalHistory history(session.barStore, [&storeFailed](const std::string& text) {
        storeFailed = true;
        std::fprintf(stderr, "velmora-tool: %s\n", text.c_str());
    });
    if (!history.open(HistoryDb::defaultPath()))
        return 1;
    history.observeBarStore();
    const PeriodValues all{kMaxBars, kMaxBars, kMaxBars, kMaxBars};
    StderrMessageSink messages;
    SyncFailures failures;
    if (options.hstDir) {
        failures =
            ImportAllFromMt4(session.catalogue, session.barStore, *options.hstDir, all, messages);
    } else {
        const ServerSession connection(session);
        failures = SyncAllFromServer(session.g_pHttpClient.get(), session.catalogue,
                                     session.barStore, all, messages);
    }
    history.flush();
    std::fprintf(stderr, "velmora-tool: local bar store %s\n", history.path().c_str());
    return failures.empty() && !storeFailed ? 0 : 1;
}

// One poll of the quote page, printed as CSV.
int PrintQuotes(Session& session)
{
    const ServerSession connection(session);
    CHttpClient& client = *session.g_pHttpClient;
    std::string body;
    if (client.FetchQuotes(body) != 0) {
        std::fprintf(stderr, "velmora-tool: %s\n", client.lastError().c_str());
        return 1;
    }
    ParseQuotes(body, session.catalogue, session.barStore);
    std::string out = "code,name,time,last,open,prevClose,high,low,bid,ask\n";
    for (const CommodityEntry& entry : session.catalogue) {
        bool first = true;
        for (const std::string* field :
             {&entry.code, &entry.name, &entry.quoteTime, &entry.lastPrice, &entry.todayOpen,
              &entry.prevClose, &entry.high, &entry.low, &entry.bid, &entry.ask}) {
            out += first ? "" : ",";
            first = false;
            out += CsvText(*field);
        }
        out += "\n";
    }
    Write(out);
    return 0;
}

// The data management dialog's list of the series: its count label, then the rows in the
// order a click on the header of `sortColumn` gives (-1: as filled).
std::string ListText(const BarSeries& series, int sortColumn, bool ascending)
{
    const BarList list = FillBarList(series);
    std::vector<int> order(list.rows.size());
    for (std::size_t r = 0; r < order.size(); ++r)
        order[r] = static_cast<int>(r);
    if (sortColumn >= 0) {
        std::vector<std::string> texts;
        for (const auto& row : list.rows)
            texts.push_back(row[static_cast<std::size_t>(sortColumn)]);
        order = GridSortOrder(texts, ascending);
    }
    std::string out = list.label + "\n";
    for (const int r : order) {
        const auto& row = list.rows[static_cast<std::size_t>(r)];
        for (std::size_t c = 0; c < row.size(); ++c)
            out += (c == 0 ? "" : ",") + CsvText(row[c]);
        out += "\n";
    }
    return out;
}

// The program's version check, printed as one JSON object for scripts.
int PrintUpdateCheck(Session& session)
{
    const ServerSession connection(session);
    std::promise<HttpReply> promise;
    std::future<HttpReply> answer = promise.get_future();
    session.g_pHttpClient->startVersion(
        [&promise](HttpReply&& reply) { promise.set_value(std::move(reply)); });
    const HttpReply reply = answer.get();
    std::string problem;
    const std::optional<std::string> known = ReadInstalledVersionIfKnown(&problem);
    const std::string installed = known.value_or("");
    const std::string published = reply.ok() ? reply.body.str() : std::string();
    UpdateDecision decision = DecideUpdate(installed, published);
    if (!known) {
        decision = {};
        std::fprintf(stderr, "velmora-tool: no update: installed version unknown (%s)\n",
                     problem.c_str());
    }
    if (!reply.ok())
        std::fprintf(stderr, "velmora-tool: version request: %s\n",
                     CHttpClient::errorText(reply.code).c_str());
    else if (!decision.reason.empty())
        std::fprintf(stderr, "velmora-tool: no update: %s\n", decision.reason.c_str());
    QJsonObject object;
    object.insert(QStringLiteral("installed"), QString::fromUtf8(installed));
    object.insert(QStringLiteral("published"), QString::fromUtf8(published));
    object.insert(QStringLiteral("due"), decision.due);
    Write(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n");
    return reply.ok() ? 0 : 1;
}

// Where bars, list and chart take their series from. The server's session and the store stay
// open while the command runs.
class SeriesSource {
public:
    explicit SeriesSource(Session& session) : m_session(session) {}

    // Fills the bar store from the source the options name; false when the local store does
    // not open.
    bool load(const ToolOptions& options)
    {
        StderrMessageSink messages;
        if (options.local) {
            m_stored.emplace(m_session.barStore, [](const std::string& text) {
                std::fprintf(stderr, "velmora-tool: %s\n", text.c_str());
            });
            if (!m_stored->open(HistoryDb::defaultPath()))
                return false;
            m_stored->fill(m_session.analysisParams.historyCount);
            m_fetched = m_session.barStore.Series(options.commodity, options.period).storedAt != 0;
        } else if (options.server) {
            m_connection.emplace(m_session);
            m_fetched =
                SeriesFetched(SyncAllFromServer(m_session.g_pHttpClient.get(), m_session.catalogue,
                                                m_session.barStore,
                                                m_session.analysisParams.historyCount, messages),
                              options.commodity, options.period);
        } else {
            ImportAllFromMt4(m_session.catalogue, m_session.barStore, *options.hstDir,
                             m_session.analysisParams.historyCount, messages);
        }
        return true;
    }

    // Whether the series of the options' commodity and period came from the source.
    bool fetched() const { return m_fetched; }

private:
    Session& m_session;
    std::optional<ServerSession> m_connection;
    std::optional<LocalHistory> m_stored;
    bool m_fetched = true;
};

int ReportSeriesMissing(const ToolOptions& options)
{
    const std::string_view lineType = PeriodLineType(options.period);
    std::fprintf(stderr, "velmora-tool: the %.*s series of %s %s\n",
                 static_cast<int>(lineType.size()), lineType.data(), options.code.c_str(),
                 options.local ? "is not in the local bar store" : "could not be fetched");
    return 1;
}

int PrintBars(const BarSeries& series)
{
    Write(SeriesCsv(series));
    return 0;
}

int PrintList(const ToolOptions& options, const BarSeries& series)
{
    Write(ListText(series, options.sortColumn.value_or(-1), !options.descending));
    return 0;
}

// The chart of the series after the chart's overrides, computed as a chart window repaints
// it, printed, and painted into the image files asked for.
int DrawChart(Session& session, const ToolOptions& options, BarSeries& series)
{
    AnalysisParams& analysisParams = session.analysisParams;
    const Catalogue& catalogue = session.catalogue;
    const int commodity = options.commodity;
    const Period period = options.period;
    if (options.tpo)
        analysisParams.tpoBars[period] = *options.tpo;
    if (options.longBars)
        analysisParams.longAvgBars[period] = *options.longBars;
    if (options.shortBars)
        analysisParams.shortAvgBars[period] = *options.shortBars;
    if (options.cursor)
        series.cursor = *options.cursor;

    auto state = std::make_unique<ValueChartState>();
    const ValueChartRequest request{commodity, period, &catalogue[commodity], &series,
                                    &analysisParams};
    ChartRun run;
    std::string title = NewChartTitle(catalogue[commodity], period);
    SuggestionRepaints repaints;
    do {
        run.pass = RunValueChartPass(request, title, *state, session.yunitOverride);
        ++run.passes;
        title = run.pass.title;
    } while (repaints.followUp(run.pass));

    Write(options.textFormat ? ChartText(run, *state) : ChartJson(run, *state));
    if (run.pass.outcome != ChartOutcome::Drawn)
        return 1;
    std::fflush(stdout);
    for (const auto& [file, imageFormat] : {std::pair{&options.pngFile, ImageFormat::Png},
                                            std::pair{&options.svgFile, ImageFormat::Svg}}) {
        if (!*file)
            continue;
        std::string error;
        if (!WriteChartImage(*state, options.screenWidth.value_or(kDefaultScreenWidth),
                             options.profile, **file, imageFormat, &error)) {
            std::fprintf(stderr, "velmora-tool: %s\n", error.c_str());
            return kImageFailed;
        }
    }
    return 0;
}

// bars, list and chart: the history override and the unit before the series is loaded, then
// the command on that series.
int RunOnSeries(Session& session, const ToolOptions& options)
{
    AnalysisParams& analysisParams = session.analysisParams;
    if (options.history) {
        PeriodValues counts = analysisParams.historyCount;
        counts[options.period] = *options.history;
        analysisParams.setHistoryCount(counts);
    }
    if (options.yunit)
        session.catalogue[options.commodity].yunit[options.period] = *options.yunit;

    SeriesSource source(session);
    if (!source.load(options))
        return 1;
    BarSeries& series = session.barStore.Series(options.commodity, options.period);
    if (options.command == "chart")
        return DrawChart(session, options, series);
    if (!source.fetched())
        return ReportSeriesMissing(options);
    return options.command == "bars" ? PrintBars(series) : PrintList(options, series);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("velmora-tool %s\n", kProgramVersion);
        return 0;
    }
    std::string problem;
    const std::optional<ToolOptions> options = ReadOptions(argc, argv, problem);
    if (!options)
        return Usage(problem);
    // About 2 MB of bars: on the heap.
    const auto session = std::make_unique<Session>();
    if (options->command == "quotes")
        return PrintQuotes(*session);
    if (options->command == "update")
        return PrintUpdateCheck(*session);
    if (options->command == "sync")
        return SyncToStore(*session, *options);
    return RunOnSeries(*session, *options);
}
