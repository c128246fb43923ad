// Where the main window opens and how it settles in the frame a window
// manager gives it: a 1280 x 1024 desktop, openbox's frame (1 left and right,
// 20 above, 5 below).
#include "app/windowplacement.h"

#include <QtTest>

using namespace tevrin;

namespace {

const QRect kDesktop(0, 0, 1280, 1024);
const QMargins kFrame(1, 20, 1, 5);
const QSize kMinimumOuter(587, 347);

WindowPlacement Placement(std::optional<QSize> storedOuter) {
  return WindowPlacement({storedOuter, QSize(850, 416), kMinimumOuter, kDesktop});
}

// The client bounds of a window whose outer bounds are centred on the desktop.
QRect CentredClient(const QSize& outer, const QMargins& frame) {
  const QPoint topLeft((kDesktop.width() - outer.width()) / 2, (kDesktop.height() - outer.height()) / 2);
  return QRect(topLeft, outer).marginsRemoved(frame);
}

}  // namespace

class TstWindowPlacement : public QObject {
  Q_OBJECT
 private slots:
  void sizesAreOuterSizesCentredOnTheDesktop_data() {
    QTest::addColumn<std::optional<QSize>>("stored");
    QTest::addColumn<QSize>("outer");  // once the frame is known
    QTest::newRow("nothing stored: the designed client") << std::optional<QSize>() << QSize(852, 441);
    QTest::newRow("stored") << std::optional<QSize>(QSize(900, 500)) << QSize(900, 500);
    QTest::newRow("below the minimum") << std::optional<QSize>(QSize(100, 100)) << kMinimumOuter;
    QTest::newRow("beyond the desktop") << std::optional<QSize>(QSize(100000, 100000)) << kDesktop.size();
  }
  void sizesAreOuterSizesCentredOnTheDesktop() {
    QFETCH(std::optional<QSize>, stored);
    QFETCH(QSize, outer);
    WindowPlacement placement = Placement(stored);
    // Before the frame is known the window opens as if it had none.
    const WindowPlacement::Request opening = placement.opening();
    QCOMPARE(opening.minimumClient, kMinimumOuter);
    QCOMPARE(opening.client.size(), stored ? outer : QSize(850, 416));
    const std::optional<WindowPlacement::Request> framed = placement.frameKnown(kFrame, opening.client);
    QVERIFY(framed);
    QCOMPARE(framed->minimumClient, QSize(585, 322));
    QCOMPARE(framed->client, CentredClient(outer, kFrame));
    QCOMPARE(placement.frame(), kFrame);
  }

  // One request once the frame is known; the window manager's answer ends it,
  // unless it shows the request dropped, which is asked once more.
  void theWindowManagersAnswer_data() {
    QTest::addColumn<QList<QRect>>("answers");  // client bounds the window manager reports, in turn
    QTest::addColumn<QList<QRect>>("asked");    // what the window asks again, in turn
    const QRect before(346, 338, 587, 347);     // opened frameless at the minimum, then framed
    const QRect wanted = CentredClient(kMinimumOuter, kFrame);
    const QRect dragged = wanted.translated(120, 90);
    QTest::newRow("done as asked") << QList<QRect>{wanted, before, dragged} << QList<QRect>{};
    QTest::newRow("within a pixel, as at a fractional scale")
        << QList<QRect>{QRect(wanted.topLeft() + QPoint(1, -1), wanted.size() + QSize(-1, 1)), before}
        << QList<QRect>{};
    QTest::newRow("dropped, asked again once")
        << QList<QRect>{before, before, before} << QList<QRect>{wanted};
    QTest::newRow("dropped, then done") << QList<QRect>{before, wanted, before} << QList<QRect>{wanted};
    QTest::newRow("moved by the user, resized as asked")
        << QList<QRect>{QRect(dragged.topLeft(), wanted.size())} << QList<QRect>{};
    QTest::newRow("moved by the user, resize dropped: only the size again")
        << QList<QRect>{QRect(dragged.topLeft(), before.size()), QRect(dragged.topLeft(), wanted.size())}
        << QList<QRect>{QRect(dragged.topLeft(), wanted.size())};
    QTest::newRow("resized by someone else (a tiling layout)")
        << QList<QRect>{QRect(0, 20, 640, 999), before} << QList<QRect>{};
  }
  void theWindowManagersAnswer() {
    QFETCH(QList<QRect>, answers);
    QFETCH(QList<QRect>, asked);
    WindowPlacement placement = Placement(QSize(100, 100));
    const QRect before(346, 338, 587, 347);
    QCOMPARE(placement.opening().client, before);
    QVERIFY(placement.frameKnown(kFrame, before));
    QVERIFY(!placement.settled());
    QList<QRect> again;
    for (const QRect& answer : answers)
      if (const std::optional<QRect> request = placement.configured(answer)) again << *request;
    QCOMPARE(again, asked);
    QVERIFY(placement.settled());
    // The frame is applied once per start.
    QVERIFY(!placement.frameKnown(QMargins(4, 30, 4, 4), before));
  }

  void aWindowAlreadyWhereItBelongsAsksNothingMore() {
    WindowPlacement placement = Placement(std::nullopt);
    const QRect wanted = CentredClient(QSize(852, 441), kFrame);
    const std::optional<WindowPlacement::Request> request =
        placement.frameKnown(kFrame, wanted.translated(1, 0));
    QVERIFY(request);  // the minimum still applies
    QVERIFY(placement.settled());
    QVERIFY(!placement.configured(wanted.translated(300, 0)));
  }

  void noFrameKeepsTheClientSize() {
    // A compositor that decorates the window itself tells it no frame: the
    // sizes hold for the client area.
    WindowPlacement placement = Placement(QSize(100, 100));
    const std::optional<WindowPlacement::Request> request =
        placement.frameKnown(QMargins(), QRect(0, 0, 587, 347));
    QVERIFY(request);
    QCOMPARE(request->client.size(), kMinimumOuter);
    QCOMPARE(request->minimumClient, kMinimumOuter);
  }
};

QTEST_GUILESS_MAIN(TstWindowPlacement)
#include "tst_windowplacement.moc"
