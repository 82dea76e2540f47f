// The names a spooler gives, moved from UTF-8, in which both platforms'
// spoolers read them, to the encoding the logs are begun in now.
#pragma once

#include "agent/platform/spooler.h"

namespace pelko {

// The user, document, paper and client of a job given in UTF-8, in UTF-8
// (utf8) or windows-1252; "?" for what the encoding cannot hold.
void NamesForLog(SpoolJob& job, bool utf8);

}  // namespace pelko
