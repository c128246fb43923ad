#include "app/gui/pictures.h"
#include "scan/gui/badgeanimation.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QThread>
#include <QtTest>

#include <vector>

using namespace tevrin;

namespace {

enum class Hue { Clear, White, Dark, Red, Yellow, Green, Cyan, Blue, Other };

const char* HueName(Hue h) {
  static const char* names[] = {"clear", "white", "dark", "red", "yellow", "green", "cyan", "blue", "other"};
  return names[static_cast<int>(h)];
}

// Coarse colour class of a pixel, enough to tell the drawn shapes apart.
Hue Classify(QRgb px) {
  if (qAlpha(px) < 64) return Hue::Clear;
  const QColor c = QColor::fromRgb(qUnpremultiply(px));
  const int h = c.hsvHue(), s = c.hsvSaturation(), v = c.value();
  if (v < 100) return Hue::Dark;
  if (s < 50) return v > 200 ? Hue::White : Hue::Other;
  if (h < 15 || h >= 340) return Hue::Red;
  if (h >= 40 && h < 70) return Hue::Yellow;
  if (h >= 80 && h < 160) return Hue::Green;
  if (h >= 170 && h < 200) return Hue::Cyan;
  if (h >= 200 && h < 260) return Hue::Blue;
  return Hue::Other;
}

// Drawn as the window draws it.
QImage Render(const QString& path, QSize size) { return SvgPixmap(path, size).toImage(); }

int Count(const QImage& img, Hue hue) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += Classify(img.pixel(x, y)) == hue;
  return n;
}

struct Probe {
  QPoint at;
  Hue hue;
};
struct Share {
  Hue hue;
  int minPercent;  // of all pixels of the picture
};
struct Picture {
  const char* name;
  QSize size;
  std::vector<Probe> probes;
  std::vector<Share> shares;
};

const std::vector<Picture>& Pictures() {
  using H = Hue;
  static const std::vector<Picture> pictures = {
      {"tv.svg",
       {12, 12},
       {{{0, 0}, H::Clear}, {{11, 0}, H::Clear}, {{0, 11}, H::Clear}, {{6, 7}, H::Cyan}, {{5, 6}, H::Cyan}},
       {{H::Cyan, 25}, {H::Dark, 20}}},
      {"free.svg",
       {12, 12},
       {{{0, 0}, H::Clear}, {{11, 11}, H::Clear}, {{6, 6}, H::Green}},
       {{H::Green, 40}}},
      {"paid.svg",
       {12, 12},
       {{{0, 0}, H::Clear}, {{11, 11}, H::Clear}, {{2, 6}, H::Red}},
       {{H::Red, 35}, {H::White, 5}}},
      {"flag_rus.svg", {18, 12}, {{{9, 1}, H::White}, {{9, 6}, H::Blue}, {{9, 10}, H::Red}}, {}},
      {"flag_ukr.svg", {18, 12}, {{{9, 2}, H::Blue}, {{9, 9}, H::Yellow}}, {{H::Blue, 45}, {H::Yellow, 45}}},
      {"flag_bel.svg",
       {18, 12},
       {{{12, 3}, H::Red}, {{12, 10}, H::Green}, {{1, 6}, H::Red}, {{0, 4}, H::White}},
       {{H::Red, 45}, {H::Green, 20}, {H::White, 5}}},
      {"btn_scan.svg",
       {32, 32},
       {{{0, 0}, H::Clear}, {{31, 0}, H::Clear}, {{0, 31}, H::Clear}},
       {{H::Dark, 10}}},
      {"btn_export.svg",
       {32, 32},
       {{{31, 31}, H::Clear}, {{0, 31}, H::Clear}, {{16, 26}, H::White}},
       {{H::Green, 15}, {H::White, 15}}},
      {"btn_save.svg",
       {32, 32},
       {{{0, 0}, H::Clear}, {{31, 0}, H::Clear}, {{16, 8}, H::Green}},
       {{H::Green, 15}}},
      {"btn_compare.svg",
       {32, 32},
       {{{0, 0}, H::Clear}, {{31, 31}, H::Clear}, {{3, 20}, H::Yellow}},
       {{H::Yellow, 8}}},
      {"logo.svg", {300, 75}, {{{0, 0}, H::Clear}, {{299, 74}, H::Clear}}, {{H::Blue, 30}}},
      {"check.svg", {12, 12}, {{{0, 0}, H::Clear}, {{11, 11}, H::Clear}}, {{H::Blue, 10}}},
      {"combo_arrow.svg",
       {7, 4},
       {{{3, 0}, H::Dark}, {{0, 3}, H::Clear}, {{6, 3}, H::Clear}},
       {{H::Dark, 30}}},
      {"app_icon.svg",
       {64, 64},
       {{{0, 0}, H::Clear}, {{63, 63}, H::Clear}, {{50, 15}, H::Blue}},
       {{H::Blue, 20}}},
  };
  return pictures;
}

}  // namespace

class TstGuiArt : public QObject {
  Q_OBJECT
 private slots:
  // The pictures live in the static window library, whose resource object the
  // linker keeps only when it is named.
  void initTestCase() { Q_INIT_RESOURCE(images); }

  void resourceHoldsEveryPicture() {
    QStringList expected;
    for (const Picture& pic : Pictures()) expected << QString::fromLatin1(pic.name);
    QStringList present = QDir(":/images").entryList(QDir::Files);
    expected.sort();
    present.sort();
    QCOMPARE(present, expected);
  }

  void picturesRenderAsDrawn() {
    for (const Picture& pic : Pictures()) {
      const QString path = QStringLiteral(":/images/") + QString::fromLatin1(pic.name);
      QSvgRenderer r(path);
      QVERIFY2(r.isValid(), pic.name);
      QCOMPARE(r.defaultSize(), pic.size);
      QCOMPARE(SvgPixmap(path, pic.size).size(), pic.size);
      QCOMPARE(SvgIcon(path, pic.size).availableSizes(), QList<QSize>{pic.size});

      const QImage img = Render(path, pic.size);
      for (const Probe& probe : pic.probes) {
        const Hue got = Classify(img.pixel(probe.at));
        QVERIFY2(got == probe.hue, qPrintable(QStringLiteral("%1 at (%2,%3): %4, expected %5")
                                                  .arg(pic.name)
                                                  .arg(probe.at.x())
                                                  .arg(probe.at.y())
                                                  .arg(HueName(got), HueName(probe.hue))));
      }
      const int all = pic.size.width() * pic.size.height();
      for (const Share& share : pic.shares) {
        const int percent = 100 * Count(img, share.hue) / all;
        QVERIFY2(percent >= share.minPercent, qPrintable(QStringLiteral("%1: %2% %3, expected at least %4%")
                                                             .arg(pic.name)
                                                             .arg(percent)
                                                             .arg(HueName(share.hue))
                                                             .arg(share.minPercent)));
      }
    }
  }

  void missingPictureDrawsNothing() {
    QVERIFY(SvgPixmap(QStringLiteral(":/images/none.svg"), QSize(12, 12)).isNull());
    QVERIFY(SvgIcon(QStringLiteral(":/images/none.svg"), QSize(12, 12)).isNull());
    QVERIFY(SvgPixmap(QStringLiteral(":/images/tv.svg"), QSize()).isNull());
  }

  void badgeFramesFormATurningClip() {
    QCOMPARE(BadgeAnimation::kFrameCount, 13);
    for (int k = 0; k < BadgeAnimation::kFrameCount; ++k) {
      const QImage f = BadgeAnimation::frame(k);
      QCOMPARE(f.size(), QSize(60, 39));
      QCOMPARE(Classify(f.pixel(0, 0)), Hue::Clear);
      QCOMPARE(Classify(f.pixel(59, 38)), Hue::Clear);
      QVERIFY2(f != BadgeAnimation::frame((k + 1) % BadgeAnimation::kFrameCount),
               qPrintable(QString::number(k)));
    }
    QVERIFY(BadgeAnimation::frame(-1).isNull());
    QVERIFY(BadgeAnimation::frame(BadgeAnimation::kFrameCount).isNull());

    // Face on, the badge fills most of the frame in blue; half a turn later
    // the back shows, darker, and a quarter turn shows it nearly edge-on.
    const QImage front = BadgeAnimation::frame(0), back = BadgeAnimation::frame(6);
    QVERIFY(Count(front, Hue::Blue) > 60 * 39 / 3);
    QVERIFY(Count(BadgeAnimation::frame(3), Hue::Clear) > 2 * Count(front, Hue::Clear));
    auto brightness = [](const QImage& img) {
      qint64 sum = 0;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) sum += qGray(img.pixel(x, y)) * qAlpha(img.pixel(x, y));
      return sum;
    };
    QVERIFY(brightness(back) < brightness(front));
  }

  void badgeStepsOnlyWhileActive() {
    BadgeAnimation anim;
    anim.resize(164, 39);
    anim.show();
    QVERIFY(!anim.isActive());
    QTest::qWait(3 * BadgeAnimation::kFrameIntervalMs);
    QCOMPARE(anim.currentFrame(), 0);

    // The timer only fires while events are processed: a busy GUI thread
    // keeps the badge still.
    anim.setActive(true);
    QVERIFY(anim.isActive());
    QThread::msleep(3 * BadgeAnimation::kFrameIntervalMs);
    QCOMPARE(anim.currentFrame(), 0);

    bool sawLast = false;
    QVERIFY(QTest::qWaitFor(
        [&] {
          sawLast = sawLast || anim.currentFrame() == BadgeAnimation::kFrameCount - 1;
          return sawLast && anim.currentFrame() == 0;
        },
        10000));

    QVERIFY(QTest::qWaitFor([&] { return anim.currentFrame() != 0; }, 5000));
    anim.setActive(false);
    QVERIFY(!anim.isActive());
    const int stoppedAt = anim.currentFrame();
    QTest::qWait(3 * BadgeAnimation::kFrameIntervalMs);
    QCOMPARE(anim.currentFrame(), stoppedAt);

    anim.setActive(true);
    QCOMPARE(anim.currentFrame(), 0);
  }

  void badgeIsDrawnCentredOnAClearBackground() {
    BadgeAnimation anim;
    anim.resize(164, 39);
    QImage img(anim.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    anim.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    QCOMPARE(Classify(img.pixel(5, 19)), Hue::Clear);
    QCOMPARE(Classify(img.pixel(158, 19)), Hue::Clear);
    QCOMPARE(Classify(img.pixel(82 - 20, 19)), Hue::Blue);
    QCOMPARE(Classify(img.pixel(82 + 20, 19)), Hue::Blue);
  }
};

QTEST_MAIN(TstGuiArt)
#include "tst_gui_art.moc"
