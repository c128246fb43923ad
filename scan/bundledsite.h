#pragma once
#include <QString>
#include <QtGlobal>

#include <functional>

namespace tevrin {

// The chart site and the maker's site default to the chart server that comes
// with the tool (tevrin-chart-server, beside the executable) on a loopback
// port. Where the system holds that port for it (the package's systemd
// socket), the first connection starts it. Anywhere else the tool starts it
// itself, detached from the tool, and the server ends by itself after
// kBundledServerIdleSeconds without a connection. An address set through
// TEVRIN_CHART_URL or TEVRIN_SITE_URL is the user's own: nothing is started
// for it.

constexpr int kBundledServerIdleSeconds = 300;

// Makes sure the site at `base` ("http://127.0.0.1:8399") answers an HTTP
// request. When nothing there does, starts `serverProgram` on the address's
// port and waits for it, at most `deadlineMs`; `idle` runs between the tries.
// Only a plain http address on 127.0.0.1 with a port is served this way.
// True when the site answers. `*startedPid`, when given, gets the started
// server's process id, or 0 when none was started.
bool EnsureSiteAnswers(const QString& base, const QString& serverProgram, const std::function<void()>& idle,
                       int deadlineMs = 5000, qint64* startedPid = nullptr);

// Whether the site's address in use is the build's default, not one from the
// environment.
bool ChartSiteIsBundled();
bool MakerSiteIsBundled();

// EnsureSiteAnswers for the chart site or the maker's site when it is the
// bundled one; nothing otherwise. A site that still does not answer is left to
// the download or the web view to report.
void EnsureBundledChartSite(const std::function<void()>& idle = {});
void EnsureBundledMakerSite(const std::function<void()>& idle = {});

// The server program started for the bundled site: tevrin-chart-server beside
// the running executable. Tests name another one; an empty path restores it.
QString BundledServerProgram();
void SetBundledServerProgramOverride(const QString& program);

}  // namespace tevrin
