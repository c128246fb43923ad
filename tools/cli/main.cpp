#include "app/savefile.h"
#include "tools/cli/clicommands.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
  tevrin::IgnoreFileSizeSignal();
  // The download waits in a local event loop, which needs the application.
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tevrin-cli"));
  QStringList arguments = QCoreApplication::arguments();
  arguments.removeFirst();
  return tevrin::cli::RunCommandLine(arguments);
}
