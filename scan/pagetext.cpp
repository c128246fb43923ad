#include "scan/pagetext.h"

#include "app/errors.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

namespace tevrin {
namespace {

// Browsers look for a declared charset only in the first 1024 bytes.
constexpr qsizetype kPrescanLength = 1024;

bool IsSpaceByte(char c) { return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20; }
char LowerByte(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool StartsWithNoCase(const char* p, const char* end, const char* word) {
  for (; *word; ++word, ++p)
    if (p >= end || LowerByte(*p) != *word) return false;
  return true;
}

struct Attribute {
  QByteArray name;
  QByteArray value;
};

// The byte-level tokenizer of the meta prescan: reads one attribute of a tag
// at `pos`. Returns false when the tag ends (">") or the bytes run out; in the
// latter case `exhausted` is set so the caller stops looking.
class PrescanReader {
 public:
  PrescanReader(const char* begin, const char* end) : pos(begin), end_(end) {}

  bool atEnd() const { return pos >= end_; }

  bool readAttribute(Attribute& attr, bool& exhausted) {
    attr = {};
    while (pos < end_ && (IsSpaceByte(*pos) || *pos == '/')) ++pos;
    if (pos >= end_) return exhaust(exhausted);
    if (*pos == '>') return false;
    // Name.
    for (;;) {
      if (pos >= end_) return exhaust(exhausted);
      const char c = *pos;
      if (c == '=' && !attr.name.isEmpty()) {
        ++pos;
        return readValue(attr, exhausted);
      }
      if (IsSpaceByte(c)) break;
      if (c == '/' || c == '>') return true;
      attr.name.append(LowerByte(c));
      ++pos;
    }
    while (pos < end_ && IsSpaceByte(*pos)) ++pos;
    if (pos >= end_) return exhaust(exhausted);
    if (*pos != '=') return true;
    ++pos;
    return readValue(attr, exhausted);
  }

  const char* pos;

 private:
  bool readValue(Attribute& attr, bool& exhausted) {
    while (pos < end_ && IsSpaceByte(*pos)) ++pos;
    if (pos >= end_) return exhaust(exhausted);
    const char first = *pos;
    if (first == '"' || first == '\'') {
      for (++pos;; ++pos) {
        if (pos >= end_) return exhaust(exhausted);
        if (*pos == first) {
          ++pos;
          return true;
        }
        attr.value.append(LowerByte(*pos));
      }
    }
    if (first == '>') return true;
    for (;;) {
      if (pos >= end_) return exhaust(exhausted);
      if (IsSpaceByte(*pos) || *pos == '>') return true;
      attr.value.append(LowerByte(*pos));
      ++pos;
    }
  }

  bool exhaust(bool& exhausted) {
    exhausted = true;
    return false;
  }

  const char* end_;
};

// The charset named by a Content-Type value such as "text/html; charset=utf-8".
QByteArray CharsetFromContent(const QByteArray& content) {
  qsizetype from = 0;
  for (;;) {
    const qsizetype at = content.indexOf("charset", from);  // value is already lower-cased
    if (at < 0) return {};
    qsizetype p = at + 7;
    while (p < content.size() && IsSpaceByte(content[p])) ++p;
    if (p >= content.size() || content[p] != '=') {
      from = p;
      continue;
    }
    ++p;
    while (p < content.size() && IsSpaceByte(content[p])) ++p;
    if (p >= content.size()) return {};
    const char quote = content[p];
    if (quote == '"' || quote == '\'') {
      const qsizetype close = content.indexOf(quote, p + 1);
      if (close < 0) return {};
      return content.mid(p + 1, close - p - 1);
    }
    qsizetype stop = p;
    while (stop < content.size() && !IsSpaceByte(content[stop]) && content[stop] != ';') ++stop;
    return content.mid(p, stop - p);
  }
}

// Maps a declared label to the decoder the page is read with; the few labels
// where browsers differ from the plain ICU name are mapped first.
QByteArray NormalizeLabel(QByteArray label) {
  label = label.trimmed().toLower();
  if (label.isEmpty()) return {};
  if (label == "utf-16" || label == "utf-16le" || label == "utf-16be" || label == "unicode" ||
      label == "ucs-2" || label == "unicodefffe")
    return "utf-8";  // a page that was decoded as ASCII cannot really be UTF-16
  if (label == "iso-8859-1" || label == "latin1" || label == "l1" || label == "ascii" ||
      label == "us-ascii" || label == "iso8859-1" || label == "cp1252" || label == "x-user-defined")
    return "windows-1252";
  QStringDecoder probe(label.constData());
  return probe.isValid() ? label : QByteArray();
}

QString Decode(const char* encoding, QByteArrayView bytes) {
  QStringDecoder decoder(encoding);
  if (!decoder.isValid()) decoder = QStringDecoder("windows-1251");
  return decoder.decode(bytes);
}

QString Decode(QStringConverter::Encoding encoding, QByteArrayView bytes) {
  QStringDecoder decoder(encoding);
  return decoder.decode(bytes);
}

// Each line, whatever ended it, followed by CR LF.
QString JoinLinesWithCrLf(const QString& text) {
  QString out;
  out.reserve(text.size() + text.size() / 32 + 2);
  const QChar* data = text.constData();
  const qsizetype n = text.size();
  qsizetype start = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = data[i].unicode();
    if (c != u'\r' && c != u'\n') continue;
    out.append(QStringView(data + start, i - start));
    out.append(u"\r\n");
    if (c == u'\r' && i + 1 < n && data[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < n) {
    out.append(QStringView(data + start, n - start));
    out.append(u"\r\n");
  }
  return out;
}

}  // namespace

QByteArray PrescanCharset(const QByteArray& bytes) {
  const char* begin = bytes.constData();
  const char* end = begin + std::min(bytes.size(), kPrescanLength);
  PrescanReader reader(begin, end);
  bool exhausted = false;
  while (!reader.atEnd() && !exhausted) {
    const char* p = reader.pos;
    if (StartsWithNoCase(p, end, "<!--")) {
      // The dashes of "<!--" may also close it, as in "<!-->".
      const char* q = p + 2;
      while (q + 2 < end && !(q[0] == '-' && q[1] == '-' && q[2] == '>')) ++q;
      if (q + 2 >= end) return {};
      reader.pos = q + 3;
      continue;
    }
    if (StartsWithNoCase(p, end, "<meta") && p + 5 < end && (IsSpaceByte(p[5]) || p[5] == '/')) {
      reader.pos = p + 6;
      QList<QByteArray> seen;
      bool gotPragma = false;
      int needPragma = -1;  // -1 unknown, 0 no, 1 yes
      QByteArray charset;
      Attribute attr;
      while (reader.readAttribute(attr, exhausted)) {
        if (seen.contains(attr.name)) continue;
        seen.append(attr.name);
        if (attr.name == "http-equiv") {
          if (attr.value == "content-type") gotPragma = true;
        } else if (attr.name == "content") {
          const QByteArray found = CharsetFromContent(attr.value);
          if (!found.isEmpty() && charset.isEmpty()) {
            charset = NormalizeLabel(found);
            needPragma = 1;
          }
        } else if (attr.name == "charset") {
          charset = NormalizeLabel(attr.value);
          needPragma = 0;
        }
      }
      if (exhausted) return {};
      if (needPragma == -1 || (needPragma == 1 && !gotPragma) || charset.isEmpty()) {
        ++reader.pos;
        continue;
      }
      return charset;
    }
    if (p + 1 < end && p[0] == '<' &&
        (IsAsciiLetter(p[1]) || (p[1] == '/' && p + 2 < end && IsAsciiLetter(p[2])))) {
      reader.pos = p + 1;
      while (reader.pos < end && !IsSpaceByte(*reader.pos) && *reader.pos != '>') ++reader.pos;
      Attribute attr;
      while (reader.readAttribute(attr, exhausted)) {
      }
      if (exhausted) return {};
      ++reader.pos;
      continue;
    }
    if (p + 1 < end && p[0] == '<' && (p[1] == '!' || p[1] == '/' || p[1] == '?')) {
      const char* q = static_cast<const char*>(memchr(p, '>', end - p));
      if (!q) return {};
      reader.pos = q + 1;
      continue;
    }
    ++reader.pos;
  }
  return {};
}

QString DecodePageBytes(const QByteArray& bytes) {
  const QByteArrayView view(bytes);
  QString text;
  if (view.startsWith("\xEF\xBB\xBF")) {
    text = Decode(QStringConverter::Utf8, view.sliced(3));
  } else if (view.startsWith("\xFF\xFE")) {
    text = Decode(QStringConverter::Utf16LE, view.sliced(2));
  } else if (view.startsWith("\xFE\xFF")) {
    text = Decode(QStringConverter::Utf16BE, view.sliced(2));
  } else if (const QByteArray declared = PrescanCharset(bytes); !declared.isEmpty()) {
    text = Decode(declared.constData(), view);
  } else {
    // Stateless: a sequence cut off at the end counts as invalid too.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8.decode(view);
    if (utf8.hasError()) text = Decode("windows-1251", view);
  }
  return JoinLinesWithCrLf(text);
}

QString ReadPageFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw TevrinError(QStringLiteral("Не удается открыть файл \"%1\". %2")
                          .arg(QDir::toNativeSeparators(path), file.errorString()));
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError)
    throw TevrinError(QStringLiteral("Ошибка чтения файла \"%1\". %2")
                          .arg(QDir::toNativeSeparators(path), file.errorString()));
  return DecodePageBytes(bytes);
}

}  // namespace tevrin
