#include "app/profile.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QSaveFile>
#include <QStringDecoder>

namespace tevrin {
namespace {

// Windows-1251 bytes 0x80..0xFF. 0x98 has no character of its own; it maps to
// U+0098 so that such a byte survives a rewrite of its line's neighbours.
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

QString DecodeCp1251(QByteArrayView bytes) {
  QString out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.append(b < 0x80 ? QChar(b) : QChar(kCp1251High[b - 0x80]));
  }
  return out;
}

// False when a character has no Windows-1251 byte.
bool EncodeCp1251(QStringView text, QByteArray* out) {
  static const QHash<char16_t, char> reverse = [] {
    QHash<char16_t, char> r;
    for (int i = 0; i < 128; ++i) r.insert(kCp1251High[i], static_cast<char>(0x80 + i));
    return r;
  }();
  QByteArray bytes;
  bytes.reserve(text.size());
  for (QChar ch : text) {
    if (ch.unicode() < 0x80) {
      bytes.append(static_cast<char>(ch.unicode()));
      continue;
    }
    const auto it = reverse.constFind(ch.unicode());
    if (it == reverse.constEnd()) return false;
    bytes.append(*it);
  }
  *out = bytes;
  return true;
}

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);
const QByteArray kCrLf("\r\n", 2);

// A line's UTF-8 text, a byte-order mark at its start included: Qt's plain
// decoding would drop it, and then a key or header could change its meaning
// between the write and the read.
QString DecodeUtf8Line(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
  return decoder.decode(bytes);
}

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; }

QString TrimBlanks(QStringView s) {
  qsizetype begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.mid(begin, end - begin).toString();
}

bool IsQuote(QChar c) { return c == u'"' || c == u'\''; }

bool WrappedInQuotes(QStringView v) { return v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front(); }

QString ValueFromFile(QStringView raw) {
  QString v = TrimBlanks(raw);
  if (WrappedInQuotes(v)) v = v.mid(1, v.size() - 2);
  return v;
}

QString ValueForFile(const QString& value) {
  if (value.isEmpty()) return value;
  const bool quote = IsBlank(value.front()) || IsBlank(value.back()) || WrappedInQuotes(value);
  return quote ? u'"' + value + u'"' : value;
}

// What one line of the file is, from its decoded text.
struct LineInfo {
  enum Kind { Blank, Comment, Header, Key, Other } kind = Blank;
  QString name;   // section of a header, key of a key line
  QString value;  // raw text after the first '=' of a key line
};

LineInfo Classify(QStringView text) {
  LineInfo info;
  const QString t = TrimBlanks(text);
  if (t.isEmpty()) return info;
  if (t.front() == u'[') {
    info.kind = LineInfo::Header;
    qsizetype close = t.indexOf(u']');
    if (close < 0) close = t.size();
    info.name = TrimBlanks(QStringView(t).mid(1, close - 1));
    return info;
  }
  if (t.front() == u';' || t.front() == u'#') {
    info.kind = LineInfo::Comment;
    return info;
  }
  const qsizetype eq = text.indexOf(u'=');
  if (eq < 0) {
    info.kind = LineInfo::Other;
    return info;
  }
  info.kind = LineInfo::Key;
  info.name = TrimBlanks(text.left(eq));
  info.value = text.mid(eq + 1).toString();
  return info;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// One line of the file as bytes, with its own terminator ("\r\n", "\n", or
// nothing for a last line without one).
struct RawLine {
  QByteArray bytes;
  QByteArray end;
};

QList<RawLine> SplitLines(const QByteArray& body) {
  QList<RawLine> lines;
  qsizetype start = 0;
  while (start < body.size()) {
    const qsizetype nl = body.indexOf('\n', start);
    RawLine line;
    if (nl < 0) {
      line.bytes = body.mid(start);
      start = body.size();
    } else {
      qsizetype contentEnd = nl;
      if (contentEnd > start && body[contentEnd - 1] == '\r') --contentEnd;
      line.bytes = body.mid(start, contentEnd - start);
      line.end = body.mid(contentEnd, nl + 1 - contentEnd);
      start = nl + 1;
    }
    lines.append(line);
  }
  return lines;
}

bool HasLineBreak(const QString& s) { return s.contains(u'\n') || s.contains(u'\r'); }

bool ValidSection(const QString& s) { return !s.isEmpty() && !s.contains(u']') && !HasLineBreak(s); }

bool ValidKey(const QString& k) {
  if (k.isEmpty() || k.contains(u'=') || HasLineBreak(k)) return false;
  const QChar first = k.front();
  return first != u'[' && first != u';' && first != u'#';
}

}  // namespace

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& path) {
  const QString wantedSection = TrimBlanks(section);
  const QString wantedKey = TrimBlanks(key);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return defaultValue;
  const QByteArray data = file.readAll();
  const bool utf8 = data.startsWith(kUtf8Bom);
  bool inSection = false;
  // Lines are cut and decoded exactly as the writer does, so that both agree
  // on every line (a byte-order mark at the start of a later line included).
  for (const RawLine& raw : SplitLines(utf8 ? data.mid(kUtf8Bom.size()) : data)) {
    const LineInfo info = Classify(utf8 ? DecodeUtf8Line(raw.bytes) : DecodeCp1251(raw.bytes));
    if (info.kind == LineInfo::Header) {
      // Only the first section of a name is ever read (and written).
      if (inSection) break;
      inSection = SameName(info.name, wantedSection);
    } else if (inSection && info.kind == LineInfo::Key && SameName(info.name, wantedKey)) {
      return ValueFromFile(info.value);
    }
  }
  return defaultValue;
}

bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& path) {
  const QString sectionName = TrimBlanks(section);
  const QString keyName = TrimBlanks(key);
  if (!ValidSection(sectionName) || !ValidKey(keyName) || HasLineBreak(value)) return false;

  QByteArray data;
  {
    QFile file(path);
    if (file.exists()) {
      if (!file.open(QIODevice::ReadOnly)) return false;
      data = file.readAll();
      if (file.error() != QFileDevice::NoError) return false;
    }
  }

  bool utf8 = data.startsWith(kUtf8Bom);
  QList<RawLine> lines = SplitLines(utf8 ? data.mid(kUtf8Bom.size()) : data);
  auto decode = [&utf8](const QByteArray& b) { return utf8 ? DecodeUtf8Line(b) : DecodeCp1251(b); };

  const QString fileValue = ValueForFile(value);
  if (!utf8) {
    QByteArray probe;
    if (!EncodeCp1251(sectionName + keyName + fileValue, &probe)) {
      // Windows-1251 cannot hold the new text: the file becomes UTF-8 rather
      // than lose characters.
      for (RawLine& line : lines) line.bytes = DecodeCp1251(line.bytes).toUtf8();
      utf8 = true;
    }
  }
  auto encode = [&utf8](const QString& text) {
    QByteArray bytes;
    if (utf8 || !EncodeCp1251(text, &bytes)) bytes = text.toUtf8();
    return bytes;
  };

  qsizetype headerLine = -1, keyLine = -1, lastEntry = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const LineInfo info = Classify(decode(lines[i].bytes));
    if (headerLine < 0) {
      if (info.kind == LineInfo::Header && SameName(info.name, sectionName)) {
        headerLine = i;
        lastEntry = i;
      }
      continue;
    }
    if (info.kind == LineInfo::Header) break;
    if (info.kind == LineInfo::Key && SameName(info.name, keyName)) {
      keyLine = i;
      break;
    }
    if (info.kind == LineInfo::Key || info.kind == LineInfo::Other) lastEntry = i;
  }

  if (keyLine >= 0) {
    // In place: the key as it is spelled in the file, and everything before
    // its '=', stay byte for byte ('=' is one byte in both encodings).
    const QByteArray encodedValue = encode(fileValue);
    RawLine& line = lines[keyLine];
    line.bytes = line.bytes.left(line.bytes.indexOf('=') + 1) + encodedValue;
  } else {
    const QByteArray keyBytes = encode(keyName + u'=' + fileValue);
    if (headerLine < 0) {
      const QByteArray headerBytes = encode(u'[' + sectionName + u']');
      if (!lines.isEmpty() && lines.last().end.isEmpty()) lines.last().end = kCrLf;
      lines.append({headerBytes, kCrLf});
      lines.append({keyBytes, kCrLf});
    } else {
      if (lines[lastEntry].end.isEmpty()) lines[lastEntry].end = kCrLf;
      lines.insert(lastEntry + 1, {keyBytes, kCrLf});
    }
  }

  QByteArray out;
  out.reserve(data.size() + 64);
  if (utf8) out += kUtf8Bom;
  for (const RawLine& line : lines) out += line.bytes + line.end;

  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(out) != out.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

int ProfileInt(const QString& text, int fallback) {
  const QString t = TrimBlanks(text);
  QStringView hex;
  bool isHex = false;
  if (t.startsWith(u"0x") || t.startsWith(u"0X")) {
    hex = QStringView(t).mid(2);
    isHex = true;
  } else if (t.startsWith(u'$')) {
    hex = QStringView(t).mid(1);
    isHex = true;
  }
  if (isHex) {
    if (hex.isEmpty() || hex.size() > 8) return fallback;
    for (QChar c : hex)
      if (!(c >= u'0' && c <= u'9') && !(c >= u'a' && c <= u'f') && !(c >= u'A' && c <= u'F'))
        return fallback;
    bool ok = false;
    const uint bits = hex.toUInt(&ok, 16);
    return ok ? static_cast<int>(bits) : fallback;
  }
  qsizetype digits = 0;
  for (qsizetype i = 0; i < t.size(); ++i) {
    const QChar c = t[i];
    if (i == 0 && (c == u'+' || c == u'-')) continue;
    if (c < u'0' || c > u'9') return fallback;
    ++digits;
  }
  if (digits == 0) return fallback;
  bool ok = false;
  const int v = t.toInt(&ok, 10);
  return ok ? v : fallback;
}

}  // namespace tevrin
