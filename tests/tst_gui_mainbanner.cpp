#include "app/gui/mainform.h"
#include "support/testsupport.h"
#include "tools/chartserver/chartserver.h"
#include "web/gui/bannerview.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>
#include <QtTest>

using namespace tevrin;

namespace {

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};
}  // namespace

class TstGuiMainBanner : public QObject {
  Q_OBJECT
  QTemporaryDir site_;
  std::unique_ptr<ChartServer> server_;

 private slots:
  void initTestCase() {
    QVERIFY(QDir(site_.path()).mkpath("charts"));
    QFile page(site_.filePath("reklama.html"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><body><p>Tevrin</p></body></html>");
    page.close();
    server_ = std::make_unique<ChartServer>(site_.path());
    server_->setLogging(false);
    QVERIFY(server_->listen());
    qputenv("TEVRIN_SITE_URL", server_->baseUrl().toUtf8());
    qputenv("TEVRIN_CHART_URL", server_->baseUrl().toUtf8());
  }

  void bannerFollowsTheScanStart() {
    test::TempExeDir home;
    test::RecordingMessages boxes;
    TMainF w;
    w.show();
    // A refused scan does not navigate; the web engine is not even started.
    w.CheckBoxRus->setChecked(false);
    w.BitBtnGo->click();
    QVERIFY(w.banner().view() == nullptr);
    QVERIFY(w.sPanel1->isHidden());

    // The prompt item: the banner click still comes first.
    w.CheckBoxRus->setChecked(true);
    w.BitBtnGo->click();
    QVERIFY(w.banner().view() != nullptr);
    QVERIFY(test::WaitInEventLoop([&] { return w.sPanel1->isVisible(); }));
    QVERIFY(test::WaitInEventLoop([&] {
      return w.banner().evaluate("document.bgColor").toString() == "#acdde9" &&
             w.banner().evaluate("document.body.style.borderStyle").toString() == "none";
    }));
    QCOMPARE(w.banner().evaluate("location.href").toString(), server_->baseUrl() + "/reklama.html");

    // The next navigation hides the pane until it completes.
    bool hidden = false;
    connect(&w.banner(), &BannerView::beforeNavigate, this, [&] { hidden = w.sPanel1->isHidden(); });
    w.Button1->click();
    QVERIFY(test::WaitInEventLoop([&] { return hidden && w.sPanel1->isVisible(); }));
    QCOMPARE(boxes.boxes.size(), 1);  // only the refused scan's warning: the banner reports nothing
  }

  void aBannerThatCannotBeLoadedLeavesThePaneHidden() {
    test::TempExeDir home;
    TMainF w;
    w.show();
    w.Button1->click();
    QVERIFY(test::WaitInEventLoop([&] { return w.sPanel1->isVisible(); }));
    quint16 closedPort = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      closedPort = probe.serverPort();
    }
    qputenv("TEVRIN_SITE_URL", QString("http://127.0.0.1:%1").arg(closedPort).toUtf8());
    bool failed = false;
    connect(&w.banner(), &BannerView::navigateError, this, [&] { failed = true; });
    w.Button1->click();
    qputenv("TEVRIN_SITE_URL", server_->baseUrl().toUtf8());
    QVERIFY(test::WaitInEventLoop([&] { return failed; }));
    QVERIFY(w.sPanel1->isHidden());
  }

  void siteLink() {
    test::TempExeDir home;
    TMainF w;
    QCOMPARE(w.LabelURL->text(), server_->baseUrl());
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(w.LabelURL, &enter);
    QVERIFY(w.LabelURL->font().underline());
    QVERIFY(!w.LabelURL->font().bold() && !w.LabelURL->font().italic());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w.LabelURL, &leave);
    QVERIFY(!w.LabelURL->font().underline());

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "open");
    QTest::mouseClick(w.LabelURL, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(catcher.opened, QList<QUrl>({QUrl(server_->baseUrl())}));
  }
};

int main(int argc, char** argv) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  TstGuiMainBanner tc;
  QTEST_SET_MAIN_SOURCE_PATH
  return QTest::qExec(&tc, argc, argv);
}
#include "tst_gui_mainbanner.moc"
