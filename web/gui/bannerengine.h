#pragma once
// What the window and the banner's web engine module say to each other. The
// module is loaded at run time; this header is compiled on both sides, so the
// calls across its border are checked by the compiler.
#include <QString>
#include <QUrl>
#include <QVariant>

class QWidget;

namespace tevrin {

// The window's side: the web view's navigation events.
class BannerEngineEvents {
 public:
  virtual void onBeforeNavigate(const QUrl& url) = 0;
  virtual void onNavigateComplete(const QUrl& url) = 0;
  virtual void onDocumentComplete(const QUrl& url) = 0;
  virtual void onNavigateError(const QUrl& url) = 0;

 protected:
  ~BannerEngineEvents() = default;
};

// The module's side: the web view inside the banner pane.
class BannerEngine {
 public:
  virtual ~BannerEngine() = default;
  // Creates the view on first use, starts loading `url` and returns at once.
  virtual void navigate(const QUrl& url) = 0;
  // Runs `script` on the top-level document, without waiting for it.
  virtual void styleBannerPage(const QString& script) = 0;
  virtual QWidget* view() const = 0;  // nullptr until the first navigate()
  // Runs `script` and waits in a local loop at most `timeoutMs` for its result.
  virtual QVariant evaluate(const QString& script, int timeoutMs) = 0;
};

// The type of the module's one exported function, tevrin_create_banner_engine.
// `events` outlives the engine.
using CreateBannerEngine = BannerEngine* (*)(QWidget* pane, BannerEngineEvents* events);

}  // namespace tevrin
