#include "report/csv.h"

namespace pelko::report {

namespace {

// A field that a spreadsheet would take for a formula is kept as text by a
// leading apostrophe: no text of a log, a date or an id included (anyone who
// may write the logs folder may write those), may run as a formula.
bool LooksLikeFormula(const std::string& text) {
  return !text.empty() &&
         (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
          text[0] == '\t' || text[0] == '\r');
}

void AppendField(std::string& out, const std::string& text) {
  const std::string guarded = LooksLikeFormula(text) ? "'" + text : text;
  if (guarded.find_first_of(",\"\r\n") == std::string::npos) {
    out += guarded;
    return;
  }
  out += '"';
  for (const char c : guarded) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

void AppendCsvHeader(std::string& out) {
  out += "date,time,id,user,printer,document,pages,cost\r\n";
}

void AppendCsvRow(std::string& out, const Job& job) {
  AppendField(out, job.date);
  out += ',';
  AppendField(out, job.time);
  out += ',';
  AppendField(out, job.id);
  out += ',';
  AppendField(out, job.user);
  out += ',';
  AppendField(out, job.printer);
  out += ',';
  AppendField(out, job.doc);
  out += ',';
  out += std::to_string(job.pages);
  out += ',';
  out += std::to_string(job.cost);
  out += "\r\n";
}

}  // namespace pelko::report
