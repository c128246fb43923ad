#include "app/savefile.h"

#include "app/errors.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <system_error>
#include <utility>

namespace tevrin {
namespace {

QString SystemErrorText(int error) {
  return QString::fromLocal8Bit(std::error_code(error, std::generic_category()).message());
}

QString RandomSuffix() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  QString suffix;
  for (int i = 0; i < 6; ++i)
    suffix += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)]);
  return suffix;
}

}  // namespace

SystemWriteFunction& SystemWrite() {
  static SystemWriteFunction write = &::write;
  return write;
}

// Gathers the writes in a buffer of its own and hands it to the descriptor in
// large pieces: one system call per row made saving three times slower. QFile's
// buffer reports a write cut short by the file-size limit or a full disk as
// "Unknown error"; here the failing system write itself gives the system's
// text, whether it fails at once or at a later flush.
class ReplacingFile::Device : public QIODevice {
 public:
  static constexpr qint64 kBufferBytes = 64 * 1024;

  explicit Device(int fd) : fd_(fd) {
    if (fd_ >= 0) QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
  }
  ~Device() override { Release(); }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  int fd() const { return fd_; }
  bool failed() const { return failed_; }
  // Writes out what the buffer holds; false with the system's text.
  bool Flush() {
    if (failed_) return false;
    const bool ok = WriteOut(buffer_.constData(), buffer_.size());
    buffer_.clear();
    return ok;
  }
  // Closes the descriptor; false with the system's text when the close reports a late write error.
  bool Release() {
    if (fd_ < 0) return true;
    const int fd = std::exchange(fd_, -1);
    buffer_.clear();
    QIODevice::close();  // a write after this fails as on a device never opened
    if (::close(fd) == 0) return true;
    setErrorString(SystemErrorText(errno));
    return false;
  }

 protected:
  qint64 readData(char* /*data*/, qint64 /*maxSize*/) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    if (failed_) return -1;
    if (buffer_.size() + size > kBufferBytes && !Flush()) return -1;
    if (size >= kBufferBytes) return WriteOut(data, size) ? size : -1;
    if (buffer_.capacity() < kBufferBytes) buffer_.reserve(kBufferBytes);
    buffer_.append(data, size);
    return size;
  }

 private:
  bool WriteOut(const char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
      const ssize_t n = SystemWrite()(fd_, data + done, static_cast<size_t>(size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        setErrorString(SystemErrorText(n < 0 ? errno : EIO));
        failed_ = true;
        return false;
      }
      done += n;
    }
    return true;
  }

  int fd_;
  bool failed_ = false;
  QByteArray buffer_;
};

ReplacingFile::ReplacingFile(QString path) : path_(std::move(path)) {}

ReplacingFile::~ReplacingFile() { cancel(); }

QIODevice& ReplacingFile::device() {
  // A device that is not open refuses every write, before open() and after a failed one.
  if (!device_) device_ = std::make_unique<Device>(-1);
  return *device_;
}

bool ReplacingFile::open() {
  cancel();
  error_.clear();
  int fd = -1;
  // O_EXCL and O_NOFOLLOW: the temporary name is ours alone, never something planted.
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp_ = path_ + QStringLiteral(".tmp-") + RandomSuffix();
    fd = ::open(QFile::encodeName(temp_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error_ = SystemErrorText(errno);
    temp_.clear();
    return false;
  }
  // Held while the file is written: a later start that sweeps away what a
  // killed run left (RemoveStaleTemporaryFiles) passes over a live write.
  ::flock(fd, LOCK_EX | LOCK_NB);
  // The replacement keeps the permissions of the regular file it replaces (not those of a link's target).
  struct stat old = {};
  if (::lstat(QFile::encodeName(path_).constData(), &old) == 0 && S_ISREG(old.st_mode))
    ::fchmod(fd, old.st_mode & 07777);
  device_ = std::make_unique<Device>(fd);
  return true;
}

bool ReplacingFile::finish() {
  if (finished_) return true;
  if (temp_.isEmpty()) {
    if (error_.isEmpty()) error_ = SystemErrorText(EBADF);
    return false;
  }
  bool ok = device_->Flush();
  if (!ok) {
    error_ = device_->errorString();
  } else if (::fsync(device_->fd()) != 0 && errno != EINVAL) {  // EINVAL: a file system without sync
    error_ = SystemErrorText(errno);
    ok = false;
  } else if (!device_->Release()) {
    error_ = device_->errorString();
    ok = false;
  }
  if (!ok) cancel();
  finished_ = ok;
  return ok;
}

bool ReplacingFile::commit() {
  if (!finish()) return false;
  const bool ok = ::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(path_).constData()) == 0;
  if (ok) temp_.clear();
  else error_ = SystemErrorText(errno);
  cancel();
  return ok;
}

void ReplacingFile::cancel() {
  finished_ = false;
  if (device_) device_->Release();
  if (!temp_.isEmpty()) ::unlink(QFile::encodeName(temp_).constData());
  temp_.clear();
}

void WriteFileWholeUnnamed(ReplacingFile& file, const std::function<bool(QIODevice&)>& writeAll) {
  if (!file.open()) throw TevrinError(file.errorString());
  if (!writeAll(file.device())) {
    // The device holds the system's text of the short write ("File too large", "No space left on device").
    const QString text = file.device().errorString();
    file.cancel();
    throw TevrinError(text);
  }
  if (!file.finish()) throw TevrinError(file.errorString());
}

void WriteFileWhole(const QString& path, const std::function<bool(QIODevice&)>& writeAll) {
  ReplacingFile file(path);
  WriteFileWholeUnnamed(file, writeAll);
  if (!file.commit()) throw TevrinError(file.errorString());
}

RegularFileRead ReadRegularFile(const QString& path, qint64 maxBytes) {
  using Result = RegularFileRead::Result;
  RegularFileRead read;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) read.result = Result::Missing;
    else if (error == ELOOP) read.result = Result::NotRegularFile;  // a link
    else read.error = SystemErrorText(error);
    return read;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st = {};
  if (::fstat(fd, &st) != 0) {
    read.error = SystemErrorText(errno);
    return read;
  }
  if (!S_ISREG(st.st_mode)) {
    read.result = Result::NotRegularFile;
    return read;
  }
  if (st.st_size > maxBytes) {
    read.result = Result::TooLarge;
    return read;
  }
  // Read to the end, one byte past the bound at most: the file may have grown.
  QByteArray bytes;
  bytes.resize(static_cast<qsizetype>(st.st_size) + 1);
  qsizetype filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > maxBytes) break;
      bytes.resize(static_cast<qsizetype>(std::min<qint64>(bytes.size() * qint64(2), maxBytes + 1)));
    }
    const ssize_t n = ::read(fd, bytes.data() + filled, static_cast<size_t>(bytes.size() - filled));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      read.error = SystemErrorText(errno);
      return read;
    }
    if (n == 0) break;
    filled += n;
  }
  if (filled > maxBytes) {
    read.result = Result::TooLarge;
    return read;
  }
  bytes.truncate(filled);
  read.bytes = std::move(bytes);
  read.result = Result::Read;
  return read;
}

bool IsTemporaryFileName(const QString& name) {
  static const QRegularExpression pattern(QStringLiteral("\\.tmp-[A-Za-z0-9]{6}$"));
  return pattern.match(name).hasMatch();
}

bool RemoveIfStale(const QString& path, std::chrono::seconds minimumAge) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st = {};
  bool removed = false;
  // A writer alive holds its lock; a killed one's lock went with it.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      std::chrono::seconds(::time(nullptr) - st.st_mtime) >= minimumAge &&
      ::flock(fd, LOCK_EX | LOCK_NB) == 0)
    removed = ::unlink(QFile::encodeName(path).constData()) == 0;
  ::close(fd);
  return removed;
}

int RemoveStaleTemporaryFiles(const QString& dir, std::chrono::seconds minimumAge) {
  int removed = 0;
  const QStringList names =
      QDir(dir).entryList({QStringLiteral("*.tmp-??????")}, QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& name : names)
    if (IsTemporaryFileName(name) && RemoveIfStale(QDir(dir).filePath(name), minimumAge)) ++removed;
  return removed;
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace tevrin
