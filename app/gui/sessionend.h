#pragma once
#include <QObject>

namespace tevrin {

class TMainF;

// Ties the window's life to the desktop session's. A stop signal or the end of
// the session (the X session manager's "die", which Qt turns into a quit
// request) closes the window as the user would and ends the tool: an open
// message box is closed first (a question counts as No), the settings are
// written, and no other window can refuse the end. A save request from the
// session manager, which comes before a logout but also at every checkpoint,
// only writes the settings: the window stays open until the session ends.
class SessionEnd : public QObject {
  Q_OBJECT
 public:
  explicit SessionEnd(TMainF& window);
  ~SessionEnd() override;

  void commitData();
  void end();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TMainF& window_;
  bool ending_ = false;
};

}  // namespace tevrin
