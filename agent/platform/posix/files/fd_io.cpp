#include "agent/platform/posix/files/fd_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pelko {

int WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t wrote = write(fd, data.data(), data.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return errno;
    if (wrote == 0) return EIO;
    data.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return 0;
}

int ReadUpTo(int fd, uint64_t limit, std::string* text) {
  char chunk[1 << 16];
  uint64_t total = 0;
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    total += static_cast<uint64_t>(got);
    if (total > limit) return EFBIG;
    text->append(chunk, static_cast<std::size_t>(got));
  }
}

DIR* ListFolder(int folder) {
  const int own = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) return nullptr;
  DIR* dir = fdopendir(own);
  if (dir == nullptr) {
    const int error = errno;
    close(own);
    errno = error;
  }
  return dir;
}

}  // namespace pelko
