// What zeva-ctl and zeva-station share about a secret file (the station
// page's secret for turning): it is read only from a regular file of at
// most kMaxSecretFile bytes, never from a FIFO or a device, which could
// block or never end, and the secret is its first line. Each tool words
// the outcome its own way.
//
// A plain function; any thread.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace zeva_tools {

constexpr size_t kMaxSecretFile = 4096;

struct SecretFile {
  enum class Outcome {
    kRead,        // `secret` holds the first line
    kCannotOpen,  // open() or fstat() failed (`error`)
    kNotRegular,  // a directory, a FIFO, a device...
    kTooLarge,    // more than kMaxSecretFile bytes
    kCannotRead,  // read() failed (`error`)
    kEmptyLine,   // the first line is empty
  };
  Outcome outcome = Outcome::kCannotOpen;
  std::string secret;          // without the line feed, and the CRs and blanks at its end
  int error = 0;               // errno of kCannotOpen and kCannotRead
  bool othersCanRead = false;  // group or others may read the file (known from kNotRegular on)
};

inline SecretFile ReadSecretFile(const std::string& path) {
  SecretFile file;
  // Not blocking: a FIFO must not hold up the start.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) {
    file.error = errno;
    if (fd >= 0) close(fd);
    return file;
  }
  file.othersCanRead = (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
  char text[kMaxSecretFile + 1];
  ssize_t length = 0;
  if (!S_ISREG(status.st_mode)) {
    file.outcome = SecretFile::Outcome::kNotRegular;
  } else if (status.st_size > static_cast<off_t>(kMaxSecretFile)) {
    file.outcome = SecretFile::Outcome::kTooLarge;
  } else if ((length = read(fd, text, sizeof text)) < 0) {
    file.outcome = SecretFile::Outcome::kCannotRead;
    file.error = errno;
  } else if (static_cast<size_t>(length) > kMaxSecretFile) {
    file.outcome = SecretFile::Outcome::kTooLarge;  // it grew since fstat()
  } else {
    file.secret.assign(text, static_cast<size_t>(length));
    file.secret = file.secret.substr(0, file.secret.find('\n'));
    while (!file.secret.empty() && (file.secret.back() == '\r' || file.secret.back() == ' ')) {
      file.secret.pop_back();
    }
    file.outcome = file.secret.empty() ? SecretFile::Outcome::kEmptyLine : SecretFile::Outcome::kRead;
  }
  close(fd);
  return file;
}

}  // namespace zeva_tools
