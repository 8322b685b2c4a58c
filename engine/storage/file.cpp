#include "engine/storage/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <system_error>
#include <unistd.h>

#include "engine/formats/text_helpers.h"

namespace engine {

namespace {

[[noreturn]] void throw_error(const std::string& what, int err) {
  std::string text = std::system_category().message(err);
  throw file_error((what.empty() ? "NULL" : what) + ": " + (text.empty() ? "NULL" : text));
}

}  // namespace

std::filesystem::path local_path(const std::string& utf8_path) {
  try {
    return ToLocalFilePath(utf8_path);
  } catch (const std::runtime_error&) {
    return std::filesystem::path(utf8_path);
  }
}

struct file::impl {
  int fd = -1;
  // The path it was opened under and what it names then, to tell whether
  // the path still names it.
  std::string path;
  std::string local;
  dev_t device = 0;
  ino_t inode = 0;
};

file::file() : m_impl(std::make_unique<impl>()) {}

file::file(const std::string& utf8_path, int mode) : file() { open(utf8_path, mode); }

file::~file() { close(); }

void file::open(const std::string& utf8_path, int mode) {
  std::string local = local_path(utf8_path).string();
  int flags = O_CLOEXEC;
  if ((mode & out) == 0) flags |= O_RDONLY;
  else flags |= ((mode & in) ? O_RDWR : O_WRONLY) | ((mode & existing) ? 0 : O_CREAT);
  int fd;
  do fd = ::open(local.c_str(), flags, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) throw_error(utf8_path, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    throw_error(utf8_path, err);
  }
  close();
  m_impl->fd = fd;
  m_impl->path = utf8_path;
  m_impl->local = std::move(local);
  m_impl->device = st.st_dev;
  m_impl->inode = st.st_ino;
}

void file::check_path() const {
  if (m_impl->fd < 0) return;
  struct stat st;
  if (::stat(m_impl->local.c_str(), &st) != 0) throw_error(m_impl->path, errno);
  if (st.st_dev != m_impl->device || st.st_ino != m_impl->inode) throw_error(m_impl->path, ENOENT);
}

void file::close() {
  if (m_impl->fd < 0) return;
  ::close(m_impl->fd);
  m_impl->fd = -1;
}

namespace {

// Repeats a POSIX read or write call until `n` bytes are done or it reports
// the end; `call(done)` moves the bytes from offset `done` on.
template <class Call>
file::size_type transfer(file::size_type n, const char* what, Call call) {
  file::size_type done = 0;
  while (done < n) {
    ssize_t r = call(done);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw_error(what, errno);
    }
    if (r == 0) break;
    done += r;
  }
  return done;
}

}  // namespace

file::size_type file::read(char* buf, size_type n) {
  return transfer(n, "file::read", [&](size_type done) {
    return ::read(m_impl->fd, buf + done, static_cast<size_t>(n - done));
  });
}

file::size_type file::write(const char* buf, size_type n) {
  return transfer(n, "file::write", [&](size_type done) {
    return ::write(m_impl->fd, buf + done, static_cast<size_t>(n - done));
  });
}

file::size_type file::read_at(char* buf, size_type n, size_type pos) {
  return transfer(n, "file::read", [&](size_type done) {
    return ::pread(m_impl->fd, buf + done, static_cast<size_t>(n - done), static_cast<off_t>(pos + done));
  });
}

file::size_type file::write_at(const char* buf, size_type n, size_type pos) {
  return transfer(n, "file::write", [&](size_type done) {
    return ::pwrite(m_impl->fd, buf + done, static_cast<size_t>(n - done), static_cast<off_t>(pos + done));
  });
}

file::size_type file::write_at(std::span<const std::span<const char>> bufs, size_type pos) {
  // A bounded batch of buffers per call, on the stack; a short write goes
  // on from the byte where it stopped.
  constexpr std::size_t most = 64;
  iovec v[most];
  size_type done = 0;
  std::size_t first = 0;      // first buffer not written in full
  std::size_t skip = 0;       // bytes of it already written
  while (first < bufs.size()) {
    std::size_t count = 0;
    for (std::size_t i = first; i < bufs.size() && count < most; ++i, ++count) {
      const std::size_t from = i == first ? skip : 0;
      v[count].iov_base = const_cast<char*>(bufs[i].data() + from);
      v[count].iov_len = bufs[i].size() - from;
    }
    const ssize_t r = ::pwritev(m_impl->fd, v, static_cast<int>(count), static_cast<off_t>(pos + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      throw_error("file::write", errno);
    }
    if (r == 0) break;
    done += r;
    for (std::size_t left = static_cast<std::size_t>(r); left > 0;) {
      const std::size_t rest = bufs[first].size() - skip;
      if (left < rest) {
        skip += left;
        break;
      }
      left -= rest;
      skip = 0;
      ++first;
    }
    while (first < bufs.size() && bufs[first].size() == skip) {
      skip = 0;
      ++first;
    }
  }
  return done;
}

void file::seek(size_type pos) {
  if (::lseek(m_impl->fd, static_cast<off_t>(pos), SEEK_SET) < 0) throw_error("file::seek", errno);
}

file::size_type file::tell() {
  off_t pos = ::lseek(m_impl->fd, 0, SEEK_CUR);
  if (pos < 0) throw_error("file::tell", errno);
  return pos;
}

}  // namespace engine
