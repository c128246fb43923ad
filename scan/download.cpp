#include "scan/download.h"

#include "app/savefile.h"
#include "scan/scancancel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace tevrin {

quint8 ChartUrlIndex = 0;
quint8 ChartUrlCount = 0;

ProxyLookup& SystemProxyLookup() {
  static ProxyLookup lookup = [](const QNetworkProxyQuery& query) {
    return QNetworkProxyFactory::systemProxyForQuery(query);
  };
  return lookup;
}

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

// How much of the body Qt may hold before it stops reading the socket: without a bound a fast endless body
// piles up in memory faster than it is written out.
constexpr qint64 kReadBufferBytes = 256 * 1024;

bool IsLoopback(const QString& host) {
  if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
  const QHostAddress address(host);
  return !address.isNull() && address.isLoopback();
}

// Gives the manager the proxies that Transfer looked up beforehand, so the manager never asks the system
// itself on the transfer's thread. One factory per manager: downloads on several threads share none.
class AnsweredProxyFactory : public QNetworkProxyFactory {
 public:
  QList<QNetworkProxy> answer{QNetworkProxy(QNetworkProxy::NoProxy)};
  QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& /*query*/) override { return answer; }
};

std::atomic<int> gLookUpsRunning{0};

// One system proxy look-up on a thread of its own. The look-up cannot be interrupted (libproxy may fetch
// and run a PAC file that never answers), so a transfer that stops waiting leaves it to end by itself;
// its answer then goes nowhere.
struct ProxyAnswer {
  std::mutex mutex;
  bool done = false;
  QList<QNetworkProxy> proxies;
  QObject* wake = nullptr;  // on the waiting thread; null once nobody waits
  std::function<void()> onDone;
};

// One call of DownloadToFile. The network signals only record what happened and wake the local loop;
// every decision and every callback runs in Run, outside any signal. A callback that processes events
// therefore cannot re-enter this logic, and a nested download has its own Transfer.
class Transfer {
 public:
  Transfer(const DownloadLimits& limits, QIODevice& file, IBindStatusCallback* callback)
      : limits_(limits), file_(file), callback_(callback) {
    manager_.setProxyFactory(proxies_);  // the manager owns it
    stall_.setSingleShot(true);
    stall_.setInterval(qMax(1, limits_.stallTimeoutMs));
    QObject::connect(&stall_, &QTimer::timeout, &stall_, [this] {
      stalled_ = true;
      loop_.quit();
    });
    deadline_.setSingleShot(true);
    deadline_.setInterval(qMax(1, limits_.deadlineMs));
    QObject::connect(&deadline_, &QTimer::timeout, &deadline_, [this] {
      timedOut_ = true;
      loop_.quit();
    });
    // The received amount is sampled six times a window, so "any window" is judged within a sixth of it.
    speedCheck_.setInterval(qMax(1, limits_.lowSpeedWindowMs / 6));
    QObject::connect(&speedCheck_, &QTimer::timeout, &speedCheck_, [this] { CheckSpeed(); });
  }
  ~Transfer() {
    Drop();
    StopWaitingForProxy();
  }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool started() const { return started_; }
  const QString& fileError() const { return fileError_; }

  bool Run(const QUrl& address) {
    if (!IsHttp(address)) return false;
    clock_.start();
    deadline_.start();
    if (!LookUpProxy(address)) return false;
    Send(address);
    for (;;) {
      if (ScanCancel::instance().isRequested()) return false;
      if (headersPending_) {
        headersPending_ = false;
        if (!started_) {
          started_ = true;
          StartSpeedCheck();
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
      if (stalled_ || tooSlow_ || timedOut_ || tooLarge_ || writeFailed_) return false;
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
  // The proxies for `url`, asked of the system on a thread of its own while this thread keeps its events
  // going (the window repaints). The wait is held to the stall bound and to the deadline, and a cancelled
  // scan ends it: a PAC file that never answers is a failed download, not a frozen window.
  bool LookUpProxy(const QUrl& url) {
    if (IsLoopback(url.host())) {
      proxies_->answer = {QNetworkProxy(QNetworkProxy::NoProxy)};
      return true;
    }
    StopWaitingForProxy();
    auto answer = std::make_shared<ProxyAnswer>();
    answer->wake = &proxyWake_;
    answer->onDone = [this] { loop_.quit(); };
    try {
      gLookUpsRunning.fetch_add(1);
      std::thread([answer, lookup = SystemProxyLookup(), query = QNetworkProxyQuery(url)] {
        QList<QNetworkProxy> proxies;
        try {
          proxies = lookup(query);
        } catch (...) {
          proxies.clear();
        }
        const std::lock_guard lock(answer->mutex);
        answer->proxies = std::move(proxies);
        answer->done = true;
        // Under the lock: the waiting side cannot stop waiting, and its object go, in between.
        if (answer->wake) QMetaObject::invokeMethod(answer->wake, answer->onDone, Qt::QueuedConnection);
        gLookUpsRunning.fetch_sub(1);
      }).detach();
    } catch (const std::system_error&) {
      gLookUpsRunning.fetch_sub(1);
      return false;  // no thread to be had
    }
    proxyAnswer_ = answer;
    stall_.start();
    for (;;) {
      if (ScanCancel::instance().isRequested() || stalled_ || timedOut_) return false;
      {
        const std::lock_guard lock(answer->mutex);
        if (answer->done) {
          proxies_->answer =
              answer->proxies.isEmpty() ? QList<QNetworkProxy>{QNetworkProxy::NoProxy} : answer->proxies;
          break;
        }
      }
      loop_.exec();
    }
    StopWaitingForProxy();
    return true;
  }

  void StopWaitingForProxy() {
    if (!proxyAnswer_) return;
    const std::lock_guard lock(proxyAnswer_->mutex);
    proxyAnswer_->wake = nullptr;
    proxyAnswer_.reset();
  }

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
    reply_->setReadBufferSize(kReadBufferBytes);
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
    received_ += chunk.size();
    // Only the body of the final, successful response is stored; a redirect's body is dropped.
    const int status = StatusOf(reply);
    if (!IsSuccess(status) || tooLarge_ || writeFailed_) return;
    if (bytes_ + chunk.size() > limits_.maxBodyBytes) {
      tooLarge_ = true;
    } else if (file_.write(chunk) != chunk.size()) {
      writeFailed_ = true;
      fileError_ = file_.errorString();
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
    Drop();
    if (!LookUpProxy(next)) return false;
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

  void StartSpeedCheck() {
    if (limits_.lowSpeedBytes <= 0) return;
    samples_.push_back({clock_.elapsed(), received_});
    speedCheck_.start();
  }

  // Fails the transfer when the last full window brought fewer bytes than the low-speed limit.
  void CheckSpeed() {
    const qint64 now = clock_.elapsed();
    samples_.push_back({now, received_});
    const qint64 windowStart = now - limits_.lowSpeedWindowMs;
    while (samples_.size() > 1 && samples_[1].atMs <= windowStart) samples_.pop_front();
    if (samples_.front().atMs > windowStart) return;  // less than one window seen yet
    if (received_ - samples_.front().bytes >= limits_.lowSpeedBytes) return;
    tooSlow_ = true;
    loop_.quit();
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

  struct Sample {
    qint64 atMs;
    qint64 bytes;
  };

  const DownloadLimits& limits_;
  QIODevice& file_;
  IBindStatusCallback* callback_;
  QNetworkAccessManager manager_;
  AnsweredProxyFactory* proxies_ = new AnsweredProxyFactory;
  std::shared_ptr<ProxyAnswer> proxyAnswer_;  // the look-up waited for, if any
  QEventLoop loop_;
  QObject proxyWake_;  // the look-up's answer wakes the loop through it; goes before the loop
  QTimer stall_;
  QTimer deadline_;
  QTimer speedCheck_;
  QElapsedTimer clock_;
  std::deque<Sample> samples_;  // received_ over the last low-speed window
  QString fileError_;
  QNetworkReply* reply_ = nullptr;
  QList<QMetaObject::Connection> connections_;
  int redirects_ = 0;
  qint64 bytes_ = 0;     // body bytes stored
  qint64 received_ = 0;  // every body byte that arrived, redirects' and refused ones included
  qint64 reported_ = -1;
  bool started_ = false;
  bool headersPending_ = false;
  bool finished_ = false;
  bool stalled_ = false;
  bool tooSlow_ = false;
  bool timedOut_ = false;
  bool tooLarge_ = false;
  bool writeFailed_ = false;
  // Last, so it goes first: a cancelled scan wakes the loop at once, from whichever thread asks, and Run
  // gives up.
  const ScanCancel::Listener cancelWake_ = ScanCancel::instance().listen([this] {
    QMetaObject::invokeMethod(
        &stall_, [this] { loop_.quit(); }, Qt::QueuedConnection);
  });
};

}  // namespace

int ProxyLookUpsRunning() { return gLookUpsRunning.load(); }

bool DownloadToFile(const QString& address, const QString& path, IBindStatusCallback* callback,
                    const DownloadLimits& limits, QString* fileError) {
  if (fileError) fileError->clear();
  if (!QCoreApplication::instance()) return false;
  QString localError;
  bool ok = false;
  try {
    ReplacingFile file(path);
    if (!file.open()) {
      if (fileError) *fileError = file.errorString();
      return false;
    }
    bool started = false;
    {
      Transfer transfer(limits, file.device(), callback);
      try {
        ok = transfer.Run(QUrl(address));
      } catch (...) {
        ok = false;
      }
      started = transfer.started();
      localError = transfer.fileError();
    }  // the reply and its manager are gone before the stop callback pumps events
    if (started && callback) {
      try {
        callback->OnStopBinding();
      } catch (...) {
        ok = false;
      }
    }
    // Without a commit the temporary file goes and `path` stays as it was.
    if (ok && !file.commit()) {
      ok = false;
      localError = file.errorString();
    }
  } catch (...) {
    ok = false;
  }
  if (!ok && fileError) *fileError = localError;
  return ok;
}

}  // namespace tevrin
