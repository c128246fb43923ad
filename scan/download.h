#pragma once
#include <QList>
#include <QNetworkProxy>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace tevrin {

// The download's status callbacks, called on the GUI thread during DownloadToFile. The window's
// implementation disables the main window and shows the progress window; the command line prints progress.
// The callbacks may process pending events; DownloadToFile never calls them from inside a network signal.
class IBindStatusCallback {
 public:
  virtual ~IBindStatusCallback() = default;
  virtual void OnStartBinding() = 0;  // the transfer has begun (first response headers arrived)
  virtual void OnProgress(qint64 bytesReceived) = 0;  // body bytes stored so far; never decreases
  virtual void OnStopBinding() = 0;                   // the transfer has ended, successfully or not
};

// Bounds that keep a broken or hostile server from hanging the scan or filling the disk or memory.
struct DownloadLimits {
  int stallTimeoutMs = 30000;  // no byte for this long -> failure
  // Fewer than lowSpeedBytes body bytes in any lowSpeedWindowMs after the first response headers ->
  // failure: a server that drips a byte now and then never trips the stall timeout. 0 bytes: no check.
  qint64 lowSpeedBytes = 1024;
  int lowSpeedWindowMs = 30000;
  int deadlineMs = 10 * 60 * 1000;   // the whole transfer, redirects included, ends within this
  qint64 maxBodyBytes = 64LL << 20;  // larger body -> failure
  int maxRedirects = 10;
};
DownloadLimits& DefaultDownloadLimits();  // tests may lower the limits

// How the system proxy for a host is found: QNetworkProxyFactory::systemProxyForQuery (the desktop's
// settings, http_proxy and its kin, a PAC file through libproxy). Called on a thread of its own, never
// for the loopback; tests put a slow or stuck one in its place.
using ProxyLookup = std::function<QList<QNetworkProxy>(const QNetworkProxyQuery& query)>;
ProxyLookup& SystemProxyLookup();

// Look-ups still running, given up on because they did not answer in time. Qt waits for its own look-up
// thread when the application object goes, so a program that ends while one runs ends with _exit once its
// own work is done.
int ProxyLookUpsRunning();

// Fetches an http or https address into `path`. True only when the whole body of a successful (2xx) response
// was stored there. Runs on the calling thread and waits in a local event loop; safe on any thread with an
// event dispatcher, several at once. The file is replaced only on success, and replaced as a name: a link
// planted at `path` is replaced, its target never written (ReplacingFile). A failed transfer leaves no file
// behind and an existing file untouched. Any exception inside, one thrown by a callback included, is
// caught and gives false. The system proxy is used for every host but the loopback; it is looked up on a
// thread of its own within the stall bound and the deadline, and a look-up that does not answer in time
// is a failure like a server that does not.
// A failure of the local file (cannot be created, written or renamed: "Permission denied", "File too
// large") also gives false and sets `*fileError` to the system's text; a network failure leaves it empty.
// OnStartBinding is called once when the first response headers arrive, OnProgress any number of times
// after it, and OnStopBinding once at the end, but only if OnStartBinding was called: a failure before any
// response (connection refused, unknown host) calls neither. `callback` may be null.
bool DownloadToFile(const QString& address, const QString& path, IBindStatusCallback* callback,
                    const DownloadLimits& limits = DefaultDownloadLimits(), QString* fileError = nullptr);

// "Загрузка страницы: 36 Kb 1/1": whole kilobytes (1024 bytes, rounded down), then the address counters.
QString DownloadStatusText(qint64 bytesReceived, quint8 urlIndex, quint8 urlCount);

// The number of the chart address being fetched and the number of addresses of the scan; only the status
// line reads them. A scan sets both to 1.
extern quint8 ChartUrlIndex;
extern quint8 ChartUrlCount;

}  // namespace tevrin
