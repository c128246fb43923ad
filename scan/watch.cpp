#include "scan/watch.h"

#include "app/paths.h"
#include "app/profile.h"

#include <QDir>

namespace tevrin {
namespace {

const QChar kWatchSeparator = QLatin1Char(';');

// "1 новый", "2 новых", "21 новый"; "1 ушел", "5 ушли".
bool TakesSingular(int count) { return count % 10 == 1 && count % 100 != 11; }

}  // namespace

QStringList WatchedSatellites(const QString& settingsPath) {
  QStringList names;
  const QString value = GetPrivateProfileString(kWatchSection, kWatchKey, QString(), settingsPath);
  for (const QString& piece : value.split(kWatchSeparator, Qt::SkipEmptyParts)) {
    const QString name = piece.trimmed();
    if (!name.isEmpty() && !names.contains(name)) names << name;
  }
  return names;
}

bool SaveWatchedSatellites(const QString& settingsPath, const QStringList& names) {
  return WritePrivateProfileString(kWatchSection, kWatchKey, names.join(kWatchSeparator), settingsPath);
}

QString WatchLockPath() { return BesideExe(QStringLiteral("watch.lock")); }

WatchLockResult TryLockWatch(const QString& lockPath) {
  WatchLockResult result;
  auto lock = std::make_unique<QLockFile>(lockPath);
  // Age never makes a lock stale: a run over many slow charts may hold it for
  // long. Only a holder that no longer runs does.
  lock->setStaleLockTime(0);
  if (lock->tryLock(0)) {
    result.lock = std::move(lock);
    return result;
  }
  qint64 pid = 0;
  QString host, application;
  switch (lock->error()) {
    case QLockFile::LockFailedError:
      if (lock->getLockInfo(&pid, &host, &application))
        result.refusal = QStringLiteral("наблюдение уже идёт (процесс %1); этот запуск не начат").arg(pid);
      else result.refusal = QStringLiteral("наблюдение уже идёт; этот запуск не начат");
      break;
    case QLockFile::PermissionError:
      result.refusal =
          QStringLiteral("нет прав на создание файла блокировки: ") + QDir::toNativeSeparators(lockPath);
      break;
    default:
      result.refusal = QStringLiteral("файл блокировки не создан: ") + QDir::toNativeSeparators(lockPath);
      break;
  }
  return result;
}

std::vector<ChangeEntry> ChangeEntriesOf(const std::vector<SatelliteOutcome>& outcomes,
                                         const QDateTime& time) {
  std::vector<ChangeEntry> entries;
  for (const SatelliteOutcome& outcome : outcomes) {
    if (outcome.status != FlowStatus::Ok || !outcome.comparison) continue;
    ChangeEntry entry = ChangeEntryFromRows(outcome.satellite(), time, outcome.changedRows);
    if (entry.newCount + entry.goneCount > 0) entries.push_back(std::move(entry));
  }
  return entries;
}

QString ChangeSummaryText(const ChangeEntry& entry) {
  QStringList counts;
  if (entry.newCount > 0)
    counts << QString::number(entry.newCount) +
                  (TakesSingular(entry.newCount) ? QStringLiteral(" новый") : QStringLiteral(" новых"));
  if (entry.goneCount > 0)
    counts << QString::number(entry.goneCount) +
                  (TakesSingular(entry.goneCount) ? QStringLiteral(" ушел") : QStringLiteral(" ушли"));
  return entry.satellite + QStringLiteral(": ") + counts.join(QStringLiteral(", "));
}

QString ChangeBodyText(const ChangeEntry& entry) {
  QStringList lines;
  const auto add = [&](const std::vector<ChangedChannel>& channels, const QString& mark) {
    for (const ChangedChannel& channel : channels) {
      if (lines.size() == kNotifiedNamesMax) return;
      lines << mark + QLatin1Char(' ') + channel.name;
    }
  };
  add(entry.added, kMarkNew);
  add(entry.gone, kMarkGone);
  // The counts are whole even when the entry's lists were cut.
  const int rest = entry.newCount + entry.goneCount - static_cast<int>(lines.size());
  if (rest > 0) lines << QStringLiteral("и ещё %1").arg(rest);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace tevrin
