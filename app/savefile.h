#pragma once
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

namespace tevrin {

// A file written under a temporary name beside `path` and renamed over `path`
// only by commit(). The rename replaces whatever has that name, a symbolic
// link included: a link planted at `path` is itself replaced by the new file
// and the file it points to is never written. The directories of `path` are
// taken as they are, so a Base directory that is a link still works.
// Replacing an existing file keeps its permission bits; a new file gets
// 0666 less the umask. Without a commit the temporary file is removed.
class ReplacingFile {
 public:
  explicit ReplacingFile(QString path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool open();          // creates the temporary file; false with errorString() set
  QIODevice& device();  // unbuffered: a failed write says why at once
  // Writes out, syncs and closes the temporary file without renaming it, so
  // that files that belong together are all on disk before the first takes
  // its name. False with errorString() set, the temporary file dropped.
  bool finish();
  bool commit();  // finish() when not done yet, then the rename; false with errorString() set
  void cancel();  // drops the temporary file
  // The system's text of the first failure ("Permission denied", "File too large", ...).
  QString errorString() const { return error_; }

 private:
  class Device;
  QString path_;
  QString temp_;
  std::unique_ptr<Device> device_;
  QString error_;
  bool finished_ = false;
};

// Writes a file whole through a ReplacingFile: a full disk or a broken write
// never leaves a half file behind. `writeAll` writes into the device and
// returns false at the first short write. Throws TevrinError with the
// system's text.
void WriteFileWhole(const QString& path, const std::function<bool(QIODevice&)>& writeAll);

// A write beyond the file-size limit (ulimit -f) then fails with "File too
// large" instead of killing the process. Called once at start-up.
void IgnoreFileSizeSignal();

}  // namespace tevrin
