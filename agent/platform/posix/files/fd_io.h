// Whole reads and writes on a file descriptor, through short counts and
// interrupted calls, and a folder's listing through its descriptor.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace pelko {

// Writes all of data: 0, or the errno of the failure.
int WriteAll(int fd, std::string_view data);

// Appends the rest of fd to *text: 0 at its end, the errno of a failed
// read, or EFBIG as soon as more than limit bytes were read (a file that
// grew while read), without the chunk that went past.
int ReadUpTo(int fd, uint64_t limit, std::string* text);

// A listing of the folder open as folder, through an open of its own so
// that it has its own place in the folder; closedir ends it. Null when it
// cannot be had, errno telling why.
DIR* ListFolder(int folder);

}  // namespace pelko
