#include "web/gui/bannerview.h"

#include "web/banner.h"
#include "web/bannermodule.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QWidget>

namespace tevrin {
namespace {
using CreateEngine = QObject* (*)(QWidget*);

QFunctionPointer ResolveEngineFactory() {
  for (const QString& place : BannerModuleFolders(QCoreApplication::applicationDirPath())) {
    QLibrary module(QDir(place).filePath(QStringLiteral("tevrin_webbanner")));
    if (QFunctionPointer create = module.resolve("tevrin_create_banner_engine")) return create;
  }
  return nullptr;
}
}  // namespace

BannerView::BannerView(QWidget* pane, QObject* parent) : QObject(parent), pane_(pane) {}

BannerView::~BannerView() { delete engine_.data(); }

bool BannerView::loadEngine() {
  if (engine_) return true;
  if (loadFailed_) return false;
  static const QFunctionPointer factory = ResolveEngineFactory();
  if (!factory) {
    // Without the web engine the pane simply stays hidden: the banner reports nothing.
    loadFailed_ = true;
    qWarning("tevrin: the banner's web engine module could not be loaded");
    return false;
  }
  QObject* engine = reinterpret_cast<CreateEngine>(factory)(pane_.data());
  engine->setParent(this);
  connect(engine, SIGNAL(beforeNavigate(QUrl)), this, SIGNAL(beforeNavigate(QUrl)));
  connect(engine, SIGNAL(navigateComplete(QUrl)), this, SIGNAL(navigateComplete(QUrl)));
  connect(engine, SIGNAL(documentComplete(QUrl)), this, SIGNAL(documentComplete(QUrl)));
  engine_ = engine;
  return true;
}

QWidget* BannerView::view() const {
  QWidget* view = nullptr;
  if (engine_)
    QMetaObject::invokeMethod(engine_.data(), "view", Qt::DirectConnection, Q_RETURN_ARG(QWidget*, view));
  return view;
}

void BannerView::navigate(const QUrl& url) {
  if (!loadEngine()) return;
  QMetaObject::invokeMethod(engine_.data(), "navigate", Qt::DirectConnection, Q_ARG(QUrl, url));
}

void BannerView::styleBannerPage() {
  if (!engine_) return;
  QMetaObject::invokeMethod(engine_.data(), "styleBannerPage", Qt::DirectConnection,
                            Q_ARG(QString, StyleBannerScript()));
}

QVariant BannerView::evaluate(const QString& script, int timeoutMs) {
  QVariant result;
  if (!engine_) return result;
  QMetaObject::invokeMethod(engine_.data(), "evaluate", Qt::DirectConnection, Q_RETURN_ARG(QVariant, result),
                            Q_ARG(QString, script), Q_ARG(int, timeoutMs));
  return result;
}

}  // namespace tevrin
