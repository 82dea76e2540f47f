// Opening a queue's job change notification and reading the job fields out
// of what FindNextPrinterChangeNotification hands back.
#include "agent/platform/win32/spooler/job_notices.h"

#include <winspool.h>

#include <cstddef>
#include <optional>
#include <string>

#include "agent/platform/devmode/job_details.h"
#include "agent/platform/win32/spooler/job_listing.h"
#include "agent/util/unicode.h"

namespace pelko {

namespace {

// Refreshes asked in a row while the spooler keeps discarding.
constexpr int kRefreshAttempts = 3;

// The job fields the notifications are asked to carry. The DEVMODE and the
// machine name come once, with the job's arrival: a job that comes and
// goes between two listings still tells how it asked to be printed.
WORD kJobFields[] = {JOB_NOTIFY_FIELD_USER_NAME,   JOB_NOTIFY_FIELD_DOCUMENT,
                     JOB_NOTIFY_FIELD_STATUS,      JOB_NOTIFY_FIELD_PAGES_PRINTED,
                     JOB_NOTIFY_FIELD_SUBMITTED,   JOB_NOTIFY_FIELD_DEVMODE,
                     JOB_NOTIFY_FIELD_MACHINE_NAME};

PRINTER_NOTIFY_OPTIONS_TYPE kJobType = {
    JOB_NOTIFY_TYPE, 0, 0, 0, sizeof kJobFields / sizeof kJobFields[0], kJobFields};

PRINTER_NOTIFY_OPTIONS JobOptions(DWORD flags) {
  return PRINTER_NOTIFY_OPTIONS{2, flags, 1, &kJobType};
}

// UTF-8, as the listing gives its names too.
std::optional<std::string> Narrow(const wchar_t* wide, std::size_t most) {
  const std::size_t length = wcsnlen(wide, most);
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide), length));
}

// Notification strings are UTF-16 whichever way the printer was opened.
std::optional<std::string> WideText(const PRINTER_NOTIFY_INFO_DATA& data) {
  const auto* wide = static_cast<const wchar_t*>(data.NotifyData.Data.pBuf);
  if (wide == nullptr) return std::nullopt;
  return Narrow(wide, data.NotifyData.Data.cbBuf / sizeof(wchar_t));
}

std::string WideForm(const WCHAR* form) { return Narrow(form, CCHFORMNAME).value_or(""); }

// The fields of each job told, in the order the jobs first appear.
void Collect(const PRINTER_NOTIFY_INFO& info, std::vector<SpoolerJobNote>* news) {
  std::map<uint32_t, std::size_t> at;
  std::map<std::size_t, JobInfo2Fields> asked;  // the jobs that told how they asked
  for (DWORD i = 0; i < info.Count; ++i) {
    const PRINTER_NOTIFY_INFO_DATA& data = info.aData[i];
    if (data.Type != JOB_NOTIFY_TYPE) continue;
    auto [slot, added] = at.emplace(data.Id, news->size());
    if (added) news->push_back(SpoolerJobNote{data.Id, {}, {}, {}, {}, 0, {}});
    SpoolerJobNote& record = (*news)[slot->second];
    switch (data.Field) {
      case JOB_NOTIFY_FIELD_USER_NAME:
        record.user = WideText(data);
        break;
      case JOB_NOTIFY_FIELD_DOCUMENT:
        record.document = WideText(data);
        break;
      case JOB_NOTIFY_FIELD_STATUS:
        record.status = data.NotifyData.adwData[0];
        break;
      case JOB_NOTIFY_FIELD_PAGES_PRINTED:
        record.pages = data.NotifyData.adwData[0];
        break;
      case JOB_NOTIFY_FIELD_DEVMODE: {
        const auto* bytes = static_cast<const uint8_t*>(data.NotifyData.Data.pBuf);
        asked[slot->second].pDevMode =
            DevModeIn(static_cast<const DEVMODEW*>(data.NotifyData.Data.pBuf), bytes,
                      bytes + data.NotifyData.Data.cbBuf, WideForm);
        break;
      }
      case JOB_NOTIFY_FIELD_MACHINE_NAME:
        asked[slot->second].pMachineName = WideText(data).value_or(std::string());
        break;
      case JOB_NOTIFY_FIELD_SUBMITTED:
        if (data.NotifyData.Data.pBuf != nullptr &&
            data.NotifyData.Data.cbBuf >= sizeof(SYSTEMTIME)) {
          record.submittedAt =
              SubmittedSeconds(*static_cast<const SYSTEMTIME*>(data.NotifyData.Data.pBuf));
        }
        break;
      default:
        break;
    }
  }
  for (const auto& [slot, fields] : asked) (*news)[slot].details = DetailsOfJob(fields);
}

}  // namespace

bool NeedsPolling(const Notified& notified) {
  return notified.printer != nullptr && !notified.emptyAtLook &&
         (notified.change == INVALID_HANDLE_VALUE || !notified.fields);
}

HANDLE OpenJobNotice(HANDLE printer, bool* fields) {
  *fields = true;
  PRINTER_NOTIFY_OPTIONS options = JobOptions(0);
  HANDLE change = FindFirstPrinterChangeNotification(printer, PRINTER_CHANGE_JOB, 0, &options);
  if (change == INVALID_HANDLE_VALUE) {
    // A spooler that cannot send fields can still say that jobs changed.
    *fields = false;
    change = FindFirstPrinterChangeNotification(printer, PRINTER_CHANGE_JOB, 0, nullptr);
  }
  return change;
}

bool TakeNews(HANDLE change, bool fields, std::vector<SpoolerJobNote>* news) {
  DWORD what = 0;
  PRINTER_NOTIFY_INFO* info = nullptr;
  if (!FindNextPrinterChangeNotification(change, &what, nullptr,
                                         fields ? reinterpret_cast<void**>(&info) : nullptr)) {
    return false;
  }
  for (int attempt = 0; info != nullptr && (info->Flags & PRINTER_NOTIFY_INFO_DISCARDED) != 0 &&
                        attempt < kRefreshAttempts;
       ++attempt) {
    FreePrinterNotifyInfo(info);
    info = nullptr;
    PRINTER_NOTIFY_OPTIONS refresh = JobOptions(PRINTER_NOTIFY_OPTIONS_REFRESH);
    if (!FindNextPrinterChangeNotification(change, &what, &refresh,
                                           reinterpret_cast<void**>(&info))) {
      info = nullptr;
    }
  }
  if (info == nullptr) return true;
  if ((info->Flags & PRINTER_NOTIFY_INFO_DISCARDED) == 0) Collect(*info, news);
  FreePrinterNotifyInfo(info);
  return true;
}

void CloseJobNotice(HANDLE change) {
  if (change != INVALID_HANDLE_VALUE) FindClosePrinterChangeNotification(change);
}

void Forget(Notified& notified) {
  CloseJobNotice(notified.change);
  notified.change = INVALID_HANDLE_VALUE;
}

}  // namespace pelko
