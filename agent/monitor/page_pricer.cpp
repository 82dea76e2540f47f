#include "agent/monitor/page_pricer.h"

#include <algorithm>

#include "agent/accounting/page_color.h"

namespace pelko {

namespace {

// A listing of the history, or one the spooler answered in haste, may tell
// less than an earlier one did: what it does not tell is kept.
void FillIn(const JobDetails& told, JobDetails* known) {
  if (told.copies != 0) known->copies = told.copies;
  if (!told.sides.empty()) known->sides = told.sides;
  if (!told.paper.empty()) {
    known->paper = told.paper;
    known->paperWidth = told.paperWidth;
    known->paperLength = told.paperLength;
  }
  if (!told.colorMode.empty()) known->colorMode = told.colorMode;
  if (!told.client.empty()) known->client = told.client;
  if (told.sizeBytes != 0) known->sizeBytes = told.sizeBytes;
  if (told.printerColor) known->printerColor = told.printerColor;
}

int32_t Narrow(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

void PagePricer::Learn(const std::vector<SpoolJob>& listed) {
  for (const SpoolJob& job : listed) {
    Job& known = JobOf(job.id, job.submittedAt);
    if (job.user) known.user = *job.user;
    if (job.document) known.document = *job.document;
    FillIn(job.details, &known.details);
  }
}

void PagePricer::Entered(uint32_t id, int64_t submittedAt, uint32_t pages) {
  Job& job = JobOf(id, submittedAt);
  job.priced = std::max(job.priced, pages);
}

bool PagePricer::WantsMeasure(const SpoolJob& job) const {
  // Asked for at a later listing, once its documents are in.
  if (job.documentsIncoming) return false;
  const auto known = jobs.find(Key{job.id, job.submittedAt});
  const JobDetails& details = known != jobs.end() ? known->second.details : job.details;
  return details.printerColor.value_or(false) && details.colorMode != "monochrome";
}

PagePricer::Job& PagePricer::JobOf(uint32_t id, int64_t submittedAt) {
  auto [at, fresh] = jobs.try_emplace(Key{id, submittedAt});
  if (fresh) {
    at->second.order = ++seen;
    if (jobs.size() > kMaxJobs) {
      auto oldest = std::min_element(jobs.begin(), jobs.end(), [](const auto& a, const auto& b) {
        return a.second.order < b.second.order;
      });
      if (oldest != at) jobs.erase(oldest);
    }
  }
  return at->second;
}

uint32_t PagePricer::ColorPages(const Job& job, uint32_t pages, const char** from) {
  const JobDetails& details = job.details;
  if (details.printerColor == false) {
    *from = "printer";
    return 0;
  }
  if (details.colorMode == "monochrome") {
    *from = "request";
    return 0;
  }
  if (job.pageColors) {
    *from = "document";
    return ColorPagesAmong(*job.pageColors, pages);
  }
  *from = "request";
  // A job that leaves the mode to a colour printer prints in colour.
  const bool color =
      details.colorMode == "color" || (details.colorMode.empty() && details.printerColor == true);
  return color ? pages : 0;
}

int64_t PagePricer::CostOf(const Tariff& tariff, const Job& job, uint32_t pages) {
  const char* from = nullptr;
  const uint32_t color = ColorPages(job, pages, &from);
  return Cost(tariff, {color, pages - color, job.details.sides, job.details.paper});
}

void PagePricer::Price(const Tariff& tariff, JobRecord* figures) {
  Job& job = JobOf(static_cast<uint32_t>(figures->jobId), figures->submittedAt);
  const auto pages = static_cast<uint32_t>(std::max(figures->pages, 0));
  const uint32_t before = job.priced;
  const uint32_t after = before + pages;
  const char* from = nullptr;
  const uint32_t colorBefore = ColorPages(job, before, &from);
  const uint32_t colorAfter = ColorPages(job, after, &from);
  figures->cost = Narrow(CostOf(tariff, job, after) - CostOf(tariff, job, before));
  figures->colorPages = static_cast<int32_t>(colorAfter - colorBefore);
  figures->monoPages = static_cast<int32_t>(pages - (colorAfter - colorBefore));
  figures->copies = job.details.copies;
  figures->sides = job.details.sides;
  figures->paper = job.details.paper;
  figures->client = job.details.client;
  figures->colorFrom = from;
  job.priced = after;
}

std::optional<JobRecord> PagePricer::Measured(const Tariff& tariff, const JobRecord& like,
                                              std::vector<bool> pageColors) {
  Job& job = JobOf(static_cast<uint32_t>(like.jobId), like.submittedAt);
  const char* fromBefore = nullptr;
  const uint32_t colorBefore = ColorPages(job, job.priced, &fromBefore);
  const int64_t costBefore = CostOf(tariff, job, job.priced);
  job.pageColors = std::move(pageColors);
  const char* from = nullptr;
  const uint32_t color = ColorPages(job, job.priced, &from);
  if (job.priced == 0 || std::string_view(from) != "document") return std::nullopt;
  JobRecord correction = like;
  correction.pages = 0;
  correction.cost = Narrow(CostOf(tariff, job, job.priced) - costBefore);
  correction.colorPages = static_cast<int32_t>(color) - static_cast<int32_t>(colorBefore);
  correction.monoPages = -correction.colorPages;
  correction.colorFrom = from;
  return correction;
}

void PagePricer::NamesOf(uint32_t id, int64_t submittedAt, std::string* user,
                         std::string* document) {
  const Job& job = JobOf(id, submittedAt);
  *user = job.user;
  *document = job.document;
}

void PagePricer::NotMeasured(uint32_t id, int64_t submittedAt) {
  JobOf(id, submittedAt).pageColors.reset();
}

}  // namespace pelko
