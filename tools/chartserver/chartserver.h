#pragma once
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

namespace tevrin {

// Serves a folder of pages the way the tool expects the chart site and the maker's site to:
//   GET /charts?position=N  -> ROOT/charts/N.html
//   GET /reklama.html       -> ROOT/reklama.html
//   GET /                   -> ROOT/index.html
// and 404 for anything else. The routes are fixed and the position must be a plain decimal number, so no
// request can name a file outside these. One request per connection; each request line goes to stderr.
class ChartServer : public QObject {
  Q_OBJECT
 public:
  explicit ChartServer(QString rootDir, QObject* parent = nullptr);
  ~ChartServer() override;

  bool listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
  // Serves a socket that is already listening, handed over by whoever started the server.
  bool adopt(qintptr listeningSocket);
  // Emits idle() once no connection has been open for `ms` (0: never).
  void setIdleTimeout(int ms);
  quint16 port() const { return server_.serverPort(); }
  QString baseUrl() const;  // "http://127.0.0.1:PORT"
  QString errorString() const { return server_.errorString(); }
  void setLogging(bool on) { logging_ = on; }

 signals:
  // The request target as sent ("/charts?position=13"), after the answer was written.
  void requestServed(const QString& path);
  void idle();

 private:
  void onConnection();
  void onReadyRead(QTcpSocket* socket);
  void answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& target);
  QString fileFor(const QByteArray& target) const;

  QString root_;
  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  bool logging_ = true;
  int openConnections_ = 0;
  QTimer idle_;
};

// The listening socket systemd's socket activation hands to this process: descriptor 3 when LISTEN_PID
// names `pid` and LISTEN_FDS counts at least one, else -1. Only the first socket is used.
qintptr ActivatedSocket(const QByteArray& listenPid, const QByteArray& listenFds, qint64 pid);
// The same for this process, from its environment. The variables are removed, as they are meant for this
// process alone, and the socket is kept from programs it starts.
qintptr TakeActivatedSocket();

}  // namespace tevrin
