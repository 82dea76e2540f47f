// How a Windows job asked to be printed, read out of the fields of its
// JOB_INFO_2 and DEVMODE. Portable, so that both builds test the reading;
// the Win32 spooler copies the fields out of the spooler's records. The
// records' fields keep Windows's names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/platform/spooler.h"

namespace pelko {

// DEVMODE's dmFields bits and values read here (wingdi.h's).
inline constexpr uint32_t kDmPaperSize = 0x00000002;
inline constexpr uint32_t kDmPaperLength = 0x00000004;
inline constexpr uint32_t kDmPaperWidth = 0x00000008;
inline constexpr uint32_t kDmCopies = 0x00000100;
inline constexpr uint32_t kDmColor = 0x00000800;
inline constexpr uint32_t kDmDuplex = 0x00001000;
inline constexpr uint32_t kDmFormName = 0x00010000;
inline constexpr int16_t kDmColorMonochrome = 1;
inline constexpr int16_t kDmColorColor = 2;
inline constexpr int16_t kDmDupSimplex = 1;
inline constexpr int16_t kDmDupVertical = 2;
inline constexpr int16_t kDmDupHorizontal = 3;

// The DEVMODE fields that say how a job is printed; each counts only where
// its dmFields bit is set.
struct DevModeFields {
  uint32_t dmFields = 0;
  int16_t dmPaperSize = 0;    // a DMPAPER_ code
  int16_t dmPaperLength = 0;  // tenths of a millimetre
  int16_t dmPaperWidth = 0;
  int16_t dmCopies = 0;
  int16_t dmColor = 0;
  int16_t dmDuplex = 0;
  std::string dmFormName;
};

// The JOB_INFO_2 fields read.
struct JobInfo2Fields {
  std::optional<DevModeFields> pDevMode;  // none where the job has none
  std::string pMachineName;               // "\\PC-12"
  uint64_t Size = 0;
};

// The details as JobDetails words them; printerColor is left unknown (the
// printer's, not the job's).
JobDetails DetailsOfJob(const JobInfo2Fields& job);

}  // namespace pelko
