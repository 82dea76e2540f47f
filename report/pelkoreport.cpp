// pelkoreport: the figures of daily or global log files, or of the central
// database, as a summary table for the terminal, as CSV (one row per job)
// or as the HTML report that the mail program sends. Both sources fill one
// report (report.h) and take the same options.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <cerrno>

#include "agent/config/cost_unit.h"
#include "agent/logs/log_format.h"
#include "agent/platform/console.h"
#include "agent/platform/files.h"
#include "agent/platform/password_line.h"
#include "agent/platform/registry.h"
#include "agent/platform/site_folder.h"
#include "agent/platform/sql.h"
#include "report/csv.h"
#include "report/csv_dialect.h"
#include "report/database_digest.h"
#include "report/database_source.h"
#include "report/html.h"
#include "report/log_files.h"
#include "report/report.h"
#include "report/site.h"
#include "report/summary.h"

namespace pelko::report {
namespace {

constexpr uint64_t kLargestLog = 1ull << 30;

constexpr char kUsage[] =
    "Usage: pelkoreport [--summary | --csv | --html] [-o FILE] LOG_FILE_OR_FOLDER...\n"
    "       pelkoreport --database CONNECTION [--password-stdin] [--summary | --csv | --html] ...\n"
    "       pelkoreport --site DIR [--database CONNECTION [--password-stdin] | LOGS_FOLDER...]\n"
    "                   [--from DATE] [--to DATE] [--by day|month] [--cost-unit UNIT/DECIMALS]\n"
    "                   [--separator ,|;|tab|\"|\"] [--encoding windows-1252|utf-8]\n"
    "\n"
    "Reads daily or global log files, or the daily logs in a logs folder and the\n"
    "folders below it, or with --database every server's jobs in the central\n"
    "database (an ODBC connection string or DSN=...), and writes their report to\n"
    "standard output or FILE; both sources take the same options:\n"
    "  --summary  totals per user and per printer as a table (the default when\n"
    "           standard output is a terminal); --by day or month: one per period\n"
    "  --csv    one line per job with a header line, for spreadsheets;\n"
    "           --separator ';' for spreadsheets that want it, --encoding utf-8\n"
    "           for UTF-8 with a byte-order mark\n"
    "  --html   the report as one HTML page (the same as the mailed report)\n"
    "  --site DIR  the report site for a web server: index.html with this month,\n"
    "           the last 12 months and the year, a page per year, month, printer\n"
    "           and user, and the CSV of each page's table beside it (--separator,\n"
    "           --encoding); only files that changed are written, each swapped in\n"
    "           whole; from logs a run finds by their sizes and times that nothing\n"
    "           changed and reads none (the state file DIR/.pelko-site)\n"
    "  --from, --to  DATE as YYYYMMDD or YYYY-MM-DD: only the daily logs of those\n"
    "           dates (both included), by the date in their names (with a folder),\n"
    "           or the database's rows of those log dates\n"
    "  --cost-unit  how costs are shown, in place of the CostUnit setting: EUR/2\n"
    "           shows a cost kept as 1311 as 13.11 EUR; \"\" for bare numbers\n"
    "  --password-stdin  the database password from the first line of standard input\n"
    "Where entries carry each job's details (LogJobDetails), the summary and HTML\n"
    "add colour and mono pages, and the pages of entries without details as \"not\n"
    "told apart\"; CSV adds the details' columns.\n"
    "CSV and HTML are written as the Windows ANSI (windows-1252) bytes the logs\n"
    "hold, from either source, unless --encoding utf-8; UTF-8 CSV starts with a\n"
    "byte-order mark. The summary is in UTF-8 on Linux.\n"
    "Exit status: 0 done, 1 no log found, a file could not be read, the database\n"
    "did not answer, or the output not written (then nothing is written), 2 bad\n"
    "arguments. --help (or /?) shows this, --version the version.\n";

struct Options {
  bool csv = false, html = false, summary = false;
  std::string output, from, to;
  std::vector<std::string> inputs;
  Grouping grouping = Grouping::kNone;
  CsvDialect dialect;
  bool encodingGiven = false;
  std::string database;  // the connection, for a report of the database
  std::string site;      // the folder of the report site
  bool passwordFromStdin = false;
  bool costUnitGiven = false;
  CostUnit costUnit;
};

class UsageError {
 public:
  explicit UsageError(std::string message) : message(std::move(message)) {}
  std::string message;
};

// "20261201" or "2026-12-01" as YYYYMMDD; empty for no date.
std::string DateOf(std::string text) {
  if (text.size() == 10 && text[4] == '-' && text[7] == '-') {
    text = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
  }
  if (text.size() != 8 || text.find_first_not_of("0123456789") != std::string::npos) return "";
  const int month = std::stoi(text.substr(4, 2));
  const int day = std::stoi(text.substr(6, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31 ? text : "";
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&](const char* what) {
      if (i + 1 >= argc) throw UsageError(arg + " needs " + what + ".");
      return std::string(argv[++i]);
    };
    if (arg == "--csv") {
      o.csv = true;
    } else if (arg == "--html") {
      o.html = true;
    } else if (arg == "--summary" || arg == "--text") {
      o.summary = true;
    } else if (arg == "--database") {
      o.database = next("a connection string");
      if (o.database.empty()) throw UsageError("--database needs a connection string.");
    } else if (arg == "--site") {
      o.site = next("a folder");
      if (o.site.empty()) throw UsageError("--site needs a folder.");
    } else if (arg == "--password-stdin") {
      o.passwordFromStdin = true;
    } else if (arg == "--cost-unit") {
      const std::string unit = next("a unit such as EUR/2");
      const std::string why = ParseCostUnit(unit, &o.costUnit);
      if (!why.empty()) throw UsageError("--cost-unit " + why + ".");
      o.costUnitGiven = true;
    } else if (arg == "--by") {
      const std::string by = next("day or month");
      if (by != "day" && by != "month") throw UsageError("--by '" + by + "': give day or month.");
      o.grouping = by == "day" ? Grouping::kDay : Grouping::kMonth;
    } else if (arg == "--separator") {
      const std::string sep = next("a separator");
      if (!ParseSeparator(sep, &o.dialect.separator)) {
        throw UsageError("--separator '" + sep + "': give one of , ; tab |");
      }
    } else if (arg == "--encoding") {
      const std::string name = next("an encoding");
      if (!ParseEncoding(name, &o.dialect.encoding)) {
        throw UsageError("--encoding '" + name + "': give windows-1252 or utf-8");
      }
      o.encodingGiven = true;
    } else if (arg == "-o" || arg == "--output") {
      if (!o.output.empty()) throw UsageError("-o is given twice.");
      o.output = next("a file name");
    } else if (arg == "--from" || arg == "--to") {
      const std::string date = next("a date as YYYYMMDD or YYYY-MM-DD");
      const std::string day = DateOf(date);
      if (day.empty())
        throw UsageError(arg + " '" + date + "' is no date as YYYYMMDD or YYYY-MM-DD.");
      (arg == "--from" ? o.from : o.to) = day;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) o.inputs.push_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option '" + arg + "'.");
    } else {
      o.inputs.push_back(arg);
    }
  }
  // A person at a terminal wants the table; a pipe or a file gets only
  // what it asked for.
  if (!o.site.empty()) {
    if (o.csv || o.html || o.summary || !o.output.empty() || o.grouping != Grouping::kNone) {
      throw UsageError(
          "--site writes its own files: give none of --summary, --csv, --html, -o, --by.");
    }
  } else if (!o.csv && !o.html && !o.summary && o.output.empty() && isatty(fileno(stdout))) {
    o.summary = true;
  }
  if (o.site.empty() && o.csv + o.html + o.summary != 1) {
    throw UsageError("give one of --summary, --csv and --html.");
  }
  if (!o.database.empty() && !o.inputs.empty()) {
    throw UsageError("give log files or --database, not both.");
  }
  if (o.database.empty() && o.passwordFromStdin)
    throw UsageError("--password-stdin goes with --database.");
  if (o.grouping != Grouping::kNone && !o.summary) throw UsageError("--by goes with --summary.");
  if (o.dialect.separator != ',' && !o.csv && o.site.empty())
    throw UsageError("--separator goes with --csv.");
  if (o.inputs.empty() && o.database.empty()) {
    throw UsageError("give at least one log file or logs folder, or --database.");
  }
  if (!o.from.empty() && !o.to.empty() && o.from > o.to) {
    throw UsageError("--from " + o.from + " lies after --to " + o.to + ".");
  }
  return o;
}

bool IsFolder(FileSystem& files, const std::string& path) {
  std::string pattern = path;
  while (pattern.size() > 1 && (pattern.back() == '/' || pattern.back() == '\\'))
    pattern.pop_back();
  auto search = files.Find(pattern);
  FileEntry entry;
  return search && search->Next(&entry) && (entry.attributes & kAttributeDirectory) != 0;
}

// Every log to read: the files given, and the daily logs of each folder.
bool Collect(const Options& o, std::vector<std::string>* paths) {
  FileSystem& files = PlatformFileSystem();
  bool anyFolder = false;
  for (const std::string& input : o.inputs) {
    if (IsFolder(files, input)) {
      anyFolder = true;
      for (std::string& path : DailyLogsIn(files, input, o.from, o.to)) paths->push_back(path);
    } else {
      paths->push_back(input);
    }
  }
  if (!anyFolder && (!o.from.empty() || !o.to.empty())) {
    throw UsageError("--from and --to choose the daily logs of a folder: give a logs folder.");
  }
  return true;
}

class Output {
 public:
  explicit Output(const std::string& path) {
    if (path.empty()) {
#ifdef _WIN32
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      file = stdout;
    } else {
      file = std::fopen(path.c_str(), "wb");
      owned = file != nullptr;
    }
  }
  ~Output() {
    if (owned) std::fclose(file);
  }
  bool Ok() const { return file != nullptr && !failed; }
  // text in encoding. A Windows console is given it whole, in UTF-8,
  // whatever its code page; a file or a pipe gets the bytes.
  void Write(const std::string& text, TextEncoding encoding) {
    if (!file || failed) return;
    if (!owned) {
      failed = StandardOutputIsConsole()
                   ? !WriteStandardOutput(Recoded(text, encoding, TextEncoding::kUtf8),
                                          ConsoleText::kUtf8)
                   : !WriteStandardOutput(text, ConsoleText::kAnsi);
    } else if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
      failed = true;
    }
  }
  bool Close() {
    if (!file) return false;
    const bool ok = std::fflush(file) == 0 && !failed && (!owned || std::fclose(file) == 0);
    owned = false;
    return ok;
  }

 private:
  std::FILE* file = nullptr;
  bool owned = false;
  bool failed = false;
};

// The summary is read at a terminal: in the terminal's encoding.
TextEncoding SummaryEncoding(const Options& o) {
  if (o.encodingGiven) return o.dialect.encoding;
#ifdef _WIN32
  return TextEncoding::kWindows1252;
#else
  return TextEncoding::kUtf8;
#endif
}

std::string Joined(const std::vector<std::string>& inputs) {
  std::string all;
  for (const std::string& input : inputs) all += (all.empty() ? "" : ", ") + input;
  return all;
}

// The jobs of the log files, read into builder; false when one could not be
// read (each said on standard error).
bool ReadLogs(const Options& o, const std::vector<std::string>& paths, ReportBuilder& builder) {
  if (paths.empty()) {
    std::fprintf(stderr, "pelkoreport: no daily log found in %s%s\n", Joined(o.inputs).c_str(),
                 o.from.empty() && o.to.empty() ? "" : " for those dates");
    return false;
  }
  bool ok = true;
  std::string text;
  for (const std::string& path : paths) {
    const ReadStatus read = ReadFileBytes(path, kLargestLog, &text);
    const char* trouble = read == ReadStatus::kMissing      ? "no such file"
                          : read == ReadStatus::kTooLarge   ? "larger than 1 GiB"
                          : read == ReadStatus::kFailed     ? std::strerror(errno)
                          : read == ReadStatus::kNotRegular ? "not a regular file: not read"
                          : builder.AddLog(text)            ? nullptr
                                                            : "not a log file";
    if (trouble != nullptr) {
      std::fprintf(stderr, "pelkoreport: %s: %s\n", path.c_str(), trouble);
      ok = false;
    }
  }
  return ok;
}

// A connection to the central database, the password read first where
// asked; null with the message printed and *status set where none is made.
std::unique_ptr<SqlConnection> ConnectDatabase(const Options& o, int* status) {
  KeepDriverFilesPrivate();
  std::string error, typed;
  SealedPassword password;
  *status = 1;
  if (o.passwordFromStdin && !ReadPasswordLine("Database password: ", &typed)) {
    std::fputs("pelkoreport: the password is longer than 1024 bytes\n", stderr);
    *status = 2;
    return nullptr;
  }
  if (o.passwordFromStdin && !SealPassword("DatabasePassword", typed, &password, &error)) {
    std::fprintf(stderr, "pelkoreport: %s\n", error.c_str());
    return nullptr;
  }
  auto connection = PlatformSql().Connect(o.database, password, 30, &error);
  if (!connection) std::fprintf(stderr, "pelkoreport: the database: %s\n", error.c_str());
  return connection;
}

// Every server's jobs of the database, read into builder: from the sums
// the database keeps, but where every job or each day's are asked for.
// summary: where the sums may stand in for the jobs; none (the site, which
// gives every job a page of its own) reads every job.
int ReadDatabase(const Options& o, SqlConnection& connection, ReportBuilder& builder,
                 SummaryBuilder* summary) {
  std::string error;
  bool kept = false;
  const bool sums = summary != nullptr && !o.csv && o.grouping != Grouping::kDay;
  if ((sums && !ReadDatabaseSums(connection, o.from, o.to, builder, o.summary ? summary : nullptr,
                                 &kept, &error)) ||
      (!kept && !ReadDatabaseJobs(connection, o.from, o.to, builder, &error))) {
    std::fprintf(stderr, "pelkoreport: the database: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// The setting, unless the command line says otherwise.
CostUnit CostUnitOf(const Options& o) {
  if (o.costUnitGiven) return o.costUnit;
  std::string trouble;
  const CostUnit unit = ReadCostUnit(PlatformRegistry(), &trouble);
  if (!trouble.empty())
    std::fprintf(stderr, "pelkoreport: %s; costs shown as kept\n", trouble.c_str());
  return unit;
}

// The site from the logs, unless their names, sizes and times are the
// last run's; or from the database, each page compared with its file.
int RunSite(const Options& o) {
  std::string error;
  const auto folder = OpenSiteFolder(o.site, &error);
  if (!folder) {
    std::fprintf(stderr, "pelkoreport: %s\n", error.c_str());
    return 1;
  }
  const std::time_t now = std::time(nullptr);
  char month[8];
  std::strftime(month, sizeof month, "%Y%m", std::localtime(&now));
  SitePublisher publisher(*folder);
  const CostUnit costUnit = CostUnitOf(o);
  const std::string settings = std::string("pelko ") + PELKO_VERSION + " " + month + " " +
                               costUnit.unit + std::to_string(costUnit.decimals) +
                               o.dialect.separator +
                               (o.dialect.encoding == TextEncoding::kUtf8 ? "u" : "w");
  std::string inputs;
  std::unique_ptr<SqlConnection> connection;
  if (o.database.empty()) {
    inputs = LogsDigest(PlatformFileSystem(), o.inputs, o.from, o.to, settings);
  } else {
    int status = 0;
    if (!(connection = ConnectDatabase(o, &status))) return status;
    const std::string digest = DatabaseDigest(*connection);
    if (!digest.empty()) inputs = "database " + o.from + " " + o.to + " " + digest + " " + settings;
  }
  if (!inputs.empty() && publisher.Current(inputs)) {
    std::printf("%s: up to date\n", o.site.c_str());
    return 0;
  }
  std::vector<std::string> paths;
  if (o.database.empty()) Collect(o, &paths);
  const TextEncoding names = !o.database.empty() || AnyDeclaresUtf8(paths)
                                 ? TextEncoding::kUtf8
                                 : TextEncoding::kWindows1252;
  SiteBuilder site(SiteSettings{month, names, costUnit, o.dialect, !o.database.empty()});
  ReportBuilder builder(0, [&](const Job& job) { site.Add(job); });
  builder.Describe(o.from, o.to, names, costUnit, !o.database.empty());
  if (!o.database.empty()) {
    if (const int status = ReadDatabase(o, *connection, builder, nullptr); status != 0)
      return status;
  } else if (!ReadLogs(o, paths, builder)) {
    std::fprintf(stderr, "pelkoreport: nothing written\n");
    return 1;
  }
  site.Publish(publisher);
  const bool ok = publisher.Finish(inputs);
  for (const std::string& trouble : publisher.Errors()) {
    std::fprintf(stderr, "pelkoreport: %s: %s\n", o.site.c_str(), trouble.c_str());
  }
  std::printf("%s: %d files written, %d unchanged, %d removed\n", o.site.c_str(), publisher.written,
              publisher.kept, publisher.removed);
  return ok ? 0 : 1;
}

// Everything is read before anything is written: a run that fails writes
// nothing, so that no half report is taken for a whole one.
int Run(const Options& o) {
  if (!o.site.empty()) return RunSite(o);
  const bool site = !o.database.empty();
  std::vector<std::string> paths;
  if (!site) Collect(o, &paths);
  const TextEncoding names =
      site || AnyDeclaresUtf8(paths) ? TextEncoding::kUtf8 : TextEncoding::kWindows1252;
  const CostUnit costUnit = CostUnitOf(o);
  CsvRows csv(CsvCost{costUnit, DecimalPoint(o.dialect)});
  SummaryBuilder summary(o.grouping);
  auto sink = [&](const Job& job) {
    if (o.csv) {
      csv.Add(job);
    } else {
      summary.Add(job);
    }
  };
  ReportBuilder builder(o.html ? kListedJobs : 0, o.html ? std::function<void(const Job&)>()
                                                         : std::function<void(const Job&)>(sink));
  builder.Describe(o.from, o.to, names, costUnit, site);
  if (site) {
    int status = 0;
    const auto connection = ConnectDatabase(o, &status);
    if (!connection) return status;
    if ((status = ReadDatabase(o, *connection, builder, &summary)) != 0) return status;
  } else if (!ReadLogs(o, paths, builder)) {
    std::fprintf(stderr, "pelkoreport: nothing written\n");
    return 1;
  }
  const Report report = builder.Finish();
  std::string document;
  if (o.html) {
    document = ReportHtmlIn(report, o.dialect.encoding,
                            site ? "pelkoreport --database --csv lists them all."
                                 : "pelkoreport --csv lists them all.");
  }
  if (o.csv) {
    // One order whatever the source: the same jobs give the same bytes.
    // Sorted in the output's encoding, one copy at a time: a million rows
    // are some hundred megabytes.
    document = NewestRowsFirst(Recoded(csv.Take(), names, o.dialect.encoding));
    document = InDialect(document, o.dialect, /*first=*/true, o.dialect.encoding);
  }
  // Bars are for the eye: a pipe or a file gets the columns alone.
  if (o.summary)
    document =
        summary.Table(report, SummaryEncoding(o), o.output.empty() && isatty(fileno(stdout)));
  Output out(o.output);
  if (!out.Ok()) {
    std::fprintf(stderr, "pelkoreport: cannot write %s: %s\n", o.output.c_str(),
                 std::strerror(errno));
    return 1;
  }
  out.Write(document, o.summary ? SummaryEncoding(o) : o.dialect.encoding);
  if (!out.Close()) {
    std::fprintf(stderr, "pelkoreport: writing %s failed\n",
                 o.output.empty() ? "standard output" : o.output.c_str());
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace pelko::report

int main(int argc, char** argv) {
  using namespace pelko::report;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h") ||
        !std::strcmp(argv[i], "/?")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--version")) {
      std::fputs("pelkoreport " PELKO_VERSION "\n", stdout);
      return 0;
    }
  }
  try {
    return Run(Parse(argc, argv));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "pelkoreport: %s\n\n%s", e.message.c_str(), kUsage);
    return 2;
  }
}
