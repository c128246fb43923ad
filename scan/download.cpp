#include "scan/download.h"

#include "scan/scancancel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace tevrin {

quint8 ChartUrlIndex = 0;
quint8 ChartUrlCount = 0;

DownloadLimits& DefaultDownloadLimits() {
  static DownloadLimits limits;
  return limits;
}

QString DownloadStatusText(qint64 bytesReceived, quint8 urlIndex, quint8 urlCount) {
  const qint64 kilobytes = bytesReceived > 0 ? bytesReceived / 1024 : 0;
  return QStringLiteral("Загрузка страницы: ") + QString::number(kilobytes) + QStringLiteral(" Kb") +
         QLatin1Char(' ') + QString::number(urlIndex) + QLatin1Char('/') + QString::number(urlCount);
}

namespace {

bool IsSuccess(int status) { return status >= 200 && status <= 299; }

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsHttp(const QUrl& url) {
  return url.isValid() && !url.host().isEmpty() &&
         (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

int StatusOf(const QNetworkReply* reply) {
  return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// One call of DownloadToFile. The network signals only record what happened and wake the local loop;
// every decision and every callback runs in Run, outside any signal. A callback that processes events
// therefore cannot re-enter this logic, and a nested download has its own Transfer.
class Transfer {
 public:
  Transfer(const DownloadLimits& limits, QSaveFile& file, IBindStatusCallback* callback)
      : limits_(limits), file_(file), callback_(callback) {
    manager_.setProxy(QNetworkProxy::NoProxy);
    stall_.setSingleShot(true);
    stall_.setInterval(qMax(1, limits_.stallTimeoutMs));
    QObject::connect(&stall_, &QTimer::timeout, &stall_, [this] {
      stalled_ = true;
      loop_.quit();
    });
    // A cancelled scan abandons the transfer at once: the loop wakes and Run gives up.
    QObject::connect(&ScanCancel::instance(), &ScanCancel::requested, &stall_, [this] { loop_.quit(); });
  }
  ~Transfer() { Drop(); }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool started() const { return started_; }

  bool Run(const QUrl& address) {
    if (!IsHttp(address)) return false;
    Send(address);
    for (;;) {
      if (ScanCancel::instance().isRequested()) return false;
      if (headersPending_) {
        headersPending_ = false;
        if (!started_) {
          started_ = true;
          if (callback_) callback_->OnStartBinding();
        }
        const int status = StatusOf(reply_);
        if (IsRedirect(status)) {
          if (!Follow()) return false;
          continue;
        }
        if (!IsSuccess(status)) return false;
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limits_.maxBodyBytes) return false;
        continue;
      }
      if (stalled_ || tooLarge_ || writeFailed_) return false;
      if (started_ && bytes_ != reported_) {
        reported_ = bytes_;
        if (callback_) callback_->OnProgress(bytes_);
        continue;
      }
      if (finished_) return Finish();
      loop_.exec();
    }
  }

 private:
  void Send(const QUrl& url) {
    Drop();
    headersPending_ = finished_ = false;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Tevrin/" TEVRIN_VERSION));
    reply_ = manager_.get(request);
    QNetworkReply* reply = reply_;
    connections_ << QObject::connect(reply, &QNetworkReply::metaDataChanged, [this] {
      stall_.start();
      headersPending_ = true;
      loop_.quit();
    });
    connections_ << QObject::connect(reply, &QNetworkReply::readyRead, [this, reply] { Receive(reply); });
    connections_ << QObject::connect(reply, &QNetworkReply::finished, [this, reply] {
      Receive(reply);
      finished_ = true;
      loop_.quit();
    });
    stall_.start();
  }

  void Receive(QNetworkReply* reply) {
    const QByteArray chunk = reply->readAll();
    if (chunk.isEmpty()) return;
    stall_.start();
    // Only the body of the final, successful response is stored; a redirect's body is dropped.
    const int status = StatusOf(reply);
    if (!IsSuccess(status) || tooLarge_ || writeFailed_) return;
    if (bytes_ + chunk.size() > limits_.maxBodyBytes) {
      tooLarge_ = true;
    } else if (file_.write(chunk) != chunk.size()) {
      writeFailed_ = true;
    } else {
      bytes_ += chunk.size();
    }
    loop_.quit();
  }

  bool Follow() {
    if (++redirects_ > limits_.maxRedirects) return false;
    // The raw header: the parsed one drops relative addresses, which servers commonly send.
    const QUrl location = QUrl::fromEncoded(reply_->rawHeader("Location").trimmed());
    if (!location.isValid() || location.isEmpty()) return false;
    const QUrl next = reply_->url().resolved(location);
    if (!IsHttp(next)) return false;
    // Never from https down to plain http.
    if (reply_->url().scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https"))
      return false;
    Send(next);
    return true;
  }

  bool Finish() {
    if (reply_->error() != QNetworkReply::NoError) return false;
    const int status = StatusOf(reply_);
    if (!IsSuccess(status)) return false;
    // A body cut short of its announced length is a failure even if the connection closed cleanly.
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = reply_->rawHeader("Content-Encoding").trimmed().toLower();
    if (length.isValid() && (encoding.isEmpty() || encoding == "identity") && length.toLongLong() != bytes_)
      return false;
    if (callback_ && reported_ != bytes_) {
      reported_ = bytes_;
      callback_->OnProgress(bytes_);
    }
    return true;
  }

  // Cuts the reply off completely, so that nothing of it can arrive later.
  void Drop() {
    for (const QMetaObject::Connection& c : std::as_const(connections_)) QObject::disconnect(c);
    connections_.clear();
    if (reply_) {
      reply_->abort();
      delete reply_;
      reply_ = nullptr;
    }
    stall_.stop();
  }

  const DownloadLimits& limits_;
  QSaveFile& file_;
  IBindStatusCallback* callback_;
  QNetworkAccessManager manager_;
  QEventLoop loop_;
  QTimer stall_;
  QNetworkReply* reply_ = nullptr;
  QList<QMetaObject::Connection> connections_;
  int redirects_ = 0;
  qint64 bytes_ = 0;
  qint64 reported_ = -1;
  bool started_ = false;
  bool headersPending_ = false;
  bool finished_ = false;
  bool stalled_ = false;
  bool tooLarge_ = false;
  bool writeFailed_ = false;
};

}  // namespace

bool DownloadToFile(const QString& address, const QString& path, IBindStatusCallback* callback,
                    const DownloadLimits& limits) {
  if (!QCoreApplication::instance()) return false;
  bool ok = false;
  try {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    bool started = false;
    {
      Transfer transfer(limits, file, callback);
      try {
        ok = transfer.Run(QUrl(address));
      } catch (...) {
        ok = false;
      }
      started = transfer.started();
    }  // the reply and its manager are gone before the stop callback pumps events
    if (started && callback) {
      try {
        callback->OnStopBinding();
      } catch (...) {
        ok = false;
      }
    }
    // Without a commit QSaveFile discards its temporary file and leaves `path` as it was.
    if (ok) ok = file.commit();
  } catch (...) {
    ok = false;
  }
  return ok;
}

}  // namespace tevrin
