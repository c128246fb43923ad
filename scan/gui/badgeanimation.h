#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace tevrin {

// The turning badge of the download progress window: a blue oval with the
// word "Tevrin" spinning about its vertical axis. The frames are stepped by a
// timer of the GUI thread, so the badge only moves while that thread processes
// events; a busy or sleeping GUI thread freezes it on its current frame.
class BadgeAnimation : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kFrameCount = 13;
  static constexpr int kFrameWidth = 60;
  static constexpr int kFrameHeight = 39;
  static constexpr int kFrameIntervalMs = 100;

  explicit BadgeAnimation(QWidget* parent = nullptr);

  // Starting plays from the first frame and repeats until stopped; stopping
  // leaves the badge on the frame it had reached.
  void setActive(bool active);
  bool isActive() const;
  int currentFrame() const;

  // Frame `index` of the clip (drawn once, then shared); a null image for an
  // index outside 0..kFrameCount-1.
  static QImage frame(int index);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void step();

  QTimer timer_;
  int frame_ = 0;
};

}  // namespace tevrin
