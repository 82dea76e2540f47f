// Get-Jobs requests to CUPS and the jobs read from their answers.
#include "agent/platform/posix/cups/cups_jobs.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace pelko {

namespace {

std::optional<std::string> Text(ipp_attribute_t* attribute) {
  const char* text = ippGetString(attribute, 0, nullptr);
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

// CUPS's names are UTF-8; the spooler moves them to the logs' encoding
// (NamesForLog) as it tells them.
std::optional<std::string> Name(ipp_attribute_t* attribute) { return Text(attribute); }

uint32_t Positive(ipp_attribute_t* a) {
  const int value = ippGetInteger(a, 0);
  return value > 0 ? static_cast<uint32_t>(value) : 0;
}

// media-col's size, in hundredths of a millimetre, as IPP gives it.
void ReadMediaCol(ipp_attribute_t* a, JobDetails* details) {
  ipp_t* col = ippGetCollection(a, 0);
  ipp_attribute_t* size =
      col ? ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION) : nullptr;
  ipp_t* dims = size ? ippGetCollection(size, 0) : nullptr;
  if (dims == nullptr) return;
  if (ipp_attribute_t* x = ippFindAttribute(dims, "x-dimension", IPP_TAG_INTEGER)) {
    details->paperWidth = Positive(x);
  }
  if (ipp_attribute_t* y = ippFindAttribute(dims, "y-dimension", IPP_TAG_INTEGER)) {
    details->paperLength = Positive(y);
  }
  if (details->paper.empty()) {
    if (ipp_attribute_t* name = ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO)) {
      details->paper = Text(name).value_or("");
    }
  }
}

// Takes one attribute of the job's print details, where it is one.
bool ReadDetail(ipp_attribute_t* a, const char* name, JobDetails* details) {
  if (!std::strcmp(name, "copies")) {
    details->copies = Positive(a);
  } else if (!std::strcmp(name, "sides")) {
    details->sides = Text(a).value_or("");
  } else if (!std::strcmp(name, "media")) {
    details->paper = Text(a).value_or("");
  } else if (!std::strcmp(name, "media-col") && ippGetValueTag(a) == IPP_TAG_BEGIN_COLLECTION) {
    ReadMediaCol(a, details);
  } else if (!std::strcmp(name, "print-color-mode")) {
    details->colorMode = Text(a).value_or("");
  } else if (!std::strcmp(name, "job-originating-host-name")) {
    details->client = Name(a).value_or("");
  } else if (!std::strcmp(name, "job-k-octets")) {
    details->sizeBytes = uint64_t{Positive(a)} * 1024;
  } else {
    return false;
  }
  return true;
}

// Takes one attribute of the job group into the job.
void ReadAttribute(ipp_attribute_t* a, const char* name, CupsJob* job) {
  if (ReadDetail(a, name, &job->details)) return;
  if (!std::strcmp(name, "job-id")) {
    const int id = ippGetInteger(a, 0);
    job->id = id > 0 ? static_cast<uint32_t>(id) : 0;
  } else if (!std::strcmp(name, "job-uuid")) {
    job->uuid = Text(a).value_or("");
  } else if (!std::strcmp(name, "job-originating-user-name")) {
    job->user = Name(a);
  } else if (!std::strcmp(name, "job-name")) {
    job->title = Name(a);
  } else if (!std::strcmp(name, "job-state")) {
    job->state = ippGetInteger(a, 0);
  } else if (!std::strcmp(name, "job-impressions-completed")) {
    const int pages = ippGetInteger(a, 0);
    job->pages = pages > 0 ? static_cast<uint32_t>(pages) : 0;
  } else if (!std::strcmp(name, "time-at-creation") && ippGetValueTag(a) == IPP_TAG_INTEGER) {
    job->createdAt = std::max(ippGetInteger(a, 0), 0);
  } else if (!std::strcmp(name, "time-at-completed") && ippGetValueTag(a) == IPP_TAG_INTEGER) {
    job->endedAt = std::max(ippGetInteger(a, 0), 0);
  } else if (!std::strcmp(name, "number-of-documents")) {
    // Create-Job makes the job before any Send-Document, also for lp.
    if (ippGetInteger(a, 0) == 0) job->incoming = true;
  } else if (!std::strcmp(name, "job-state-reasons")) {
    if (ippContainsString(a, "job-incoming")) job->incoming = true;
  }
}

void AskFor(ipp_t* request, bool idsOnly) {
  // The job id alone spares the scheduler loading the history from disk.
  static const char* const kIdOnly[] = {"job-id"};
  static const char* const kWanted[] = {"job-id",
                                        "job-uuid",
                                        "job-originating-user-name",
                                        "job-name",
                                        "job-state",
                                        "job-impressions-completed",
                                        "time-at-creation",
                                        "time-at-completed",
                                        "copies",
                                        "sides",
                                        "media",
                                        "media-col",
                                        "print-color-mode",
                                        "job-originating-host-name",
                                        "job-k-octets",
                                        "number-of-documents",
                                        "job-state-reasons"};
  if (idsOnly) {
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr,
                  kIdOnly);
  } else {
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kWanted)), nullptr, kWanted);
  }
}

// The jobs of a Get-Jobs answer in its order; a job without an id is left out.
std::vector<CupsJob> ParseJobs(ipp_t* response) {
  std::vector<CupsJob> jobs;
  CupsJob job;
  auto finish = [&] {
    if (job.id != 0) jobs.push_back(job);
    job = CupsJob();
  };
  for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr;
       a = ippNextAttribute(response)) {
    const char* name = ippGetName(a);
    if (name == nullptr) {
      finish();
      continue;
    }
    if (ippGetGroupTag(a) == IPP_TAG_JOB) ReadAttribute(a, name, &job);
  }
  finish();
  return jobs;
}

}  // namespace

CupsJobList GetJobs(CupsClient& client, const CupsServer& server, const std::string& printerUri,
                    const char* which, uint32_t firstId, bool idsOnly) {
  ipp_t* request = NewRequest(IPP_OP_GET_JOBS, printerUri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, which);
  if (firstId > 1) {
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id",
                  static_cast<int>(std::min<uint32_t>(firstId, INT32_MAX)));
  }
  AskFor(request, idsOnly);
  CupsResult result = client.Request(server, request);
  CupsJobList list;
  list.failure = result.failure;
  list.status = result.status;
  list.localAddress = result.localAddress;
  if (result.failure == CupsFailure::kNone) list.jobs = ParseJobs(result.response);
  ippDelete(result.response);
  return list;
}

}  // namespace pelko
