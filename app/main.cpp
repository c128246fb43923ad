#include "app/errors.h"
#include "app/gui/hints.h"
#include "app/gui/mainform.h"
#include "app/gui/messageboxes.h"
#include "app/gui/sessionend.h"
#include "app/gui/textfit.h"
#include "app/savefile.h"
#include "app/stopsignals.h"
#include "scan/batchscan.h"
#include "scan/download.h"
#include "scan/gui/formloadurl.h"
#include "web/gui/bannerview.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QTimer>

#include <unistd.h>
#include <cstdio>

namespace {
// For the packaging check: TEVRIN_PROBE_BANNER=1 makes the first banner
// navigation as soon as the window shows, names the web engine module that
// got loaded on stderr, and ends the tool once the page has loaded (status 0),
// when no module could be loaded (3), when the page did not finish within a
// minute (4) or could not be loaded (5).
void ProbeBannerModule(tevrin::TMainF& window) {
  window.Button1Click();
  if (window.banner().view() == nullptr) {
    std::fprintf(stderr, "tevrin: banner module: not found\n");
    QCoreApplication::exit(3);
    return;
  }
  QFile maps(QStringLiteral("/proc/self/maps"));
  if (maps.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : maps.readAll().split('\n')) {
      const qsizetype at = line.indexOf('/');
      if (at >= 0 && line.contains("tevrin_webbanner")) {
        std::fprintf(stderr, "tevrin: banner module: %s\n", line.mid(at).constData());
        break;
      }
    }
  }
  QObject::connect(&window.banner(), &tevrin::BannerView::documentComplete, &window, [](const QUrl& url) {
    std::fprintf(stderr, "tevrin: banner page loaded: %s\n", qPrintable(url.toString()));
    QCoreApplication::exit(0);
  });
  QObject::connect(&window.banner(), &tevrin::BannerView::navigateError, &window, [&window](const QUrl& url) {
    std::fprintf(stderr, "tevrin: banner page failed: %s (pane %s)\n", qPrintable(url.toString()),
                 window.sPanel1->isVisible() ? "shown" : "hidden");
    QCoreApplication::exit(5);
  });
  QTimer::singleShot(60000, &window, [] {
    std::fprintf(stderr, "tevrin: banner page did not load within a minute\n");
    QCoreApplication::exit(4);
  });
}
// For the install checks: TEVRIN_PROBE_LINK=1 clicks the site link as soon
// as the window shows and ends the tool at once: the browser must still find
// the site after the tool has gone.
void ProbeLink(tevrin::TMainF& window) {
  window.LabelURLClick();
  std::fprintf(stderr, "tevrin: site link opened: %s\n", qPrintable(window.LabelURL->text()));
  QCoreApplication::exit(0);
}
// For the install checks: TEVRIN_PROBE_TEXTS=1 prints, once the window is
// laid out, every caption with the width it needs in the window's own fonts
// and the width it gets ("tevrin: text: Label1 "..." 97 of 102 px: fits").
void ProbeTexts(const tevrin::TMainF& window) {
  for (const tevrin::TextFit& fit : tevrin::MeasureTexts(window))
    std::fprintf(stderr, "tevrin: text: %s\n", qPrintable(tevrin::DescribeFit(fit)));
  std::fflush(stderr);
}

}  // namespace

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
  tevrin::IgnoreFileSizeSignal();
  // The banner's web view shares its GL context with the window.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tevrin"));
  // No application display name: the X11 platform appends it to every window
  // title ("Warning — Tevrin  v1.04b"); each window carries its own caption.
  QApplication::setApplicationVersion(QStringLiteral(TEVRIN_VERSION));
  // Ties the window to its menu entry (its icon on Wayland's task bars).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tevrin.tevrin"));
  tevrin::MessageBoxes boxes;
  tevrin::SetMessageService(&boxes);

  tevrin::InstallHintTiming();  // before any window, so no control is polished twice

  // What a killed run left beside the executable, before this run writes there.
  tevrin::RemoveStaleLitter();

  int status = 0;
  {
    tevrin::TMainF MainF;  // the first window: closing it ends the tool
    tevrin::TFormLoadURL FormLoadURL(&MainF);
    MainF.setFormLoadURL(&FormLoadURL);
    // A stop signal or the end of the session ends the tool as a close by
    // the user would: the scan cancelled, the settings written, status 0.
    auto* session = new tevrin::SessionEnd(MainF);
    const tevrin::StopSignals stops;
    QObject::connect(&stops, &tevrin::StopSignals::stopRequested, session, &tevrin::SessionEnd::end);
    MainF.show();
    if (qEnvironmentVariableIsSet("TEVRIN_PROBE_TEXTS"))
      QTimer::singleShot(0, &MainF, [&MainF] { ProbeTexts(MainF); });
    if (qEnvironmentVariableIsSet("TEVRIN_PROBE_LINK"))
      QTimer::singleShot(0, &MainF, [&MainF] { ProbeLink(MainF); });
    if (qEnvironmentVariableIsSet("TEVRIN_PROBE_BANNER"))
      QTimer::singleShot(0, &MainF, [&MainF] { ProbeBannerModule(MainF); });
    status = app.exec();
  }  // the window goes: the settings are written
  // A proxy look-up that never answered would hold the exit forever.
  if (tevrin::ProxyLookUpsRunning() > 0) {
    std::fflush(nullptr);
    ::_exit(status);
  }
  return status;
}
