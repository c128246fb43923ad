#include "app/errors.h"
#include "app/gui/messageboxes.h"
#include "scan/scandriver.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace tevrin;

namespace {

// What the user saw of one box.
struct SeenBox {
  bool shown = false;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QString text;
  bool wrapped = true;
  QStringList linesCut;  // lines narrower on screen than they are written
};

// Runs `open`, which shows a modal box, reads the box once it is up and
// answers it with `answer`.
SeenBox Answer(const std::function<void()>& open, QMessageBox::StandardButton answer) {
  SeenBox seen;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    poll.stop();
    seen.shown = true;
    seen.caption = box->windowTitle();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.text = box->text();
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
      seen.wrapped = label->wordWrap();
      const QFontMetrics metrics(label->font());
      for (const QString& line : seen.text.split(QLatin1Char('\n')))
        if (metrics.horizontalAdvance(line) > label->contentsRect().width() ||
            label->mapTo(box, QPoint(label->width(), 0)).x() > box->width())
          seen.linesCut << line;
    }
    box->button(answer)->click();
  });
  poll.start();
  open();
  return seen;
}

}  // namespace

class TstGuiMessageBoxes : public QObject {
  Q_OBJECT
  MessageBoxes boxes_;

 private slots:
  void captionIconAndButtonsOfEachKind() {
    struct Kind {
      std::function<void()> open;
      QString caption;
      QMessageBox::Icon icon;
    };
    const QList<Kind> kinds = {
        {[this] { boxes_.warning("w"); }, "Warning", QMessageBox::Warning},
        {[this] { boxes_.error("e"); }, "Error", QMessageBox::Critical},
        {[this] { boxes_.information("i"); }, "Information", QMessageBox::Information},
        {[this] { boxes_.plain("p"); }, "Tevrin  v1.04b", QMessageBox::NoIcon},
        {[this] { boxes_.applicationError("a"); }, "Tevrin  v1.04b", QMessageBox::Critical},
    };
    for (const Kind& kind : kinds) {
      const SeenBox seen = Answer(kind.open, QMessageBox::Ok);
      QVERIFY(seen.shown);
      QCOMPARE(seen.caption, kind.caption);
      QCOMPARE(seen.icon, kind.icon);
      QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
  }

  void confirmationAsksYesOrNo() {
    bool answer = false;
    SeenBox seen = Answer([&] { answer = boxes_.confirm("q"); }, QMessageBox::Yes);
    QCOMPARE(seen.caption, QString("Confirmation"));
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(answer);
    seen = Answer([&] { answer = boxes_.confirm("q"); }, QMessageBox::No);
    QVERIFY(seen.shown);
    QVERIFY(!answer);
  }

  void linesStandAsWritten() {
    // "\r" and "\r\n" break lines; text that looks like markup is shown as it is.
    SeenBox seen = Answer([this] { boxes_.information("a\rb <b>c</b>\r\nd"); }, QMessageBox::Ok);
    QCOMPARE(seen.text, QString("a\nb <b>c</b>\nd"));

    seen = Answer([this] { boxes_.error(kDownloadErrorText); }, QMessageBox::Ok);
    QCOMPARE(seen.text.split('\n').size(), 4);
    QVERIFY(!seen.wrapped);
    QCOMPARE(seen.linesCut, QStringList());

    // A line wider than half the screen, where the toolkit would wrap it.
    const QString wide = QString("Длинная строка сообщения ").repeated(4).trimmed();
    const QFontMetrics metrics(QApplication::font("QMessageBox"));
    QVERIFY(metrics.horizontalAdvance(wide) > QApplication::primaryScreen()->availableSize().width() / 2);
    QVERIFY(metrics.horizontalAdvance(wide) < QApplication::primaryScreen()->availableSize().width());
    seen = Answer([&] { boxes_.warning(wide + "\rok"); }, QMessageBox::Ok);
    QVERIFY(!seen.wrapped);
    QCOMPARE(seen.linesCut, QStringList());
  }
};

QTEST_MAIN(TstGuiMessageBoxes)
#include "tst_gui_messageboxes.moc"
