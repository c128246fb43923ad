#pragma once
#include <QMargins>
#include <QRect>
#include <QSize>

#include <optional>

namespace tevrin {

// Where the main window opens, and how it settles once the window system has
// told it its frame. Sizes in the settings and the minimum are outer sizes,
// frame included, and the window opens centred on the desktop; the frame is
// unknown until the window manager has framed the window, so the outer
// minimum and the stored size are applied then, once. A request the window
// manager demonstrably dropped is made once more; whatever else moves or
// resizes the window (the user's drag, a snap, a tiling layout) stays.
//
// All bounds are client bounds on the screen unless named outer.
class WindowPlacement {
 public:
  struct Start {
    std::optional<QSize> storedOuter;  // from the settings, if any
    QSize designedClient;              // used when nothing is stored
    QSize minimumOuter;
    QRect desktop;  // the screen's available area
  };
  // A request to the window system: the minimum client size, and the bounds.
  struct Request {
    QSize minimumClient;
    QRect client;
  };

  explicit WindowPlacement(const Start& start) : start_(start) {}

  // Before the frame is known (taken as none): what the window opens with.
  Request opening() const { return requestFor(QMargins()); }

  // The frame is known and the window is at `current`: the one request that
  // applies the minimum and the stored size, centred. Nothing once settled or
  // already asked.
  std::optional<Request> frameKnown(const QMargins& frame, const QRect& current);

  // The window system reports the window at `current` after the request: a
  // request to repeat when the window manager dropped it, else nothing.
  std::optional<QRect> configured(const QRect& current);

  // Nothing more is asked: the window is in a state its window manager
  // decides (maximised, full screen), or the window system places windows
  // itself and answers nothing.
  void stop() { phase_ = Phase::Settled; }
  bool awaitingFrame() const { return phase_ == Phase::WaitingForFrame; }
  // Whether nothing more will be asked of the window system.
  bool settled() const { return phase_ == Phase::Settled; }
  // The frame the window was settled with.
  QMargins frame() const { return frame_; }

 private:
  enum class Phase { WaitingForFrame, Asked, Settled };
  Request requestFor(const QMargins& frame) const;

  Start start_;
  Phase phase_ = Phase::WaitingForFrame;
  QMargins frame_;
  QRect before_;  // where the window was when it was asked
  QRect asked_;
  bool repeated_ = false;
};

// Bounds equal within one pixel on every edge: the window system rounds at
// fractional scale factors.
bool NearlyEqual(const QRect& a, const QRect& b);

}  // namespace tevrin
