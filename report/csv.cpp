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

void AppendCost(std::string& out, int64_t value, const CsvCost& cost) {
  const std::string figure = CostText(value, cost.unit, "", cost.point, false);
  if (figure.find(',') != std::string::npos) {
    AppendQuotedField(out, figure);
  } else {
    out += figure;
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
  AppendCost(out, job.cost, cost);
  out += "\r\n";
}

void AppendSubtotalCsv(std::string& out, std::string_view field, const Report& report,
                       const std::vector<Subtotal>& groups, const CsvCost& cost) {
  out += field;
  out += ",jobs,pages,cost";
  if (!cost.unit.unit.empty()) out += " (" + cost.unit.unit + ")";
  for (const PageFigure& f : SplitFigures(report.split, report.split)) {
    out += ',';
    out += f.key;
    out += "pages";
  }
  out += "\r\n";
  for (const Subtotal& s : groups) {
    std::string name = s.name;
    if (field == "month" && name.size() == 7 && name[4] == '/') name[4] = '-';
    AppendCsvCell(out, name);
    out += ',' + std::to_string(s.jobs) + ',' + std::to_string(s.pages) + ',';
    AppendCost(out, s.cost, cost);
    for (const PageFigure& f : SplitFigures(report.split, s.split)) out += ',' + std::to_string(f.value);
    out += "\r\n";
  }
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
