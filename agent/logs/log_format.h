// The text of a log file: its fixed pieces, the values inside entries, and a
// reader of the job entries that keeps every well-formed entry as it stands
// and repairs or drops the rest, so that a rewrite never carries damage on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/clock.h"

namespace pelko {

inline constexpr std::string_view kXmlDeclaration = "<?xml version='1.0' encoding='ISO-8859-1' ?> ";
// Where LogUtf8 is set when the day's log is begun.
inline constexpr std::string_view kXmlDeclarationUtf8 = "<?xml version='1.0' encoding='UTF-8' ?> ";
// The stylesheet beside the logs, for a log opened where it lies.
inline constexpr std::string_view kLocalStylesheet =
    "<?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>";
inline constexpr std::string_view kLogProlog =
    "<?xml version='1.0' encoding='ISO-8859-1' ?> "
    "<?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>";
static_assert(kLogProlog.substr(0, kXmlDeclaration.size()) == kXmlDeclaration &&
              kLogProlog.substr(kXmlDeclaration.size()) == kLocalStylesheet);
inline constexpr std::string_view kLogFooter = "</log>";
inline constexpr std::string_view kEntryMarker = "<entry>";
inline constexpr std::string_view kTotalMarker = "<entry><user>Total</user>";
inline constexpr std::string_view kTotalCostMarker = "<entry><user>Total</user><cost>";

// The head of a printer's daily log, up to its first entry, and of the
// global log, which its readers know without the spaces.
// utf8: the head declares UTF-8 (LogUtf8) instead of ISO-8859-1.
std::string DailyLogHead(std::string_view printerName, const LocalTime& date, bool utf8 = false);
// The global log names its stylesheet as its readers reach it: beside it,
// or on a web server for a log that is mailed.
std::string GlobalLogHead(const LocalTime& date, std::string_view stylesheet = kLocalStylesheet,
                          bool utf8 = false);
// Whether a log's text declares UTF-8; every other log's names are read as
// windows-1252.
bool DeclaresUtf8(std::string_view logText);

// "2026/12/06", "09:05:03": every part below 10 gets a "0".
std::string FormatLogDate(const LocalTime& t);
std::string FormatLogTime(const LocalTime& t);

// The text without < > & ' " and without control bytes (below 0x20, 0x7F):
// what may stand as a value in a log file.
std::string CleanLogText(std::string_view text);
bool IsCleanLogText(std::string_view text);

// In the manner of atoi: leading white space, a sign, digits up to the first
// other byte; no digits give 0. Wraps modulo 2^32 instead of overflowing.
int32_t LeadingInt(std::string_view text);

namespace log_format_detail {
// Bytes that the searches for a value's closing piece were given to look
// at, counted for the tests that hold reading to linear work.
inline thread_local uint64_t searchedBytes = 0;
}  // namespace log_format_detail

// What an entry may hold after its cost where the administrator asked for
// each job's details: " <copies>3</copies><colorpages>2</colorpages>
// <monopages>10</monopages> <sides>two-sided-long-edge</sides><paper>A4
// </paper><client>pc-12</client><colorfrom>document</colorfrom>" (one line,
// no spaces inside the values), each piece always there, in this order.
// colorfrom says how the colour pages were told from the mono ones:
// "document" (measured), "request" (the job's asked mode), "printer" (it
// prints no colour).
struct EntryDetails {
  std::string_view copies, colorPages, monoPages, sides, paper, client, colorFrom;
};

// One job entry's values, as a log holds them or as one is to be written.
struct JobEntry {
  std::string_view date, time, id, user, printer, doc, pages, cost;
  bool hasDetails = false;
  EntryDetails details{};
};

// One job entry as it stands in a file; views into the file's text.
struct LogEntry : JobEntry {
  std::string_view whole;
  bool clean = true;  // every value is clean: the entry can be copied as is
};

// The job entries of text in order: those before its first Total entry that
// have every piece of the entry format. Anything else is skipped. Returns
// where the Total entry starts, or npos. Linear in the size of text
// whatever it holds: no search runs past the next entry.
std::size_t ReadLogEntries(std::string_view text, std::vector<LogEntry>* entries);

// The cost of the Total entry that starts at text[tail] (ReadLogEntries's
// result); false when there is none or it holds no cost.
bool ReadTotalEntry(std::string_view text, std::size_t tail, int32_t* total);

// The pages and the cost an entry holds as they will be written.
int32_t EntryPages(const LogEntry& entry);
int32_t EntryCost(const LogEntry& entry);

// Appends job entries: clean ones byte for byte (adjacent ones in one
// piece), the others with their values cleaned.
class EntryAppender {
 public:
  explicit EntryAppender(std::string& out) : out(out) {}
  ~EntryAppender() { Flush(); }
  void Add(const LogEntry& entry);
  // The entry with other pages and cost, and other details where given.
  void AddChanged(const LogEntry& entry, int32_t pages, int32_t cost,
                  const EntryDetails* details = nullptr);
  void Flush();

 private:
  std::string& out;
  const char* runBegin = nullptr;
  const char* runEnd = nullptr;
};

// A job entry from its values; the texts are cleaned here.
void AppendJobEntry(std::string& out, const JobEntry& entry);
void AppendTotalEntry(std::string& out, int32_t total);

}  // namespace pelko
