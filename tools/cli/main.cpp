#include "app/savefile.h"
#include "app/stopsignals.h"
#include "tools/cli/clicommands.h"

#include "scan/download.h"

#include <QCoreApplication>

#include <unistd.h>
#include <cstdio>

int main(int argc, char* argv[]) {
  tevrin::IgnoreFileSizeSignal();
  // The download waits in a local event loop, which needs the application.
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tevrin-cli"));
  // Ctrl-C, kill, a closed terminal or output pipe: the downloads stop, every
  // temporary file and the batch folder go, a saved table is either the old
  // one or the whole new one, and the status is the one a shell expects.
  const tevrin::StopSignals stops;
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  int status = tevrin::cli::RunCommandLine(arguments);
  if (const int signal = tevrin::StopSignals::received()) status = tevrin::StopSignals::exitStatusFor(signal);
  // A proxy look-up that never answered would hold the exit forever.
  if (tevrin::ProxyLookUpsRunning() > 0) {
    std::fflush(nullptr);
    ::_exit(status);
  }
  return status;
}
