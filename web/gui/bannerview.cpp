#include "web/gui/bannerview.h"

#include "web/banner.h"
#include "web/bannermodule.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QWidget>

#include <unistd.h>

namespace tevrin {
namespace {

QFunctionPointer ResolveEngineFactory() {
  for (const QString& place : BannerModuleFolders(QCoreApplication::applicationDirPath())) {
    QLibrary module(QDir(place).filePath(QStringLiteral("tevrin_webbanner")));
    if (QFunctionPointer create = module.resolve("tevrin_create_banner_engine")) return create;
  }
  return nullptr;
}
}  // namespace

BannerView::BannerView(QWidget* pane, QObject* parent) : QObject(parent), pane_(pane) {}

BannerView::~BannerView() = default;

bool BannerView::loadEngine() {
  if (engine_) return true;
  if (loadFailed_) return false;
  // Run as root, the web engine will not start sandboxed and ends the whole
  // process; without the sandbox it would show a remote page as root. The pane
  // stays hidden unless the sandbox was turned off on purpose.
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
    loadFailed_ = true;
    qWarning("tevrin: no banner for root: its web engine needs its sandbox");
    return false;
  }
  static const auto factory = reinterpret_cast<CreateBannerEngine>(ResolveEngineFactory());
  if (!factory) {
    // Without the web engine the pane simply stays hidden: the banner reports nothing.
    loadFailed_ = true;
    qWarning("tevrin: the banner's web engine module could not be loaded");
    return false;
  }
  engine_.reset(factory(pane_.data(), this));
  return engine_ != nullptr;
}

QWidget* BannerView::view() const { return engine_ ? engine_->view() : nullptr; }

void BannerView::navigate(const QUrl& url) {
  if (loadEngine()) engine_->navigate(url);
}

void BannerView::styleBannerPage() {
  if (engine_) engine_->styleBannerPage(StyleBannerScript());
}

QVariant BannerView::evaluate(const QString& script, int timeoutMs) {
  return engine_ ? engine_->evaluate(script, timeoutMs) : QVariant();
}

}  // namespace tevrin
