#include "scan/gui/badgeanimation.h"

#include <QFont>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <cmath>
#include <numbers>

namespace tevrin {

namespace {

// One view of the badge at turning angle `angle` (radians). The face is the
// oval squeezed horizontally by cos(angle); when the cosine is negative the
// painter's mirrored scale shows the back, drawn darker with the word reversed.
// The rim, shifted by sin(angle), gives the disc its thickness.
QImage DrawFrame(double angle) {
  QImage img(BadgeAnimation::kFrameWidth, BadgeAnimation::kFrameHeight, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);

  const double sx = std::cos(angle);
  const double rimShift = 2.5 * std::sin(angle);
  const bool back = sx < 0;
  const QRectF oval(-28, -17.5, 56, 35);

  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.translate(BadgeAnimation::kFrameWidth / 2.0, BadgeAnimation::kFrameHeight / 2.0);

  // Rim: a darker oval slightly behind the face.
  p.save();
  p.translate(rimShift, 0);
  p.scale(std::max(std::abs(sx), 0.08), 1.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(12, 34, 92));
  p.drawEllipse(oval);
  p.restore();

  p.scale(sx, 1.0);
  QLinearGradient fill(0, oval.top(), 0, oval.bottom());
  if (back) {
    fill.setColorAt(0, QColor(46, 84, 160));
    fill.setColorAt(1, QColor(18, 40, 104));
  } else {
    fill.setColorAt(0, QColor(96, 160, 240));
    fill.setColorAt(1, QColor(26, 76, 180));
  }
  p.setPen(QPen(QColor(220, 232, 255), 1.5));
  p.setBrush(fill);
  p.drawEllipse(oval.adjusted(1, 1, -1, -1));

  QFont font(QStringLiteral("Liberation Sans"));
  font.setBold(true);
  font.setPixelSize(14);
  p.setFont(font);
  p.setPen(back ? QColor(170, 186, 220) : QColor(255, 255, 255));
  p.drawText(oval, Qt::AlignCenter, QStringLiteral("Tevrin"));
  p.end();
  return img;
}

const std::array<QImage, BadgeAnimation::kFrameCount>& Frames() {
  static const std::array<QImage, BadgeAnimation::kFrameCount> frames = [] {
    std::array<QImage, BadgeAnimation::kFrameCount> out;
    for (int k = 0; k < BadgeAnimation::kFrameCount; ++k)
      out[k] = DrawFrame(2 * std::numbers::pi * k / BadgeAnimation::kFrameCount);
    return out;
  }();
  return frames;
}

}  // namespace

BadgeAnimation::BadgeAnimation(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(false);  // the badge sits on the window's own background
  timer_.setInterval(kFrameIntervalMs);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &BadgeAnimation::step);
}

void BadgeAnimation::setActive(bool active) {
  if (active == timer_.isActive()) return;
  if (active) {
    frame_ = 0;
    timer_.start();
  } else {
    timer_.stop();
  }
  update();
}

bool BadgeAnimation::isActive() const { return timer_.isActive(); }

int BadgeAnimation::currentFrame() const { return frame_; }

QImage BadgeAnimation::frame(int index) {
  if (index < 0 || index >= kFrameCount) return QImage();
  return Frames()[index];
}

QSize BadgeAnimation::sizeHint() const { return QSize(kFrameWidth, kFrameHeight); }

QSize BadgeAnimation::minimumSizeHint() const { return sizeHint(); }

void BadgeAnimation::step() {
  frame_ = (frame_ + 1) % kFrameCount;
  update();
}

void BadgeAnimation::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QImage& img = Frames()[frame_];
  p.drawImage((width() - img.width()) / 2, (height() - img.height()) / 2, img);
}

}  // namespace tevrin
