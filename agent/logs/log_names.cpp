#include "agent/logs/log_names.h"

#include "agent/util/coding.h"

namespace pelko {

namespace {

bool IsDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::string LogsFolder(const std::string& path, char separator) {
  return path + separator + "Logs";
}

std::string FormatFileDate(const LocalTime& t) {
  std::string out = std::to_string(t.year);
  AppendTwoDigits(out, t.month);
  AppendTwoDigits(out, t.day);
  return out;
}

std::string LogFileName(std::string_view base, const LocalTime& date, std::string_view extension) {
  std::string name(base);
  name += '_';
  name += FormatFileDate(date);
  name += '.';
  name += extension;
  return name;
}

std::string ShortPrinterName(const std::string& printerName) {
  const std::size_t slash = printerName.rfind('\\');
  return slash == std::string::npos ? printerName : printerName.substr(slash + 1);
}

std::string SafeFileName(const std::string& name, const FileSystem& files) {
  std::string out = name;
  for (char& c : out) {
    if (!files.IsNameByte(static_cast<unsigned char>(c))) c = '_';
  }
  if (out == "." || out == "..") out.assign(out.size(), '_');
  return out;
}

std::string PrinterFileName(const std::string& printerName, const FileSystem& files,
                            std::string_view extension) {
  return SafeFileName(printerName, files) + '.' + std::string(extension);
}

std::string DailyLogBase(const std::string& printerName, const FileSystem& files) {
  return SafeFileName(ShortPrinterName(printerName), files);
}

std::string_view BaseName(std::string_view path, char separator) {
  const std::size_t at = path.find_last_of(separator == '\\' ? "\\/" : "/");
  return at == std::string_view::npos ? path : path.substr(at + 1);
}

std::string DateOfLogName(std::string_view name) {
  constexpr std::string_view kExtension = ".xml";
  if (name.size() < 1 + 8 + kExtension.size()) return {};
  const std::size_t end = name.size() - kExtension.size();
  if (!AsciiEqualFold(name.substr(end), kExtension) || name[end - 9] != '_') return {};
  const std::string_view date = name.substr(end - 8, 8);
  return IsDigits(date) ? std::string(date) : std::string();
}

namespace {
constexpr std::string_view kTwinExtension = ".details";
}  // namespace

std::string DetailsTwinOf(std::string_view logPath) {
  const std::size_t dot = logPath.rfind('.');
  return std::string(logPath.substr(0, dot)) + std::string(kTwinExtension);
}

std::string LogOfDetailsTwin(std::string_view twinPath) {
  if (!twinPath.ends_with(kTwinExtension)) return {};
  return std::string(twinPath.substr(0, twinPath.size() - kTwinExtension.size())) + ".xml";
}

std::string DateFieldOfLogName(std::string_view name) {
  const std::string_view last = name.size() < 12 ? name : name.substr(name.size() - 12);
  return std::string(last.substr(0, 8));
}

bool IsGatheredLogName(std::string_view name) {
  for (std::string_view word : {"AllDay", "Aggregate", "Global"}) {
    if (name.find(word) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace pelko
