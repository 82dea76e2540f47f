#include "report/csv.h"

namespace pelko::report {

namespace {

// A name that a spreadsheet would take for a formula is kept as text by a
// leading apostrophe: a document title must not run as a formula.
bool LooksLikeFormula(const std::string& text) {
  return !text.empty() &&
         (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
          text[0] == '\t' || text[0] == '\r');
}

void AppendField(std::string& out, const std::string& text, bool isName) {
  const std::string guarded = isName && LooksLikeFormula(text) ? "'" + text : text;
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
  AppendField(out, job.date, false);
  out += ',';
  AppendField(out, job.time, false);
  out += ',';
  AppendField(out, job.id, false);
  out += ',';
  AppendField(out, job.user, true);
  out += ',';
  AppendField(out, job.printer, true);
  out += ',';
  AppendField(out, job.doc, true);
  out += ',';
  out += std::to_string(job.pages);
  out += ',';
  out += std::to_string(job.cost);
  out += "\r\n";
}

}  // namespace pelko::report
