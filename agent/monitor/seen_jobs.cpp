#include "agent/monitor/seen_jobs.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "agent/config/registry_value.h"
#include "agent/config/settings.h"
#include "agent/logs/log_names.h"

namespace pelko {

namespace {

constexpr char kHead[] = "pelko-seen 1\n";
constexpr char kStartHead[] = "pelko-since 1\n";

}  // namespace

const SeenJob* SeenJobs::Find(const JobIdentity& job) const {
  auto at = jobs.find(job);
  return at != jobs.end() ? &at->second : nullptr;
}

bool SeenJobs::Add(const JobIdentity& job, bool beforeWatch) {
  auto [at, fresh] = jobs.try_emplace(job);
  if (!fresh) return false;
  at->second.seq = nextSeq++;
  at->second.beforeWatch = beforeWatch;
  ++changes;
  Trim();
  return true;
}

std::string SeenJobs::Claim(const JobIdentity& job, const std::string& day,
                            const std::string& stamp) {
  Add(job);
  SeenJob& seen = jobs[job];
  auto [at, fresh] = seen.entries.try_emplace(day, stamp);
  // A job still printing on a new day is kept as if seen anew: the book
  // forgets the jobs longest without an entry first.
  if (fresh) seen.seq = nextSeq++;
  if (fresh || seen.beforeWatch) ++changes;
  seen.beforeWatch = false;
  return at->second;
}

bool SeenJobs::IsClaimed(uint32_t id, const std::string& stamp) const {
  for (auto at = jobs.lower_bound({id, INT64_MIN}); at != jobs.end() && at->first.id == id; ++at) {
    for (const auto& [day, claimed] : at->second.entries) {
      if (claimed == stamp) return true;
    }
  }
  return false;
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
  // Two fields: an earlier agent's reader leaves the line out.
  if (!since.empty()) text += "since\t" + since + '\n';
  for (const auto& [identity, seen] : jobs) {
    text += std::to_string(identity.id) + '\t' + std::to_string(identity.submittedAt) + '\t' +
            std::to_string(seen.seq) + '\t' + (seen.beforeWatch ? "b" : "-") + '\t';
    bool first = true;
    for (const auto& [day, stamp] : seen.entries) {
      if (!first) text += ';';
      first = false;
      text += day + '=' + stamp;
    }
    text += '\n';
  }
  return text;
}

namespace {

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(separator, from);
    parts.emplace_back(text.substr(from, at - from));
    if (at == std::string_view::npos) return parts;
    from = at + 1;
  }
}

bool ReadNumber(const std::string& text, int64_t* value) {
  char* end = nullptr;
  errno = 0;
  const long long read = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0) return false;
  *value = read;
  return true;
}

}  // namespace

SeenJobs SeenJobs::Decode(const std::string& text) {
  SeenJobs book;
  if (text.rfind(kHead, 0) != 0) return book;
  book.known = true;
  const std::vector<std::string> lines =
      Split(std::string_view(text).substr(sizeof kHead - 1), '\n');
  for (const std::string& line : lines) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() == 2 && f[0] == "since") book.since = f[1];
    int64_t id = 0, submittedAt = 0, seq = 0;
    if (f.size() != 5 || !ReadNumber(f[0], &id) || id <= 0 || id > UINT32_MAX ||
        !ReadNumber(f[1], &submittedAt) || !ReadNumber(f[2], &seq) || seq <= 0) {
      continue;
    }
    SeenJob seen;
    seen.seq = static_cast<uint64_t>(seq);
    seen.beforeWatch = f[3] == "b";
    if (!f[4].empty()) {
      for (const std::string& claim : Split(f[4], ';')) {
        const std::size_t equals = claim.find('=');
        if (equals != std::string::npos)
          seen.entries[claim.substr(0, equals)] = claim.substr(equals + 1);
      }
    }
    book.jobs[{static_cast<uint32_t>(id), submittedAt}] = std::move(seen);
    book.nextSeq = std::max(book.nextSeq, static_cast<uint64_t>(seq) + 1);
  }
  book.Trim();
  return book;
}

namespace {

std::string FileInPath(const Env& env, const std::string& printerName, std::string_view extension) {
  const std::string path = RegistryStringValue(*env.registry, settings::kPath).Get();
  if (path.empty()) return "";
  return path + env.files->Separator() + PrinterFileName(printerName, *env.files, extension);
}

}  // namespace

std::string SeenJobsPath(const Env& env, const std::string& printerName) {
  return FileInPath(env, printerName, "seen");
}

std::string WatchStartPath(const Env& env, const std::string& printerName) {
  return FileInPath(env, printerName, "since");
}

std::string EncodeWatchStart(const WatchStart& start) {
  std::string text = std::string(kStartHead) + start.at + '\n';
  for (const JobIdentity& job : start.before) {
    text += std::to_string(job.id) + '\t' + std::to_string(job.submittedAt) + '\n';
  }
  return text;
}

std::optional<WatchStart> DecodeWatchStart(const std::string& text) {
  if (text.rfind(kStartHead, 0) != 0) return std::nullopt;
  std::vector<std::string> lines =
      Split(std::string_view(text).substr(sizeof kStartHead - 1), '\n');
  WatchStart start;
  start.at = lines.front();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = Split(lines[i], '\t');
    int64_t id = 0, submittedAt = 0;
    if (f.size() == 2 && ReadNumber(f[0], &id) && id > 0 && id <= UINT32_MAX &&
        ReadNumber(f[1], &submittedAt)) {
      start.before.insert({static_cast<uint32_t>(id), submittedAt});
    }
  }
  return start;
}

std::optional<WatchStart> LoadWatchStart(const Env& env, const std::string& printerName) {
  const std::string path = WatchStartPath(env, printerName);
  std::string text;
  if (path.empty() || env.files->ReadText(path, &text) != FileStatus::kOk) return std::nullopt;
  return DecodeWatchStart(text);
}

SeenJobs LoadSeenJobs(const Env& env, const std::string& printerName) {
  const std::string path = SeenJobsPath(env, printerName);
  std::string text;
  if (path.empty() || env.files->ReadText(path, &text) != FileStatus::kOk) return {};
  return SeenJobs::Decode(text);
}

}  // namespace pelko
