#pragma once
#include <QList>
#include <QRect>
#include <QString>

class QWidget;

namespace tevrin {

// Where a caption of the window is drawn and how much of the window shows
// it, both in the window's coordinates and measured in the font the control
// draws with. A caption wider than its control, or running past a box that
// holds the control, is cut.
struct TextFit {
  QString control;  // the control's name; "<table>:<column>" for a header section
  QString text;
  QRect textRect;
  QRect visibleRect;
  bool cut() const { return textRect.left() < visibleRect.left() || textRect.right() > visibleRect.right(); }
};

// The captions of every visible label, check box, button, group box, combo
// box entry (each entry, as any can be the one shown) and table header
// section inside `window`.
QList<TextFit> MeasureTexts(const QWidget& window);

// "Label1 "Название спутника:" 97 of 102 px: fits" (or ": cut").
QString DescribeFit(const TextFit& fit);

}  // namespace tevrin
