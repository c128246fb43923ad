#include "scan/gui/bindstatuscallback.h"

#include "scan/gui/badgeanimation.h"
#include "scan/gui/formloadurl.h"
#include "scan/scancancel.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

namespace tevrin {

TBindStatusCallback::TBindStatusCallback(QWidget* mainF, TFormLoadURL* formLoadURL)
    : mainF_(mainF), formLoadURL_(formLoadURL) {}

int& TBindStatusCallback::StopPauseMs() {
  static int pause = 1000;
  return pause;
}

void TBindStatusCallback::OnStartBinding() {
  mainF_->setEnabled(false);
  formLoadURL_->showCentred();
  QCoreApplication::processEvents();
  formLoadURL_->AnimateCopy()->setActive(true);
}

void TBindStatusCallback::OnProgress(qint64 bytesReceived) {
  formLoadURL_->setStatusText(DownloadStatusText(bytesReceived, ChartUrlIndex, ChartUrlCount));
  QCoreApplication::processEvents();
}

void TBindStatusCallback::OnStopBinding() {
  formLoadURL_->AnimateCopy()->setActive(false);
  // The window stays on screen with its last line; the GUI thread sleeps, as
  // the animation does. A cancelled scan is ending the tool: no pause then.
  if (StopPauseMs() > 0 && !ScanCancel::instance().isRequested())
    QThread::msleep(static_cast<unsigned long>(StopPauseMs()));
  mainF_->setEnabled(true);
  if (formLoadURL_->isVisible()) formLoadURL_->hide();
  QCoreApplication::processEvents();
}

}  // namespace tevrin
