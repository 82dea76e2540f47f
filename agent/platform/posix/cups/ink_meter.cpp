// The POSIX ink meter: a job's documents fetched from CUPS (CUPS-Get-Document)
// into a file of the agent's own, each measured by Ghostscript in turn.
#include "agent/platform/ink_meter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>

#include "agent/platform/posix/cups/cups_client.h"
#include "agent/platform/posix/cups/cups_server.h"
#include "agent/platform/posix/files/fd_io.h"
#include "agent/platform/posix/cups/ink_coverage.h"
#include "agent/platform/posix/files/safe_path.h"

namespace pelko {

namespace {

// More documents than this in one job are not a job of an office.
constexpr int kMaxDocuments = 32;

class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd(fd) {}
  ~ScopedFd() {
    if (fd >= 0) close(fd);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int fd;
};

// The folder documents are written to, made if missing: -1 unless it is a
// folder of this process's user alone, on a path no one else can change.
int OpenPrivateFolder(const std::string& path) {
  // Its parent is the service's state folder, which only systemd makes.
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) mkdir(path.substr(0, slash).c_str(), 0755);
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  std::string resolved, why;
  if (CheckPathSafety(path, &resolved, &why) != PathSafety::kSafe) return -1;
  const int fd = open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// A new file in the folder, gone from it at once: *readFd is left open on it
// for reading, the result for writing; -1 on failure.
int NewPrivateFile(int folder, uint32_t jobId, int* readFd) {
  static std::atomic<uint32_t> count{0};
  const std::string name = "job-" + std::to_string(jobId) + "-" + std::to_string(getpid()) + "-" +
                           std::to_string(count++);
  // Readable by others once open, so that the measuring account can open
  // /dev/fd/0; by name the 0700 folder keeps everyone out.
  const int fd =
      openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  *readFd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  unlinkat(folder, name.c_str(), 0);
  if (*readFd < 0 || fchmod(fd, 0644) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

InkStatus StatusOfRefusal(ipp_status_t status) {
  switch (status) {
    case IPP_STATUS_ERROR_NOT_FOUND:
    case IPP_STATUS_ERROR_NOT_POSSIBLE:
    case IPP_STATUS_ERROR_GONE:
      return InkStatus::kGone;
    case IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED:
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
      return InkStatus::kUnsupported;
    default:
      return InkStatus::kUnreadable;
  }
}

class CupsInkMeter : public InkMeter {
 public:
  explicit CupsInkMeter(const InkLimits& limits) : limits(limits) {}

  InkStatus Measure(const std::string& queue, uint32_t jobId, std::vector<PageInk>* pages,
                    const std::atomic<bool>& cancelled) override {
    pages->clear();
    CupsServer server;
    std::string name;
    if (!ParsePrinterName(queue, &server, &name)) return InkStatus::kGone;
    ScopedFd folder(OpenPrivateFolder(limits.folder));
    if (folder.fd < 0) return InkStatus::kUnsupported;
    uint64_t total = 0;
    for (int number = 1; number <= kMaxDocuments + 1; ++number) {
      std::vector<PageInk> more;
      const InkStatus status = MeasureDocument(server, PrinterUri(server, name), jobId, number,
                                               folder.fd, &total, cancelled, &more);
      // A job's documents are numbered from 1; the first missing ends them.
      if (status == InkStatus::kGone && number > 1) break;
      if (status != InkStatus::kOk || number > kMaxDocuments) {
        pages->clear();
        return status != InkStatus::kOk ? status : InkStatus::kTooLarge;
      }
      pages->insert(pages->end(), more.begin(), more.end());
    }
    return InkStatus::kOk;
  }

 private:
  // Document `number` of the job fetched and measured; *total counts the
  // bytes of the job's documents so far, which limits bound.
  InkStatus MeasureDocument(const CupsServer& server, const std::string& printerUri, uint32_t jobId,
                            int number, int folder, uint64_t* total,
                            const std::atomic<bool>& cancelled, std::vector<PageInk>* pages) {
    int readFd = -1;
    ScopedFd writer(NewPrivateFile(folder, jobId, &readFd));
    ScopedFd reader(readFd);
    if (writer.fd < 0) return InkStatus::kUnsupported;
    ipp_t* request = NewRequest(IPP_OP_CUPS_GET_DOCUMENT, printerUri);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(jobId));
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "document-number", number);
    bool tooLarge = false, unwritten = false;
    const CupsResult result = CupsClient::Shared().RequestData(
        server, request, limits.fetchMs, [&](const char* data, std::size_t size) {
          *total += size;
          if (*total > limits.maxDocumentBytes) {
            tooLarge = true;
            return false;
          }
          unwritten = WriteAll(writer.fd, std::string_view(data, size)) != 0;
          return !unwritten;
        });
    if (result.response != nullptr) ippDelete(result.response);
    if (tooLarge) return InkStatus::kTooLarge;
    if (unwritten) return InkStatus::kBound;
    if (result.failure == CupsFailure::kRefused) return StatusOfRefusal(result.status);
    if (result.failure != CupsFailure::kNone) return InkStatus::kUnavailable;
    return MeasureInkCoverage(reader.fd, limits, pages, cancelled);
  }

  const InkLimits limits;
};

}  // namespace

std::unique_ptr<InkMeter> NewCupsInkMeter(const InkLimits& limits) {
  return std::make_unique<CupsInkMeter>(limits);
}

InkMeter* PlatformInkMeter() {
  static CupsInkMeter meter{InkLimits{}};
  return &meter;
}

}  // namespace pelko
