#include "app/gui/textfit.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTableView>

namespace tevrin {
namespace {

// The space between a button's picture and its caption, as Qt's styles draw it.
constexpr int kIconSpacing = 4;

// The part of `control` that shows: its rect, cut by every parent's.
QRect VisibleInWindow(const QWidget& control, const QWidget& window) {
  QRect visible(control.mapTo(&window, QPoint(0, 0)), control.size());
  for (const QWidget* w = control.parentWidget(); w && w != &window; w = w->parentWidget())
    visible &= QRect(w->mapTo(&window, QPoint(0, 0)), w->size());
  return visible & window.rect();
}

QRect InWindow(const QWidget& control, const QWidget& window, const QRect& local) {
  return local.translated(control.mapTo(&window, QPoint(0, 0)));
}

int Advance(const QFont& font, const QString& text) { return QFontMetrics(font).horizontalAdvance(text); }

// `width` wide, placed in `area` as `alignment` says.
QRect Placed(const QWidget& control, Qt::Alignment alignment, int width, const QRect& area) {
  return QStyle::alignedRect(control.layoutDirection(), alignment, QSize(width, area.height()), area);
}

void Add(QList<TextFit>& out, const QWidget& control, const QWidget& window, const QString& name,
         const QString& text, const QRect& localText, const QRect& localArea) {
  TextFit fit;
  fit.control = name;
  fit.text = text;
  fit.textRect = InWindow(control, window, localText);
  fit.visibleRect = InWindow(control, window, localArea) & VisibleInWindow(control, window);
  out.append(fit);
}

void MeasureLabel(QList<TextFit>& out, const QLabel& label, const QWidget& window) {
  if (label.text().isEmpty() || label.textFormat() == Qt::RichText) return;
  const QRect area = label.contentsRect().adjusted(label.margin(), 0, -label.margin(), 0);
  const QRect text = Placed(label, label.alignment(), Advance(label.font(), label.text()), area);
  Add(out, label, window, label.objectName(), label.text(), text, area);
}

// A check box's caption starts where its contents do; a push button's picture
// and caption are centred in its contents.
void MeasureButton(QList<TextFit>& out, const QAbstractButton& button, const QWidget& window,
                   QStyle::SubElement contents, Qt::Alignment alignment) {
  if (button.text().isEmpty()) return;
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  option.icon = button.icon();
  option.iconSize = button.iconSize();
  const QRect area = button.style()->subElementRect(contents, &option, &button) & button.rect();
  const int icon = button.icon().isNull() ? 0 : button.iconSize().width() + kIconSpacing;
  const QRect text = Placed(button, alignment, icon + Advance(button.font(), button.text()), area);
  Add(out, button, window, button.objectName(), button.text(), text, area);
}

void MeasureGroupBox(QList<TextFit>& out, const QGroupBox& box, const QWidget& window) {
  if (box.title().isEmpty()) return;
  QStyleOptionGroupBox option;
  option.initFrom(&box);
  option.text = box.title();
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  option.textAlignment = box.alignment();
  const QRect label =
      box.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &box);
  const QRect text = Placed(box, Qt::AlignLeft, Advance(box.font(), box.title()), label);
  Add(out, box, window, box.objectName(), box.title(), text, box.rect());
}

void MeasureComboBox(QList<TextFit>& out, const QComboBox& combo, const QWidget& window) {
  QStyleOptionComboBox option;
  option.initFrom(&combo);
  option.editable = combo.isEditable();
  option.frame = combo.hasFrame();
  const QRect field =
      combo.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &combo);
  for (int i = 0; i < combo.count(); ++i) {
    const QString item = combo.itemText(i);
    const QRect text = Placed(combo, Qt::AlignLeft, Advance(combo.font(), item), field);
    Add(out, combo, window, combo.objectName(), item, text, field);
  }
}

void MeasureHeader(QList<TextFit>& out, const QTableView& table, const QWidget& window) {
  const QHeaderView* header = table.horizontalHeader();
  const QAbstractItemModel* model = table.model();
  if (!model || header->isHidden()) return;
  const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  for (int column = 0; column < model->columnCount(); ++column) {
    if (header->isSectionHidden(column)) continue;
    const QString text = model->headerData(column, Qt::Horizontal).toString();
    if (text.isEmpty()) continue;
    const QRect section(header->sectionViewportPosition(column), 0, header->sectionSize(column),
                        header->height());
    const QRect area = section.adjusted(margin, 0, -margin, 0);
    const QRect textRect = Placed(*header, header->defaultAlignment(), Advance(header->font(), text), area);
    // Sections are placed in the header's viewport.
    const QWidget& viewport = *header->viewport();
    Add(out, viewport, window, table.objectName() + QLatin1Char(':') + QString::number(column), text,
        textRect, area & viewport.rect());
  }
}

}  // namespace

QList<TextFit> MeasureTexts(const QWidget& window) {
  QList<TextFit> out;
  for (const QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window)) continue;
    if (const auto* label = qobject_cast<const QLabel*>(w)) MeasureLabel(out, *label, window);
    else if (const auto* box = qobject_cast<const QCheckBox*>(w))
      MeasureButton(out, *box, window, QStyle::SE_CheckBoxContents, Qt::AlignLeft);
    else if (const auto* button = qobject_cast<const QPushButton*>(w))
      MeasureButton(out, *button, window, QStyle::SE_PushButtonContents, Qt::AlignCenter);
    else if (const auto* group = qobject_cast<const QGroupBox*>(w)) MeasureGroupBox(out, *group, window);
    else if (const auto* combo = qobject_cast<const QComboBox*>(w)) MeasureComboBox(out, *combo, window);
    else if (const auto* table = qobject_cast<const QTableView*>(w)) MeasureHeader(out, *table, window);
  }
  return out;
}

QString DescribeFit(const TextFit& fit) {
  return QStringLiteral("%1 \"%2\" %3 of %4 px: %5")
      .arg(fit.control, fit.text)
      .arg(fit.textRect.width())
      .arg(fit.visibleRect.width())
      .arg(fit.cut() ? QStringLiteral("cut") : QStringLiteral("fits"));
}

}  // namespace tevrin
