#include "agent/monitor/seen_jobs.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/log_names.h"

namespace pelko {

namespace {

constexpr char kHead[] = "pelko-seen 1\n";

}  // namespace

const SeenJob* SeenJobs::Find(const JobIdentity& job) const {
  auto at = jobs.find(job);
  return at != jobs.end() ? &at->second : nullptr;
}

bool SeenJobs::HoldsOtherUnder(const JobIdentity& job) const {
  for (auto at = jobs.lower_bound({job.id, INT64_MIN}); at != jobs.end() && at->first.id == job.id;
       ++at) {
    if (at->first.submittedAt != job.submittedAt) return true;
  }
  return false;
}

bool SeenJobs::IsLatestUnder(const JobIdentity& job) const {
  const SeenJob* own = Find(job);
  if (own == nullptr) return false;
  for (auto at = jobs.lower_bound({job.id, INT64_MIN}); at != jobs.end() && at->first.id == job.id;
       ++at) {
    if (at->second.seq > own->seq) return false;
  }
  return true;
}

bool SeenJobs::Add(const JobIdentity& job, bool beforeWatch) {
  auto [at, fresh] = jobs.try_emplace(job);
  if (!fresh) return false;
  at->second = {nextSeq++, beforeWatch};
  Trim();
  return true;
}

void SeenJobs::ForgetBefore(int64_t oldestTold) {
  std::erase_if(jobs, [oldestTold](const auto& job) {
    return job.first.submittedAt != 0 && job.first.submittedAt < oldestTold;
  });
}

void SeenJobs::Trim() {
  if (jobs.size() <= kMaxJobs) return;
  std::vector<uint64_t> seqs;
  seqs.reserve(jobs.size());
  for (const auto& [identity, seen] : jobs) seqs.push_back(seen.seq);
  auto cut = seqs.begin() + static_cast<long>(jobs.size() - kMaxJobs);
  std::nth_element(seqs.begin(), cut, seqs.end());
  const uint64_t keepFrom = *cut;
  std::erase_if(jobs, [keepFrom](const auto& job) { return job.second.seq < keepFrom; });
}

std::string SeenJobs::Encode() const {
  std::string text = kHead;
  char line[96];
  for (const auto& [identity, seen] : jobs) {
    std::snprintf(line, sizeof line, "%" PRIu32 "\t%" PRId64 "\t%" PRIu64 "%s\n", identity.id,
                  identity.submittedAt, seen.seq, seen.beforeWatch ? "\tb" : "");
    text += line;
  }
  return text;
}

SeenJobs SeenJobs::Decode(const std::string& text) {
  SeenJobs book;
  if (text.rfind(kHead, 0) != 0) return book;
  book.known = true;
  std::size_t from = sizeof kHead - 1;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(from, end - from);
    from = end + 1;
    JobIdentity identity;
    SeenJob seen;
    char mark[2] = {};
    if (std::sscanf(line.c_str(), "%" SCNu32 "\t%" SCNd64 "\t%" SCNu64 "\t%1s", &identity.id,
                    &identity.submittedAt, &seen.seq, mark) < 3 ||
        seen.seq == 0) {
      continue;
    }
    seen.beforeWatch = mark[0] == 'b';
    book.jobs[identity] = seen;
    book.nextSeq = std::max(book.nextSeq, seen.seq + 1);
  }
  book.Trim();
  return book;
}

std::string SeenJobsPath(const Env& env, const std::string& printerName) {
  const std::string path = RegistryStringValue(*env.registry, settings::kPath).Get();
  if (path.empty()) return "";
  return path + env.files->Separator() + PrinterFileName(printerName, *env.files, "seen");
}

SeenJobs LoadSeenJobs(const Env& env, const std::string& printerName) {
  const std::string path = SeenJobsPath(env, printerName);
  std::string text;
  if (path.empty() || env.files->ReadText(path, &text) != FileStatus::kOk) return {};
  return SeenJobs::Decode(text);
}

}  // namespace pelko
