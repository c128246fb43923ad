#pragma once
#include <QIODevice>
#include <QString>

#include <sys/types.h>
#include <chrono>
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

  bool open();  // creates the temporary file; false with errorString() set
  // Buffered (64 KiB): a failed write says why at once or at the flush that
  // finish() makes, always with the system's text.
  QIODevice& device();
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
// The same up to the rename: `file` is opened, written, synced and closed
// (ReplacingFile::finish), and its commit() is left to the caller, so files
// that belong together are all on disk before the first takes its name.
void WriteFileWholeUnnamed(ReplacingFile& file, const std::function<bool(QIODevice&)>& writeAll);

// A whole file the tool reads back, never through a link and never waiting on
// a pipe or a device: only a regular file of at most `maxBytes` is read.
struct RegularFileRead {
  enum class Result { Read, Missing, NotRegularFile, TooLarge, Failed };
  Result result = Result::Failed;
  QByteArray bytes;  // when Read
  QString error;     // the system's text when Failed
};
RegularFileRead ReadRegularFile(const QString& path, qint64 maxBytes);

// Whether `name` is that of a ReplacingFile's temporary file ("x.rec.tmp-Ab3dE9").
bool IsTemporaryFileName(const QString& name);

// Removes the regular file `path` when it is at least `minimumAge` old and no
// process holds it open for writing through a ReplacingFile; whether it went.
bool RemoveIfStale(const QString& path, std::chrono::seconds minimumAge);

// The temporary files in `dir` that a killed run left behind: removed when
// they are old enough and no live writer holds them. Returns how many went.
int RemoveStaleTemporaryFiles(const QString& dir, std::chrono::seconds minimumAge);

// The system call the writes go through; tests put a failing one in its place.
using SystemWriteFunction = ssize_t (*)(int fd, const void* data, size_t size);
SystemWriteFunction& SystemWrite();

// A write beyond the file-size limit (ulimit -f) then fails with "File too
// large" instead of killing the process. Called once at start-up.
void IgnoreFileSizeSignal();

}  // namespace tevrin
