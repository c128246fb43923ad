#pragma once
#include <QString>

#include <functional>

namespace tevrin {

// The folder that holds the files the tool keeps (MyIni.ini, Base/, cache.txt,
// exsport.csv), ending with a separator. Every one of them is addressed through
// BesideExe, so tests and the command-line --base option can move them all.
//
// It is the running executable's own folder when the user may write there (a
// build tree, or a copy of the tool in a folder of its own). An installed tool
// in a system folder keeps them per user in UserDataDir() instead, created on
// first use.
QString ExeDir();
QString BesideExe(const QString& relativeName);

// An empty directory restores the rule above.
void SetExeDirOverride(const QString& directory);

// $XDG_DATA_HOME/Tevrin, by default ~/.local/share/Tevrin; no separator at the end.
QString UserDataDir();

// Whether the running user may create files in `dir` (an existing folder).
bool IsWritableFolder(const QString& dir);

// Whether `dir` may hold the tool's files: writable, and not the folder the
// package installs the program into, which root could write but every user
// shares (`sudo tevrin` keeps its files per user too).
bool IsOwnProgramFolder(const QString& dir, const QString& installedBinDir);

// The rule behind ExeDir, with the writability check handed in: root may write
// into any folder, so tests decide it themselves. Creates `dataDir` (with its
// parents) when it chooses it.
QString FilesDirFor(const QString& exeDir, const QString& dataDir,
                    const std::function<bool(const QString& dir)>& writable);

}  // namespace tevrin
