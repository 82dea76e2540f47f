// Whether the central database changed since a report site was made from
// it, told without reading its rows: every row an agent writes changes
// the sums it keeps in the same transaction (pelko_job_sums), so a digest
// of the sums stands for the rows. Rows put in by hand without their sums
// go unseen until the sums change.
#pragma once

#include <string>

#include "agent/platform/sql.h"

namespace pelko::report {

// A digest of every sum row and of the schema's version; empty where the
// database keeps no sums or the login may not read them: then nothing can
// tell, and the site is made anew.
std::string DatabaseDigest(SqlConnection& connection);

}  // namespace pelko::report
