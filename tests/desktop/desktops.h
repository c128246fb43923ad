#pragma once
// Desktops to run the real tool on, each started and stopped by the test that
// uses it: an Xvfb server with the openbox window manager, and KDE's
// compositor KWin on its virtual (memory-only) output, where the window runs
// natively on Wayland. Each tells the windows it manages with their bounds,
// and maximises and closes them as the user would.
#include <QHash>
#include <QMargins>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace tevrin::test {

// Ends `process` with the test, should the test itself end abruptly.
void EndsWithTheTest(QProcess& process);

// A top-level window as the window manager sees it.
struct DesktopWindow {
  QString id;  // the window manager's handle
  QString title;
  qint64 pid = 0;
  QRect outer;  // on the screen, frame included
  QRect client;
  bool maximised = false;
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  Desktop() = default;
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  virtual QString name() const = 0;
  // Empty once the desktop is up; else what failed.
  virtual QString start() = 0;
  // Where a program shows its windows on this desktop.
  virtual void addTo(QProcessEnvironment& env) const = 0;
  virtual QList<DesktopWindow> windows() = 0;
  virtual void close(const QString& id) = 0;
  virtual void maximise(const QString& id) = 0;
  // Asks for another outer size, as a user's drag of the frame's edge would.
  virtual void resize(const QString& id, const QSize& outer) = 0;
  // Whether a program learns its frame here. X11 window managers announce
  // it; KWin draws its own decorations around a Wayland window and tells the
  // program nothing about them.
  virtual bool framesKnownToPrograms() const = 0;

  static QSize screen() { return {1280, 1024}; }
  // A title as the window manager shows it: KWin turns runs of blanks into one.
  virtual QString shownTitle(const QString& title) const { return title; }
};

// Xvfb on the first free display from `firstDisplay` up, with openbox.
class OpenboxDesktop final : public Desktop {
 public:
  explicit OpenboxDesktop(int firstDisplay) : firstDisplay_(firstDisplay) {}
  ~OpenboxDesktop() override;
  QString name() const override { return QStringLiteral("openbox"); }
  QString start() override;
  void addTo(QProcessEnvironment& env) const override;
  QList<DesktopWindow> windows() override;
  void close(const QString& id) override;
  void maximise(const QString& id) override;
  void resize(const QString& id, const QSize& outer) override;
  bool framesKnownToPrograms() const override { return true; }

  QString display() const { return display_; }
  // Runs an X tool on this display to its end; its standard output, trimmed.
  QString x(const QString& program, const QStringList& args) const;
  DesktopWindow geometryOf(const QString& id) const;

 private:
  int firstDisplay_;
  QProcess xvfb_, openbox_;
  QString display_;
};

// kwin_wayland --virtual with a bus of its own, scripted over D-Bus.
class KWinDesktop final : public Desktop {
 public:
  explicit KWinDesktop(QString socketName) : socket_(std::move(socketName)) {}
  ~KWinDesktop() override;
  QString name() const override { return QStringLiteral("kwin"); }
  QString start() override;
  void addTo(QProcessEnvironment& env) const override;
  QList<DesktopWindow> windows() override;
  void close(const QString& id) override;
  void maximise(const QString& id) override;
  void resize(const QString& id, const QSize& outer) override;
  bool framesKnownToPrograms() const override { return false; }
  QString shownTitle(const QString& title) const override { return title.simplified(); }

 private:
  // Runs `action` for the window `id` (every window for an empty one), then
  // lists the windows; the listing, one JSON object a line. A script with a
  // `resident` part stays loaded.
  QStringList script(const QString& id, const QString& action, const QString& resident = QString());

  QString socket_;
  QTemporaryDir dir_;  // runtime, configuration, the compositor's copy, scripts
  QProcess bus_, kwin_;
  QString busAddress_;
  QByteArray output_;  // what the compositor printed and no script has read yet
  QByteArray lines_;   // the last line the compositor printed, while incomplete
  QHash<QString, bool> maximised_;
  int scripts_ = 0;
};

}  // namespace tevrin::test
