#include "agent/platform/spooler.h"

#include <windows.h>
#include <winspool.h>

#include <cstddef>
#include <vector>

namespace pelko {

// The records EnumJobsA writes are handed to the core as they stand.
static_assert(sizeof(JobInfo1) == sizeof(JOB_INFO_1A));
static_assert(offsetof(JobInfo1, JobId) == offsetof(JOB_INFO_1A, JobId));
static_assert(offsetof(JobInfo1, pPrinterName) == offsetof(JOB_INFO_1A, pPrinterName));
static_assert(offsetof(JobInfo1, pMachineName) == offsetof(JOB_INFO_1A, pMachineName));
static_assert(offsetof(JobInfo1, pUserName) == offsetof(JOB_INFO_1A, pUserName));
static_assert(offsetof(JobInfo1, pDocument) == offsetof(JOB_INFO_1A, pDocument));
static_assert(offsetof(JobInfo1, pDatatype) == offsetof(JOB_INFO_1A, pDatatype));
static_assert(offsetof(JobInfo1, pStatus) == offsetof(JOB_INFO_1A, pStatus));
static_assert(offsetof(JobInfo1, Status) == offsetof(JOB_INFO_1A, Status));
static_assert(offsetof(JobInfo1, Priority) == offsetof(JOB_INFO_1A, Priority));
static_assert(offsetof(JobInfo1, Position) == offsetof(JOB_INFO_1A, Position));
static_assert(offsetof(JobInfo1, TotalPages) == offsetof(JOB_INFO_1A, TotalPages));
static_assert(offsetof(JobInfo1, PagesPrinted) == offsetof(JOB_INFO_1A, PagesPrinted));
static_assert(offsetof(JobInfo1, Submitted) == offsetof(JOB_INFO_1A, Submitted));
static_assert(sizeof(SystemTime) == sizeof(SYSTEMTIME));

namespace {

uint32_t Failed() {
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

class Win32Spooler : public Spooler {
 public:
  uint32_t OpenPrinterA(const std::string& name, PrinterHandle* printer) override {
    *printer = nullptr;
    // OpenPrinterA takes a writable string.
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    HANDLE handle = nullptr;
    if (!::OpenPrinterA(text.data(), &handle, nullptr)) return Failed();
    *printer = handle;
    return 0;
  }

  uint32_t EnumJobsA(PrinterHandle printer, uint32_t firstJob, uint32_t jobCount,
                    uint32_t level, uint8_t* buffer, uint32_t bufferSize, uint32_t* needed,
                    uint32_t* returned) override {
    DWORD bytes = 0;
    DWORD count = 0;
    const BOOL ok = ::EnumJobsA(static_cast<HANDLE>(printer), firstJob, jobCount, level,
                                buffer, bufferSize, &bytes, &count);
    const uint32_t status = ok ? 0 : Failed();
    *needed = bytes;
    *returned = ok ? count : 0;
    return status;
  }

  uint32_t ClosePrinter(PrinterHandle printer) override {
    return ::ClosePrinter(static_cast<HANDLE>(printer)) ? 0 : Failed();
  }
};

}  // namespace

Spooler& PlatformSpooler() {
  static Win32Spooler service;
  return service;
}

}  // namespace pelko
