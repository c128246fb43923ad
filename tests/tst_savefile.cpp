// Every file the tool writes replaces its name: a link planted there is
// replaced, the file it points to is never written.
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

#include <sys/stat.h>
#include <functional>

using namespace tevrin;
using test::ReadAll;
using test::WriteAll;

using Writer = std::function<void(const QString& path)>;
Q_DECLARE_METATYPE(Writer)

namespace {
const std::vector<ChannelRow> kRows = {test::ScanRow(1, "11804 V.DVB-S2", "Первый канал")};
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
