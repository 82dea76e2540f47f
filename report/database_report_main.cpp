// pelkoreport --database: the site-wide report of the central database.
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/platform/password_line.h"
#include "agent/platform/registry.h"
#include "agent/platform/sql.h"
#include "report/database_source.h"

namespace pelko::report {

namespace {

constexpr char kDatabaseUsage[] =
    "Usage: pelkoreport --database CONNECTION (--html | --csv | --text) [-o FILE]\n"
    "                   [--from YYYYMMDD] [--to YYYYMMDD] [--password-stdin]\n"
    "Totals per user, printer, server and month of every server's jobs in the\n"
    "database (an ODBC connection string or DSN=...) for the log dates from..to.\n"    "From the schema's version 3 on, colour, mono and not told apart pages too.\n"
    "--password-stdin reads the database password from the first line of\n"
    "standard input. Names are written as UTF-8.\n";

bool IsDate(const std::string& text) {
  return text.size() == 8 && text.find_first_not_of("0123456789") == std::string::npos &&
         text.substr(4, 2) >= "01" && text.substr(4, 2) <= "12" && text.substr(6) >= "01" &&
         text.substr(6) <= "31";
}

struct DatabaseOptions {
  std::string connection, form, output, from, to;
  bool passwordFromStdin = false;
};

// An empty text when the options are good, else what is wrong with them.
std::string Parse(int argc, char** argv, DatabaseOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--database" || arg == "-o" || arg == "--output" || arg == "--from" ||
        arg == "--to") {
      if (!hasValue) return arg + " needs a value.";
      const std::string value = argv[++i];
      if (arg == "--database") o->connection = value;
      if (arg == "-o" || arg == "--output") o->output = value;
      if ((arg == "--from" || arg == "--to") && !IsDate(value)) {
        return arg + " '" + value + "' is no date as YYYYMMDD.";
      }
      if (arg == "--from") o->from = value;
      if (arg == "--to") o->to = value;
    } else if (arg == "--html" || arg == "--csv" || arg == "--text") {
      if (!o->form.empty()) return "give one of --html, --csv and --text.";
      o->form = arg;
    } else if (arg == "--password-stdin") {
      o->passwordFromStdin = true;
    } else {
      return "'" + arg + "' is no option of --database.";
    }
  }
  if (o->connection.empty()) return "--database needs a connection string.";
  if (o->form.empty()) return "give one of --html, --csv and --text.";
  if (!o->from.empty() && !o->to.empty() && o->from > o->to) {
    return "--from " + o->from + " lies after --to " + o->to + ".";
  }
  return {};
}

}  // namespace

int RunDatabaseReport(int argc, char** argv) {
  KeepDriverFilesPrivate();
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kDatabaseUsage, stdout);
      return 0;
    }
  }
  DatabaseOptions o;
  const std::string wrong = Parse(argc, argv, &o);
  if (!wrong.empty()) {
    std::fprintf(stderr, "pelkoreport: %s\n\n%s", wrong.c_str(), kDatabaseUsage);
    return 2;
  }
  std::string error, typed;
  SealedPassword password;
  if (o.passwordFromStdin && !ReadPasswordLine("Database password: ", &typed)) {
    std::fputs("pelkoreport: the password is longer than 1024 bytes\n", stderr);
    return 2;
  }
  if (o.passwordFromStdin && !SealPassword("DatabasePassword", typed, &password, &error)) {
    std::fprintf(stderr, "pelkoreport: %s\n", error.c_str());
    return 1;
  }
  auto connection = PlatformSql().Connect(o.connection, password, 30, &error);
  SiteReport report;
  if (!connection || !ReadSiteReport(*connection, o.from, o.to, &report, &error)) {
    std::fprintf(stderr, "pelkoreport: the database: %s\n", error.c_str());
    return 1;
  }
  const std::string text = o.form == "--html"  ? SiteReportHtml(report)
                           : o.form == "--csv" ? SiteReportCsv(report)
                                               : SiteReportText(report);
  std::FILE* out = o.output.empty() ? stdout : std::fopen(o.output.c_str(), "wb");
  const bool written = out != nullptr &&
                       std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
                       std::fflush(out) == 0 && (out == stdout || std::fclose(out) == 0);
  if (!written) {
    std::fprintf(stderr, "pelkoreport: cannot write %s\n",
                 o.output.empty() ? "standard output" : o.output.c_str());
    return 1;
  }
  return 0;
}

}  // namespace pelko::report
