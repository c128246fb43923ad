#pragma once
#include "web/gui/bannerengine.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>

class QWidget;

namespace tevrin {

// WebBrowser1, the web view of the banner pane. The view (and with it the
// browser engine) is created by the first navigate(), so a run without a scan
// costs no more than a plain window.
class BannerView : public QObject, private BannerEngineEvents {
  Q_OBJECT
 public:
  explicit BannerView(QWidget* pane, QObject* parent = nullptr);  // pane = sPanel1
  ~BannerView() override;

  // Starts loading `url` and returns at once; the page arrives through the
  // signals below.
  void navigate(const QUrl& url);
  // Fits the page into the pane (StyleBannerScript) on the top-level document.
  // Does nothing before the first navigate().
  void styleBannerPage();
  QWidget* view() const;  // the web view; nullptr until the first navigate()

  // Runs `script` in the page and waits for its result in a local event loop,
  // at most `timeoutMs`; an invalid QVariant on timeout, without a view, or
  // when the script throws.
  QVariant evaluate(const QString& script, int timeoutMs = 10000);

 signals:
  // Every navigation of the page or of a frame in it, links the user follows
  // included; none is refused.
  void beforeNavigate(const QUrl& url);
  // A navigation has reached its target and its document exists. A
  // main-frame navigation that brings no document of its own (an empty
  // answer) reports the current page when loading stops. The web engine's own
  // page for a failed load is not reported.
  void navigateComplete(const QUrl& url);
  // The page has finished loading.
  void documentComplete(const QUrl& url);
  // The page could not be loaded: no answer, or an HTTP error (its page may
  // have been reported by navigateComplete just before). Every beforeNavigate
  // of the page is followed by navigateComplete and documentComplete, or by
  // this.
  void navigateError(const QUrl& url);

 private:
  // Loads the web engine module and makes its view inside the pane.
  bool loadEngine();
  // The module's events become this object's signals.
  void onBeforeNavigate(const QUrl& url) override { emit beforeNavigate(url); }
  void onNavigateComplete(const QUrl& url) override { emit navigateComplete(url); }
  void onDocumentComplete(const QUrl& url) override { emit documentComplete(url); }
  void onNavigateError(const QUrl& url) override { emit navigateError(url); }

  QPointer<QWidget> pane_;
  std::unique_ptr<BannerEngine> engine_;
  bool loadFailed_ = false;
};

}  // namespace tevrin
