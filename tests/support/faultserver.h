#pragma once
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

namespace tevrin::test {

// A deliberately misbehaving HTTP server on 127.0.0.1 and an ephemeral port. It runs on the thread of the
// test, so it answers while the code under test waits in its own event loop.
//
// Pacing: the body goes out in `chunks` pieces. With holdUntilRelease the server sends the next piece (and,
// for ShortBody and ResetMidBody, makes the cut) only after a call of release(); a test callback that
// releases from OnProgress gets exactly one notification per piece. Without it the pieces follow one
// another after chunkDelayMs.
class FaultServer : public QObject {
  Q_OBJECT
 public:
  enum class Mode {
    Ok,            // 200, Content-Length, the whole body
    NotFound,      // 404 with a small page
    ServerError,   // 500 with a small page
    RedirectLoop,  // 302 to the very same address, forever
    Redirect,      // 302 to "/ok", which answers as Ok
    ShortBody,     // Content-Length of the whole body, half of it, then a clean close
    ResetMidBody,  // half of the body, then a TCP reset
    Stall,         // headers and half of the body, then silence
    NoResponse,    // reads the request and never answers
    Oversized,     // as Ok; the test lowers the limit below the body size
    Endless,       // 200 with a chunked body that never ends, sent as fast as the client reads
  };

  explicit FaultServer(Mode mode = Mode::Ok, QObject* parent = nullptr);
  ~FaultServer() override;

  bool listen();
  quint16 port() const;
  // "http://127.0.0.1:PORT" + path
  QString url(const QString& path = QStringLiteral("/page")) const;

  void setBodySize(qint64 bytes);  // a fixed byte pattern of this length
  QByteArray body() const { return body_; }
  void setChunks(int count) { chunks_ = qMax(1, count); }
  void setChunkDelayMs(int ms) { chunkDelayMs_ = qMax(0, ms); }
  void setHoldUntilRelease(bool hold) { hold_ = hold; }
  void setSendContentLength(bool send) { sendLength_ = send; }

  // Lets one held step go on; a release that comes before the server waits is kept for the next step.
  void release();

  int requestCount() const { return paths_.size(); }
  QStringList requestPaths() const { return paths_; }

  // A port that was bound and closed again, so connecting to it is refused.
  static quint16 ClosedPort();

 private:
  struct Connection;
  void onConnection();
  void onReadyRead(QTcpSocket* socket);
  void respond(QTcpSocket* socket, const QString& path);
  void sendSimple(QTcpSocket* socket, const QByteArray& statusLine, const QByteArray& extraHeaders,
                  const QByteArray& body);
  void startBody(QTcpSocket* socket, qint64 bytesToSend, Mode mode);
  void step(QTcpSocket* socket);
  void scheduleStep(QTcpSocket* socket);
  void cut(QTcpSocket* socket, Mode mode);
  void drainReleases();
  void streamEndlessly(QTcpSocket* socket);

  QTcpServer server_;
  Mode mode_;
  QByteArray body_;
  int chunks_ = 1;
  int chunkDelayMs_ = 10;
  bool hold_ = false;
  bool sendLength_ = true;
  int permits_ = 0;
  QStringList paths_;
  QHash<QTcpSocket*, Connection*> connections_;
  QList<QPointer<QTcpSocket>> waiting_;  // held, in the order they started waiting
};

}  // namespace tevrin::test
