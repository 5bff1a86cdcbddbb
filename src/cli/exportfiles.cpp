#include "cli/exportfiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <setjmp.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Reads go through a small window of the file: the reader reads headers, directories and
// the first bytes of each image, scattered over the file, rarely more than a few hundred
// bytes in one place.
constexpr std::size_t WindowSize = 2 * 1024;

// Reads `length` bytes at `offset`: one pread on POSIX systems, a seek and a read of the
// unbuffered stream elsewhere.
bool ReadBytes(std::FILE* f, std::uint64_t offset, void* buffer, std::size_t length) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0 && std::fread(buffer, 1, length, f) == length;
#else
  auto* to = static_cast<unsigned char*>(buffer);
  while (length) {
    const ssize_t got = pread(fileno(f), to, length, static_cast<off_t>(offset));
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
    to += got;
    offset += static_cast<std::uint64_t>(got);
    length -= static_cast<std::size_t>(got);
  }
  return true;
#endif
}

// The temporary file being written, removed when the program is interrupted.
char PendingTemporary[4096];
std::atomic<bool> HandlersInstalled{false};

extern "C" void RemovePendingAndStop(int signal) {
  if (PendingTemporary[0]) std::remove(PendingTemporary);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallHandlers() {
  if (HandlersInstalled.exchange(true)) return;
  std::signal(SIGINT, RemovePendingAndStop);
  std::signal(SIGTERM, RemovePendingAndStop);
}

std::string Describe(const std::error_code& error) { return error.message(); }

#ifndef _WIN32
// A mapped file that shrinks under the reader raises SIGBUS on the pages it lost; the
// copy out of the mapping then fails like a read past the end.
thread_local sigjmp_buf* MappedCopyGuard = nullptr;
extern "C" void MappedPageLost(int) {
  if (MappedCopyGuard) siglongjmp(*MappedCopyGuard, 1);
  std::signal(SIGBUS, SIG_DFL);
  std::raise(SIGBUS);
}
bool CopyFromMapping(void* to, const unsigned char* from, std::size_t length) {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = MappedPageLost;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, nullptr) == 0;
  }();
  if (!installed) return false;
  sigjmp_buf guard;
  if (sigsetjmp(guard, 0)) {
    MappedCopyGuard = nullptr;
    return false;
  }
  MappedCopyGuard = &guard;
  std::memcpy(to, from, length);
  MappedCopyGuard = nullptr;
  return true;
}
#endif

}  // namespace

TInputFile::~TInputFile() {
#ifndef _WIN32
  if (FMapping) munmap(FMapping, static_cast<std::size_t>(FSize));
#endif
  if (FFile) std::fclose(FFile);
}

bool TInputFile::Open(const std::string& name, std::string& problem) {
  std::error_code error;
  const fs::file_status status = fs::status(fs::path(name), error);
  if (error || !fs::exists(status)) {
    problem = "no such file";
    return false;
  }
  if (fs::is_directory(status)) {
    problem = "is a folder (-r reads folders)";
    return false;
  }
  if (!fs::is_regular_file(status)) {
    problem = "not a plain file";
    return false;
  }
  FFile = std::fopen(name.c_str(), "rb");
  if (!FFile) {
    problem = std::strerror(errno);
    return false;
  }
  std::setvbuf(FFile, nullptr, _IONBF, 0);  // the window is the buffer
  const std::uintmax_t size = fs::file_size(fs::path(name), error);
  if (error) {
    problem = Describe(error);
    return false;
  }
  FSize = FStored = size;
#ifndef _WIN32
  struct stat info {};
  // st_blocks counts 512-byte units on every system that has it; a file that takes no
  // blocks at all (held inside its inode by some file systems) counts whole.
  if (fstat(fileno(FFile), &info) == 0 && info.st_blocks > 0)
    FStored = std::min<std::uint64_t>(FSize, static_cast<std::uint64_t>(info.st_blocks) * 512);
#endif
#ifndef _WIN32
  // Mapped, the reader's scattered small reads cost no system call each.
  if (FSize && FSize <= SIZE_MAX) {
    void* mapped = mmap(nullptr, static_cast<std::size_t>(FSize), PROT_READ, MAP_PRIVATE, fileno(FFile), 0);
    if (mapped != MAP_FAILED) FMapping = static_cast<unsigned char*>(mapped);
  }
#endif
  return true;
}

TReadAt TInputFile::Reader() {
  return [this](std::uint64_t offset, void* buffer, std::size_t length) { return ReadAt(offset, buffer, length); };
}

bool TInputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset > FSize || length > FSize - offset) return false;
  if (!length) return true;
#ifndef _WIN32
  if (FMapping) return CopyFromMapping(buffer, FMapping + offset, length);
#endif
  if (offset < FWindowAt || offset + length > FWindowAt + FWindowSize) {
    std::uint64_t from = offset, want = std::min<std::uint64_t>(WindowSize, FSize - offset);
    if (length >= WindowSize) {  // large reads (image data) go straight to the buffer
      return ReadBytes(FFile, offset, buffer, length);
    }
    if (want > FWindowCapacity) {  // not zero-filled: every byte is read over at once
      FWindow.reset(new unsigned char[static_cast<std::size_t>(want)]);
      FWindowCapacity = want;
    }
    FWindowAt = from;
    FWindowSize = 0;
    if (!ReadBytes(FFile, from, FWindow.get(), static_cast<std::size_t>(want))) return false;
    FWindowSize = want;
  }
  std::memcpy(buffer, FWindow.get() + (offset - FWindowAt), length);
  return true;
}

std::vector<TInputName> ListInputs(const std::vector<std::string>& paths, bool recurse,
                                   std::vector<std::string>& problems, const std::string& skipFolder) {
  std::vector<TInputName> out;
  std::error_code skipError;
  const fs::path skip = skipFolder.empty() ? fs::path() : fs::weakly_canonical(fs::path(skipFolder), skipError);
  for (const std::string& path : paths) {
    std::error_code error;
    if (!fs::is_directory(fs::path(path), error) || !recurse) {
      out.push_back({path, true, BaseName(path)});  // a folder without -r is refused when it is opened
      continue;
    }
    // Folder by folder, so one that cannot be read is named and its neighbours still
    // walked. Links to folders are not followed (no loops); links to files are.
    std::vector<std::pair<std::string, std::string>> found;  // the name and the name below `path`
    std::vector<fs::path> pending{fs::path(path)};
    while (!pending.empty()) {
      const fs::path dir = std::move(pending.back());
      pending.pop_back();
      fs::directory_iterator walk(dir, error);
      for (const fs::directory_iterator end; !error && walk != end; walk.increment(error)) {
        std::error_code typeError;
        const fs::file_status own = walk->symlink_status(typeError);
        if (fs::is_directory(own)) {
          std::error_code sameError;
          if (skip.empty() || skipError || fs::weakly_canonical(walk->path(), sameError) != skip)
            pending.push_back(walk->path());
        } else if (walk->is_regular_file(typeError)) {
          found.emplace_back(walk->path().string(), walk->path().lexically_relative(fs::path(path)).string());
        }
      }
      if (error) problems.push_back(dir.string() + ": cannot be read: " + Describe(error));
    }
    std::sort(found.begin(), found.end());
    for (auto& name : found) out.push_back({std::move(name.first), false, std::move(name.second)});
  }
  return out;
}

std::string BaseName(const std::string& name) {
#ifdef _WIN32
  const std::size_t cut = name.find_last_of("/\\:");
#else
  const std::size_t cut = name.find_last_of('/');
#endif
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  const char last = dir.back();
#ifdef _WIN32
  if (last == '/' || last == '\\' || last == ':') return dir + name;
  return dir + "\\" + name;
#else
  return last == '/' ? dir + name : dir + "/" + name;
#endif
}

bool PathExists(const std::string& name) {
  std::error_code error;
  return fs::exists(fs::symlink_status(fs::path(name), error));
}

std::string ParentFolder(const std::string& name) {
  const std::size_t cut = BaseName(name).size();
  return cut == name.size() ? std::string() : name.substr(0, name.size() - cut);
}

bool MakeFolder(const std::string& dir, std::string& problem) {
  std::error_code error;
  if (fs::is_directory(fs::path(dir), error)) return true;
  fs::create_directories(fs::path(dir), error);
  if (error) {
    problem = Describe(error);
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& name, const std::vector<unsigned char>& bytes, std::string& problem) {
  InstallHandlers();
  static std::mt19937 random{std::random_device{}()};
  std::error_code statusError;
  const fs::file_status existing = fs::status(fs::path(name), statusError);
  if (fs::exists(existing) && !fs::is_regular_file(existing)) {
    problem = fs::is_directory(existing) ? "is a folder; left as it is" : "exists and is not a plain file (a device or a FIFO); left as it is";
    return false;
  }
  const std::size_t cut = BaseName(name).size();
  const std::string dir = name.substr(0, name.size() - cut);
  // The temporary name does not repeat the file's own: a name near the platform's limit
  // (255 bytes) would pass it with any suffix.
  std::string temporary;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = dir + ".glyphdock-" + std::to_string(random() % 1000000000u) + ".part";
    if (!PathExists(temporary)) break;
  }
  if (temporary.size() >= sizeof PendingTemporary) {
    problem = "the file name is too long";
    return false;
  }
  std::memcpy(PendingTemporary, temporary.c_str(), temporary.size() + 1);
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    problem = std::strerror(errno);
    PendingTemporary[0] = 0;
    return false;
  }
  const bool written = (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  const int writeErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    problem = std::strerror(written ? errno : writeErrno);
    std::remove(temporary.c_str());
    PendingTemporary[0] = 0;
    return false;
  }
  std::error_code error;
  fs::rename(fs::path(temporary), fs::path(name), error);
  if (error) {
    problem = Describe(error);
    std::remove(temporary.c_str());
    PendingTemporary[0] = 0;
    return false;
  }
  PendingTemporary[0] = 0;
  return true;
}

namespace {

const char NoPlainFile[] = "exists and is not a plain file (a device or a FIFO); left as it is";

// Plain descriptor calls for WriteFileInPlace, the same on both systems.
#ifdef _WIN32
int OpenForWriting(const std::string& name, bool exclusive) {
  return _open(name.c_str(), _O_WRONLY | _O_BINARY | _O_CREAT | (exclusive ? _O_EXCL : 0), _S_IREAD | _S_IWRITE);
}
bool IsPlainFile(int fd) {
  struct _stat64 st;
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}
bool Resize(int fd, std::uint64_t size) { return _chsize_s(fd, static_cast<long long>(size)) == 0; }
bool Seek(int fd, std::uint64_t offset) { return _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) >= 0; }
long long WriteSome(int fd, const unsigned char* data, std::size_t length) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(length, 1u << 30)));
}
int CloseDescriptor(int fd) { return _close(fd); }
#else
// Never waits: a FIFO put in the file's place is refused, not waited on.
int OpenForWriting(const std::string& name, bool exclusive) {
  return open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_CREAT | (exclusive ? O_EXCL : 0), 0666);
}
bool IsPlainFile(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
bool Resize(int fd, std::uint64_t size) { return ftruncate(fd, static_cast<off_t>(size)) == 0; }
bool Seek(int fd, std::uint64_t offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }
long long WriteSome(int fd, const unsigned char* data, std::size_t length) { return write(fd, data, length); }
int CloseDescriptor(int fd) { return close(fd); }
#endif

bool WriteAll(int fd, const unsigned char* data, std::size_t length) {
  while (length) {
    const long long wrote = WriteSome(fd, data, length);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      return false;
    }
    data += wrote;
    length -= static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace

bool WriteFileInPlace(const std::string& name, const std::vector<unsigned char>& bytes, std::size_t markLength,
                      std::string& problem) {
  std::error_code statusError;
  const fs::file_status existing = fs::status(fs::path(name), statusError);
  if (fs::exists(existing) && !fs::is_regular_file(existing)) {
    problem = fs::is_directory(existing) ? "is a folder; left as it is" : NoPlainFile;
    return false;
  }
  bool made = true;
  int fd = OpenForWriting(name, true);
  if (fd < 0 && errno == EEXIST) {
    made = false;
    fd = OpenForWriting(name, false);
  }
  if (fd < 0) {
    problem = std::strerror(errno);
    return false;
  }
  if (!IsPlainFile(fd)) {  // put there since the look above
    CloseDescriptor(fd);
    problem = NoPlainFile;
    return false;
  }
  const unsigned char* data = bytes.data();
  const std::size_t mark = std::min(markLength, bytes.size());
  bool written = Resize(fd, 0) && Seek(fd, mark) && WriteAll(fd, data + mark, bytes.size() - mark) && Seek(fd, 0) &&
                 WriteAll(fd, data, mark);
  int failure = errno;
  if (CloseDescriptor(fd) != 0 && written) {  // a delayed write error (a full disk, NFS)
    failure = errno;
    written = false;
  }
  if (!written) {
    problem = std::strerror(failure);
    std::error_code ignored;
    if (made) {
      std::remove(name.c_str());
    } else {
      fs::resize_file(fs::path(name), 0, ignored);
    }
    return false;
  }
  return true;
}

void MakeStandardOutputBinary() {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool LimitThumbnailResources(std::string& problem) {
#ifdef _WIN32
  (void)problem;
  return true;
#else
  auto lower = [&problem](int resource, rlim_t soft, rlim_t hard, const char* what) {
    struct rlimit now {};
    if (getrlimit(resource, &now) != 0) {
      problem = std::string("cannot read the limit of ") + what + ": " + std::strerror(errno);
      return false;
    }
    struct rlimit want = now;
    if (now.rlim_max == RLIM_INFINITY || now.rlim_max > hard) want.rlim_max = hard;
    if (now.rlim_cur == RLIM_INFINITY || now.rlim_cur > soft) want.rlim_cur = soft;
    if (want.rlim_cur > want.rlim_max) want.rlim_cur = want.rlim_max;
    if (setrlimit(resource, &want) != 0) {
      problem = std::string("cannot limit ") + what + ": " + std::strerror(errno);
      return false;
    }
    return true;
  };
  // Past the soft processor limit the system sends SIGXCPU, which ends the program; the
  // hard one a second later ends it for certain. Past the address space, allocations fail
  // (std::bad_alloc ends the program) and mapping the input fails (it is read instead).
  const bool cpu = lower(RLIMIT_CPU, ThumbnailCpuSeconds, ThumbnailCpuSeconds + 1, "processor time");
  const bool memory = lower(RLIMIT_AS, ThumbnailAddressSpace, ThumbnailAddressSpace, "the address space");
  return cpu && memory;
#endif
}
