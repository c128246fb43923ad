#include "chartserver.h"
#include "scan/download.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tevrin;

namespace {

const QByteArray kChart13 =
    "<html><body><table><tr><td>Hot Bird — Первый канал</td></tr></table></body></html>\n";
const QByteArray kChart356 = "<html><body><p>Amos</p></body></html>\n";
const QByteArray kBanner = "<html><body>реклама</body></html>\n";
const QByteArray kIndex = "<html><body>start</body></html>\n";
const QByteArray kSecret = "outside the site";

void Write(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(data);
}

struct RawAnswer {
  int status = 0;
  QByteArray head;
  QByteArray body;
};

// Sends the request bytes exactly as given (no client normalises the path) and reads the answer.
RawAnswer Raw(quint16 port, const QByteArray& request) {
  RawAnswer out;
  QTcpSocket socket;
  QByteArray data;
  bool closed = false;
  QObject::connect(&socket, &QTcpSocket::readyRead, [&] { data += socket.readAll(); });
  QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
  socket.connectToHost(QHostAddress::LocalHost, port);
  socket.write(request);
  if (!QTest::qWaitFor([&] { return closed; }, 10000)) return out;
  data += socket.readAll();
  const qsizetype end = data.indexOf("\r\n\r\n");
  out.head = data.left(end);
  out.body = end < 0 ? QByteArray() : data.mid(end + 4);
  const QList<QByteArray> statusLine = out.head.left(out.head.indexOf("\r\n")).split(' ');
  if (statusLine.size() > 1) out.status = statusLine[1].toInt();
  return out;
}

RawAnswer Get(quint16 port, const QByteArray& target) {
  return Raw(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// A listening loopback socket made without Qt, as systemd makes the one it passes on.
int RawListeningSocket(quint16* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return -1;
  *port = ntohs(address.sin_port);
  return fd;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class TstChartServer : public QObject {
  Q_OBJECT
  QTemporaryDir top_;
  QString root_;

 private slots:
  void initTestCase() {
    QVERIFY(top_.isValid());
    root_ = top_.filePath("site");
    Write(root_ + "/charts/13.html", kChart13);
    Write(root_ + "/charts/356.html", kChart356);
    Write(root_ + "/reklama.html", kBanner);
    Write(root_ + "/index.html", kIndex);
    Write(top_.filePath("secret.html"), kSecret);
    Write(root_ + "/charts/secret.html", kSecret);
  }

  void routesServeTheFileBytesThroughTheDownload() {
    ChartServer server(root_);
    server.setLogging(false);
    QVERIFY(server.listen());
    QVERIFY(server.port() != 0);
    QCOMPARE(server.baseUrl(), QString("http://127.0.0.1:%1").arg(server.port()));
    QSignalSpy served(&server, &ChartServer::requestServed);
    QTemporaryDir dir;
    const QString path = dir.filePath("cache.txt");

    QVERIFY(DownloadToFile(server.baseUrl() + "/charts?position=13", path, nullptr));
    QCOMPARE(ReadAll(path), kChart13);
    QVERIFY(DownloadToFile(server.baseUrl() + "/charts?position=356", path, nullptr));
    QCOMPARE(ReadAll(path), kChart356);
    QVERIFY(DownloadToFile(server.baseUrl() + "/reklama.html", path, nullptr));
    QCOMPARE(ReadAll(path), kBanner);
    QVERIFY(DownloadToFile(server.baseUrl() + "/", path, nullptr));
    QCOMPARE(ReadAll(path), kIndex);
    QVERIFY(!DownloadToFile(server.baseUrl() + "/charts?position=14", path, nullptr));
    QCOMPARE(ReadAll(path), kIndex);  // a 404 does not touch the last good page

    QCOMPARE(served.size(), 5);
    QCOMPARE(served.at(0).at(0).toString(), QString("/charts?position=13"));
    QCOMPARE(served.at(4).at(0).toString(), QString("/charts?position=14"));
  }

  void pagesAreUtf8Html() {
    ChartServer server(root_);
    server.setLogging(false);
    QVERIFY(server.listen());
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(server.baseUrl() + "/charts?position=13")));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(10000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(reply->header(QNetworkRequest::ContentTypeHeader).toString(),
             QString("text/html; charset=utf-8"));
    QCOMPARE(reply->readAll(), kChart13);
    delete reply;
  }

  void everythingElseIsRefused_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::newRow("unknown position") << QByteArray("/charts?position=14");
    QTest::newRow("empty position") << QByteArray("/charts?position=");
    QTest::newRow("no query") << QByteArray("/charts");
    QTest::newRow("non-numeric") << QByteArray("/charts?position=abc");
    QTest::newRow("negative") << QByteArray("/charts?position=-13");
    QTest::newRow("number then junk") << QByteArray("/charts?position=13abc");
    QTest::newRow("extra key") << QByteArray("/charts?position=13&x=1");
    QTest::newRow("too many digits") << QByteArray("/charts?position=000000013");
    QTest::newRow("position names a file") << QByteArray("/charts?position=secret");
    QTest::newRow("position climbs out") << QByteArray("/charts?position=../../secret");
    QTest::newRow("encoded climb in position") << QByteArray("/charts?position=%2e%2e%2fsecret");
    QTest::newRow("chart file directly") << QByteArray("/charts/13.html");
    QTest::newRow("dot-dot path") << QByteArray("/../secret.html");
    QTest::newRow("encoded dot-dot") << QByteArray("/%2e%2e/secret.html");
    QTest::newRow("climb behind the banner") << QByteArray("/reklama.html/../../secret.html");
    QTest::newRow("index by name") << QByteArray("/index.html");
    QTest::newRow("banner with query") << QByteArray("/reklama.html?x=1");
    QTest::newRow("absolute form") << QByteArray("http://127.0.0.1/reklama.html");
  }
  void everythingElseIsRefused() {
    QFETCH(QByteArray, target);
    ChartServer server(root_);
    server.setLogging(false);
    QVERIFY(server.listen());
    const RawAnswer answer = Get(server.port(), target);
    QCOMPARE(answer.status, 404);
    QVERIFY(!answer.body.contains(kSecret));
  }

  void methodsAndMalformedRequests() {
    ChartServer server(root_);
    server.setLogging(false);
    QVERIFY(server.listen());
    const quint16 port = server.port();

    const RawAnswer ok = Get(port, "/reklama.html");
    QCOMPARE(ok.status, 200);
    QCOMPARE(ok.body, kBanner);
    QVERIFY(ok.head.contains("Content-Length: " + QByteArray::number(kBanner.size())));

    const RawAnswer head = Raw(port, "HEAD /reklama.html HTTP/1.1\r\nHost: x\r\n\r\n");
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());

    QCOMPARE(Raw(port, "POST /reklama.html HTTP/1.1\r\nContent-Length: 0\r\n\r\n").status, 405);
    QCOMPARE(Raw(port, "garbage\r\n\r\n").status, 400);
    QCOMPARE(Raw(port, "GET /" + QByteArray(20000, 'a')).status, 431);  // never ends its headers
  }

  void activationSocketIsTakenOnlyWhenItIsForThisProcess() {
    QCOMPARE(ActivatedSocket("4242", "1", 4242), qintptr(3));
    QCOMPARE(ActivatedSocket("4242", "2", 4242), qintptr(3));   // only the first is served
    QCOMPARE(ActivatedSocket("4243", "1", 4242), qintptr(-1));  // meant for another process
    QCOMPARE(ActivatedSocket("4242", "0", 4242), qintptr(-1));
    QCOMPARE(ActivatedSocket("", "1", 4242), qintptr(-1));
    QCOMPARE(ActivatedSocket("4242", "", 4242), qintptr(-1));
    QCOMPARE(ActivatedSocket("4242x", "1", 4242), qintptr(-1));
  }

  void servesAHandedOverSocket() {
    quint16 port = 0;
    const int fd = RawListeningSocket(&port);
    QVERIFY(fd >= 0);
    ChartServer server(root_);
    server.setLogging(false);
    QVERIFY(server.adopt(fd));
    QCOMPARE(server.port(), port);
    const RawAnswer answer = Get(port, "/charts?position=13");
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.body, kChart13);
  }

  void idleOnlyOnceTheLastConnectionHasEnded() {
    ChartServer server(root_);
    server.setLogging(false);
    QVERIFY(server.listen());
    QSignalSpy idle(&server, &ChartServer::idle);
    // A client that holds its connection open keeps the server, however long it takes.
    QTcpSocket holder;
    holder.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(holder.waitForConnected(5000));
    QTest::qWait(50);  // the server has taken the connection
    server.setIdleTimeout(100);
    QCOMPARE(Get(server.port(), "/reklama.html").status, 200);
    QTest::qWait(600);
    QCOMPARE(idle.size(), 0);
    holder.disconnectFromHost();
    QVERIFY(idle.wait(10000));
    QCOMPARE(idle.size(), 1);
  }

  void executableTakesTheSocketSystemdPasses() {
    const QString exe = QStringLiteral(TEVRIN_BINARY_DIR "/tools/chartserver/tevrin-chart-server");
    const QString activate = QStandardPaths::findExecutable("systemd-socket-activate");
    if (activate.isEmpty()) QSKIP("systemd-socket-activate is missing: run tools/install-deps.sh");
    quint16 port = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      port = probe.serverPort();
    }
    // The port named on the command line is taken: the server must serve the one it was given.
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    QProcess process;
    process.start(activate, {"-l", QString("127.0.0.1:%1").arg(port), exe, "--port",
                             QString::number(holder.serverPort()), "--root", root_, "--idle-exit", "1"});
    QVERIFY(process.waitForStarted(10000));
    QTemporaryDir dir;
    QVERIFY(QTest::qWaitFor(
        [&] {
          return DownloadToFile(QString("http://127.0.0.1:%1/charts?position=13").arg(port),
                                dir.filePath("cache.txt"), nullptr);
        },
        10000));
    QCOMPARE(ReadAll(dir.filePath("cache.txt")), kChart13);
    // Idle for its second, it ends by itself, and cleanly.
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
  }

  void executableServesAndReportsATakenPort() {
    const QString exe = QStringLiteral(TEVRIN_BINARY_DIR "/tools/chartserver/tevrin-chart-server");
    QVERIFY2(QFileInfo(exe).isExecutable(), qPrintable(exe));

    QProcess process;
    process.start(exe, {"--port", "0", "--root", root_});
    QVERIFY(process.waitForStarted(10000));
    QByteArray line;
    QVERIFY(QTest::qWaitFor(
        [&] {
          line += process.readAllStandardOutput();
          return line.contains('\n');
        },
        10000));
    QVERIFY2(line.startsWith("listening on http://127.0.0.1:"), line.constData());
    const QString base = QString::fromLatin1(line.mid(13).trimmed());
    QTemporaryDir dir;
    QVERIFY(DownloadToFile(base + "/charts?position=356", dir.filePath("cache.txt"), nullptr));
    QCOMPARE(ReadAll(dir.filePath("cache.txt")), kChart356);
    QByteArray log;
    QVERIFY(QTest::qWaitFor(
        [&] {
          log += process.readAllStandardError();
          return log.contains("GET /charts?position=356 HTTP/1.1");
        },
        10000));
    process.kill();
    process.waitForFinished(10000);

    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    QProcess second;
    second.start(exe, {"--port", QString::number(holder.serverPort()), "--root", root_});
    QVERIFY(second.waitForFinished(10000));
    QVERIFY(second.exitCode() != 0);
    QVERIFY(second.readAllStandardError().contains("cannot listen on 127.0.0.1:" +
                                                   QByteArray::number(holder.serverPort())));
  }
};

QTEST_GUILESS_MAIN(TstChartServer)
#include "tst_chartserver.moc"
