// Every file the tool writes replaces its name: a link planted there is
// replaced, the file it points to is never written.
#include "app/errors.h"
#include "app/profile.h"
#include "app/savefile.h"
#include "app/settings.h"
#include "support/testsupport.h"
#include "table/csvexport.h"
#include "table/records.h"
#include "tables_testutil.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <functional>

using namespace tevrin;
using test::ReadAll;
using test::WriteAll;

using Writer = std::function<void(const QString& path)>;
Q_DECLARE_METATYPE(Writer)

namespace {
const std::vector<ChannelRow> kRows = {test::ScanRow(1, "11804 V.DVB-S2", "Первый канал")};

std::vector<ChannelRow> ManyRows(int n) {
  std::vector<ChannelRow> rows;
  rows.reserve(size_t(n));
  for (int i = 0; i < n; ++i)
    rows.push_back(test::ScanRow(i + 1, "1.2.3.4.5.6.7.8.9", "Канал " + QString::number(i)));
  return rows;
}

// A disk that fills up: the first system write is cut short, the next fails.
int gWritesLeft = 0;
ssize_t FillingDisk(int fd, const void* data, size_t size) {
  if (gWritesLeft-- > 0) return ::write(fd, data, size / 2);
  errno = ENOSPC;
  return -1;
}

QString SystemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
}  // namespace

class TstSaveFile : public QObject {
  Q_OBJECT

 private slots:
  void writersReplaceALinkNeverItsTarget_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<Writer>("write");
    QTest::newRow("saved table") << "Base/S.rec" << Writer([](const QString& p) {
      WriteSavedTable(p, kRows, QDate(2024, 1, 1));
    });
    QTest::newRow("saved table's full texts")
        << "Base/S.rec.json"
        << Writer([](const QString& p) { WriteSavedTable(p.chopped(5), kRows, QDate(2024, 1, 1)); });
    QTest::newRow("export") << "exsport.csv" << Writer([](const QString& p) { ExportTable(kRows, p); });
    QTest::newRow("settings") << "MyIni.ini" << Writer([](const QString& p) {
      QVERIFY(WritePrivateProfileString("Size", "Top", "10", p));
    });
  }
  void writersReplaceALinkNeverItsTarget() {
    QFETCH(QString, name);
    QFETCH(Writer, write);
    test::TempExeDir exe;
    QTemporaryDir elsewhere;
    QVERIFY(QDir(exe.path()).mkpath("Base"));
    const QString victim = elsewhere.filePath("victim");
    QVERIFY(WriteAll(victim, "not yours"));
    QVERIFY(::chmod(QFile::encodeName(victim).constData(), 0600) == 0);
    const QString path = exe.file(name);
    QVERIFY(QFile::link(victim, path));

    write(path);
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(QFileInfo(path).isFile());
    QVERIFY(ReadAll(path).size() > 0);
    QCOMPARE(ReadAll(victim), QByteArray("not yours"));
    // The new file has the ordinary permissions, not those of the link's target.
    struct stat st = {};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
    // Beside a saved table only its full texts; no temporary file is left.
    QStringList expected{QFileInfo(path).fileName()};
    if (name.startsWith("Base/")) expected = QStringList{"S.rec", "S.rec.json"};
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), expected);
  }

  // A full disk while a save or an export is written (the rows fill more than
  // one buffer): the system's own text, and the earlier file as it was.
  void aFullDiskKeepsTheOldFileAndSaysWhy_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<Writer>("write");
    QTest::newRow("saved table") << "Base/S.rec" << Writer([](const QString& p) {
      WriteSavedTable(p, ManyRows(400), QDate(2024, 1, 1));
    });
    QTest::newRow("export") << "exsport.csv"
                            << Writer([](const QString& p) { ExportTable(ManyRows(4000), p); });
  }
  void aFullDiskKeepsTheOldFileAndSaysWhy() {
    QFETCH(QString, name);
    QFETCH(Writer, write);
    test::TempExeDir exe;
    QVERIFY(QDir(exe.path()).mkpath("Base"));
    const QString path = exe.file(name);
    QVERIFY(WriteAll(path, "the earlier file"));
    const SystemWriteFunction real = SystemWrite();
    SystemWrite() = FillingDisk;
    gWritesLeft = 1;
    QString text;
    try {
      write(path);
    } catch (const TevrinError& e) {
      text = e.message();
    }
    SystemWrite() = real;
    QCOMPARE(text, SystemText(ENOSPC));
    QCOMPARE(ReadAll(path), QByteArray("the earlier file"));
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QFileInfo(path).fileName()});

    // A real full disk, where the machine lets this test mount a small tmpfs.
    QTemporaryDir mountPoint;
    if (::geteuid() != 0 || QStandardPaths::findExecutable("mount").isEmpty())
      QSKIP("a small tmpfs needs root");
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=128k", "tmpfs", mountPoint.path()}) != 0)
      QSKIP("mounting a tmpfs is not allowed here");
    const QString small = mountPoint.filePath(QFileInfo(path).fileName());
    QVERIFY(WriteAll(small, "the earlier file"));
    text.clear();
    try {
      write(small);
    } catch (const TevrinError& e) {
      text = e.message();
    }
    const QByteArray left = ReadAll(small);
    const QStringList files = QDir(mountPoint.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(QProcess::execute("umount", {mountPoint.path()}), 0);
    QCOMPARE(text, SystemText(ENOSPC));
    QCOMPARE(left, QByteArray("the earlier file"));
    QCOMPARE(files, QStringList{QFileInfo(small).fileName()});
  }

  void replacingKeepsPermissionsAndALinkedBaseFolderStillWorks() {
    test::TempExeDir exe;
    QTemporaryDir store;
    QVERIFY(QFile::link(store.path(), exe.file("Base")));  // the user keeps the tables elsewhere
    const QString path = SavedTablePath("S");
    WriteSavedTable(path, kRows, QDate(2024, 1, 1));
    QVERIFY(QFileInfo(store.filePath("S.rec")).isFile());
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
    WriteSavedTable(path, kRows, QDate(2024, 2, 2));
    struct stat st = {};
    QVERIFY(::stat(QFile::encodeName(store.filePath("S.rec")).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0640));
    QVERIFY(QFileInfo(exe.file("Base")).isSymLink());
  }
};

QTEST_GUILESS_MAIN(TstSaveFile)
#include "tst_savefile.moc"
