#include "support/testsupport.h"
#include "web/banner.h"
#include "web/gui/bannerview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <unistd.h>

#include <functional>

using namespace tevrin;

namespace {

// A tiny site on loopback: the banner page with a frame and two links, the
// page one link leads to, an empty answer for the other, and a document
// without a body.
class Site : public QObject {
 public:
  Site() {
    QVERIFY(server_.listen(QHostAddress::LocalHost, 0));
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QTcpSocket::readyRead, s, [this, s] { answer(s); });
      }
    });
  }
  QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
  QUrl url(const QString& path) const { return QUrl(base() + path); }
  QStringList paths;

 private:
  void answer(QTcpSocket* s) {
    buffer_[s] += s->readAll();
    if (!buffer_[s].contains("\r\n\r\n")) return;
    const QByteArray path = buffer_.take(s).split(' ').value(1);
    paths << QString::fromLatin1(path);
    QByteArray type = "text/html";
    QByteArray body;
    if (path == "/reklama.html")
      body =
          "<html><body><p id=top>banner</p><iframe src='/frame.html'></iframe>"
          "<a id=next href='/next.html'>next</a><a id=empty href='/nocontent'>empty</a></body></html>";
    else if (path == "/frame.html") body = "<html><body>frame</body></html>";
    else if (path == "/next.html") body = "<html><body>next page</body></html>";
    else if (path == "/nobody.svg") {
      type = "image/svg+xml";
      body = "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>";
    }
    QByteArray status = body.isEmpty() ? "404 Not Found" : "200 OK";
    if (path == "/nocontent") status = "204 No Content";
    if (path == "/gone") {  // an HTTP error with a page of the server's own
      status = "410 Gone";
      body = "<html><body>gone</body></html>";
    }
    if (path == "/broken") {
      status = "500 Internal Server Error";
      body = "<html><body>broken</body></html>";
    }
    s->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type +
             "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
             body);
    s->disconnectFromHost();
  }
  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffer_;
};

// The main window's three handlers, with a record of the events and of the
// pane's visibility after each.
struct Window {
  QWidget pane;
  BannerView banner{&pane};
  QStringList events;  // "before <url>", "navigated <url>", "complete <url>", "failed <url>"
  QList<bool> visible;
  int completes = 0;
  int ends = 0;  // completes and failures

  Window() {
    pane.resize(362, 92);
    QObject::connect(&banner, &BannerView::beforeNavigate, [this](const QUrl& u) {
      pane.hide();
      record("before", u);
    });
    QObject::connect(&banner, &BannerView::navigateComplete, [this](const QUrl& u) {
      pane.show();
      banner.styleBannerPage();
      record("navigated", u);
    });
    QObject::connect(&banner, &BannerView::documentComplete, [this](const QUrl& u) {
      banner.styleBannerPage();
      QCoreApplication::processEvents();
      record("complete", u);
      ++completes;
      ++ends;
    });
    QObject::connect(&banner, &BannerView::navigateError, [this](const QUrl& u) {
      pane.hide();
      record("failed", u);
      ++ends;
    });
  }
  void record(const char* kind, const QUrl& u) {
    events << QString::fromLatin1(kind) + u' ' + u.path();
    visible << pane.isVisible();
  }
  // Navigates and waits for the end of that load.
  bool load(const QUrl& url) {
    const int before = ends;
    banner.navigate(url);
    return test::WaitInEventLoop([&] { return ends > before; });
  }
  QString js(const QString& script) { return banner.evaluate(script).toString(); }
};

}  // namespace

class TstGuiBanner : public QObject {
  Q_OBJECT
 private slots:
  void bannerAddressIsOnTheMakersSite() {
    qputenv("TEVRIN_SITE_URL", "http://banner.example:81");
    QCOMPARE(BannerPageUrl(), QString("http://banner.example:81/reklama.html"));
    qunsetenv("TEVRIN_SITE_URL");
  }

  void viewExistsOnlyAfterTheFirstNavigation() {
    Site site;
    Window w;
    QVERIFY(w.banner.view() == nullptr);
    w.banner.styleBannerPage();  // nothing to style yet, and no view made for it
    QVERIFY(!w.banner.evaluate("1").isValid());
    QVERIFY(w.banner.view() == nullptr);
    QVERIFY(w.pane.findChildren<QWidget*>().isEmpty());

    QVERIFY(w.load(site.url("/next.html")));
    QVERIFY(w.banner.view() != nullptr);
    QCOMPARE(w.banner.view()->parentWidget(), &w.pane);
    QCOMPARE(w.banner.view()->geometry(), QRect(6, 6, 347, 83));
  }

  void rootGetsNoBannerUnlessTheSandboxIsTurnedOff() {
    if (geteuid() != 0) QSKIP("only root is refused the web engine");
    Site site;
    const QByteArray optOut = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    Window w;
    w.banner.navigate(site.url("/next.html"));  // would end the process if the engine started
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", optOut);
    QVERIFY(w.banner.view() == nullptr);
    QVERIFY(w.events.isEmpty());
  }

  void bannerLoadsShowsThePaneAndIsRestyled() {
    Site site;
    qputenv("TEVRIN_SITE_URL", site.base().toLatin1());
    Window w;
    w.pane.show();
    w.pane.hide();  // hidden at start, like the window's pane
    QVERIFY(w.load(QUrl(BannerPageUrl())));
    qunsetenv("TEVRIN_SITE_URL");
    QVERIFY(site.paths.contains("/reklama.html"));

    // The page, then its frame; the page's own document is reported before
    // the load ends, and the load ends with the pane shown.
    QCOMPARE(w.events.first(), QString("before /reklama.html"));
    QVERIFY(w.events.contains("before /frame.html"));
    QVERIFY(w.events.contains("navigated /frame.html"));
    const qsizetype navigated = w.events.indexOf("navigated /reklama.html");
    QVERIFY(navigated > 0);
    QCOMPARE(w.events.count("navigated /reklama.html"), 1);
    QVERIFY(navigated < w.events.indexOf("complete /reklama.html"));
    QCOMPARE(w.visible.first(), false);
    QCOMPARE(w.visible.last(), true);
    QVERIFY(w.pane.isVisible());

    QCOMPARE(w.js("document.bgColor"), QString("#acdde9"));
    QCOMPARE(w.js("document.body.style.overflowY"), QString("hidden"));
    QCOMPARE(w.js("document.body.style.overflowX"), QString("hidden"));
    QCOMPARE(w.js("document.body.style.borderStyle"), QString("none"));
    QCOMPARE(w.js("document.body.style.borderColor"), QString("rgb(100, 149, 237)"));
    QCOMPARE(w.js("getComputedStyle(document.body).backgroundColor"), QString("rgb(172, 221, 233)"));
    // The frame keeps its own look: only the top-level document is restyled.
    QCOMPARE(w.js("frames[0].document.bgColor"), QString(""));
  }

  void everyNavigationHidesThenShowsAgain() {
    Site site;
    Window w;
    QVERIFY(w.load(site.url("/reklama.html")));
    QVERIFY(w.pane.isVisible());

    // A second scan start: same address again.
    w.events.clear();
    w.visible.clear();
    QVERIFY(w.load(site.url("/reklama.html")));
    QCOMPARE(w.events.first(), QString("before /reklama.html"));
    QCOMPARE(w.visible.first(), false);
    QVERIFY(w.events.contains("navigated /reklama.html"));
    QVERIFY(w.pane.isVisible());
    QCOMPARE(w.js("document.bgColor"), QString("#acdde9"));

    // A link the user follows inside the banner.
    w.events.clear();
    w.visible.clear();
    const int before = w.completes;
    w.js("document.getElementById('next').click()");
    QVERIFY(test::WaitInEventLoop([&] { return w.completes > before; }));
    QCOMPARE(w.events.first(), QString("before /next.html"));
    QCOMPARE(w.visible.first(), false);
    QVERIFY(w.events.contains("navigated /next.html"));
    QVERIFY(w.pane.isVisible());
    QCOMPARE(w.js("document.body.textContent"), QString("next page"));
    QCOMPARE(w.js("document.body.style.borderStyle"), QString("none"));
  }

  void linkWithoutNewDocumentStillShowsThePane() {
    Site site;
    Window w;
    QVERIFY(w.load(site.url("/reklama.html")));
    w.events.clear();
    w.visible.clear();
    // The server answers "204 No Content": the old page stays, and the pane
    // hidden by the request must come back.
    const int before = w.completes;
    w.js("document.getElementById('empty').click()");
    QVERIFY(test::WaitInEventLoop([&] { return w.completes > before; }));
    QCOMPARE(w.events,
             QStringList({"before /nocontent", "navigated /reklama.html", "complete /reklama.html"}));
    QCOMPARE(w.visible, QList<bool>({false, true, true}));
    QCOMPARE(w.js("document.getElementById('top').textContent"), QString("banner"));
  }

  void documentWithoutBodyRaisesNothing() {
    Site site;
    Window w;
    QVERIFY(w.load(site.url("/nobody.svg")));
    QCOMPARE(w.js("String(document.body)"), QString("null"));
    // The restyling still ends normally; the body steps are skipped.
    const QVariant steps = w.banner.evaluate(StyleBannerScript());
    QVERIFY(steps.isValid());
    QVERIFY(steps.toInt() <= 1);
    QVERIFY(w.pane.isVisible());

    // An HTML page whose body has been taken away.
    QVERIFY(w.load(site.url("/next.html")));
    w.js("document.body.remove(); 'removed'");
    QCOMPARE(w.js("String(document.body)"), QString("null"));
    QCOMPARE(w.banner.evaluate(StyleBannerScript()).toInt(), 1);
    QCOMPARE(w.js("document.bgColor"), QString(""));  // no body to carry the colour
  }

  // No answer, the web engine's error page for an empty 404, or the server's
  // own page for an HTTP error: the pane ends hidden, the engine's page is
  // never reported, and the next good page shows again.
  void failedLoadsLeaveThePaneHidden_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("connection refused") << QString();
    QTest::newRow("404 without a page") << QString("/missing");
    QTest::newRow("410 with a page") << QString("/gone");
    QTest::newRow("500 with a page") << QString("/broken");
  }
  void failedLoadsLeaveThePaneHidden() {
    QFETCH(QString, path);
    Site site;
    quint16 closedPort = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      closedPort = probe.serverPort();
    }
    const QUrl failing = path.isEmpty()
                             ? QUrl(QStringLiteral("http://127.0.0.1:%1/reklama.html").arg(closedPort))
                             : site.url(path);
    Window w;
    QVERIFY(w.load(site.url("/next.html")));
    QVERIFY(w.pane.isVisible());
    w.events.clear();
    w.visible.clear();
    QVERIFY(w.load(failing));
    QCOMPARE(w.events.first(), "before " + failing.path());
    QCOMPARE(w.events.last(), "failed " + failing.path());
    QCOMPARE(w.events.filter("complete").size(), 0);
    for (const QString& e : std::as_const(w.events))
      QVERIFY2(e != "navigated /", qPrintable(w.events.join(", ")));
    QVERIFY(!w.pane.isVisible());
    // Restyling whatever the view holds now raises nothing either.
    QVERIFY(w.banner.evaluate(StyleBannerScript()).isValid());
    QVERIFY(w.load(site.url("/next.html")));
    QVERIFY(w.pane.isVisible());
    QCOMPARE(w.events.last(), QString("complete /next.html"));
  }
};

int main(int argc, char** argv) {
  // The web engine shares its GL context with the window system.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  TstGuiBanner tc;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&tc, argc, argv);
}
#include "tst_gui_banner.moc"
