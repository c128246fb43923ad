#include "faultserver.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace tevrin::test {

struct FaultServer::Connection {
  QByteArray request;
  bool answered = false;
  Mode mode = Mode::Ok;
  qint64 offset = 0;  // body bytes sent
  qint64 end = 0;     // body bytes to send before the ending of the mode
  qint64 chunk = 1;
  bool cutPending = false;
};

FaultServer::FaultServer(Mode mode, QObject* parent) : QObject(parent), mode_(mode) {
  setBodySize(10000);
  connect(&server_, &QTcpServer::newConnection, this, &FaultServer::onConnection);
}

FaultServer::~FaultServer() {
  server_.close();
  // The sockets die with the server; their signals must not reach this half-destroyed object.
  for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) socket->disconnect(this);
  qDeleteAll(connections_);
}

bool FaultServer::listen() { return server_.listen(QHostAddress::LocalHost, 0); }

quint16 FaultServer::port() const { return server_.serverPort(); }

QString FaultServer::url(const QString& path) const {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void FaultServer::setBodySize(qint64 bytes) {
  // Printable and position-dependent, so a lost, doubled or shifted piece shows up in a comparison.
  body_.resize(bytes);
  for (qint64 i = 0; i < bytes; ++i) body_[i] = char('A' + (i * 7 + i / 26) % 26);
}

void FaultServer::release() {
  ++permits_;
  drainReleases();
}

quint16 FaultServer::ClosedPort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  const quint16 port = probe.serverPort();
  probe.close();
  return port;
}

void FaultServer::onConnection() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    connections_.insert(socket, new Connection);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
      delete connections_.take(socket);
      socket->deleteLater();
    });
  }
}

void FaultServer::onReadyRead(QTcpSocket* socket) {
  Connection* c = connections_.value(socket);
  if (!c) return;
  c->request += socket->readAll();
  if (c->answered) return;
  const qsizetype headerEnd = c->request.indexOf("\r\n\r\n");
  if (headerEnd < 0) return;
  c->answered = true;
  const QList<QByteArray> requestLine = c->request.left(c->request.indexOf("\r\n")).split(' ');
  const QString path = requestLine.size() > 1 ? QString::fromLatin1(requestLine[1]) : QString();
  paths_ << path;
  respond(socket, path);
}

void FaultServer::sendSimple(QTcpSocket* socket, const QByteArray& statusLine, const QByteArray& extraHeaders,
                             const QByteArray& body) {
  socket->write("HTTP/1.1 " + statusLine + "\r\nContent-Type: text/html; charset=utf-8\r\n" + extraHeaders +
                "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                body);
  socket->disconnectFromHost();
}

void FaultServer::respond(QTcpSocket* socket, const QString& path) {
  const Mode mode = path == QLatin1String("/ok") ? Mode::Ok : mode_;
  switch (mode) {
    case Mode::NotFound:
      sendSimple(socket, "404 Not Found", {}, "<html><body>not found</body></html>");
      return;
    case Mode::ServerError:
      sendSimple(socket, "500 Internal Server Error", {}, "<html><body>broken</body></html>");
      return;
    case Mode::RedirectLoop:
      sendSimple(socket, "302 Found", "Location: " + url(path).toLatin1() + "\r\n", {});
      return;
    case Mode::Redirect:
      sendSimple(socket, "302 Found", "Location: /ok\r\n", "<html><body>moved</body></html>");
      return;
    case Mode::NoResponse: return;
    case Mode::ShortBody:
    case Mode::ResetMidBody:
    case Mode::Stall: startBody(socket, body_.size() / 2, mode); return;
    case Mode::Ok:
    case Mode::Oversized: startBody(socket, body_.size(), mode); return;
    case Mode::Endless:
      socket->write(
          "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
          "Transfer-Encoding: chunked\r\n\r\n");
      connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { streamEndlessly(socket); });
      streamEndlessly(socket);
      return;
  }
}

void FaultServer::streamEndlessly(QTcpSocket* socket) {
  // Only as much ahead as the socket takes, so the server's own memory stays small.
  static const QByteArray piece =
      QByteArray::number(64 * 1024, 16) + "\r\n" + QByteArray(64 * 1024, 'x') + "\r\n";
  while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * piece.size())
    socket->write(piece);
}

void FaultServer::startBody(QTcpSocket* socket, qint64 bytesToSend, Mode mode) {
  Connection* c = connections_.value(socket);
  c->mode = mode;
  c->end = bytesToSend;
  c->chunk = qMax<qint64>(1, (bytesToSend + chunks_ - 1) / chunks_);
  QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n";
  if (sendLength_) head += "Content-Length: " + QByteArray::number(body_.size()) + "\r\n";
  head += "Connection: close\r\n\r\n";
  socket->write(head);
  step(socket);
}

void FaultServer::step(QTcpSocket* socket) {
  Connection* c = connections_.value(socket);
  if (!c) return;
  if (c->offset < c->end) {
    const qint64 n = qMin(c->chunk, c->end - c->offset);
    c->offset += n;
    socket->write(body_.mid(c->offset - n, n));
    // A client that has given up closes the connection; flushing then drops `c` with it.
    socket->flush();
    c = connections_.value(socket);
    if (!c) return;
    if (c->offset < c->end) {
      scheduleStep(socket);
      return;
    }
  }
  switch (c->mode) {
    case Mode::Stall: return;  // say nothing more, keep the connection open
    case Mode::ShortBody:
    case Mode::ResetMidBody:
      if (!c->cutPending) {
        c->cutPending = true;
        scheduleStep(socket);
      } else {
        cut(socket, c->mode);
      }
      return;
    default: socket->disconnectFromHost(); return;
  }
}

void FaultServer::scheduleStep(QTcpSocket* socket) {
  if (hold_) {
    waiting_ << QPointer<QTcpSocket>(socket);
    drainReleases();
  } else {
    QTimer::singleShot(chunkDelayMs_, socket, [this, socket] { step(socket); });
  }
}

void FaultServer::cut(QTcpSocket* socket, Mode mode) {
  // What was written must reach the client before the connection goes.
  if (socket->bytesToWrite() > 0) {
    socket->flush();
    QTimer::singleShot(5, socket, [this, socket, mode] { cut(socket, mode); });
    return;
  }
  if (mode == Mode::ResetMidBody) {
    // A zero linger makes the close send RST instead of FIN.
    struct linger hard = {1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
  } else {
    socket->disconnectFromHost();
  }
}

void FaultServer::drainReleases() {
  while (permits_ > 0 && !waiting_.isEmpty()) {
    QPointer<QTcpSocket> socket = waiting_.takeFirst();
    if (!socket) continue;
    --permits_;
    QTimer::singleShot(0, socket.data(), [this, s = socket.data()] { step(s); });
  }
}

}  // namespace tevrin::test
