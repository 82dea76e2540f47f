// Performance data over CUPS. CUPS keeps no page counter per queue, only
// job-impressions-completed per job, and it forgets old jobs (MaxJobs). The
// queue's "Total Pages Printed" is therefore built here: for every job that
// CUPS still lists we keep the highest count it ever reported (a backend can
// set it lower again), and what the jobs it has forgotten gave stays in a
// sum of its own. So the total only rises, across the scheduler forgetting
// or re-listing jobs and across its restarts, for as long as the agent runs.
#include "agent/platform/pdh/perf_data.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "agent/platform/posix/cups_client.h"

namespace pelko {

namespace {

constexpr uint32_t kQueryMagic = 0x50514459;
constexpr uint32_t kCounterMagic = 0x50435452;

// Jobs that drop out of a listing are remembered for a while, so that one
// listed again (a listing taken while the scheduler was still loading its
// history) is not counted twice.
constexpr std::size_t kRememberedForgotten = 4096;

struct QueueTotal {
  std::mutex mutex;
  std::map<std::string, int64_t> counted;  // by job-uuid: the highest count seen
  int64_t forgotten = 0;                   // of jobs no longer listed
  std::map<std::string, int64_t> gone;     // the latest of those, with their counts
  std::deque<std::string> goneOrder;
};

struct Query;

struct Counter {
  uint32_t magic = kCounterMagic;
  Query* query = nullptr;
  CupsServer server;
  std::string queue;
  std::shared_ptr<QueueTotal> total;
  PdhRawCounter sample{};
  bool sampled = false;
};

struct Query {
  uint32_t magic = kQueryMagic;
  std::vector<Counter*> counters;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "\\machine\Print Queue(queue)\Total Pages Printed", or the same without
// the machine part; object and counter names without regard to case.
PdhStatus ParseCounterPath(const std::string& path, std::string* machine,
                           std::string* queue) {
  std::string rest = path;
  machine->clear();
  if (rest.compare(0, 2, "\\\\") == 0) {
    const std::size_t end = rest.find('\\', 2);
    if (end == std::string::npos || end == 2) return kPdhCstatusBadCountername;
    *machine = rest.substr(2, end - 2);
    rest.erase(0, end);
  }
  if (rest.empty() || rest.front() != '\\') return kPdhCstatusBadCountername;
  const std::size_t last = rest.rfind('\\');
  if (last == 0) return kPdhCstatusBadCountername;
  const std::string counter = rest.substr(last + 1);
  std::string object = rest.substr(1, last - 1);
  queue->clear();
  const std::size_t open = object.find('(');
  if (open != std::string::npos) {
    const std::size_t close = object.rfind(')');
    if (close == std::string::npos || close < open || close != object.size() - 1) {
      return kPdhCstatusBadCountername;
    }
    *queue = object.substr(open + 1, close - open - 1);
    object.resize(open);
  }
  if (Lower(object) != "print queue") return kPdhCstatusNoObject;
  if (Lower(counter) != "total pages printed") return kPdhCstatusNoCounter;
  return kPdhSuccess;
}

FileTime Now() {
  // 100 ns units since 1601-01-01.
  const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  const uint64_t ticks = static_cast<uint64_t>(since1970) * 10 + 116444736000000000ULL;
  return FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

bool IsValid(uint32_t status) {
  return status == kPdhCstatusValidData || status == kPdhCstatusNewData;
}

bool Format(double value, uint32_t format, PdhFmtCounterValue* out) {
  if (format & kPdhFmtDouble) {
    out->doubleValue = value;
  } else if (format & kPdhFmtLarge) {
    out->largeValue = static_cast<int64_t>(value);
  } else if (format & kPdhFmtLong) {
    out->longValue = static_cast<int32_t>(value);
  } else {
    return false;
  }
  return true;
}

class CupsPerfData : public PerfData {
 public:
  // The client is made first so that it outlives this service at exit.
  CupsPerfData() : client(CupsClient::Shared()) {}

  ~CupsPerfData() override {
    for (Counter* counter : counters) delete counter;
    for (Query* query : queries) delete query;
  }

  PdhStatus OpenQuery(const char* dataSource, uintptr_t, PdhQuery* query) override {
    if (query == nullptr) return kPdhInvalidArgument;
    // Only real-time data: there are no log files to read back here.
    if (dataSource != nullptr && dataSource[0] != '\0') return kPdhInvalidArgument;
    auto* opened = new Query;
    std::lock_guard<std::mutex> lock(mutex);
    queries.insert(opened);
    *query = opened;
    return kPdhSuccess;
  }

  PdhStatus AddCounter(PdhQuery queryHandle, const std::string& path, uintptr_t,
                       PdhCounter* counterHandle) override {
    if (counterHandle == nullptr) return kPdhInvalidArgument;
    std::string machine;
    std::string queue;
    const PdhStatus parsed = ParseCounterPath(path, &machine, &queue);
    CupsServer server;
    if (parsed == kPdhSuccess && !ServerForMachine(machine, &server)) {
      return kPdhCstatusNoMachine;
    }
    std::lock_guard<std::mutex> lock(mutex);
    Query* query = FindQuery(queryHandle);
    if (query == nullptr) return kPdhInvalidHandle;
    if (parsed != kPdhSuccess) return parsed;
    auto* counter = new Counter;
    counter->query = query;
    counter->server = server;
    counter->queue = queue;
    auto& total = totals[server.Key() + "\n" + queue];
    if (!total) total = std::make_shared<QueueTotal>();
    counter->total = total;
    query->counters.push_back(counter);
    counters.insert(counter);
    *counterHandle = counter;
    return kPdhSuccess;
  }

  PdhStatus CollectQueryData(PdhQuery queryHandle) override {
    std::vector<Counter*> collected;
    {
      std::lock_guard<std::mutex> lock(mutex);
      Query* query = FindQuery(queryHandle);
      if (query == nullptr) return kPdhInvalidHandle;
      collected = query->counters;
    }
    if (collected.empty()) return kPdhNoData;
    // A query belongs to one thread: its counters are not removed meanwhile.
    for (Counter* counter : collected) Sample(*counter);
    return kPdhSuccess;
  }

  PdhStatus GetFormattedCounterValue(PdhCounter counterHandle, uint32_t format,
                                     uint32_t* type, PdhFmtCounterValue* value) override {
    if (value == nullptr) return kPdhInvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    Counter* counter = FindCounter(counterHandle);
    if (counter == nullptr) return kPdhInvalidHandle;
    if (type != nullptr) *type = kPerfCounterRawcount;
    std::memset(value, 0, sizeof *value);
    if (!counter->sampled || !IsValid(counter->sample.CStatus)) {
      value->CStatus = counter->sampled ? counter->sample.CStatus : kPdhCstatusInvalidData;
      return kPdhInvalidData;
    }
    if (!Format(static_cast<double>(counter->sample.FirstValue), format, value)) {
      return kPdhInvalidArgument;
    }
    value->CStatus = kPdhCstatusValidData;
    return kPdhSuccess;
  }

  PdhStatus GetRawCounterValue(PdhCounter counterHandle, uint32_t* type,
                               PdhRawCounter* value) override {
    if (value == nullptr) return kPdhInvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    Counter* counter = FindCounter(counterHandle);
    if (counter == nullptr) return kPdhInvalidHandle;
    if (type != nullptr) *type = kPerfCounterRawcount;
    if (!counter->sampled) {
      *value = PdhRawCounter{};
      value->CStatus = kPdhCstatusInvalidData;
      return kPdhSuccess;
    }
    *value = counter->sample;
    return kPdhSuccess;
  }

  PdhStatus ComputeCounterStatistics(PdhCounter counterHandle, uint32_t format,
                                     uint32_t firstEntry, uint32_t entryCount,
                                     const PdhRawCounter* raw,
                                     PdhStatistics* statistics) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (FindCounter(counterHandle) == nullptr) return kPdhInvalidHandle;
    }
    if (raw == nullptr || statistics == nullptr || entryCount == 0 ||
        firstEntry >= entryCount) {
      return kPdhInvalidArgument;
    }
    if ((format & (kPdhFmtDouble | kPdhFmtLarge | kPdhFmtLong)) == 0) {
      return kPdhInvalidArgument;
    }
    // A raw count: the statistics of the values themselves, oldest first.
    uint32_t used = 0;
    double minimum = 0.0;
    double maximum = 0.0;
    double sum = 0.0;
    for (uint32_t k = 0; k < entryCount; ++k) {
      const PdhRawCounter& sample = raw[(firstEntry + k) % entryCount];
      if (!IsValid(sample.CStatus)) continue;
      const double value = static_cast<double>(sample.FirstValue);
      minimum = used == 0 ? value : std::min(minimum, value);
      maximum = used == 0 ? value : std::max(maximum, value);
      sum += value;
      ++used;
    }
    PdhStatistics result{};
    result.dwFormat = format;
    result.count = used;
    const uint32_t status = used != 0 ? kPdhCstatusValidData : kPdhCstatusInvalidData;
    result.min.CStatus = result.max.CStatus = result.mean.CStatus = status;
    Format(used != 0 ? minimum : 0.0, format, &result.min);
    Format(used != 0 ? maximum : 0.0, format, &result.max);
    Format(used != 0 ? sum / used : 0.0, format, &result.mean);
    *statistics = result;
    return kPdhSuccess;
  }

  PdhStatus RemoveCounter(PdhCounter counterHandle) override {
    std::lock_guard<std::mutex> lock(mutex);
    Counter* counter = FindCounter(counterHandle);
    if (counter == nullptr) return kPdhInvalidHandle;
    auto& list = counter->query->counters;
    list.erase(std::remove(list.begin(), list.end(), counter), list.end());
    counters.erase(counter);
    delete counter;
    return kPdhSuccess;
  }

  PdhStatus CloseQuery(PdhQuery queryHandle) override {
    std::lock_guard<std::mutex> lock(mutex);
    Query* query = FindQuery(queryHandle);
    if (query == nullptr) return kPdhInvalidHandle;
    for (Counter* counter : query->counters) {
      counters.erase(counter);
      delete counter;
    }
    queries.erase(query);
    delete query;
    return kPdhSuccess;
  }

 private:
  Query* FindQuery(PdhQuery handle) {
    auto found = queries.find(static_cast<Query*>(handle));
    return found != queries.end() && (*found)->magic == kQueryMagic ? *found : nullptr;
  }
  Counter* FindCounter(PdhCounter handle) {
    auto found = counters.find(static_cast<Counter*>(handle));
    return found != counters.end() && (*found)->magic == kCounterMagic ? *found : nullptr;
  }

  void Sample(Counter& counter) {
    PdhRawCounter sample{};
    sample.TimeStamp = Now();
    sample.MultiCount = 1;
    int64_t value = 0;
    sample.CStatus = ReadTotal(counter, &value);
    sample.FirstValue = value;
    std::lock_guard<std::mutex> lock(mutex);
    counter.sample = sample;
    counter.sampled = true;
  }

  // The queue's total now; a PDH_CSTATUS code.
  uint32_t ReadTotal(const Counter& counter, int64_t* value) {
    if (!IsQueueName(counter.queue)) return kPdhCstatusNoInstance;
    ipp_t* request = NewRequest(IPP_OP_GET_JOBS, PrinterUri(counter.server, counter.queue));
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    static const char* const wanted[] = {"job-id", "job-uuid", "job-impressions-completed"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    CupsResult result = client.Request(counter.server, request);
    if (result.failure == CupsFailure::kUnreachable) return kPdhCstatusNoMachine;
    if (result.failure != CupsFailure::kNone) {
      return result.status == IPP_STATUS_ERROR_NOT_FOUND ? kPdhCstatusNoInstance
                                                         : kPdhCstatusInvalidData;
    }

    std::map<std::string, int64_t> listed;
    std::string key;
    int id = 0;
    int64_t pages = 0;
    auto finish = [&] {
      if (key.empty() && id != 0) key = "#" + std::to_string(id);
      if (!key.empty()) listed[key] = std::max(listed[key], pages);
      key.clear();
      id = 0;
      pages = 0;
    };
    for (ipp_attribute_t* a = ippFirstAttribute(result.response); a != nullptr;
         a = ippNextAttribute(result.response)) {
      const char* name = ippGetName(a);
      if (name == nullptr) {
        finish();
        continue;
      }
      if (ippGetGroupTag(a) != IPP_TAG_JOB) continue;
      if (!std::strcmp(name, "job-uuid")) {
        const char* uuid = ippGetString(a, 0, nullptr);
        if (uuid != nullptr) key = uuid;
      } else if (!std::strcmp(name, "job-id")) {
        id = ippGetInteger(a, 0);
      } else if (!std::strcmp(name, "job-impressions-completed")) {
        pages = std::max(0, ippGetInteger(a, 0));
      }
    }
    finish();
    ippDelete(result.response);

    QueueTotal& total = *counter.total;
    std::lock_guard<std::mutex> lock(total.mutex);
    for (auto& [job, count] : listed) {
      auto known = total.counted.find(job);
      if (known != total.counted.end()) {
        count = std::max(count, known->second);
        continue;
      }
      auto back = total.gone.find(job);
      if (back != total.gone.end()) {
        total.forgotten -= back->second;
        count = std::max(count, back->second);
        total.gone.erase(back);
      }
    }
    for (auto& [job, count] : total.counted) {
      if (listed.count(job) != 0) continue;
      total.forgotten += count;
      total.gone[job] = count;
      total.goneOrder.push_back(job);
    }
    while (total.goneOrder.size() > kRememberedForgotten) {
      // Only drops the memory of the job; its pages stay in the sum.
      total.gone.erase(total.goneOrder.front());
      total.goneOrder.pop_front();
    }
    total.counted.swap(listed);
    int64_t sum = total.forgotten;
    for (auto& [job, count] : total.counted) sum += count;
    *value = sum;
    return kPdhCstatusValidData;
  }

  CupsClient& client;
  std::mutex mutex;
  std::set<Query*> queries;
  std::set<Counter*> counters;
  std::map<std::string, std::shared_ptr<QueueTotal>> totals;
};

}  // namespace

PerfData& PlatformPerfData() {
  static CupsPerfData service;
  return service;
}

}  // namespace pelko
