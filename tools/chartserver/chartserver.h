#pragma once
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>

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
  quint16 port() const { return server_.serverPort(); }
  QString baseUrl() const;  // "http://127.0.0.1:PORT"
  QString errorString() const { return server_.errorString(); }
  void setLogging(bool on) { logging_ = on; }

 signals:
  // The request target as sent ("/charts?position=13"), after the answer was written.
  void requestServed(const QString& path);

 private:
  void onConnection();
  void onReadyRead(QTcpSocket* socket);
  void answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& target);
  QString fileFor(const QByteArray& target) const;

  QString root_;
  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  bool logging_ = true;
};

}  // namespace tevrin
