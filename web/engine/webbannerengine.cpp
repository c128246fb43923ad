#include "web/gui/bannerengine.h"

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>

#include <QEventLoop>
#include <QGuiApplication>
#include <QOpenGLWidget>
#include <QTimer>
#include <QUuid>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace tevrin {

// The banner's web view. It lives in a module of its own, loaded at the first
// banner navigation, so that the tool starts and stays as light as a plain Qt
// window until then. It meets the window only through BannerEngine and
// BannerEngineEvents: no other type of the tool crosses the module's border.
class WebBannerEngine final : public QObject, public BannerEngine {
 public:
  WebBannerEngine(QWidget* pane, BannerEngineEvents* events) : pane_(pane), events_(events) {}
  ~WebBannerEngine() override;

  void navigate(const QUrl& url) override;
  void styleBannerPage(const QString& script) override;
  // The widget in the pane: the view's embedding container, or the view itself
  // when there is no pane.
  QWidget* view() const override { return container_ ? container_.data() : view_.data(); }
  QVariant evaluate(const QString& script, int timeoutMs) override;

 private:
  void createView();
  QWidget* embeddedHost();
  void loadEnded(const QWebEngineLoadingInfo& info);
  void completePending();

  static constexpr QPoint kViewPosition{6, 6};
  static constexpr QSize kViewSize{347, 83};
  QPointer<QWidget> pane_;
  QPointer<QWidget> host_;       // the view's own native window
  QPointer<QWidget> container_;  // embeds it in the pane
  BannerEngineEvents* events_;
  QPointer<QWebEngineView> view_;
  QPointer<QWebEnginePage> page_;
  // A main-frame navigation was requested and its document has not been
  // reported yet.
  bool mainPending_ = false;
  QUrl pendingUrl_;  // the address of that navigation
  // The web engine's own page for a failed load was reported as the failure,
  // and the end of that load has not come yet.
  bool errorPageShown_ = false;
  // The web engine ends loading once for navigations that overlap: an end
  // that comes before the pending navigation's document is held this long
  // for it. A navigation that brings no document (an empty answer) completes
  // when it runs out.
  QTimer earlyEnd_;
  static constexpr int kEarlyEndGraceMs = 1000;
};

// Reports every navigation request (accepting all of them) and every new
// document to the BannerView.
//
// Qt 6.4 has no public signal for a committed navigation: loadStarted and
// loadingChanged(LoadStartedStatus) come before the server has answered,
// urlChanged stays silent when the same address is loaded again (and every
// scan loads the same banner address), and loadFinished comes only at the
// very end. A user script injected at document creation runs exactly when a
// navigation of the page or of one of its frames has committed and its
// document exists; it announces itself through the console with a marker of
// this page only.
class BannerPage : public QWebEnginePage {
 public:
  explicit BannerPage(QObject* parent)
      : QWebEnginePage(parent), marker_(QUuid::createUuid().toString(QUuid::WithoutBraces) + u':') {
    QWebEngineScript script;
    script.setName(QStringLiteral("tevrin-commit"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(
        QStringLiteral("console.log('%1' + (window === window.top ? 'M' : 'F') + location.href);")
            .arg(marker_));
    scripts().insert(script);
  }

  std::function<void(const QUrl&, bool mainFrame)> onRequest;
  std::function<void(const QUrl&, bool mainFrame)> onCommit;

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    if (onRequest) onRequest(url, isMainFrame);
    return true;
  }

  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                const QString& source) override {
    if (!message.startsWith(marker_)) {
      QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
      return;
    }
    const QStringView rest = QStringView(message).mid(marker_.size());
    if (onCommit && !rest.isEmpty()) onCommit(QUrl(rest.mid(1).toString()), rest.front() == u'M');
  }

 private:
  const QString marker_;
};

WebBannerEngine::~WebBannerEngine() {
  if (page_) {
    auto* page = static_cast<BannerPage*>(page_.data());
    page->onRequest = nullptr;
    page->onCommit = nullptr;
    page->disconnect(this);
  }
  // The host owns the view and its native window; the container goes after
  // it, with nothing left to embed.
  delete host_.data();
  delete view_.data();
  delete container_.data();
}

// The view draws through OpenGL. Placed straight into the pane, it would make
// Qt destroy and re-create the main window's native window with an OpenGL
// surface: the window vanishes for a moment and comes back with another id.
// The view gets a native window of its own instead, OpenGL from its creation,
// embedded in the pane; the main window keeps its plain surface.
QWidget* WebBannerEngine::embeddedHost() {
  auto* host = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
  // Qt gives a window an OpenGL surface when a child asks for one as it is
  // created; the view's own drawing child comes only with its first page,
  // after the window exists. A hidden OpenGL widget asks in time (hidden, it
  // never starts OpenGL itself).
  (new QOpenGLWidget(host))->hide();
  host->setGeometry(0, 0, kViewSize.width(), kViewSize.height());
  host->winId();
  auto* container = QWidget::createWindowContainer(host->windowHandle(), pane_.data());
  container->setAttribute(Qt::WA_DontCreateNativeAncestors);
  container->setGeometry(QRect(kViewPosition, kViewSize));
  container->show();
  // On Wayland the view is a subsurface of the main window. Qt's container
  // takes the window in only as it first shows, and places it at its next
  // move: until then it sits in the window's corner, over the search
  // criteria. A move there and back as it shows puts it into the pane.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    connect(host->windowHandle(), &QWindow::visibleChanged, container, [container](bool visible) {
      if (!visible) return;
      const QPoint at = container->pos();
      container->move(at + QPoint(0, 1));
      container->move(at);
    });
  }
  container_ = container;
  host_ = host;
  return host;
}

// Platforms without native windows (offscreen, minimal) embed nothing; there a
// re-created main window is not seen either.
static bool HasNativeChildWindows() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void WebBannerEngine::createView() {
  // Without a pane the view stays an invisible top-level widget.
  QWidget* parent = pane_.data();
  if (pane_ && HasNativeChildWindows()) parent = embeddedHost();
  auto* view = new QWebEngineView(parent);
  auto* page = new BannerPage(view);
  page->onRequest = [this](const QUrl& url, bool mainFrame) {
    if (mainFrame) {
      mainPending_ = true;
      pendingUrl_ = url;
    }
    events_->onBeforeNavigate(url);
  };
  page->onCommit = [this](const QUrl& url, bool mainFrame) {
    // The web engine's page for a failed load (its broken-page picture) is
    // no page of the site: it is never reported, so the pane stays hidden.
    // It is reported as the failure at once, since the end of loading may
    // have come already.
    if (url.scheme() == QLatin1String("chrome-error")) {
      if (mainFrame) {
        mainPending_ = false;
        errorPageShown_ = !earlyEnd_.isActive();
        earlyEnd_.stop();
        events_->onNavigateError(pendingUrl_);
      }
      return;
    }
    if (mainFrame) mainPending_ = false;
    events_->onNavigateComplete(url);
    if (mainFrame && earlyEnd_.isActive()) {
      earlyEnd_.stop();
      events_->onDocumentComplete(url);
    }
  };
  earlyEnd_.setSingleShot(true);
  earlyEnd_.setInterval(kEarlyEndGraceMs);
  connect(&earlyEnd_, &QTimer::timeout, this, [this] { completePending(); });
  connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus) loadEnded(info);
  });
  view->setPage(page);
  view->setGeometry(parent == pane_.data() ? QRect(kViewPosition, kViewSize) : QRect(QPoint(), kViewSize));
  // Inside the pane the view shows and hides with it.
  if (pane_) view->show();
  view_ = view;
  page_ = page;
}

void WebBannerEngine::loadEnded(const QWebEngineLoadingInfo& info) {
  if (mainPending_) {
    earlyEnd_.start();
    return;
  }
  // The failure shown by the web engine's own page was reported as it came.
  if (std::exchange(errorPageShown_, false)) return;
  // An HTTP error whose page the server sent. A load replaced by the next
  // one ends "failed" without an error domain, and one stopped without a new
  // document ends "stopped": neither is a failure of the page.
  if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
      info.errorDomain() != QWebEngineLoadingInfo::NoErrorDomain) {
    events_->onNavigateError(info.url());
    return;
  }
  events_->onDocumentComplete(page_ ? page_->url() : QUrl());
}

// A main-frame navigation that brought no new document of its own (an empty
// answer, a jump within the page) still completes, so the pane never stays
// hidden.
void WebBannerEngine::completePending() {
  const QUrl url = page_ ? page_->url() : QUrl();
  if (mainPending_) {
    mainPending_ = false;
    events_->onNavigateComplete(url);
  }
  events_->onDocumentComplete(url);
}

void WebBannerEngine::navigate(const QUrl& url) {
  if (!view_) createView();
  view_->load(url);
}

void WebBannerEngine::styleBannerPage(const QString& script) {
  if (page_) page_->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

QVariant WebBannerEngine::evaluate(const QString& script, int timeoutMs) {
  if (!page_) return {};
  struct Wait {
    QEventLoop loop;
    QVariant result;
    bool done = false;
  };
  auto wait = std::make_shared<Wait>();
  page_->runJavaScript(script, [wait](const QVariant& result) {
    wait->result = result;
    wait->done = true;
    wait->loop.quit();
  });
  if (!wait->done) {
    QTimer::singleShot(timeoutMs, &wait->loop, &QEventLoop::quit);
    wait->loop.exec();
  }
  return wait->result;
}

}  // namespace tevrin

extern "C" Q_DECL_EXPORT tevrin::BannerEngine* tevrin_create_banner_engine(
    QWidget* pane, tevrin::BannerEngineEvents* events) {
  return new tevrin::WebBannerEngine(pane, events);
}
static_assert(std::is_same_v<decltype(&tevrin_create_banner_engine), tevrin::CreateBannerEngine>,
              "the exported factory has the type the window calls it by");
