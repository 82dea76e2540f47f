#include "agent/platform/spool_names.h"

#include "agent/util/unicode.h"

namespace pelko {

void NamesForLog(SpoolJob& job, bool utf8) {
  for (std::optional<std::string>* text : {&job.user, &job.document}) {
    if (*text) **text = Utf8ToLogText(**text, utf8);
  }
  for (std::string* text : {&job.details.paper, &job.details.client}) {
    *text = Utf8ToLogText(*text, utf8);
  }
}

}  // namespace pelko
