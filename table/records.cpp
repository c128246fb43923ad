#include "table/records.h"

#include "app/errors.h"
#include "app/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cstring>

namespace tevrin {
namespace {

constexpr char kCodePage[] = "windows-1251";
// What ICU writes for a character the code page lacks; the saved tables use "?".
constexpr char kIcuSubstitute = '\x1a';

QStringEncoder& Encoder() {
  thread_local QStringEncoder encoder(kCodePage, QStringConverter::Flag::Stateless);
  return encoder;
}

// Windows-1251 is one byte per character both ways, so reading goes through a
// table of the 256 characters, taken once from the converter.
const std::array<char16_t, 256>& DecodeTable() {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    QStringDecoder decoder(kCodePage, QStringConverter::Flag::Stateless);
    for (int b = 0; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      const QString one = decoder.decode(QByteArrayView(&byte, 1));
      t[static_cast<size_t>(b)] = one.size() == 1 ? one[0].unicode() : char16_t(0xFFFD);
    }
    return t;
  }();
  return table;
}

int CodePointCount(QStringView text) {
  int n = 0;
  for (qsizetype i = 0; i < text.size(); ++i, ++n)
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
  return n;
}

// Character by character, for texts holding something the code page lacks.
// ICU drops some invisible characters and writes its own substitute for the
// others; either way the saved text gets one "?" per character.
QByteArray EncodeEachChar(QStringView text, int maxChars) {
  QByteArray out;
  for (qsizetype i = 0; i < text.size() && out.size() < maxChars;) {
    qsizetype len = 1;
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) len = 2;
    const QStringView ch = text.mid(i, len);
    const QByteArray one = Encoder().encode(ch);
    const bool mapped = one.size() == 1 && (one[0] != kIcuSubstitute || ch == u"\x1a");
    out.append(mapped ? one[0] : '?');
    i += len;
  }
  return out;
}

void PutField(TChannelRec& rec, RecordField field, const QString& text) {
  const QByteArray bytes = ToCp1251(text, field.maxChars);
  rec.bytes[field.offset] = static_cast<unsigned char>(bytes.size());
  std::memcpy(rec.bytes + field.offset + 1, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString GetField(const unsigned char* bytes, RecordField field) {
  int length = bytes[field.offset];
  if (length > field.maxChars) length = field.maxChars;
  const auto& table = DecodeTable();
  QString text(length, Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  for (int i = 0; i < length; ++i) out[i] = table[bytes[field.offset + 1 + i]];
  return text;
}

}  // namespace

QByteArray ToCp1251(const QString& text, int maxChars) {
  const QByteArray whole = Encoder().encode(text);
  // Every character mapped: one byte each and no substitute among them.
  if (!whole.contains(kIcuSubstitute) && whole.size() == CodePointCount(text))
    return whole.left(maxChars);
  return EncodeEachChar(text, maxChars);
}

QString FromCp1251(const QByteArray& bytes) {
  const auto& table = DecodeTable();
  QString text(bytes.size(), Qt::Uninitialized);
  char16_t* out = reinterpret_cast<char16_t*>(text.data());
  for (qsizetype i = 0; i < bytes.size(); ++i) out[i] = table[static_cast<unsigned char>(bytes[i])];
  return text;
}

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

SavedRecord RecordFromRow(const ChannelRow& row, const QString& saveDate) {
  // A row added by hand has no video and encryption texts: they are saved empty.
  return SavedRecord{row.subItem(kSubTransponder), row.subItem(kSubName), row.subItem(kSubAudio),
                     row.subItem(kSubVideo),       row.subItem(kSubCoding), saveDate};
}

QString SaveDateText(const QDate& date) { return date.toString(QStringLiteral("dd.MM.yyyy")); }

QString SavedTablePath(const QString& satellite) {
  return BesideExe(QStringLiteral("Base/") + satellite + QStringLiteral(".rec"));
}

void ReadSavedRecords(QIODevice& device, const std::function<void(const SavedRecord&)>& onRecord) {
  constexpr qint64 kChunk = qint64(kRecordSize) * 256;
  QByteArray buffer(kChunk, Qt::Uninitialized);
  qint64 filled = 0;
  for (;;) {
    const qint64 got = device.read(buffer.data() + filled, kChunk - filled);
    if (got < 0) throw TevrinError(device.errorString());
    if (got == 0) break;
    filled += got;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.constData());
    qint64 offset = 0;
    for (; offset + kRecordSize <= filled; offset += kRecordSize) onRecord(DecodeRecord(bytes + offset));
    filled -= offset;
    if (filled > 0) std::memmove(buffer.data(), buffer.constData() + offset, static_cast<size_t>(filled));
  }
}

bool ReadSavedTable(const QString& path, const std::function<void(const SavedRecord&)>& onRecord) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  ReadSavedRecords(file, onRecord);  // the file closes when it goes out of scope, error or not
  return true;
}

void WriteSavedTable(const QString& path, const std::vector<ChannelRow>& rows, const QDate& today) {
  // A failure to create the directory shows up as the failure to create the file.
  QDir().mkpath(QFileInfo(path).absolutePath());
  // The records go to a temporary file beside the target, which replaces the
  // old table only after the last one is written: a full disk or a broken
  // write never leaves a half table behind.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) throw TevrinError(file.errorString());
  const QString date = SaveDateText(today);
  bool written = true;
  for (const ChannelRow& row : rows) {
    if (row.mark == kMarkGone) continue;
    const TChannelRec rec = EncodeRecord(RecordFromRow(row, date));
    if (file.write(reinterpret_cast<const char*>(rec.bytes), kRecordSize) != kRecordSize) {
      written = false;
      break;
    }
  }
  // A failed write leaves only "Unknown error" behind; the commit that then
  // fails carries the system's text (a full disk: "File too large", ...).
  if (!file.commit() || !written) throw TevrinError(file.errorString());
}

QString OverwriteQuestion(const QString& satellite, const QDate& modified) {
  return QStringLiteral("Файл для спутника ") + satellite + QStringLiteral(",\r") +
         QStringLiteral("созданный ") + QLocale::system().toString(modified, QLocale::ShortFormat) +
         QStringLiteral("г., уже существует.\r") + QStringLiteral("Перезаписать его?");
}

}  // namespace tevrin
