#include "app/savefile.h"

#include "app/errors.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
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

// Writes straight to the descriptor. QFile's buffer reports a write cut short by the file-size limit or a
// full disk as "Unknown error"; here the failing write itself gives the system's text.
class ReplacingFile::Device : public QIODevice {
 public:
  explicit Device(int fd) : fd_(fd) {
    if (fd_ >= 0) QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
  }
  ~Device() override { Release(); }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  int fd() const { return fd_; }
  bool failed() const { return failed_; }
  // Closes the descriptor; false with the system's text when the close reports a late write error.
  bool Release() {
    if (fd_ < 0) return true;
    const int fd = std::exchange(fd_, -1);
    QIODevice::close();  // a write after this fails as on a device never opened
    if (::close(fd) == 0) return true;
    setErrorString(SystemErrorText(errno));
    return false;
  }

 protected:
  qint64 readData(char* /*data*/, qint64 /*maxSize*/) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    qint64 done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        setErrorString(SystemErrorText(n < 0 ? errno : EIO));
        failed_ = true;
        return -1;
      }
      done += n;
    }
    return done;
  }

 private:
  int fd_;
  bool failed_ = false;
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
  bool ok = !device_->failed();
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

void WriteFileWhole(const QString& path, const std::function<bool(QIODevice&)>& writeAll) {
  ReplacingFile file(path);
  if (!file.open()) throw TevrinError(file.errorString());
  if (!writeAll(file.device())) {
    // The device holds the system's text of the short write ("File too large", "No space left on device").
    const QString text = file.device().errorString();
    file.cancel();
    throw TevrinError(text);
  }
  if (!file.commit()) throw TevrinError(file.errorString());
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace tevrin
