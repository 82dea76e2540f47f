#include "report/csv.h"

#include <initializer_list>
#include <string_view>

#include "report/guard.h"

namespace pelko::report {

namespace {

constexpr std::string_view kDetailColumns = ",copies,colorpages,monopages,sides,paper,client,colorfrom";
constexpr std::string_view kNoDetails = ",,,,,,,";

// Text cells separated by commas.
void AppendCsvCells(std::string& out, std::initializer_list<std::string_view> cells) {
  bool first = true;
  for (const std::string_view cell : cells) {
    if (!first) out += ',';
    first = false;
    AppendCsvCell(out, cell);
  }
}

}  // namespace

void AppendCsvHeader(std::string& out, const CsvCost& cost) {
  out += "date,time,id,user,printer,document,pages,cost";
  if (!cost.unit.unit.empty()) out += " (" + cost.unit.unit + ")";
  out += "\r\n";
}

void AppendCsvRow(std::string& out, const Job& job, const CsvCost& cost) {
  AppendCsvCells(out, {job.date, job.time, job.id, job.user, job.printer, job.doc});
  out += ',';
  out += std::to_string(job.pages);
  out += ',';
  const std::string figure = CostText(job.cost, cost.unit, "", cost.point, false);
  if (figure.find(',') != std::string::npos) {
    AppendQuotedField(out, figure);
  } else {
    out += figure;
  }
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
  AppendCsvRow(text, job, cost);
  if (!details) return;
  text.resize(text.size() - 2);
  if (!job.told) {
    text += kNoDetails;
  } else {
    text += ',' + std::to_string(job.copies) + ',' + std::to_string(job.colorPages) + ',' +
            std::to_string(job.monoPages) + ',';
    AppendCsvCells(text, {job.sides, job.paper, job.client, job.colorFrom});
  }
  text += "\r\n";
}

}  // namespace pelko::report
