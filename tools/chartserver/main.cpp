// tevrin-chart-server [--port N] [--root DIR] [--idle-exit SECONDS]: serves the chart pages and the banner
// page on 127.0.0.1, or on the socket systemd's socket activation hands it.
#include "chartserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {
// The sample site: installed under share/tevrin/site beside bin/, else the
// source tree this server was built from.
QString DefaultRoot() {
  QString installed =
      QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" TEVRIN_SITE_RELDIR));
  if (QFileInfo(installed).isDir()) return installed;
  return QStringLiteral(TEVRIN_SOURCE_DIR "/testdata/site");
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tevrin-chart-server"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TEVRIN_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Serves the chart site and the banner page on 127.0.0.1."));
  parser.addHelpOption();
  const QCommandLineOption portOption(QStringLiteral("port"),
                                      QStringLiteral("Port to listen on (default 8399)."),
                                      QStringLiteral("N"), QStringLiteral("8399"));
  const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("Folder with the pages."),
                                      QStringLiteral("DIR"), DefaultRoot());
  const QCommandLineOption idleOption(QStringLiteral("idle-exit"),
                                      QStringLiteral("End after SECONDS without a connection (0: never)."),
                                      QStringLiteral("SECONDS"), QStringLiteral("0"));
  parser.addOption(portOption);
  parser.addOption(rootOption);
  parser.addOption(idleOption);
  parser.process(app);

  bool numeric = false;
  const uint port = parser.value(portOption).toUInt(&numeric);
  if (!numeric || port > 65535) {
    std::fprintf(stderr, "tevrin-chart-server: invalid port \"%s\"\n", qPrintable(parser.value(portOption)));
    return 2;
  }
  constexpr uint kMaxIdleSeconds = 24 * 3600;
  const uint idleSeconds = parser.value(idleOption).toUInt(&numeric);
  if (!numeric || idleSeconds > kMaxIdleSeconds) {
    std::fprintf(stderr, "tevrin-chart-server: invalid idle time \"%s\"\n",
                 qPrintable(parser.value(idleOption)));
    return 2;
  }
  const QString root = QDir(parser.value(rootOption)).absolutePath();
  if (!QFileInfo(root).isDir()) {
    std::fprintf(stderr, "tevrin-chart-server: no such folder: %s\n", qPrintable(root));
    return 2;
  }

  tevrin::ChartServer server(root);
  // Started by systemd for its socket: the port is systemd's, --port does not apply.
  const qintptr activated = tevrin::TakeActivatedSocket();
  if (activated >= 0) {
    if (!server.adopt(activated)) {
      std::fprintf(stderr, "tevrin-chart-server: cannot serve the socket systemd passed: %s\n",
                   qPrintable(server.errorString()));
      return 1;
    }
  } else if (!server.listen(quint16(port))) {
    std::fprintf(stderr, "tevrin-chart-server: cannot listen on 127.0.0.1:%u: %s\n", port,
                 qPrintable(server.errorString()));
    return 1;
  }
  QObject::connect(&server, &tevrin::ChartServer::idle, &app, [] { QCoreApplication::exit(0); });
  server.setIdleTimeout(int(idleSeconds) * 1000);
  std::printf("listening on %s\n", qPrintable(server.baseUrl()));
  std::fflush(stdout);
  return app.exec();
}
