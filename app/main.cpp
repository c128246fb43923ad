#include "app/errors.h"
#include "app/gui/hints.h"
#include "app/gui/mainform.h"
#include "app/gui/messageboxes.h"
#include "scan/gui/formloadurl.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
  const bool haveDisplay = qEnvironmentVariableIsSet("DISPLAY") ||
                           qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
  if (!haveDisplay) {
    std::fprintf(
        stderr,
        "Tevrin: нет графического дисплея (DISPLAY не задан).\n"
        "Tevrin: no graphical display (DISPLAY is not set); run it on a desktop or under xvfb-run.\n");
    return 1;
  }
  // The banner's web view shares its GL context with the window.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tevrin"));
  // No application display name: the X11 platform appends it to every window
  // title ("Warning — Tevrin  v1.04b"); each window carries its own caption.
  QApplication::setApplicationVersion(QStringLiteral(TEVRIN_VERSION));
  tevrin::MessageBoxes boxes;
  tevrin::SetMessageService(&boxes);

  tevrin::InstallHintTiming();  // before any window, so no control is polished twice

  tevrin::TMainF MainF;  // the first window: closing it ends the tool
  tevrin::TFormLoadURL FormLoadURL(&MainF);
  MainF.setFormLoadURL(&FormLoadURL);
  MainF.show();
  const int status = app.exec();
  return status;
}
