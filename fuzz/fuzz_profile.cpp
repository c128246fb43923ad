// MyIni.ini: an existing file of any content, then writes, then reads. Every
// value written must read back as written.
#include "app/profile.h"
#include "fuzz/fuzzsupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

struct Entry {
  QString section, key, value;
};

// Names lose what no header or key line can hold; what is left is trimmed the
// way the profile trims names.
QString NamePart(const QByteArray& bytes) {
  QString s = QString::fromUtf8(bytes);
  s.remove(u'[').remove(u']').remove(u'=').remove(u'\r').remove(u'\n');
  qsizetype b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
  return s.mid(b, e - b);
}

QString ValuePart(const QByteArray& bytes) {
  QString s = QString::fromUtf8(bytes);
  s.remove(u'\r').remove(u'\n');
  return s;
}

bool Same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString Show(const Entry& e) { return QStringLiteral("[%1] %2 = <%3>").arg(e.section, e.key, e.value); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tevrin::fuzz::EnsureApp();
  return 0;
}

// Layout: two bytes (little-endian) give the length of the existing file,
// which follows; the rest is writes separated by NUL, each "section\x1Fkey\x1Fvalue".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Every write replaces the file through a synced save; in memory that
  // costs little.
  static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                               ? QStringLiteral("/dev/shm/tevrin-fuzz-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/tevrin-fuzz-XXXXXX"));
  if (!dir.isValid()) tevrin::fuzz::Fail("no temporary directory");
  const QString path = dir.filePath(QStringLiteral("MyIni.ini"));
  QFile::remove(path);
  if (size < 2) return 0;

  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const qsizetype existingSize = qMin<qsizetype>((data[0] | (data[1] << 8)), input.size() - 2);
  const QByteArray existing = input.mid(2, existingSize);
  // An empty part means no file at all: the first write creates it.
  if (!existing.isEmpty()) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(existing) != existing.size())
      tevrin::fuzz::Fail("cannot write the existing file");
  }

  QList<Entry> expected;
  int writes = 0;
  for (const QByteArray& record : input.mid(2 + existingSize).split('\0')) {
    const QList<QByteArray> parts = record.split('\x1f');
    if (parts.size() < 3) continue;
    if (++writes > 32) break;
    const Entry e{NamePart(parts[0]), NamePart(parts[1]), ValuePart(parts[2])};
    if (e.section.isEmpty() || e.key.isEmpty()) continue;
    const bool written = tevrin::WritePrivateProfileString(e.section, e.key, e.value, path);
    // A key line cannot begin like a comment; every other name is taken.
    const bool refusable = e.key.front() == u';' || e.key.front() == u'#';
    if (refusable) {
      TEVRIN_FUZZ_CHECK(!written, Show(e));
      continue;
    }
    TEVRIN_FUZZ_CHECK(written, Show(e));
    bool found = false;
    for (Entry& old : expected) {
      if (Same(old.section, e.section) && Same(old.key, e.key)) {
        old.value = e.value;
        found = true;
        break;
      }
    }
    if (!found) expected.append(e);
  }

  // A default that no write can produce tells a missing key from an empty value.
  const QString missing = QStringLiteral("\n<missing>\n");
  for (const Entry& e : expected) {
    const QString got = tevrin::GetPrivateProfileString(e.section, e.key, missing, path);
    if (got != e.value) {
      QFile file(path);
      file.open(QIODevice::ReadOnly);
      tevrin::fuzz::Fail("value read back differs",
                         Show(e) + QStringLiteral("\nread <%1>\nfile (hex) %2")
                                       .arg(got, QString::fromLatin1(file.readAll().toHex())));
    }
  }
  return 0;
}
