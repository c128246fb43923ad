#pragma once
#include "table/channeltable.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace tevrin {

// The change log of the watched satellites: one entry per satellite whose
// comparison found new or gone channels in one run.
//
// File: "changes.jsonl" in the data folder, UTF-8, one JSON object a line in
// the order written (oldest first), its keys in alphabetical order:
//   {"gone":[{"name":"Первый канал","transponder":"11804 V.DVB-S2"}],"goneCount":1,
//    "new":[{"name":"Россия 1","transponder":"11804 V.DVB-S2"}],"newCount":1,
//    "satellite":"Hot Bird 13.0°E","time":"2026-05-01T03:30:12+03:00"}
// Times are local, to the second, with their offset from UTC. Counts are
// whole; the lists hold at most kChangeListMax channels each.

struct ChangedChannel {
  QString transponder;
  QString name;
  bool operator==(const ChangedChannel&) const = default;
};

struct ChangeEntry {
  QDateTime time;
  QString satellite;
  int newCount = 0;
  int goneCount = 0;
  std::vector<ChangedChannel> added;  // rows the comparison marked new, in table order
  std::vector<ChangedChannel> gone;   // rows it appended as gone
  bool operator==(const ChangeEntry&) const = default;
};

constexpr int kChangeListMax = 500;                      // channels kept per list of one entry
constexpr qint64 kChangeLogMaxBytes = 1024 * 1024;       // older entries go beyond this
constexpr qint64 kChangeLogReadLimit = 8 * 1024 * 1024;  // a larger file is not ours: damaged

QString ChangeLogPath();  // changes.jsonl beside the other files of the tool

// The entry of a compared table: its rows marked "+" and "-".
ChangeEntry ChangeEntryFromRows(const QString& satellite, const QDateTime& time,
                                const std::vector<ChannelRow>& rows);

QByteArray ChangeEntryJson(const ChangeEntry& entry);  // one line, without its "\n"
// Nothing for a line that is not a whole, sound entry.
std::optional<ChangeEntry> ChangeEntryFromJson(const QByteArray& line);

struct ChangeLogContents {
  std::vector<ChangeEntry> entries;  // oldest first
  QString damage;                    // why the file cannot be read as a log; empty when sound or absent
};

// Reads the log; a missing file is an empty log. A link, a folder, an
// oversized file or any line that is not a sound entry makes it damaged:
// `damage` says which, and no entry is returned.
ChangeLogContents ReadChangeLog(const QString& path);

// Renames a damaged log to "<name>.damaged-YYYYMMDD-HHMMSS" (plus a number
// when taken) and returns that path; empty when the rename failed.
QString SetChangeLogAside(const QString& path, const QDateTime& now);

struct ChangeLogAppend {
  QString damage;    // the damage of the log found there, which was set aside
  QString setAside;  // where it went; empty when it could not be moved (the log is then not written)
};

// Adds the entries after those already logged and drops the oldest until the
// file fits in `maxBytes` (the newest entry always stays). The whole file is
// replaced atomically, never through a link. A damaged log is set aside first
// and a new one started. Throws TevrinError with the system's text when
// writing fails.
ChangeLogAppend AppendToChangeLog(const QString& path, const std::vector<ChangeEntry>& entries,
                                  const QDateTime& now, qint64 maxBytes = kChangeLogMaxBytes);

// The entries newest first (a run's own entries keep their catalogue order).
std::vector<ChangeEntry> NewestFirst(std::vector<ChangeEntry> entries);

}  // namespace tevrin
