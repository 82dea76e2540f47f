#include "report/figures.h"

#include <tuple>

namespace pelko::report {

void PageSplit::Add(const Job& job) {
  if (!job.told) {
    untold += job.pages;
    return;
  }
  color += job.colorPages;
  mono += job.monoPages;
  toldJobs += 1;
}

std::vector<PageFigure> SplitFigures(const PageSplit& all, const PageSplit& group) {
  if (all.toldJobs == 0) return {};
  std::vector<PageFigure> figures{{"color", "Colour", group.color}, {"mono", "Mono", group.mono}};
  if (all.untold > 0) figures.push_back({"untold", "Not told apart", group.untold});
  return figures;
}

void AddFigures(Subtotal& to, const Subtotal& from) {
  to.jobs += from.jobs;
  to.pages += from.pages;
  to.cost += from.cost;
  to.split.Add(from.split);
}

void PageSplit::Add(const PageSplit& other) {
  color += other.color;
  mono += other.mono;
  untold += other.untold;
  toldJobs += other.toldJobs;
}

bool NewerFirst(const Job& a, const Job& b) {
  auto key = [](const Job& j) {
    return std::tie(j.date, j.time, j.printer, j.id, j.user, j.doc, j.pages, j.cost, j.server);
  };
  return key(b) < key(a);
}

}  // namespace pelko::report
