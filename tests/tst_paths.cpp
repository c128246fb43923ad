#include "app/paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace tevrin;

// Where the kept files live. The writability check is handed in for the rule
// itself, because CI runs as root and root may write into a read-only folder.
class TstPaths : public QObject {
  Q_OBJECT
  QTemporaryDir tmp_;

 private slots:
  void writableFolderKeepsTheFilesBesideTheExecutable() {
    const QString exe = tmp_.filePath("portable");
    const QString data = tmp_.filePath("share/Tevrin");
    QString asked;
    const QString dir = FilesDirFor(exe, data, [&](const QString& d) {
      asked = d;
      return true;
    });
    QCOMPARE(asked, exe);
    QCOMPARE(dir, exe + "/");
    QVERIFY(!QFileInfo::exists(data));  // nothing made in the home folder
  }

  void readOnlyFolderMovesThemIntoTheDataFolderMadeOnFirstUse() {
    const QString data = tmp_.filePath("deep/er/share/Tevrin");
    QCOMPARE(FilesDirFor("/usr/bin", data, [](const QString&) { return false; }), data + "/");
    QVERIFY(QFileInfo(data).isDir());
    // The second run finds it there.
    QCOMPARE(FilesDirFor("/usr/bin", data, [](const QString&) { return false; }), data + "/");
  }

  void theRealCheckWithFoldersOnDisk() {
    const QString data = tmp_.filePath("real/Tevrin");
    QTemporaryDir own;
    qputenv("XDG_DATA_HOME", tmp_.filePath("real").toUtf8());
    // The test's own build folder is writable, as a copy of the tool in a
    // folder of its own is.
    QCOMPARE(ExeDir(), QCoreApplication::applicationDirPath() + "/");
    QVERIFY(!QFileInfo::exists(data));

    // A folder that nobody may write into, root included: one that is gone.
    const QString gone = own.filePath("removed");
    QCOMPARE(FilesDirFor(gone, UserDataDir(), IsWritableFolder), data + "/");
    if (geteuid() != 0) {  // root passes the permission bits; the cases above cover it
      QVERIFY(QFile::setPermissions(own.path(), QFile::ReadOwner | QFile::ExeOwner));
      QCOMPARE(FilesDirFor(own.path(), data, IsWritableFolder), data + "/");
      QFile::setPermissions(own.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
  }

  void theInstalledProgramFolderIsNeverTheFilesFolder() {
    // Root may write into /usr/bin, yet the packaged program there keeps its files per user.
    QTemporaryDir bin, copy;
    QVERIFY(!IsOwnProgramFolder(bin.path(), bin.path()));
    QVERIFY(!IsOwnProgramFolder(bin.path() + "/.", bin.path()));  // the same folder spelt otherwise
    QVERIFY(IsOwnProgramFolder(copy.path(), bin.path()));
  }

  void dataFolderFollowsXdgDataHomeOrDefaultsUnderHome() {
    qputenv("XDG_DATA_HOME", tmp_.filePath("xdg").toUtf8());
    QCOMPARE(UserDataDir(), tmp_.filePath("xdg/Tevrin"));
    // A relative XDG_DATA_HOME is not a valid setting and is ignored.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", tmp_.filePath("home").toUtf8());
    qputenv("XDG_DATA_HOME", "relative/share");
    QCOMPARE(UserDataDir(), tmp_.filePath("home/.local/share/Tevrin"));
    qputenv("HOME", home);
    qunsetenv("XDG_DATA_HOME");
  }

  void overrideWinsOverTheRule() {
    // tevrin-cli --base and the tests point every file at a folder of their choice.
    SetExeDirOverride(tmp_.filePath("base"));
    QCOMPARE(BesideExe("Base/x.rec"), tmp_.filePath("base/Base/x.rec"));
    SetExeDirOverride(QString());
    QCOMPARE(ExeDir(), QCoreApplication::applicationDirPath() + "/");
  }
};

QTEST_GUILESS_MAIN(TstPaths)
#include "tst_paths.moc"
