#pragma once
// Helpers shared by the tests of saved tables, the comparison, the stored view
// and the export.
#include "table/channeltable.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/resource.h>
#include <csignal>

namespace tevrin::test {

// A row as a scan gives it: sub-items 0 to 5.
inline ChannelRow ScanRow(int number, const QString& transponder, const QString& name,
                          const QString& audio = QStringLiteral("rus"),
                          const QString& video = QStringLiteral("MPEG-4"),
                          const QString& coding = QStringLiteral("Conax")) {
  ChannelRow row;
  row.subItems = {QString::number(number), transponder, name, audio, video, coding};
  row.setImage(2, 0);
  row.setImage(5, coding == kFreeToAirText ? 1 : 2);
  return row;
}

inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<cannot open>");
  return f.readAll();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(bytes) == bytes.size();
}

// Stands in for a full disk: writes beyond the limit fail with EFBIG instead
// of killing the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
};

}  // namespace tevrin::test
