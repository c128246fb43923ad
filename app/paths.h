#pragma once
#include <QString>

namespace tevrin {

// The directory of the running executable, ending with a separator. Every file
// the tool keeps (MyIni.ini, Base/, cache.txt, exsport.csv) is addressed through
// BesideExe, so tests and the command-line --base option can move them all.
QString ExeDir();
QString BesideExe(const QString& relativeName);

// An empty directory restores the executable's own one.
void SetExeDirOverride(const QString& directory);

}  // namespace tevrin
