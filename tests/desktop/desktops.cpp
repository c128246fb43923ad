#include "desktop/desktops.h"

#include "support/testsupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <sys/prctl.h>
#include <csignal>

namespace tevrin::test {
namespace {

void Stop(QProcess& p) {
  if (p.state() == QProcess::NotRunning) return;
  p.terminate();
  if (!p.waitForFinished(5000)) p.kill();
  p.waitForFinished(2000);
}

}  // namespace

void EndsWithTheTest(QProcess& process) {
  process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// --- Xvfb and openbox ---------------------------------------------------------

OpenboxDesktop::~OpenboxDesktop() {
  Stop(openbox_);
  Stop(xvfb_);
}

QString OpenboxDesktop::start() {
  for (const char* tool : {"Xvfb", "openbox", "wmctrl", "xwininfo", "xprop", "xdotool"})
    if (QStandardPaths::findExecutable(tool).isEmpty())
      return QString("%1 is missing: run tools/install-deps.sh").arg(tool);
  // A free display; Xvfb reports the number once it accepts clients.
  const QSize size = screen();
  EndsWithTheTest(xvfb_);
  EndsWithTheTest(openbox_);
  for (int n = firstDisplay_; n < firstDisplay_ + 64 && display_.isEmpty(); ++n) {
    if (QFile::exists(QString("/tmp/.X%1-lock").arg(n)) ||
        QFile::exists(QString("/tmp/.X11-unix/X%1").arg(n)))
      continue;
    xvfb_.start("Xvfb", {QString(":%1").arg(n), "-displayfd", "1", "-screen", "0",
                         QString("%1x%2x24").arg(size.width()).arg(size.height()), "-nolisten", "tcp"});
    if (xvfb_.waitForStarted(10000) && xvfb_.waitForReadyRead(20000)) {
      display_ = ":" + QString::fromLatin1(xvfb_.readLine()).trimmed();
    } else {
      xvfb_.kill();
      xvfb_.waitForFinished(2000);
    }
  }
  if (display_.size() < 2) return QStringLiteral("no free X display");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display_);
  openbox_.setProcessEnvironment(env);
  openbox_.setProcessChannelMode(QProcess::MergedChannels);
  // Once more should openbox end before it has taken the display.
  QByteArray said;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    openbox_.start("openbox", {"--sm-disable"});
    if (!openbox_.waitForStarted(10000)) return QStringLiteral("openbox did not start");
    const bool managing = WaitInEventLoop(
        [&] {
          return openbox_.state() != QProcess::Running ||
                 x("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id");
        },
        20000);
    said += openbox_.readAll();
    if (managing && openbox_.state() == QProcess::Running) return {};
    Stop(openbox_);
  }
  return "openbox did not take the display " + display_ + ": " + QString::fromLocal8Bit(said.right(2000));
}

void OpenboxDesktop::addTo(QProcessEnvironment& env) const {
  env.insert("DISPLAY", display_);
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.remove("WAYLAND_DISPLAY");
}

QString OpenboxDesktop::x(const QString& program, const QStringList& args) const {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display_);
  p.setProcessEnvironment(env);
  p.start(program, args);
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished(2000);
    return {};
  }
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

DesktopWindow OpenboxDesktop::geometryOf(const QString& id) const {
  DesktopWindow w;
  w.id = id;
  const QString info = x("xwininfo", {"-id", id});
  auto number = [&info](const char* label) {
    const QRegularExpressionMatch m = QRegularExpression(QString(label) + ":\\s+(-?\\d+)").match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
  };
  w.client = QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
                   number("Height"));
  // _NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom
  QMargins frame;
  const QStringList parts =
      x("xprop", {"-id", id, "_NET_FRAME_EXTENTS"}).section('=', 1).split(',', Qt::SkipEmptyParts);
  if (parts.size() == 4)
    frame = QMargins(parts[0].trimmed().toInt(), parts[2].trimmed().toInt(), parts[1].trimmed().toInt(),
                     parts[3].trimmed().toInt());
  w.outer = w.client.marginsAdded(frame);
  const QString state = x("xprop", {"-id", id, "_NET_WM_STATE"});
  w.maximised = state.contains("MAXIMIZED_HORZ") && state.contains("MAXIMIZED_VERT");
  return w;
}

// The windows the window manager lists ("wmctrl -lp"), framed or not yet.
QList<DesktopWindow> OpenboxDesktop::windows() {
  static const QRegularExpression line(QStringLiteral("^(0x[0-9a-f]+)\\s+-?\\d+\\s+(\\d+)\\s+\\S+ (.*)$"));
  QList<DesktopWindow> out;
  for (const QString& text : x("wmctrl", {"-lp"}).split('\n')) {
    const QRegularExpressionMatch m = line.match(text);
    if (!m.hasMatch()) continue;
    DesktopWindow w = geometryOf(m.captured(1));
    w.title = m.captured(3);
    w.pid = m.captured(2).toLongLong();
    out.append(w);
  }
  return out;
}

void OpenboxDesktop::close(const QString& id) { x("wmctrl", {"-i", "-c", id}); }

void OpenboxDesktop::maximise(const QString& id) {
  x("wmctrl", {"-i", "-r", id, "-b", "add,maximized_vert,maximized_horz"});
}

void OpenboxDesktop::resize(const QString& id, const QSize& outer) {
  x("xdotool", {"windowsize", id, QString::number(outer.width()), QString::number(outer.height())});
}

// --- KWin ---------------------------------------------------------------------

KWinDesktop::~KWinDesktop() {
  Stop(kwin_);
  Stop(bus_);
  QDBusConnection::disconnectFromBus(QStringLiteral("tevrin-kwin"));
}

QString KWinDesktop::start() {
  const QString installed = QStandardPaths::findExecutable("kwin_wayland");
  if (installed.isEmpty()) return QStringLiteral("kwin_wayland is missing: run tools/install-deps.sh");
  if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
    return QStringLiteral("dbus-daemon is missing: run tools/install-deps.sh");
  if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/libqwayland-generic.so"))
    return QStringLiteral("Qt's Wayland platform (qt6-wayland) is missing: run tools/install-deps.sh");
  if (!dir_.isValid()) return QStringLiteral("no temporary folder");
  const QDir dir(dir_.path());
  for (const char* sub : {"run", "config", "cache", "data"}) dir.mkpath(sub);
  QFile::setPermissions(dir.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  // The installed binary carries a file capability, which a root sandbox may
  // refuse to run ("Operation not permitted"); a plain copy has none.
  const QString kwin = dir.filePath("kwin_wayland");
  if (!QFile::copy(installed, kwin)) return QStringLiteral("cannot copy kwin_wayland");

  EndsWithTheTest(bus_);
  EndsWithTheTest(kwin_);
  bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
  if (!bus_.waitForStarted(10000) || !bus_.waitForReadyRead(10000)) return QStringLiteral("no D-Bus daemon");
  busAddress_ = QString::fromLatin1(bus_.readLine()).trimmed();

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
  env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
  env.insert("XDG_DATA_HOME", dir.filePath("data"));
  env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress_);
  env.insert("QT_LOGGING_RULES", "kwin_scripting.debug=true");  // what the scripts print
  kwin_.setProcessEnvironment(env);
  kwin_.setProcessChannelMode(QProcess::MergedChannels);
  QObject::connect(&kwin_, &QProcess::readyRead, &kwin_, [this] {
    const QByteArray chunk = kwin_.readAll();
    output_ += chunk;
    // The watcher's lines, whenever they come: "TEVRIN-MAXIMISED <id> <true|false>".
    lines_ += chunk;
    for (qsizetype end = lines_.indexOf('\n'); end >= 0; end = lines_.indexOf('\n')) {
      const QByteArray line = lines_.left(end);
      lines_.remove(0, end + 1);
      const qsizetype at = line.indexOf("TEVRIN-MAXIMISED ");
      if (at < 0) continue;
      const QList<QByteArray> words = line.mid(at).split(' ');
      if (words.size() == 3) maximised_[QString::fromUtf8(words[1])] = words[2] == "true";
    }
  });
  const QSize size = screen();
  kwin_.start(kwin, {"--virtual", "--no-lockscreen", "--socket", socket_, "--width",
                     QString::number(size.width()), "--height", QString::number(size.height())});
  if (!kwin_.waitForStarted(10000)) return QStringLiteral("kwin_wayland did not start");
  QDBusConnection bus = QDBusConnection::connectToBus(busAddress_, QStringLiteral("tevrin-kwin"));
  // Up once its socket is there and its scripting answers, which comes last.
  QDBusMessage probe = QDBusMessage::createMethodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                                      "isScriptLoaded");
  probe << QStringLiteral("none");
  const bool up = WaitInEventLoop(
      [&] {
        return kwin_.state() != QProcess::Running ||
               (QFile::exists(dir.filePath("run/" + socket_)) && bus.isConnected() &&
                bus.interface()->isServiceRegistered(QStringLiteral("org.kde.KWin")).value() &&
                bus.call(probe, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage);
      },
      30000);
  if (!up || kwin_.state() != QProcess::Running)
    return "kwin_wayland did not come up: " + QString::fromLocal8Bit(output_.right(2000));
  // Scripts cannot read a window's maximised state; a watcher that stays
  // loaded reports every change of it.
  script(QString(), QString(),
         QStringLiteral("workspace.clientMaximizeSet.connect(function (w, h, v) {\n"
                        "  print('TEVRIN-MAXIMISED ' + String(w.internalId) + ' ' + (h && v));\n"
                        "});\n"));
  return {};
}

void KWinDesktop::addTo(QProcessEnvironment& env) const {
  env.remove("DISPLAY");
  env.insert("QT_QPA_PLATFORM", "wayland");
  env.insert("WAYLAND_DISPLAY", socket_);
  env.insert("XDG_RUNTIME_DIR", QDir(dir_.path()).filePath("run"));
  env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress_);
}

QStringList KWinDesktop::script(const QString& id, const QString& action, const QString& resident) {
  const QString token = QString::number(++scripts_);
  const QString path = QDir(dir_.path()).filePath(QString("script%1.js").arg(token));
  const QString text =
      QStringLiteral(
          "%4\n"
          "(function () {\n"
          "  const token = 'TEVRIN %1 ';\n"
          "  const wanted = '%2';\n"
          "  for (const w of workspace.clientList())\n"
          "    if (wanted === '' || String(w.internalId) === wanted) { %3 }\n"
          "  for (const w of workspace.clientList()) {\n"
          "    const f = w.frameGeometry, b = w.bufferGeometry;\n"
          "    print(token + JSON.stringify({id: String(w.internalId), title: w.caption, pid: w.pid,\n"
          "      outer: [f.x, f.y, f.width, f.height], client: [b.x, b.y, b.width, b.height]}));\n"
          "  }\n"
          "  print(token + 'END');\n"
          "})();\n")
          .arg(token, id, action, resident);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0) return {};
  file.close();

  QDBusConnection bus(QStringLiteral("tevrin-kwin"));
  const QString service = QStringLiteral("org.kde.KWin");
  const QString plugin = "tevrin" + token;
  QDBusMessage load =
      QDBusMessage::createMethodCall(service, "/Scripting", "org.kde.kwin.Scripting", "loadScript");
  load << path << plugin;
  const QDBusReply<int> loaded = bus.call(load, QDBus::Block, 10000);
  if (!loaded.isValid() || loaded.value() < 0) return {};
  // KWin 5 puts a loaded script at /<id>, KWin 6 at /Scripting/Script<id>.
  for (const QString& object :
       {"/" + QString::number(loaded.value()), "/Scripting/Script" + QString::number(loaded.value())}) {
    const QDBusMessage run = QDBusMessage::createMethodCall(service, object, "org.kde.kwin.Script", "run");
    if (bus.call(run, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage) break;
  }
  const QByteArray start = ("TEVRIN " + token + " ").toUtf8();
  const QByteArray end = start + "END";
  WaitInEventLoop([&] { return output_.contains(end) || kwin_.state() != QProcess::Running; }, 10000);
  if (resident.isEmpty()) {
    QDBusMessage unload =
        QDBusMessage::createMethodCall(service, "/Scripting", "org.kde.kwin.Scripting", "unloadScript");
    unload << plugin;
    bus.call(unload, QDBus::Block, 10000);
  }

  QStringList lines;
  for (const QByteArray& line : output_.split('\n')) {
    const qsizetype at = line.indexOf(start);
    if (at >= 0 && !line.endsWith("END")) lines << QString::fromUtf8(line.mid(at + start.size()));
  }
  // What this script printed is read; keep only what came after it.
  const qsizetype last = output_.lastIndexOf(end);
  if (last >= 0) output_.remove(0, last + end.size());
  return lines;
}

QList<DesktopWindow> KWinDesktop::windows() {
  QList<DesktopWindow> out;
  auto rect = [](const QJsonValue& v) {
    const QJsonArray a = v.toArray();
    return QRectF(a[0].toDouble(), a[1].toDouble(), a[2].toDouble(), a[3].toDouble()).toRect();
  };
  for (const QString& line : script(QString(), QString())) {
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    DesktopWindow w;
    w.id = o["id"].toString();
    w.title = o["title"].toString();
    w.pid = o["pid"].toInteger();
    w.outer = rect(o["outer"]);
    w.client = rect(o["client"]);
    w.maximised = maximised_.value(w.id, false);
    out.append(w);
  }
  return out;
}

void KWinDesktop::close(const QString& id) { script(id, QStringLiteral("w.closeWindow();")); }

void KWinDesktop::maximise(const QString& id) { script(id, QStringLiteral("w.setMaximize(true, true);")); }

void KWinDesktop::resize(const QString& id, const QSize& outer) {
  script(id, QString("const g = w.frameGeometry; w.frameGeometry = {x: g.x, y: g.y, width: %1, height: %2};")
                 .arg(outer.width())
                 .arg(outer.height()));
}

}  // namespace tevrin::test
