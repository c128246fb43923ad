#include "table/fulltexts.h"

#include "app/savefile.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringDecoder>
#include <QSysInfo>
#include <QtEndian>

#include <iterator>

namespace tevrin {
namespace {

const QString kFormatKey = QStringLiteral("format");
const QString kFormatName = QStringLiteral("tevrin-full-texts");
const QString kVersionKey = QStringLiteral("version");
constexpr int kVersion = 1;
const QString kRecordFileKey = QStringLiteral("recordFile");
const QString kSizeKey = QStringLiteral("size");
const QString kDigestKey = QStringLiteral("blake2b256");
const QString kTextsDigestKey = QStringLiteral("textsBlake2b256");
const QString kRowsKey = QStringLiteral("rows");
constexpr int kDigestBytes = 32;

// Whole numbers up to 2^53 are exact in a JSON number.
constexpr double kMaxExactInteger = 9007199254740992.0;

std::optional<qint64> WholeNumber(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double number = value.toDouble();
  if (number < 0 || number > kMaxExactInteger || number != static_cast<double>(static_cast<qint64>(number)))
    return std::nullopt;
  return static_cast<qint64>(number);
}

std::optional<QByteArray> DigestFromHex(const QJsonValue& value) {
  if (!value.isString()) return std::nullopt;
  const QString hex = value.toString();
  if (hex.size() != 2 * kDigestBytes) return std::nullopt;
  for (QChar c : hex)
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return std::nullopt;
  return QByteArray::fromHex(hex.toLatin1());
}

}  // namespace

QByteArray FullTextsDigest(const std::vector<FullTextsRow>& rows) {
  QCryptographicHash hash(kStampHash);
  for (const FullTextsRow& row : rows)
    for (const QString& text : row) {
      const quint32_le length(static_cast<quint32>(text.size()));
      hash.addData(QByteArrayView(reinterpret_cast<const char*>(&length), sizeof length));
      if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        hash.addData(QByteArrayView(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
      } else {
        for (QChar c : text) {
          const quint16_le unit(c.unicode());
          hash.addData(QByteArrayView(reinterpret_cast<const char*>(&unit), sizeof unit));
        }
      }
    }
  return hash.result();
}

namespace {

// Needed besides the JSON parser: Qt's parser takes any byte after a backslash.
bool IsUtf8(QByteArrayView bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(bytes);
  return !decoder.hasError();
}

constexpr RecordField kTextFields[5] = {kFieldTransponder, kFieldChannelName, kFieldAudio, kFieldVideo,
                                        kFieldCoding};

}  // namespace

QString FullTextsPath(const QString& recordPath) { return recordPath + QStringLiteral(".json"); }

FullTextsRow FullTextsOf(const SavedRecord& record) {
  return {record.transponder, record.channelName, record.audio, record.video, record.coding};
}

namespace {

void AppendUtf8(QByteArray& out, char32_t cp) {
  if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
  } else {
    if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
    }
    out += char(0x80 | ((cp >> 6) & 0x3F));
  }
  out += char(0x80 | (cp & 0x3F));
}

// A JSON string: quotes, backslashes and control characters escaped, a lone
// half of a surrogate pair as \uXXXX (UTF-8 has no form for it), the rest UTF-8.
void AppendJsonString(QByteArray& out, QStringView text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += char(c);
    } else if (c == u'\n') {
      out += "\\n";
    } else if (c == u'\r') {
      out += "\\r";
    } else if (c == u'\t') {
      out += "\\t";
    } else if (c < 0x80 && c >= 0x20) {
      out += char(c);
    } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      AppendUtf8(out, QChar::surrogateToUcs4(c, text[i + 1].unicode()));
      ++i;
    } else if (c < 0x20 || QChar::isSurrogate(c)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
    } else {
      AppendUtf8(out, c);
    }
  }
  out += '"';
}

}  // namespace

// Written by hand in a fixed key order: the same texts always give the same
// bytes, several times faster than building a QJsonDocument.
QByteArray EncodeFullTexts(const FullTextsFile& file) {
  QByteArray out;
  out.reserve(256 + static_cast<qsizetype>(file.rows.size()) * 128);
  out += "{\"" + kFormatKey.toLatin1() + "\":";
  AppendJsonString(out, kFormatName);
  out += ",\"" + kVersionKey.toLatin1() + "\":" + QByteArray::number(kVersion);
  out += ",\"" + kRecordFileKey.toLatin1() + "\":{\"" + kSizeKey.toLatin1() +
         "\":" + QByteArray::number(file.recordFile.size);
  out += ",\"" + kDigestKey.toLatin1() + "\":\"" + file.recordFile.digest.toHex() + "\"}";
  out += ",\"" + kTextsDigestKey.toLatin1() + "\":\"" + FullTextsDigest(file.rows).toHex() + "\"";
  out += ",\"" + kRowsKey.toLatin1() + "\":[";
  for (size_t r = 0; r < file.rows.size(); ++r) {
    if (r > 0) out += ',';
    out += '[';
    for (size_t t = 0; t < file.rows[r].size(); ++t) {
      if (t > 0) out += ',';
      AppendJsonString(out, file.rows[r][t]);
    }
    out += ']';
  }
  out += "]}\n";
  return out;
}

std::optional<ParsedFullTexts> ParseFullTexts(QByteArrayView bytes) {
  if (bytes.size() > kMaxFullTextsBytes || !IsUtf8(bytes)) return std::nullopt;
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const QJsonObject root = document.object();
  if (root.value(kFormatKey) != QJsonValue(kFormatName)) return std::nullopt;
  if (WholeNumber(root.value(kVersionKey)) != kVersion) return std::nullopt;

  ParsedFullTexts parsed;
  FullTextsFile& file = parsed.file;
  const QJsonValue recordFile = root.value(kRecordFileKey);
  if (!recordFile.isObject()) return std::nullopt;
  const std::optional<qint64> size = WholeNumber(recordFile.toObject().value(kSizeKey));
  const std::optional<QByteArray> digest = DigestFromHex(recordFile.toObject().value(kDigestKey));
  if (!size || !digest) return std::nullopt;
  file.recordFile = {*size, *digest};

  const QJsonValue rows = root.value(kRowsKey);
  if (!rows.isArray()) return std::nullopt;
  const QJsonArray rowArray = rows.toArray();
  file.rows.reserve(static_cast<size_t>(rowArray.size()));
  for (const QJsonValue rowValue : rowArray) {
    if (!rowValue.isArray()) return std::nullopt;
    const QJsonArray texts = rowValue.toArray();
    if (texts.size() != qsizetype(FullTextsRow().size())) return std::nullopt;
    FullTextsRow row;
    for (qsizetype i = 0; i < texts.size(); ++i) {
      if (!texts.at(i).isString()) return std::nullopt;
      row[size_t(i)] = texts.at(i).toString();
    }
    file.rows.push_back(std::move(row));
  }
  const std::optional<QByteArray> textsDigest = DigestFromHex(root.value(kTextsDigestKey));
  if (!textsDigest) return std::nullopt;
  parsed.textsDigest = *textsDigest;
  return parsed;
}

std::optional<FullTextsFile> DecodeFullTexts(QByteArrayView bytes) {
  std::optional<ParsedFullTexts> parsed = ParseFullTexts(bytes);
  if (!parsed || parsed->textsDigest != FullTextsDigest(parsed->file.rows)) return std::nullopt;
  return std::move(parsed->file);
}

bool FullTextsFit(const FullTextsFile& texts, const RecordFileStamp& stamp,
                  const std::vector<SavedRecord>& records) {
  if (!(texts.recordFile == stamp) || texts.rows.size() != records.size()) return false;
  for (size_t i = 0; i < records.size(); ++i) {
    const SavedRecord& r = records[i];
    const QString* recordTexts[] = {&r.transponder, &r.channelName, &r.audio, &r.video, &r.coding};
    for (size_t f = 0; f < std::size(recordTexts); ++f) {
      const QString& text = texts.rows[i][f];
      // A record's text is in record form already: equal to it, the full text is too.
      if (text != *recordTexts[f] && RecordForm(text, kTextFields[f]) != *recordTexts[f]) return false;
    }
  }
  return true;
}

bool ApplyFullTexts(const QString& path, const RecordFileStamp& stamp, std::vector<SavedRecord>& records) {
  const RegularFileRead read = ReadRegularFile(path, kMaxFullTextsBytes);
  if (read.result != RegularFileRead::Result::Read) return false;
  const std::optional<FullTextsFile> texts = DecodeFullTexts(read.bytes);
  if (!texts || !FullTextsFit(*texts, stamp, records)) return false;
  for (size_t i = 0; i < records.size(); ++i) {
    const FullTextsRow& row = texts->rows[i];
    SavedRecord& record = records[i];
    record.transponder = row[0];
    record.channelName = row[1];
    record.audio = row[2];
    record.video = row[3];
    record.coding = row[4];
    record.fullTexts = true;
  }
  return true;
}

}  // namespace tevrin
