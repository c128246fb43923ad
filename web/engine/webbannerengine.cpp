#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>

#include <QEventLoop>
#include <QTimer>
#include <QUuid>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>
#include <QWidget>

#include <functional>
#include <memory>

namespace tevrin {

// The banner's web view. It lives in a module of its own, loaded at the first
// banner navigation, so that the tool starts and stays as light as a plain Qt
// window until then. It speaks to the window only through Qt's meta-object
// calls: no type of the tool crosses the module's border.
class WebBannerEngine : public QObject {
  Q_OBJECT
 public:
  explicit WebBannerEngine(QWidget* pane) : pane_(pane) {}
  ~WebBannerEngine() override;

  Q_INVOKABLE void navigate(const QUrl& url);
  Q_INVOKABLE void styleBannerPage(const QString& script);
  Q_INVOKABLE QWidget* view() const { return view_.data(); }
  Q_INVOKABLE QVariant evaluate(const QString& script, int timeoutMs);

 signals:
  void beforeNavigate(const QUrl&);
  void navigateComplete(const QUrl&);
  void documentComplete(const QUrl&);

 private:
  void createView();
  void loadFinished();

  QPointer<QWidget> pane_;
  QPointer<QWebEngineView> view_;
  QPointer<QWebEnginePage> page_;
  // A main-frame navigation was requested and its document has not been
  // reported yet.
  bool mainPending_ = false;
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
  delete view_.data();
}

void WebBannerEngine::createView() {
  auto* view = new QWebEngineView(pane_.data());
  auto* page = new BannerPage(view);
  page->onRequest = [this](const QUrl& url, bool mainFrame) {
    if (mainFrame) mainPending_ = true;
    emit beforeNavigate(url);
  };
  page->onCommit = [this](const QUrl& url, bool mainFrame) {
    if (mainFrame) mainPending_ = false;
    emit navigateComplete(url);
  };
  connect(page, &QWebEnginePage::loadFinished, this, [this] { loadFinished(); });
  view->setPage(page);
  view->setGeometry(6, 6, 347, 83);
  // Inside a pane the view shows and hides with it; without one it stays an
  // invisible top-level widget.
  if (pane_) view->show();
  view_ = view;
  page_ = page;
}

void WebBannerEngine::loadFinished() {
  const QUrl url = page_ ? page_->url() : QUrl();
  // A main-frame navigation that brought no new document of its own (a jump
  // within the page) still completes, so the pane never stays hidden.
  if (mainPending_) {
    mainPending_ = false;
    emit navigateComplete(url);
  }
  emit documentComplete(url);
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

extern "C" Q_DECL_EXPORT QObject* tevrin_create_banner_engine(QWidget* pane) {
  return new tevrin::WebBannerEngine(pane);
}

#include "webbannerengine.moc"
