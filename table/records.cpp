#include "table/records.h"

#include "app/errors.h"
#include "app/paths.h"
#include "app/savefile.h"
#include "table/fulltexts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cstring>

namespace tevrin {
namespace {

void PutField(TChannelRec& rec, RecordField field, const QString& text) {
  const QByteArray bytes = ToCp1251(text, field.maxChars);
  rec.bytes[field.offset] = static_cast<unsigned char>(bytes.size());
  std::memcpy(rec.bytes + field.offset + 1, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString GetField(const unsigned char* bytes, RecordField field) {
  // A length byte above the field's maximum is cut at the field's end.
  const int length = std::min<int>(bytes[field.offset], field.maxChars);
  return FromCp1251(QByteArrayView(bytes + field.offset + 1, length));
}

}  // namespace

TChannelRec EncodeRecord(const SavedRecord& record) {
  TChannelRec rec;
  std::memset(rec.bytes, 0, sizeof rec.bytes);
  PutField(rec, kFieldTransponder, record.transponder);
  PutField(rec, kFieldChannelName, record.channelName);
  PutField(rec, kFieldAudio, record.audio);
  PutField(rec, kFieldVideo, record.video);
  PutField(rec, kFieldCoding, record.coding);
  PutField(rec, kFieldSaveDate, record.saveDate);
  return rec;
}

SavedRecord DecodeRecord(const unsigned char* bytes) {
  SavedRecord r;
  r.transponder = GetField(bytes, kFieldTransponder);
  r.channelName = GetField(bytes, kFieldChannelName);
  r.audio = GetField(bytes, kFieldAudio);
  r.video = GetField(bytes, kFieldVideo);
  r.coding = GetField(bytes, kFieldCoding);
  r.saveDate = GetField(bytes, kFieldSaveDate);
  return r;
}

namespace {
SavedRecord RecordFromRow(const ChannelRow& row, const QString& saveDate) {
  // A row added by hand has no video and encryption texts: they are saved empty.
  return SavedRecord{row.subItem(kSubTransponder), row.subItem(kSubName),   row.subItem(kSubAudio),
                     row.subItem(kSubVideo),       row.subItem(kSubCoding), saveDate};
}
}  // namespace

QString RecordForm(const QString& text, RecordField field) {
  return FromCp1251(ToCp1251(text, field.maxChars));
}

RecordFileStamp StampOf(QByteArrayView recordFileBytes) {
  return {recordFileBytes.size(), QCryptographicHash::hash(recordFileBytes, kStampHash)};
}

QString SaveDateText(const QDate& date) { return date.toString(QStringLiteral("dd.MM.yyyy")); }

QString SavedTablePath(const QString& satellite) {
  return BesideExe(QStringLiteral("Base/") + satellite + QStringLiteral(".rec"));
}

RecordFileStamp ReadSavedRecords(QIODevice& device, const std::function<void(const SavedRecord&)>& onRecord) {
  constexpr qint64 kChunk = qint64(kRecordSize) * 256;
  QByteArray buffer(kChunk, Qt::Uninitialized);
  QCryptographicHash hash(kStampHash);
  RecordFileStamp stamp;
  qint64 filled = 0;
  for (;;) {
    const qint64 got = device.read(buffer.data() + filled, kChunk - filled);
    if (got < 0) throw TevrinError(device.errorString());
    if (got == 0) break;
    hash.addData(QByteArrayView(buffer.constData() + filled, got));
    stamp.size += got;
    filled += got;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.constData());
    qint64 offset = 0;
    for (; offset + kRecordSize <= filled; offset += kRecordSize) onRecord(DecodeRecord(bytes + offset));
    filled -= offset;
    if (filled > 0) std::memmove(buffer.data(), buffer.constData() + offset, static_cast<size_t>(filled));
  }
  stamp.digest = hash.result();
  return stamp;
}

bool ReadSavedTable(const QString& path, std::vector<SavedRecord>& records) {
  records.clear();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // The file closes when it goes out of scope, error or not.
  const RecordFileStamp stamp =
      ReadSavedRecords(file, [&records](const SavedRecord& r) { records.push_back(r); });
  file.close();
  ApplyFullTexts(FullTextsPath(path), stamp, records);
  return true;
}

void WriteSavedTable(const QString& path, const std::vector<ChannelRow>& rows, const QDate& today) {
  const QString date = SaveDateText(today);
  QByteArray table;
  // Grown once: every reallocation copies the table into fresh pages.
  table.reserve(qsizetype(rows.size()) * kRecordSize);
  FullTextsFile texts;
  texts.rows.reserve(rows.size());
  for (const ChannelRow& row : rows) {
    if (row.mark == kMarkGone) continue;
    const SavedRecord record = RecordFromRow(row, date);
    const TChannelRec rec = EncodeRecord(record);
    table.append(reinterpret_cast<const char*>(rec.bytes), kRecordSize);
    texts.rows.push_back(FullTextsOf(record));
  }
  texts.recordFile = StampOf(table);
  const QByteArray companion = EncodeFullTexts(texts);
  // Texts beyond any reader's bound are not kept: the records then stand alone.
  const bool keepTexts = companion.size() <= kMaxFullTextsBytes;

  // A failure to create the directory shows up as the failure to create the file.
  QDir().mkpath(QFileInfo(path).absolutePath());
  const auto writeWhole = [](ReplacingFile& file, const QByteArray& bytes) {
    WriteFileWholeUnnamed(file, [&bytes](QIODevice& device) { return device.write(bytes) == bytes.size(); });
  };
  const QString textsPath = FullTextsPath(path);
  ReplacingFile tableFile(path);
  ReplacingFile textsFile(textsPath);
  writeWhole(tableFile, table);
  if (keepTexts) {
    writeWhole(textsFile, companion);
    // The companion first: should the table's rename then fail, the previous
    // table stays and the new companion, bound to other bytes, is ignored.
    if (!textsFile.commit()) throw TevrinError(textsFile.errorString());
  }
  if (!tableFile.commit()) throw TevrinError(tableFile.errorString());
  // A companion of an earlier save would be stale now; only a file or a link is removed.
  if (!keepTexts && !QFileInfo(textsPath).isDir()) QFile::remove(textsPath);
}

SaveResult SaveSatelliteTable(const QString& satellite, const ChannelTableModel& table, const QDate& today,
                              const std::function<bool(const QDate& modified)>& mayReplace) {
  if (table.count() == 0) return SaveResult::EmptyTable;
  const QString path = SavedTablePath(satellite);
  const QFileInfo existing(path);
  if (existing.exists() && !mayReplace(existing.lastModified().date())) return SaveResult::Kept;
  WriteSavedTable(path, table.rows(), today);
  return SaveResult::Saved;
}

QString ShortDateText(const QDate& date, const QLocale& locale) {
  // The C (and POSIX) locale's short format is "9 Dec 2026", no user's choice.
  if (locale.language() == QLocale::C) return date.toString(QStringLiteral("dd.MM.yyyy"));
  return locale.toString(date, QLocale::ShortFormat);
}

QString OverwriteQuestion(const QString& satellite, const QDate& modified) {
  return QStringLiteral("Файл для спутника ") + satellite + QStringLiteral(",\r") +
         QStringLiteral("созданный ") + ShortDateText(modified, QLocale::system()) +
         QStringLiteral("г., уже существует.\r") + QStringLiteral("Перезаписать его?");
}

}  // namespace tevrin
