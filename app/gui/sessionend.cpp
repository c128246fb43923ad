#include "app/gui/sessionend.h"

#include "app/guard.h"
#include "app/gui/mainform.h"

#include <QApplication>
#include <QEvent>
#include <QSessionManager>

namespace tevrin {

SessionEnd::SessionEnd(TMainF& window) : QObject(&window), window_(window) {
  qApp->installEventFilter(this);
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { commitData(); });
}

SessionEnd::~SessionEnd() { qApp->removeEventFilter(this); }

void SessionEnd::commitData() {
  RunGuarded([this] { window_.commitSettings(); });
}

void SessionEnd::end() {
  if (ending_) return;
  ending_ = true;
  RunGuarded([this] {
    // A window under a modal box takes no close of its own.
    for (int boxes = 0; boxes < 16; ++boxes) {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal == &window_) break;
      modal->close();
    }
    window_.terminateTool();
  });
}

// Qt answers a quit request by closing every top-level window and gives up at
// the first that refuses; the banner's embedded window may be that one. While
// the main window is up, the request ends the tool outright instead. Once it
// is closed, the quit that follows its close is left to Qt.
bool SessionEnd::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Quit && watched == qApp && window_.isVisible() && !ending_) {
    end();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tevrin
