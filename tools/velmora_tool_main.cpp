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

#include <QJsonDocument>
#include <QJsonObject>
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
constexpr int kMaxPasses = 3;

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

struct Options {
    std::string command;
    std::map<std::string, std::string> values;
    bool server = false;
    bool local = false;
    bool descending = false;
    bool profile = false;

    bool has(const std::string& key) const { return values.count(key) != 0; }
    const std::string& get(const std::string& key) const { return values.at(key); }
};

std::optional<Options> ParseOptions(int argc, char** argv, std::string& problem)
{
    Options options;
    if (argc < 2) {
        problem = "no command";
        return std::nullopt;
    }
    options.command = argv[1];
    const std::map<std::string, std::vector<std::string>> allowed{
        {"bars", {"--hst", "--server", "--local", "--code", "--period", "--history"}},
        {"chart",
         {"--hst", "--server", "--local", "--code", "--period", "--cursor", "--tpo", "--long",
          "--short", "--history", "--yunit", "--format", "--png", "--svg", "--screen-width",
          "--profile"}},
        {"list",
         {"--hst", "--server", "--local", "--code", "--period", "--history", "--sort",
          "--descending"}},
        {"quotes", {"--server"}},
        {"sync", {"--hst"}},
        {"update", {"--check"}},
    };
    const auto command = allowed.find(options.command);
    if (command == allowed.end()) {
        problem = "unknown command '" + options.command + "'";
        return std::nullopt;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string key = argv[i];
        bool known = false;
        for (const std::string& name : command->second)
            known = known || name == key;
        if (!known) {
            problem = "unknown option '" + key + "'";
            return std::nullopt;
        }
        if (key == "--server" || key == "--check" || key == "--local") {
            options.server = options.server || key == "--server";
            options.local = options.local || key == "--local";
            options.values[key];
            continue;
        }
        if (key == "--descending" || key == "--profile") {
            (key == "--profile" ? options.profile : options.descending) = true;
            continue;
        }
        if (i + 1 >= argc) {
            problem = "option '" + key + "' needs a value";
            return std::nullopt;
        }
        options.values[key] = argv[++i];
    }
    if (options.command == "quotes" || options.command == "sync")
        return options;
    if (options.command == "update") {
        if (!options.has("--check")) {
            problem = "update needs --check";
            return std::nullopt;
        }
        return options;
    }
    for (const char* required : {"--code", "--period"}) {
        if (!options.has(required)) {
            problem = std::string("missing ") + required;
            return std::nullopt;
        }
    }
    if (options.descending && !options.has("--sort")) {
        problem = "--descending needs --sort";
        return std::nullopt;
    }
    if (int{options.has("--hst")} + int{options.server} + int{options.local} != 1) {
        problem = "give one of --hst DIR, --server and --local";
        return std::nullopt;
    }
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
int SyncToStore(Session& session, const Options& options)
{
    bool storeFailed = false;
    LocalHistory history(session.barStore, [&storeFailed](const std::string& text) {
        storeFailed = true;
        std::fprintf(stderr, "velmora-tool: %s\n", text.c_str());
    });
    if (!history.open(HistoryDb::DefaultPath()))
        return 1;
    history.observeBarStore();
    const PeriodValues all{kMaxBars, kMaxBars, kMaxBars, kMaxBars};
    StderrMessageSink messages;
    SyncFailures failures;
    if (options.has("--hst")) {
        failures = ImportAllFromMt4(session.catalogue, session.barStore, options.get("--hst"), all,
                                    messages);
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
    session.g_pHttpClient->StartVersion(
        [&promise](HttpReply&& reply) { promise.set_value(std::move(reply)); });
    const HttpReply reply = answer.get();
    std::string problem;
    const std::optional<std::string> known = ReadInstalledVersionIfKnown(problem);
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
                     CHttpClient::ErrorText(reply.code).c_str());
    else if (!decision.reason.empty())
        std::fprintf(stderr, "velmora-tool: no update: %s\n", decision.reason.c_str());
    QJsonObject object;
    object.insert(QStringLiteral("installed"), QString::fromUtf8(installed));
    object.insert(QStringLiteral("published"), QString::fromUtf8(published));
    object.insert(QStringLiteral("due"), decision.due);
    Write(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n");
    return reply.ok() ? 0 : 1;
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
    const std::optional<Options> options = ParseOptions(argc, argv, problem);
    if (!options)
        return Usage(problem);

    const auto session = std::make_unique<Session>();
    AnalysisParams& analysisParams = session->analysisParams;
    Catalogue& catalogue = session->catalogue;
    if (options->command == "quotes")
        return PrintQuotes(*session);
    if (options->command == "update")
        return PrintUpdateCheck(*session);
    if (options->command == "sync")
        return SyncToStore(*session, *options);
    const int commodity = FindCommodity(options->get("--code"));
    if (!IsValidCommodity(commodity))
        return Usage("'" + options->get("--code") + "' is not a catalogue code");
    const std::optional<Period> period = ParsePeriod(options->get("--period"));
    if (!period)
        return Usage("bad period '" + options->get("--period") + "'");

    std::map<std::string, int> numbers;
    for (const char* key :
         {"--history", "--cursor", "--tpo", "--long", "--short", "--screen-width", "--sort"}) {
        if (!options->has(key))
            continue;
        const std::optional<int> value = ParseExactNumber<int>(options->get(key));
        if (!value)
            return Usage(std::string("bad number for ") + key);
        numbers[key] = *value;
    }
    const std::string format = options->has("--format") ? options->get("--format") : "json";
    if (format != "json" && format != "text")
        return Usage("bad format '" + format + "'");
    const int screenWidth =
        numbers.count("--screen-width") ? numbers["--screen-width"] : kDefaultScreenWidth;
    if (numbers.count("--sort") && (numbers["--sort"] < 0 || numbers["--sort"] >= kBarListColumns))
        return Usage("the sort column is 0 to 6");
    if (screenWidth <= kChartPageMargin)
        return Usage("the screen width must leave a page wider than 0");

    if (numbers.count("--history")) {
        PeriodValues counts = analysisParams.historyCount;
        counts[*period] = numbers["--history"];
        analysisParams.setHistoryCount(counts);
    }
    if (options->has("--yunit"))
        catalogue[commodity].yunit[*period] = options->get("--yunit");

    StderrMessageSink messages;
    std::optional<ServerSession> connection;
    std::optional<LocalHistory> stored;
    bool fetched = true;
    if (options->local) {
        stored.emplace(session->barStore, [](const std::string& text) {
            std::fprintf(stderr, "velmora-tool: %s\n", text.c_str());
        });
        if (!stored->open(HistoryDb::DefaultPath()))
            return 1;
        stored->fill(analysisParams.historyCount);
        fetched = session->barStore.Series(commodity, *period).storedAt != 0;
    } else if (options->server) {
        connection.emplace(*session);
        fetched = SeriesFetched(SyncAllFromServer(session->g_pHttpClient.get(), catalogue,
                                                  session->barStore, analysisParams.historyCount,
                                                  messages),
                                commodity, *period);
    } else {
        ImportAllFromMt4(catalogue, session->barStore, options->get("--hst"),
                         analysisParams.historyCount, messages);
    }
    BarSeries& series = session->barStore.Series(commodity, *period);

    if (options->command == "bars" || options->command == "list") {
        if (!fetched) {
            const std::string_view lineType = PeriodLineType(*period);
            std::fprintf(stderr, "velmora-tool: the %.*s series of %s %s\n",
                         static_cast<int>(lineType.size()), lineType.data(),
                         options->get("--code").c_str(),
                         options->local ? "is not in the local bar store" : "could not be fetched");
            return 1;
        }
        if (options->command == "bars") {
            Write(SeriesCsv(series));
            return 0;
        }
        Write(ListText(series, numbers.count("--sort") ? numbers["--sort"] : -1,
                       !options->descending));
        return 0;
    }

    if (numbers.count("--tpo"))
        analysisParams.tpoBars[*period] = numbers["--tpo"];
    if (numbers.count("--long"))
        analysisParams.longAvgBars[*period] = numbers["--long"];
    if (numbers.count("--short"))
        analysisParams.shortAvgBars[*period] = numbers["--short"];
    if (numbers.count("--cursor"))
        series.cursor = numbers["--cursor"];

    // Repaint the way a chart window does: a pass that ends with a suggestion is followed by
    // another, which then uses the enlarged YUnit.
    auto state = std::make_unique<ValueChartState>();
    const ValueChartRequest request{commodity, *period, &catalogue[commodity], &series,
                                    &analysisParams};
    ChartRun run;
    std::string title = NewChartTitle(catalogue[commodity], *period);
    while (run.passes < kMaxPasses) {
        run.pass = RunValueChartPass(request, title, *state, session->yunitOverride);
        ++run.passes;
        title = run.pass.title;
        if (run.pass.outcome != ChartOutcome::Suggestion)
            break;
    }

    Write(format == "json" ? ChartJson(run, *state) : ChartText(run, *state));
    if (run.pass.outcome != ChartOutcome::Drawn)
        return 1;
    std::fflush(stdout);
    for (const auto& [option, imageFormat] :
         {std::pair{"--png", ImageFormat::Png}, std::pair{"--svg", ImageFormat::Svg}}) {
        if (!options->has(option))
            continue;
        std::string error;
        if (!WriteChartImage(*state, screenWidth, options->profile, options->get(option),
                             imageFormat, error)) {
            std::fprintf(stderr, "velmora-tool: %s\n", error.c_str());
            return kImageFailed;
        }
    }
    return 0;
}
