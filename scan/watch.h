#pragma once
#include "scan/satelliteflow.h"
#include "table/changelog.h"

#include <QDateTime>
#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace tevrin {

// The satellites the command line's watch goes over, kept in MyIni.ini beside
// the window's own sections: section "Watch", key "Satellites", the catalogue
// names in the order added, separated by ";". The window reads and writes its
// keys one by one and leaves every other section as it is.
inline const QString kWatchSection = QStringLiteral("Watch");
inline const QString kWatchKey = QStringLiteral("Satellites");

// The names as stored, blanks around each removed, without repeats; empty
// when the file, the section or the key is missing.
QStringList WatchedSatellites(const QString& settingsPath);
// Replaces the list; false when the file cannot be written.
bool SaveWatchedSatellites(const QString& settingsPath, const QStringList& names);

// One watch run at a time per data folder. The lock file names the process
// that holds it; a lock left by a process that is gone (killed, crashed) is
// stale and taken over, whatever its age, so a long run is never taken for a
// dead one.
QString WatchLockPath();  // watch.lock beside the other files of the tool
struct WatchLockResult {
  std::unique_ptr<QLockFile> lock;  // held while it lives; empty when refused
  QString refusal;                  // one line for the user when refused
};
WatchLockResult TryLockWatch(const QString& lockPath);

// The change log's entries of a run: one per satellite whose comparison found
// new or gone rows, in the order of the outcomes.
std::vector<ChangeEntry> ChangeEntriesOf(const std::vector<SatelliteOutcome>& outcomes,
                                         const QDateTime& time);

// The notification of one entry. Summary: "Hot Bird 13.0°E: 2 новых, 1 ушел"
// (each count only when above 0). Body: up to five channel names, new ones
// ("+ name") before gone ones ("- name"), one a line, then "и ещё N" for the
// rest.
QString ChangeSummaryText(const ChangeEntry& entry);
QString ChangeBodyText(const ChangeEntry& entry);
constexpr int kNotifiedNamesMax = 5;

}  // namespace tevrin
