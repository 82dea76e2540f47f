#include "report/csv.h"

#include "report/guard.h"

namespace pelko::report {

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

}  // namespace pelko::report
