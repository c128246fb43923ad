#include "app/profile.h"

#include "app/cp1251.h"
#include "app/savefile.h"

#include <QFile>
#include <QList>
#include <QStringDecoder>

namespace tevrin {
namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);
const QByteArray kCrLf("\r\n", 2);

// A line's UTF-8 text, a byte-order mark at its start included: Qt's plain
// decoding would drop it, and then a key or header could change its meaning
// between the write and the read.
QString DecodeUtf8Line(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
  return decoder.decode(bytes);
}

QString DecodeLine(const QByteArray& bytes, bool utf8) {
  return utf8 ? DecodeUtf8Line(bytes) : FromCp1251(bytes);
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

ProfileFile::ProfileFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  readable_ = true;
  const QByteArray data = file.readAll();
  const bool utf8 = data.startsWith(kUtf8Bom);
  // Lines are cut and decoded exactly as the writer does, so that both agree
  // on every line (a byte-order mark at the start of a later line included).
  for (const RawLine& raw : SplitLines(utf8 ? data.mid(kUtf8Bom.size()) : data))
    lines_.append(DecodeLine(raw.bytes, utf8));
}

QString ProfileFile::value(const QString& section, const QString& key, const QString& defaultValue) const {
  if (!readable_) return defaultValue;
  const QString wantedSection = TrimBlanks(section);
  const QString wantedKey = TrimBlanks(key);
  bool inSection = false;
  for (const QString& line : lines_) {
    const LineInfo info = Classify(line);
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

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& path) {
  return ProfileFile(path).value(section, key, defaultValue);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& path) {
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

  const QString fileValue = ValueForFile(value);
  if (!utf8) {
    QByteArray probe;
    if (!ToCp1251Exact(sectionName + keyName + fileValue, &probe)) {
      // Windows-1251 cannot hold the new text: the file becomes UTF-8 rather
      // than lose characters.
      for (RawLine& line : lines) line.bytes = FromCp1251(line.bytes).toUtf8();
      utf8 = true;
    }
  }
  auto encode = [&utf8](const QString& text) {
    QByteArray bytes;
    if (utf8 || !ToCp1251Exact(text, &bytes)) bytes = text.toUtf8();
    return bytes;
  };

  qsizetype headerLine = -1, keyLine = -1, lastEntry = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const LineInfo info = Classify(DecodeLine(lines[i].bytes, utf8));
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

  ReplacingFile file(path);
  if (!file.open()) return false;
  if (file.device().write(out) != out.size()) return false;  // the temporary file goes with `file`
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
