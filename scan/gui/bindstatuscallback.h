#pragma once
#include "scan/download.h"

class QWidget;

namespace tevrin {

class TFormLoadURL;

// The window's side of a download: the main window turns inert and the
// progress window shows the amount received.
class TBindStatusCallback final : public IBindStatusCallback {
 public:
  TBindStatusCallback(QWidget* mainF, TFormLoadURL* formLoadURL);

  void OnStartBinding() override;
  void OnProgress(qint64 bytesReceived) override;
  void OnStopBinding() override;

  // The progress window stays up this long with its last line after a
  // transfer; the benchmark turns it off.
  static int& StopPauseMs();

 private:
  QWidget* mainF_;
  TFormLoadURL* formLoadURL_;
};

}  // namespace tevrin
