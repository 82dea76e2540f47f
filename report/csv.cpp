#include "report/csv.h"

#include <algorithm>
#include <string_view>

#include "report/columns.h"
#include "report/guard.h"

namespace pelko::report {

namespace {

void AppendCost(std::string& out, int64_t value, const CsvCost& cost) {
  const std::string figure = CostText(value, cost.unit, "", cost.point, false);
  if (figure.find(',') != std::string::npos) {
    AppendQuotedField(out, figure);
  } else {
    out += figure;
  }
}

// The CSV's columns of kJobColumns: those of every job, or the details.
template <typename Each>
void ForColumns(bool details, Each each) {
  for (const JobColumn& column : kJobColumns) {
    if (!column.csv.empty() && column.IsDetail() == details) each(column);
  }
}

// The header's names of the details, and the empty cells of a job without them.
std::string DetailHeader() {
  std::string out;
  ForColumns(true, [&](const JobColumn& column) { out += ',' + std::string(column.csv); });
  return out;
}

const std::string& DetailColumns() {
  static const std::string header = DetailHeader();
  return header;
}

const std::string& NoDetails() {
  static const std::string empty(std::count(DetailColumns().begin(), DetailColumns().end(), ','),
                                 ',');
  return empty;
}

void AppendCells(std::string& out, const Job& job, const CsvCost& cost, bool details) {
  bool first = !details;
  ForColumns(details, [&](const JobColumn& column) {
    if (!first) out += ',';
    first = false;
    if (column.kind == CellKind::kCost) {
      AppendCost(out, job.*column.figure, cost);
    } else if (column.figure != nullptr) {
      out += std::to_string(job.*column.figure);
    } else {
      AppendCsvCell(out, job.*column.text);
    }
  });
}

}  // namespace

void AppendCsvHeader(std::string& out, const CsvCost& cost) {
  bool first = true;
  ForColumns(false, [&](const JobColumn& column) {
    if (!first) out += ',';
    first = false;
    out += column.csv;
    if (column.kind == CellKind::kCost && !cost.unit.unit.empty())
      out += " (" + cost.unit.unit + ")";
  });
  out += "\r\n";
}

void AppendCsvRow(std::string& out, const Job& job, const CsvCost& cost) {
  AppendCells(out, job, cost, false);
  out += "\r\n";
}

void AppendSubtotalCsv(std::string& out, const JobGroup& group, const Report& report,
                       const CsvCost& cost) {
  out += group.field;
  out += ",jobs,pages,cost";
  if (!cost.unit.unit.empty()) out += " (" + cost.unit.unit + ")";
  for (const PageFigure& f : SplitFigures(report.split, report.split)) {
    out += ',';
    out += f.key;
    out += "pages";
  }
  out += "\r\n";
  for (const Subtotal& s : report.*group.groups) {
    std::string name = s.name;
    if (group.name == GroupName::kMonth && name.size() == 7 && name[4] == '/') name[4] = '-';
    AppendCsvCell(out, name);
    out += ',' + std::to_string(s.jobs) + ',' + std::to_string(s.pages) + ',';
    AppendCost(out, s.cost, cost);
    for (const PageFigure& f : SplitFigures(report.split, s.split))
      out += ',' + std::to_string(f.value);
    out += "\r\n";
  }
}

void CsvRows::Add(const Job& job) {
  if (job.told && !details) {
    details = true;
    std::string wider;
    wider.reserve(text.size() + text.size() / 8 + DetailColumns().size());
    bool header = true;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
      wider.append(text, at, end - at);
      wider += header ? DetailColumns() : NoDetails();
      wider += "\r\n";
      header = false;
    }
    text = std::move(wider);
  }
  AppendCsvRow(text, job, cost);
  if (!details) return;
  text.resize(text.size() - 2);
  if (!job.told) {
    text += NoDetails();
  } else {
    AppendCells(text, job, cost, true);
  }
  text += "\r\n";
}

}  // namespace pelko::report
