#include "chartserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

namespace tevrin {
namespace {
constexpr qsizetype kMaxRequestBytes = 16 * 1024;
constexpr int kIdleMs = 10000;
constexpr int kMaxPositionDigits = 4;

QByteArray Response(const QByteArray& status, const QByteArray& body, bool withBody,
                    const QByteArray& extraHeaders = {}) {
  QByteArray out = "HTTP/1.1 " + status + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n" + extraHeaders + "Connection: close\r\n\r\n";
  if (withBody) out += body;
  return out;
}

QByteArray ErrorPage(const QByteArray& status) {
  return "<html><body><h1>" + status + "</h1></body></html>\n";
}
}  // namespace

ChartServer::ChartServer(QString rootDir, QObject* parent) : QObject(parent), root_(std::move(rootDir)) {
  connect(&server_, &QTcpServer::newConnection, this, &ChartServer::onConnection);
  idle_.setSingleShot(true);
  connect(&idle_, &QTimer::timeout, this, [this] {
    if (openConnections_ == 0 && !server_.hasPendingConnections()) emit idle();
  });
}

ChartServer::~ChartServer() {
  server_.close();
  // The sockets die with the server; their signals must not reach this half-destroyed object.
  for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) socket->disconnect(this);
}

bool ChartServer::listen(quint16 port, const QHostAddress& address) { return server_.listen(address, port); }

bool ChartServer::adopt(qintptr listeningSocket) { return server_.setSocketDescriptor(listeningSocket); }

void ChartServer::setIdleTimeout(int ms) {
  idle_.setInterval(ms);
  if (ms > 0 && openConnections_ == 0) idle_.start();
  else idle_.stop();
}

QString ChartServer::baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

void ChartServer::onConnection() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    buffers_.insert(socket, {});
    ++openConnections_;
    idle_.stop();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      buffers_.remove(socket);
      socket->deleteLater();
      // The idle time counts from the end of the last connection.
      if (--openConnections_ == 0 && idle_.interval() > 0) idle_.start();
    });
    // A client that connects and says nothing does not keep a socket forever.
    QTimer::singleShot(kIdleMs, socket, [socket] { socket->abort(); });
  }
}

void ChartServer::onReadyRead(QTcpSocket* socket) {
  auto it = buffers_.find(socket);
  if (it == buffers_.end()) {
    socket->readAll();  // already answered; the rest of the request is of no interest
    return;
  }
  it.value() += socket->readAll();
  const QByteArray& data = it.value();
  const qsizetype lineEnd = data.indexOf("\r\n");
  if (data.indexOf("\r\n\r\n") < 0) {
    if (data.size() > kMaxRequestBytes) {
      buffers_.erase(it);
      socket->write(Response("431 Request Header Fields Too Large", ErrorPage("431"), true));
      socket->disconnectFromHost();
    }
    return;
  }
  const QByteArray line = data.left(lineEnd);
  buffers_.erase(it);
  const QList<QByteArray> parts = line.split(' ');
  if (parts.size() != 3 || !parts[2].startsWith("HTTP/")) {
    socket->write(Response("400 Bad Request", ErrorPage("400"), true));
    socket->disconnectFromHost();
    return;
  }
  if (logging_) {
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
  }
  answer(socket, parts[0], parts[1]);
  emit requestServed(QString::fromLatin1(parts[1]));
}

void ChartServer::answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& target) {
  const bool head = method == "HEAD";
  if (method != "GET" && !head) {
    socket->write(Response("405 Method Not Allowed", ErrorPage("405"), true, "Allow: GET, HEAD\r\n"));
  } else {
    const QString path = fileFor(target);
    QFile file(path);
    if (!path.isEmpty() && QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly)) {
      socket->write(Response("200 OK", file.readAll(), !head));
    } else {
      socket->write(Response("404 Not Found", ErrorPage("404"), !head));
    }
  }
  socket->disconnectFromHost();
}

// The file a request target names, or an empty string. Only the three routes exist; nothing of the
// target becomes part of a path except a decimal number.
QString ChartServer::fileFor(const QByteArray& target) const {
  const qsizetype q = target.indexOf('?');
  const QByteArray rawPath = q < 0 ? target : target.left(q);
  const QByteArray rawQuery = q < 0 ? QByteArray() : target.mid(q + 1);
  const QByteArray path = QByteArray::fromPercentEncoding(rawPath);
  const QDir root(root_);
  if (path == "/" && rawQuery.isEmpty()) return root.filePath(QStringLiteral("index.html"));
  if (path == "/reklama.html" && rawQuery.isEmpty()) return root.filePath(QStringLiteral("reklama.html"));
  if (path != "/charts") return {};
  const QUrlQuery query(QString::fromLatin1(rawQuery));
  const auto items = query.queryItems(QUrl::FullyDecoded);
  if (items.size() != 1 || items[0].first != QLatin1String("position")) return {};
  const QString digits = items[0].second;
  if (digits.isEmpty() || digits.size() > kMaxPositionDigits) return {};
  for (QChar ch : digits)
    if (ch < QLatin1Char('0') || ch > QLatin1Char('9')) return {};
  return root.filePath(QStringLiteral("charts/%1.html").arg(digits.toInt()));
}

qintptr ActivatedSocket(const QByteArray& listenPid, const QByteArray& listenFds, qint64 pid) {
  constexpr qintptr kFirstPassedSocket = 3;  // after standard input, output and error
  bool pidOk = false;
  bool countOk = false;
  const qint64 forPid = listenPid.toLongLong(&pidOk);
  const int count = listenFds.toInt(&countOk);
  if (!pidOk || !countOk || forPid != pid || count < 1) return -1;
  return kFirstPassedSocket;
}

qintptr TakeActivatedSocket() {
  const qintptr fd = ActivatedSocket(qgetenv("LISTEN_PID"), qgetenv("LISTEN_FDS"), getpid());
  qunsetenv("LISTEN_PID");
  qunsetenv("LISTEN_FDS");
  qunsetenv("LISTEN_FDNAMES");
  if (fd < 0) return -1;
  // Only a listening stream socket will do.
  struct stat info {};
  int listening = 0;
  socklen_t size = sizeof listening;
  if (fstat(int(fd), &info) != 0 || !S_ISSOCK(info.st_mode) ||
      getsockopt(int(fd), SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening == 0)
    return -1;
  fcntl(int(fd), F_SETFD, FD_CLOEXEC);
  return fd;
}

}  // namespace tevrin
