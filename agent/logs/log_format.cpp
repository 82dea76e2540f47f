#include "agent/logs/log_format.h"

#include <cstring>

#include "agent/util/coding.h"

namespace pelko {

namespace {

constexpr std::string_view kEntryOpen = "<entry> <date>";
constexpr std::string_view kEntryClose = "</entry>";
constexpr std::string_view kDetailsOpen = " <copies>";
// What follows each of the seven details, in order.
constexpr std::string_view kAfterDetail[7] = {
    "</copies><colorpages>", "</colorpages><monopages>", "</monopages> <sides>", "</sides><paper>",
    "</paper><client>",      "</client><colorfrom>",     "</colorfrom></entry>"};

std::string_view* DetailSlots(EntryDetails& d, int i) {
  std::string_view* slots[7] = {&d.copies, &d.colorPages, &d.monoPages, &d.sides,
                                &d.paper,  &d.client,     &d.colorFrom};
  return slots[i];
}
// What follows each of the eight values of a job entry, in order.
constexpr std::string_view kAfterValue[8] = {
    "</date><time>",   "</time> <id>",   "</id><user>",     "</user> <printer>",
    "</printer><doc>", "</doc> <pages>", "</pages> <cost>", "</cost></entry>"};

bool IsBadByte(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&' || c == '\'' || c == '"';
}

// Per byte: 0 may stand in a value, 1 "<" ends a value, 2 has to go.
struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    for (int c = 0; c < 0x20; ++c) of[c] = 2;
    of[0x7F] = of['>'] = of['&'] = of['\''] = of['"'] = 2;
    of['<'] = 1;
  }
};
constexpr ByteClasses kByteClasses;

template <std::size_t N>
bool At(const char* p, const char* end, const char (&piece)[N]) {
  return static_cast<std::size_t>(end - p) >= N - 1 && std::memcmp(p, piece, N - 1) == 0;
}

// One value from p up to the first "<", which must begin piece; p moves
// behind the piece. Every file is read whole at each pass, so this is the
// loop that the cost of a pass rests on.
template <std::size_t N>
bool Value(const char*& p, const char* end, const char (&piece)[N], std::string_view* value,
           bool* clean) {
  const char* begin = p;
  uint8_t kind = 0;
  uint8_t stray = 0;
  while (p < end && (kind = kByteClasses.of[static_cast<unsigned char>(*p)]) != 1) {
    stray |= kind;
    ++p;
  }
  if (p == end || !At(p, end, piece)) return false;
  *value = std::string_view(begin, static_cast<std::size_t>(p - begin));
  *clean = *clean && stray == 0;
  p += N - 1;
  return true;
}

// The eight values of the entry at text[at]; end is where it stops.
bool ReadEntryFast(std::string_view text, std::size_t at, LogEntry* entry, std::size_t* end) {
  const char* p = text.data() + at;
  const char* stop = text.data() + text.size();
  if (!At(p, stop, "<entry> <date>")) return false;
  p += kEntryOpen.size();
  bool clean = true;
  if (!Value(p, stop, "</date><time>", &entry->date, &clean) ||
      !Value(p, stop, "</time> <id>", &entry->time, &clean) ||
      !Value(p, stop, "</id><user>", &entry->id, &clean) ||
      !Value(p, stop, "</user> <printer>", &entry->user, &clean) ||
      !Value(p, stop, "</printer><doc>", &entry->printer, &clean) ||
      !Value(p, stop, "</doc> <pages>", &entry->doc, &clean) ||
      !Value(p, stop, "</pages> <cost>", &entry->pages, &clean) ||
      !Value(p, stop, "</cost>", &entry->cost, &clean)) {
    return false;
  }
  if (At(p, stop, "</entry>")) {
    p += kEntryClose.size();
  } else if (!At(p, stop, " <copies>")) {
    return false;
  } else {
    p += kDetailsOpen.size();
    EntryDetails& d = entry->details;
    if (!Value(p, stop, "</copies><colorpages>", &d.copies, &clean) ||
        !Value(p, stop, "</colorpages><monopages>", &d.colorPages, &clean) ||
        !Value(p, stop, "</monopages> <sides>", &d.monoPages, &clean) ||
        !Value(p, stop, "</sides><paper>", &d.sides, &clean) ||
        !Value(p, stop, "</paper><client>", &d.paper, &clean) ||
        !Value(p, stop, "</client><colorfrom>", &d.client, &clean) ||
        !Value(p, stop, "</colorfrom></entry>", &d.colorFrom, &clean)) {
      return false;
    }
    entry->hasDetails = true;
  }
  const std::size_t length = static_cast<std::size_t>(p - (text.data() + at));
  entry->whole = text.substr(at, length);
  entry->clean = clean;
  *end = at + length;
  return true;
}

// Where piece starts in text[from, limit), or npos: never a look beyond
// limit, so that a file of entries that are never closed costs no more
// than its size.
std::size_t FindBefore(std::string_view text, std::string_view piece, std::size_t from,
                       std::size_t limit) {
  if (from > limit) return std::string_view::npos;
  log_format_detail::searchedBytes += limit - from;
  return text.substr(0, limit).find(piece, from);
}

// The same for an entry whose values hold stray "<": each value runs to its
// own closing piece, all before limit.
bool ReadEntrySlow(std::string_view text, std::size_t at, std::size_t limit, LogEntry* entry,
                   std::size_t* end) {
  if (text.compare(at, kEntryOpen.size(), kEntryOpen) != 0) return false;
  std::string_view* values[8] = {&entry->date,    &entry->time, &entry->id,    &entry->user,
                                 &entry->printer, &entry->doc,  &entry->pages, &entry->cost};
  std::size_t pos = at + kEntryOpen.size();
  for (int i = 0; i < 7; ++i) {
    const std::size_t close = FindBefore(text, kAfterValue[i], pos, limit);
    if (close == std::string_view::npos) return false;
    *values[i] = text.substr(pos, close - pos);
    pos = close + kAfterValue[i].size();
  }
  // The cost ends at the entry's end or at its details, whichever comes first.
  const std::size_t close = FindBefore(text, "</cost>", pos, limit);
  if (close == std::string_view::npos) return false;
  entry->cost = text.substr(pos, close - pos);
  pos = close + 7;
  if (text.compare(pos, kEntryClose.size(), kEntryClose) == 0) {
    pos += kEntryClose.size();
  } else if (text.compare(pos, kDetailsOpen.size(), kDetailsOpen) == 0) {
    pos += kDetailsOpen.size();
    for (int i = 0; i < 7; ++i) {
      const std::size_t end = FindBefore(text, kAfterDetail[i], pos, limit);
      if (end == std::string_view::npos) return false;
      *DetailSlots(entry->details, i) = text.substr(pos, end - pos);
      pos = end + kAfterDetail[i].size();
    }
    entry->hasDetails = true;
  } else {
    return false;
  }
  entry->whole = text.substr(at, pos - at);
  entry->clean = false;
  *end = pos;
  return true;
}

bool ValuesClean(const LogEntry& e) {
  for (std::string_view v : {e.date, e.time, e.id, e.user, e.printer, e.doc, e.pages, e.cost}) {
    if (!IsCleanLogText(v)) return false;
  }
  if (!e.hasDetails) return true;
  const EntryDetails& d = e.details;
  for (std::string_view v :
       {d.copies, d.colorPages, d.monoPages, d.sides, d.paper, d.client, d.colorFrom}) {
    if (!IsCleanLogText(v)) return false;
  }
  return true;
}

}  // namespace

std::string FormatLogDate(const LocalTime& t) {
  std::string out = std::to_string(t.year);
  out += '/';
  AppendTwoDigits(out, t.month);
  out += '/';
  AppendTwoDigits(out, t.day);
  return out;
}

std::string DailyLogHead(std::string_view printerName, const LocalTime& date, bool utf8) {
  std::string head(utf8 ? kXmlDeclarationUtf8 : kXmlDeclaration);
  head += kLocalStylesheet;
  head += "<log> <type>";
  head += CleanLogText(printerName);
  head += "</type> <date>";
  head += FormatLogDate(date);
  head += "</date>";
  return head;
}

std::string GlobalLogHead(const LocalTime& date, std::string_view stylesheet, bool utf8) {
  std::string head(utf8 ? kXmlDeclarationUtf8 : kXmlDeclaration);
  head += stylesheet;
  head += "<log><type>Global Log</type><date>";
  head += FormatLogDate(date);
  head += "</date>";
  return head;
}

bool DeclaresUtf8(std::string_view logText) {
  // Only the declaration itself, which ends at the first "?>".
  const std::string_view head = logText.substr(0, logText.find("?>"));
  if (head.substr(0, 5) != "<?xml") return false;
  const std::size_t at = head.find("encoding=");
  if (at == std::string_view::npos || at + 10 > head.size()) return false;
  std::string name;
  for (char c : head.substr(at + 10)) {
    if (c == '\'' || c == '"') break;
    name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  return name == "utf-8" || name == "utf8";
}

std::string FormatLogTime(const LocalTime& t) {
  std::string out;
  AppendTwoDigits(out, t.hour);
  out += ':';
  AppendTwoDigits(out, t.minute);
  out += ':';
  AppendTwoDigits(out, t.second);
  return out;
}

bool IsCleanLogText(std::string_view text) {
  for (const char c : text) {
    if (IsBadByte(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string CleanLogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (!IsBadByte(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

int32_t LeadingInt(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  uint32_t value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10u + static_cast<uint32_t>(text[at] - '0');
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}

std::size_t ReadLogEntries(std::string_view text, std::vector<LogEntry>* entries) {
  entries->clear();
  std::size_t pos = text.find(kEntryMarker);
  std::size_t tail = std::string_view::npos;
  while (pos != std::string_view::npos) {
    if (text.compare(pos, kTotalMarker.size(), kTotalMarker) == 0) {
      tail = pos;
      break;
    }
    LogEntry entry;
    std::size_t end = 0;
    if (ReadEntryFast(text, pos, &entry, &end)) {
      entries->push_back(entry);
      pos = text.compare(end, kEntryMarker.size(), kEntryMarker) == 0
                ? end
                : text.find(kEntryMarker, end);
      continue;
    }
    std::size_t next = text.find(kEntryMarker, pos + 1);
    const std::size_t limit = next == std::string_view::npos ? text.size() : next;
    if (ReadEntrySlow(text, pos, limit, &entry, &end)) {
      entry.clean = ValuesClean(entry);
      entries->push_back(entry);
    }
    pos = next;
  }
  return tail;
}

bool ReadTotalEntry(std::string_view text, std::size_t tail, int32_t* total) {
  if (tail == std::string_view::npos || tail > text.size()) return false;
  const std::string_view rest = text.substr(tail);
  const std::size_t open = rest.find("<cost>");
  const std::size_t close = rest.find("</cost>");
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return false;
  }
  *total = LeadingInt(rest.substr(open + 6, close - open - 6));
  return true;
}

int32_t EntryPages(const LogEntry& entry) {
  return entry.clean ? LeadingInt(entry.pages) : LeadingInt(CleanLogText(entry.pages));
}

int32_t EntryCost(const LogEntry& entry) {
  return entry.clean ? LeadingInt(entry.cost) : LeadingInt(CleanLogText(entry.cost));
}

void EntryAppender::Add(const LogEntry& entry) {
  if (!entry.clean) {
    Flush();
    AppendJobEntry(out, entry);
    return;
  }
  const char* begin = entry.whole.data();
  if (runEnd != begin) {
    Flush();
    runBegin = begin;
  }
  runEnd = begin + entry.whole.size();
}

void EntryAppender::AddChanged(const LogEntry& entry, int32_t pages, int32_t cost,
                               const EntryDetails* details) {
  Flush();
  const std::string pagesText = std::to_string(pages), costText = std::to_string(cost);
  JobEntry changed = entry;
  changed.pages = pagesText;
  changed.cost = costText;
  if (details != nullptr) {
    changed.hasDetails = true;
    changed.details = *details;
  }
  AppendJobEntry(out, changed);
}

void EntryAppender::Flush() {
  if (runBegin != nullptr) out.append(runBegin, static_cast<std::size_t>(runEnd - runBegin));
  runBegin = runEnd = nullptr;
}

void AppendJobEntry(std::string& out, const JobEntry& entry) {
  const std::string_view values[8] = {entry.date,    entry.time, entry.id,    entry.user,
                                      entry.printer, entry.doc,  entry.pages, entry.cost};
  auto append = [&out](std::string_view value) {
    if (IsCleanLogText(value)) {
      out += value;
    } else {
      out += CleanLogText(value);
    }
  };
  out += kEntryOpen;
  for (int i = 0; i < 7; ++i) {
    append(values[i]);
    out += kAfterValue[i];
  }
  append(entry.cost);
  if (!entry.hasDetails) {
    out += kAfterValue[7];
    return;
  }
  out += "</cost>";
  out += kDetailsOpen;
  EntryDetails copy = entry.details;
  for (int i = 0; i < 7; ++i) {
    append(*DetailSlots(copy, i));
    out += kAfterDetail[i];
  }
}

void AppendTotalEntry(std::string& out, int32_t total) {
  out += kTotalCostMarker;
  out += std::to_string(total);
  out += "</cost></entry>";
}

}  // namespace pelko
