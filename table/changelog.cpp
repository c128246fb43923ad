#include "table/changelog.h"

#include "app/errors.h"
#include "app/paths.h"
#include "app/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace tevrin {
namespace {

const QString kTime = QStringLiteral("time");
const QString kSatellite = QStringLiteral("satellite");
const QString kNewCount = QStringLiteral("newCount");
const QString kGoneCount = QStringLiteral("goneCount");
const QString kNew = QStringLiteral("new");
const QString kGone = QStringLiteral("gone");
const QString kTransponder = QStringLiteral("transponder");
const QString kName = QStringLiteral("name");

QJsonArray ChannelsJson(const std::vector<ChangedChannel>& channels) {
  QJsonArray array;
  for (const ChangedChannel& channel : channels)
    array.append(QJsonObject{{kTransponder, channel.transponder}, {kName, channel.name}});
  return array;
}

bool ChannelsFromJson(const QJsonValue& value, int count, std::vector<ChangedChannel>& out) {
  if (!value.isArray()) return false;
  const QJsonArray array = value.toArray();
  if (array.size() > count || array.size() > kChangeListMax) return false;
  for (const auto& item : array) {
    const QJsonObject object = item.toObject();
    if (!object.value(kTransponder).isString() || !object.value(kName).isString()) return false;
    out.push_back({object.value(kTransponder).toString(), object.value(kName).toString()});
  }
  return true;
}

// A whole non-negative number; JSON keeps every number as a double.
bool CountFromJson(const QJsonValue& value, int& out) {
  const double number = value.toDouble(-1);
  if (!value.isDouble() || number < 0 || number > 1e9 || number != static_cast<int>(number)) return false;
  out = static_cast<int>(number);
  return true;
}

}  // namespace

QString ChangeLogPath() { return BesideExe(QStringLiteral("changes.jsonl")); }

ChangeEntry ChangeEntryFromRows(const QString& satellite, const QDateTime& time,
                                const std::vector<ChannelRow>& rows) {
  ChangeEntry entry;
  entry.time = time;
  entry.satellite = satellite;
  for (const ChannelRow& row : rows) {
    const bool isNew = row.mark == kMarkNew;
    if (!isNew && row.mark != kMarkGone) continue;
    int& count = isNew ? entry.newCount : entry.goneCount;
    std::vector<ChangedChannel>& list = isNew ? entry.added : entry.gone;
    ++count;
    if (static_cast<int>(list.size()) < kChangeListMax)
      list.push_back({row.subItem(kSubTransponder), row.subItem(kSubName)});
  }
  return entry;
}

QByteArray ChangeEntryJson(const ChangeEntry& entry) {
  // The local time with its offset, so the log reads the same after a change of time zone.
  const QDateTime time = entry.time.toOffsetFromUtc(entry.time.offsetFromUtc());
  const QJsonObject object{{kTime, time.toString(Qt::ISODate)}, {kSatellite, entry.satellite},
                           {kNewCount, entry.newCount},         {kGoneCount, entry.goneCount},
                           {kNew, ChannelsJson(entry.added)},   {kGone, ChannelsJson(entry.gone)}};
  return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<ChangeEntry> ChangeEntryFromJson(const QByteArray& line) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(line, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject object = document.object();
  ChangeEntry entry;
  entry.time = QDateTime::fromString(object.value(kTime).toString(), Qt::ISODate);
  entry.satellite = object.value(kSatellite).toString();
  if (!entry.time.isValid() || entry.satellite.isEmpty()) return std::nullopt;
  if (!CountFromJson(object.value(kNewCount), entry.newCount) ||
      !CountFromJson(object.value(kGoneCount), entry.goneCount))
    return std::nullopt;
  if (!ChannelsFromJson(object.value(kNew), entry.newCount, entry.added) ||
      !ChannelsFromJson(object.value(kGone), entry.goneCount, entry.gone))
    return std::nullopt;
  return entry;
}

ChangeLogContents ReadChangeLog(const QString& path) {
  ChangeLogContents contents;
  // Only a plain file of ours is read: a link planted here would show another file's lines.
  const RegularFileRead read = ReadRegularFile(path, kChangeLogReadLimit);
  switch (read.result) {
    case RegularFileRead::Result::Read: break;
    case RegularFileRead::Result::Missing: return contents;
    case RegularFileRead::Result::NotRegularFile:
      contents.damage = QStringLiteral("это не обычный файл");
      return contents;
    case RegularFileRead::Result::TooLarge:
      contents.damage = QStringLiteral("файл больше %1 МиБ").arg(kChangeLogReadLimit / (1024 * 1024));
      return contents;
    case RegularFileRead::Result::Failed: contents.damage = read.error; return contents;
  }
  const QByteArray& bytes = read.bytes;
  int lineNumber = 0;
  for (const QByteArray& line : bytes.split('\n')) {
    ++lineNumber;
    if (line.trimmed().isEmpty()) continue;
    std::optional<ChangeEntry> entry = ChangeEntryFromJson(line);
    if (!entry) {
      contents.entries.clear();
      contents.damage = QStringLiteral("строка %1 не читается").arg(lineNumber);
      return contents;
    }
    contents.entries.push_back(std::move(*entry));
  }
  return contents;
}

QString SetChangeLogAside(const QString& path, const QDateTime& now) {
  const QString stem = path + QStringLiteral(".damaged-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
  for (int attempt = 0; attempt < 100; ++attempt) {
    QString target = attempt == 0 ? stem : stem + QLatin1Char('-') + QString::number(attempt);
    // A link is renamed as itself; nothing is ever moved over an existing name.
    if (QFileInfo(target).exists() || QFileInfo(target).isSymLink()) continue;
    if (QFile::rename(path, target)) return target;
    return {};
  }
  return {};
}

ChangeLogAppend AppendToChangeLog(const QString& path, const std::vector<ChangeEntry>& entries,
                                  const QDateTime& now, qint64 maxBytes) {
  ChangeLogAppend result;
  ChangeLogContents contents = ReadChangeLog(path);
  if (!contents.damage.isEmpty()) {
    result.damage = contents.damage;
    result.setAside = SetChangeLogAside(path, now);
    if (result.setAside.isEmpty())
      throw TevrinError(QStringLiteral("журнал изменений повреждён (%1) и не переименован: %2")
                            .arg(contents.damage, QDir::toNativeSeparators(path)));
  }
  if (entries.empty()) return result;

  std::vector<QByteArray> lines;
  for (const ChangeEntry& entry : contents.entries) lines.push_back(ChangeEntryJson(entry) + '\n');
  for (const ChangeEntry& entry : entries) lines.push_back(ChangeEntryJson(entry) + '\n');
  qint64 total = 0;
  for (const QByteArray& line : lines) total += line.size();
  size_t first = 0;
  while (total > maxBytes && lines.size() - first > 1) total -= lines[first++].size();

  WriteFileWhole(path, [&](QIODevice& device) {
    for (size_t i = first; i < lines.size(); ++i)
      if (device.write(lines[i]) != lines[i].size()) return false;
    return true;
  });
  return result;
}

std::vector<ChangeEntry> NewestFirst(std::vector<ChangeEntry> entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ChangeEntry& a, const ChangeEntry& b) { return a.time > b.time; });
  return entries;
}

}  // namespace tevrin
