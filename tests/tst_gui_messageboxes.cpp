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
    seen = {box->windowTitle(), box->icon(), box->standardButtons(), box->text(), true, {}};
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
      seen.wrapped = label->wordWrap();
      const QFontMetrics metrics(label->font());
      const int labelRight = label->mapTo(box, QPoint(label->width(), 0)).x();
      for (const QString& line : seen.text.split(QLatin1Char('\n')))
        if (metrics.horizontalAdvance(line) > label->contentsRect().width() || labelRight > box->width())
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
    bool yes = false;
    struct Kind {
      std::function<void()> open;
      QString caption;
      QMessageBox::Icon icon;
      QMessageBox::StandardButtons buttons;
      QMessageBox::StandardButton answer;
    };
    const QMessageBox::StandardButtons ok = QMessageBox::Ok, yesNo = QMessageBox::Yes | QMessageBox::No;
    const QList<Kind> kinds = {
        {[this] { boxes_.warning("w"); }, "Warning", QMessageBox::Warning, ok, QMessageBox::Ok},
        {[this] { boxes_.error("e"); }, "Error", QMessageBox::Critical, ok, QMessageBox::Ok},
        {[this] { boxes_.information("i"); }, "Information", QMessageBox::Information, ok, QMessageBox::Ok},
        {[this] { boxes_.plain("p"); }, "Tevrin  v1.04b", QMessageBox::NoIcon, ok, QMessageBox::Ok},
        {[this] { boxes_.applicationError("a"); }, "Tevrin  v1.04b", QMessageBox::Critical, ok,
         QMessageBox::Ok},
        {[&] { yes = boxes_.confirm("q"); }, "Confirmation", QMessageBox::Question, yesNo, QMessageBox::Yes},
    };
    for (const Kind& kind : kinds) {
      const SeenBox seen = Answer(kind.open, kind.answer);
      QCOMPARE(seen.caption, kind.caption);
      QCOMPARE(seen.icon, kind.icon);
      QCOMPARE(seen.buttons, kind.buttons);
    }
    QVERIFY(yes);
    Answer([&] { yes = boxes_.confirm("q"); }, QMessageBox::No);
    QVERIFY(!yes);
  }

  void linesStandAsWritten() {
    // "\r" and "\r\n" break lines; text that looks like markup is shown as it is.
    SeenBox seen = Answer([this] { boxes_.information("a\rb <b>c</b>\r\nd"); }, QMessageBox::Ok);
    QCOMPARE(seen.text, QString("a\nb <b>c</b>\nd"));

    // Its longest line is wider than half the screen, where the toolkit wraps.
    const QFontMetrics metrics(QApplication::font("QMessageBox"));
    QVERIFY(metrics.horizontalAdvance(kDownloadErrorText.split('\r')[2]) >
            QApplication::primaryScreen()->availableSize().width() / 2);
    seen = Answer([this] { boxes_.error(kDownloadErrorText); }, QMessageBox::Ok);
    QCOMPARE(seen.text.split('\n').size(), 4);
    QVERIFY(!seen.wrapped);
    QCOMPARE(seen.linesCut, QStringList());
  }
};

QTEST_MAIN(TstGuiMessageBoxes)
#include "tst_gui_messageboxes.moc"
