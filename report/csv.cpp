#include "report/csv.h"

#include "report/guard.h"

namespace pelko::report {

namespace {

constexpr std::string_view kDetailColumns = ",copies,colorpages,monopages,sides,paper,client,colorfrom";
constexpr std::string_view kNoDetails = ",,,,,,,";

}  // namespace

void AppendCsvHeader(std::string& out) {
  out += "date,time,id,user,printer,document,pages,cost\r\n";
}

void AppendCsvRow(std::string& out, const Job& job) {
  AppendCsvCell(out, job.date);
  out += ',';
  AppendCsvCell(out, job.time);
  out += ',';
  AppendCsvCell(out, job.id);
  out += ',';
  AppendCsvCell(out, job.user);
  out += ',';
  AppendCsvCell(out, job.printer);
  out += ',';
  AppendCsvCell(out, job.doc);
  out += ',';
  out += std::to_string(job.pages);
  out += ',';
  out += std::to_string(job.cost);
  out += "\r\n";
}

void CsvRows::Add(const Job& job) {
  if (job.told && !details) {
    details = true;
    std::string wider;
    wider.reserve(text.size() + text.size() / 8 + kDetailColumns.size());
    bool header = true;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
      wider.append(text, at, end - at);
      wider += header ? kDetailColumns : kNoDetails;
      wider += "\r\n";
      header = false;
    }
    text = std::move(wider);
  }
  AppendCsvRow(text, job);
  if (!details) return;
  text.resize(text.size() - 2);
  if (!job.told) {
    text += kNoDetails;
  } else {
    text += ',' + std::to_string(job.copies) + ',' + std::to_string(job.colorPages) + ',' +
            std::to_string(job.monoPages) + ',';
    AppendCsvCell(text, job.sides);
    text += ',';
    AppendCsvCell(text, job.paper);
    text += ',';
    AppendCsvCell(text, job.client);
    text += ',';
    AppendCsvCell(text, job.colorFrom);
  }
  text += "\r\n";
}

}  // namespace pelko::report
