#include "app/windowplacement.h"

#include <cstdlib>

namespace tevrin {
namespace {

bool Near(int a, int b) { return std::abs(a - b) <= 1; }
bool NearPosition(const QRect& a, const QRect& b) { return Near(a.x(), b.x()) && Near(a.y(), b.y()); }
bool NearSize(const QRect& a, const QRect& b) {
  return Near(a.width(), b.width()) && Near(a.height(), b.height());
}

}  // namespace

bool NearlyEqual(const QRect& a, const QRect& b) { return NearPosition(a, b) && NearSize(a, b); }

WindowPlacement::Request WindowPlacement::requestFor(const QMargins& frame) const {
  const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
  QSize outer = start_.designedClient + extra;
  // A stored size beyond the desktop (a stray value, or a screen that shrank)
  // is cut to what the desktop offers; the minimum still holds.
  if (start_.storedOuter) outer = start_.storedOuter->boundedTo(start_.desktop.size());
  outer = outer.expandedTo(start_.minimumOuter);
  const QPoint outerTopLeft =
      start_.desktop.topLeft() +
      QPoint((start_.desktop.width() - outer.width()) / 2, (start_.desktop.height() - outer.height()) / 2);
  Request request;
  request.minimumClient = (start_.minimumOuter - extra).expandedTo(QSize(1, 1));
  request.client = QRect(outerTopLeft + QPoint(frame.left(), frame.top()), outer - extra);
  return request;
}

std::optional<WindowPlacement::Request> WindowPlacement::frameKnown(const QMargins& frame,
                                                                    const QRect& current) {
  if (phase_ != Phase::WaitingForFrame) return std::nullopt;
  frame_ = frame;
  const Request request = requestFor(frame);
  before_ = current;
  asked_ = request.client;
  phase_ = NearlyEqual(current, asked_) ? Phase::Settled : Phase::Asked;
  return request;
}

std::optional<QRect> WindowPlacement::configured(const QRect& current) {
  if (phase_ != Phase::Asked) return std::nullopt;
  if (NearlyEqual(current, asked_)) {
    phase_ = Phase::Settled;
    return std::nullopt;
  }
  // Sized by someone else (the user, a tiling layout): theirs stands.
  const bool resizedByOthers = !NearSize(current, before_) && !NearSize(current, asked_);
  // The window manager answered with the bounds the window had before.
  const bool sizeDropped = !NearSize(asked_, before_) && NearSize(current, before_);
  const bool positionDropped = !NearPosition(asked_, before_) && NearPosition(current, before_);
  if (repeated_ || resizedByOthers || (!sizeDropped && !positionDropped)) {
    phase_ = Phase::Settled;
    return std::nullopt;
  }
  repeated_ = true;
  // A window moved by someone else meanwhile keeps its place; only the size
  // is asked again.
  const bool movedByOthers = !NearPosition(current, before_) && !NearPosition(current, asked_);
  const QRect again = movedByOthers ? QRect(current.topLeft(), asked_.size()) : asked_;
  before_ = current;
  asked_ = again;
  return again;
}

}  // namespace tevrin
