// The real tevrin window on a real X desktop: an Xvfb server with the openbox
// window manager, both started (on a free display) and stopped by this suite.
// The window is found, measured, maximised and closed from outside, as a user
// and the window manager would, with the standard X tools.
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

constexpr char kTitle[] = "Tevrin  v1.04b";
const QSize kScreen(1280, 1024);

// Runs an X tool to its end; its standard output, trimmed.
QString Run(const QString& program, const QStringList& args, const QString& display) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  p.setProcessEnvironment(env);
  p.start(program, args);
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished(2000);
    return {};
  }
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// A chart site on loopback: the banner page at once, a chart page a few bytes
// at a time, slowly enough that the download is still running when the window
// is closed.
class DrippingSite : public QObject {
 public:
  DrippingSite() {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
  QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
  int bannerRequests = 0;
  qint64 chartBytesSent = 0;

 private:
  void answer(QTcpSocket* socket) {
    const QByteArray request = socket->readAll();
    if (!request.startsWith("GET ")) return;
    const QByteArray path = request.mid(4, request.indexOf(' ', 4) - 4);
    if (path.startsWith("/reklama.html")) {
      ++bannerRequests;
      const QByteArray page = "<html><body><p>Tevrin</p></body></html>";
      socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                    QByteArray::number(page.size()) + "\r\n\r\n" + page);
      socket->disconnectFromHost();
      return;
    }
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 10000000\r\n\r\n");
    auto* drip = new QTimer(socket);
    connect(drip, &QTimer::timeout, socket, [this, socket] {
      const QByteArray piece =
          "<tr><td>1</td><td>T: 11804 V<br>DVB-S</td><td>x</td><td>x</td><td>x</td></tr>\n";
      socket->write(piece);
      chartBytesSent += piece.size();
    });
    drip->start(50);
  }

  QTcpServer server_;
};

}  // namespace

class TstDesktop : public QObject {
  Q_OBJECT

  QProcess xvfb_;
  QProcess openbox_;
  QString display_;
  QTemporaryDir home_;  // a copy of the executable: MyIni.ini and cache.txt are kept beside it
  QString exe_;

  QString x(const QString& program, const QStringList& args) const { return Run(program, args, display_); }

  struct Geometry {
    QRect client;    // on the screen
    QMargins frame;  // the window manager's frame around it
    QRect outer() const { return client.marginsAdded(frame); }
  };

  Geometry geometryOf(const QString& id) const {
    Geometry g;
    const QString info = x("xwininfo", {"-id", id});
    auto number = [&info](const char* label) {
      const QRegularExpressionMatch m = QRegularExpression(QString(label) + ":\\s+(-?\\d+)").match(info);
      return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    g.client = QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
                     number("Height"));
    // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
    const QString extents = x("xprop", {"-id", id, "_NET_FRAME_EXTENTS"}).section('=', 1);
    const QStringList parts = extents.split(',', Qt::SkipEmptyParts);
    if (parts.size() == 4)
      g.frame = QMargins(parts[0].trimmed().toInt(), parts[2].trimmed().toInt(), parts[1].trimmed().toInt(),
                         parts[3].trimmed().toInt());
    return g;
  }

  struct Listed {
    QString id, title;
    qint64 pid = 0;
  };
  // The top-level windows that the window manager lists ("wmctrl -lp").
  QList<Listed> listed() const {
    static const QRegularExpression line(QStringLiteral("^(0x[0-9a-f]+)\\s+-?\\d+\\s+(\\d+)\\s+\\S+ (.*)$"));
    QList<Listed> out;
    for (const QString& text : x("wmctrl", {"-lp"}).split('\n')) {
      const QRegularExpressionMatch m = line.match(text);
      if (m.hasMatch()) out.append({m.captured(1), m.captured(3), m.captured(2).toLongLong()});
    }
    return out;
  }
  QString windowOf(qint64 pid, const QString& title) const {
    for (const Listed& w : listed())
      if (w.pid == pid && w.title == title) return w.id;
    return {};
  }

  // Waits for the main window to be framed and to keep its place for a while.
  QString waitForSettledWindow(QProcess& tool, Geometry* geometry) {
    QString id;
    Geometry last;
    int steady = 0;
    const bool settled = tevrin::test::WaitInEventLoop(
        [&] {
          if (tool.state() != QProcess::Running) return true;
          if (id.isEmpty()) id = windowOf(tool.processId(), kTitle);
          if (id.isEmpty()) return false;
          const Geometry g = geometryOf(id);
          steady = (g.client == last.client && g.frame == last.frame && !g.frame.isNull()) ? steady + 1 : 0;
          last = g;
          return steady >= 5;
        },
        30000);
    if (geometry) *geometry = last;
    return settled && tool.state() == QProcess::Running ? id : QString();
  }

  void start(QProcess& tool, const QStringList& extraEnv = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    for (const QString& pair : extraEnv) env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(exe_, {});
    QVERIFY(tool.waitForStarted(10000));
  }

  // Asks the window manager to close the window, and waits for the end.
  void closeAndWait(QProcess& tool, const QString& id, int deadlineMs = 20000) {
    x("wmctrl", {"-i", "-c", id});
    QVERIFY(tevrin::test::WaitInEventLoop([&] { return tool.state() == QProcess::NotRunning; }, deadlineMs));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
  }

  QString ini() const { return QDir(home_.path()).filePath("MyIni.ini"); }

  // The tool's other top-level window (a message box), once it is listed.
  Listed waitForBox(const QProcess& tool, const QString& mainId) const {
    Listed box;
    tevrin::test::WaitInEventLoop(
        [&] {
          for (const Listed& w : listed())
            if (w.pid == tool.processId() && w.id != mainId) box = w;
          return !box.id.isEmpty();
        },
        20000);
    return box;
  }

  // Whether the banner's web view is on screen: its own X window, 347 x 83,
  // somewhere below the main window, mapped with all its parents.
  bool bannerOnScreen(const QString& mainId) const {
    static const QRegularExpression child(QStringLiteral("^\\s*(0x[0-9a-f]+) .* 347x83\\+"));
    for (const QString& line : x("xwininfo", {"-tree", "-id", mainId}).split('\n')) {
      const QRegularExpressionMatch m = child.match(line);
      if (m.hasMatch() && x("xwininfo", {"-id", m.captured(1)}).contains("Map State: IsViewable"))
        return true;
    }
    return false;
  }

 private slots:
  void initTestCase() {
    for (const char* tool : {"Xvfb", "openbox", "wmctrl", "xwininfo", "xprop", "xdotool"})
      QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(),
               qPrintable(QString("%1 is missing: run tools/install-deps.sh").arg(tool)));
    // The executable is copied: the files the tool keeps live beside it.
    exe_ = QDir(home_.path()).filePath("tevrin");
    QVERIFY(QFile::copy(TEVRIN_BINARY_DIR "/tevrin", exe_));
    QVERIFY(QFile::link(TEVRIN_BINARY_DIR "/libtevrin_webbanner.so",
                        QDir(home_.path()).filePath("libtevrin_webbanner.so")));

    // A free display, from TEVRIN_TEST_DISPLAY (32 unless set) upwards; Xvfb
    // reports the number once it accepts clients.
    const int first = qEnvironmentVariableIsSet("TEVRIN_TEST_DISPLAY")
                          ? qEnvironmentVariableIntValue("TEVRIN_TEST_DISPLAY")
                          : 32;
    for (int n = first; n < first + 64 && display_.isEmpty(); ++n) {
      if (QFile::exists(QString("/tmp/.X%1-lock").arg(n)) ||
          QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
        continue;
      xvfb_.start("Xvfb",
                  {QString(":%1").arg(n), "-displayfd", "1", "-screen", "0",
                   QString("%1x%2x24").arg(kScreen.width()).arg(kScreen.height()), "-nolisten", "tcp"});
      if (xvfb_.waitForStarted(10000) && xvfb_.waitForReadyRead(20000)) {
        display_ = ":" + QString::fromLatin1(xvfb_.readLine()).trimmed();
      } else {
        xvfb_.kill();
        xvfb_.waitForFinished(2000);
      }
    }
    QVERIFY2(display_.size() > 1, "no free X display");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    openbox_.setProcessEnvironment(env);
    openbox_.setProcessChannelMode(QProcess::ForwardedChannels);
    openbox_.start("openbox", {"--sm-disable"});
    QVERIFY(openbox_.waitForStarted(10000));
    QVERIFY(tevrin::test::WaitInEventLoop(
        [&] {
          return x("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
        },
        20000));
  }

  void cleanupTestCase() {
    for (QProcess* p : {&openbox_, &xvfb_}) {
      p->terminate();
      if (!p->waitForFinished(5000)) p->kill();
      p->waitForFinished(2000);
    }
  }

  void init() {
    QFile::remove(ini());
    QFile::remove(QDir(home_.path()).filePath("cache.txt"));
  }

  void threeStartsKeepTheDesignedClientSize() {
    for (int run = 1; run <= 3; ++run) {
      QProcess tool;
      start(tool);
      Geometry g;
      const QString id = waitForSettledWindow(tool, &g);
      QVERIFY2(!id.isEmpty(), "no framed main window");
      QCOMPARE(g.client.size(), QSize(850, 416));
      QVERIFY(g.frame.top() > 0);  // really framed by the window manager
      // Centred on the desktop, frame included.
      const QRect o = g.outer();
      const QString where =
          QString("run %1: outer %2,%3 %4x%5").arg(run).arg(o.x()).arg(o.y()).arg(o.width()).arg(o.height());
      QVERIFY2(qAbs(o.left() - (kScreen.width() - o.x() - o.width())) <= 1, qPrintable(where));
      QVERIFY2(qAbs(o.top() - (kScreen.height() - o.y() - o.height())) <= 1, qPrintable(where));
      closeAndWait(tool, id);
      QCOMPARE(tevrin::test::ReadBytes(ini()).contains("Wh=" + QByteArray::number(g.outer().width())), true);
    }
  }

  void tinyStoredSizeOpensAtTheOuterMinimum() {
    tevrin::test::WriteBytes(ini(), "[Size]\r\nWh=100\r\nHh=100\r\n");
    QProcess tool;
    start(tool);
    Geometry g;
    const QString id = waitForSettledWindow(tool, &g);
    QVERIFY(!id.isEmpty());
    QCOMPARE(g.outer().size(), QSize(587, 347));
    // The outer minimum holds against the user too.
    x("xdotool", {"windowsize", id, "10", "10"});
    QVERIFY(tevrin::test::WaitInEventLoop([&] { return geometryOf(id).client.width() < 850; }, 5000));
    QCOMPARE(geometryOf(id).outer().size(), QSize(587, 347));
    closeAndWait(tool, id);
  }

  void maximisedCloseReopensOnScreenAtTheMaximisedSize() {
    QSize maximised;
    {
      QProcess tool;
      start(tool);
      const QString id = waitForSettledWindow(tool, nullptr);
      QVERIFY(!id.isEmpty());
      x("wmctrl", {"-i", "-r", id, "-b", "add,maximized_vert,maximized_horz"});
      QVERIFY(tevrin::test::WaitInEventLoop(
          [&] {
            maximised = geometryOf(id).outer().size();
            return x("xprop", {"-id", id, "_NET_WM_STATE"}).contains("MAXIMIZED_HORZ") &&
                   maximised.width() >= kScreen.width() - 2;
          },
          10000));
      closeAndWait(tool, id);
    }
    // A stored size beyond the desktop is cut to it as well.
    for (const QByteArray& stored : {QByteArray(), QByteArray("[Size]\r\nWh=100000\r\nHh=100000\r\n")}) {
      if (!stored.isEmpty()) tevrin::test::WriteBytes(ini(), stored);
      QProcess tool;
      start(tool);
      Geometry g;
      const QString id = waitForSettledWindow(tool, &g);
      QVERIFY(!id.isEmpty());
      QVERIFY(!x("xprop", {"-id", id, "_NET_WM_STATE"}).contains("MAXIMIZED"));
      QCOMPARE(g.outer().size(), maximised);
      QVERIFY2(QRect(QPoint(0, 0), kScreen).contains(g.outer()), "the title bar is off the screen");
      closeAndWait(tool, id);
      QVERIFY(tevrin::test::ReadBytes(ini()).contains("Wh=" + QByteArray::number(maximised.width())));
    }
  }

  void closeDuringASlowDownloadEndsTheTool() {
    DrippingSite site;
    QVERIFY(site.listen());
    QProcess tool;
    start(tool, {"TEVRIN_CHART_URL=" + site.url(), "TEVRIN_SITE_URL=" + site.url()});
    const QString id = waitForSettledWindow(tool, nullptr);
    QVERIFY(!id.isEmpty());
    // The next satellite by the wheel over the list, then the scan button.
    x("xdotool", {"mousemove", "--window", id, "80", "51", "click", "5"});
    x("xdotool", {"mousemove", "--window", id, "88", "390", "click", "1"});
    QVERIFY(
        tevrin::test::WaitInEventLoop([&] { return site.bannerRequests > 0 && site.chartBytesSent > 2000; }));
    QVERIFY(tool.state() == QProcess::Running);
    // The progress window: titled as the tool, above its main window only.
    Listed progress;
    for (const Listed& w : listed())
      if (w.pid == tool.processId() && w.id != id) progress = w;
    QCOMPARE(progress.title, QString(kTitle));
    const QString transientFor = x("xprop", {"-id", progress.id, "WM_TRANSIENT_FOR"});
    QVERIFY2(transientFor.endsWith(QString::number(id.toULongLong(nullptr, 16), 16)),
             qPrintable(transientFor));
    QVERIFY(!x("xprop", {"-id", progress.id, "_NET_WM_STATE"}).contains("ABOVE"));

    QElapsedTimer clock;
    clock.start();
    closeAndWait(tool, id, 2000);
    QVERIFY2(clock.elapsed() <= 2000, qPrintable(QString("ended after %1 ms").arg(clock.elapsed())));
    QVERIFY(tevrin::test::ReadBytes(ini()).contains("[LngCheck]"));
    const QStringList left = QDir(home_.path()).entryList(QDir::Files);
    QCOMPARE(left.filter("cache").size(), 0);
  }

  // A failed download ends the tool after its box, also while the banner is
  // on screen: Qt's own quit was refused whenever the banner's window came
  // before the main window in its hash-ordered list of windows, so the tool is
  // started several times.
  void failedDownloadEndsTheToolWithTheBannerOnScreen() {
    DrippingSite site;  // only the banner is asked of it
    QVERIFY(site.listen());
    quint16 closedPort = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      closedPort = probe.serverPort();
    }
    for (int run = 1; run <= 5; ++run) {
      QFile::remove(ini());
      QProcess tool;
      start(tool, {QString("TEVRIN_CHART_URL=http://127.0.0.1:%1").arg(closedPort),
                   "TEVRIN_SITE_URL=" + site.url()});
      const QString id = waitForSettledWindow(tool, nullptr);
      QVERIFY(!id.isEmpty());
      x("xdotool", {"mousemove", "--window", id, "80", "51", "click", "5"});
      x("xdotool", {"mousemove", "--window", id, "88", "390", "click", "1"});
      const Listed box = waitForBox(tool, id);
      QCOMPARE(box.title, QString("Error"));
      QVERIFY2(tevrin::test::WaitInEventLoop([&] { return bannerOnScreen(id); }),
               qPrintable(QString("run %1: the banner never showed").arg(run)));
      // Closed through the window manager: a key sent to a window that is
      // gone by its release leaves the key held, and the next run's box
      // would take it.
      x("wmctrl", {"-i", "-c", box.id});
      QVERIFY2(tevrin::test::WaitInEventLoop([&] { return tool.state() == QProcess::NotRunning; }, 20000),
               qPrintable(QString("run %1: still running after the box").arg(run)));
      QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
      QCOMPARE(tool.exitCode(), 0);
      QVERIFY(tevrin::test::ReadBytes(ini()).contains("[LngCheck]"));
    }
  }

  void noLanguageWarningIsCaptionedWarning() {
    tevrin::test::WriteBytes(ini(), "[LngCheck]\r\nRus=0\r\nUkr=0\r\nBel=0\r\nOth=0\r\n");
    QProcess tool;
    start(tool);
    const QString id = waitForSettledWindow(tool, nullptr);
    QVERIFY(!id.isEmpty());
    x("xdotool", {"mousemove", "--window", id, "88", "390", "click", "1"});
    const Listed box = waitForBox(tool, id);
    QCOMPARE(box.title, QString("Warning"));
    x("xdotool", {"key", "--window", box.id, "Return"});
    QVERIFY(tevrin::test::WaitInEventLoop(
        [&] {
          for (const Listed& w : listed())
            if (w.id == box.id) return false;
          return true;
        },
        10000));
    closeAndWait(tool, id);
  }
};

QTEST_GUILESS_MAIN(TstDesktop)
#include "tst_desktop.moc"
