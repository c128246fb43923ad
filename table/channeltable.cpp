#include "table/channeltable.h"

#include "app/errors.h"

#include <algorithm>
#include <numeric>

namespace tevrin {

void ChannelRow::setImage(int k, int image) {
  if (k < 0) return;
  while (images.size() <= k) images.append(kNoImage);
  images[k] = image;
}

void ChannelRow::setChannelImages(bool freeToAir) {
  setImage(kSubName, kImageTv);
  setImage(kSubCoding, freeToAir ? kImageFree : kImagePaid);
}

ChannelTableModel::ChannelTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void ChannelTableModel::checkIndex(int index) const {
  if (index < 0 || index >= count()) throw TevrinError(ListIndexErrorText(index));
}

void ChannelTableModel::cellsChanged(int row, int lastColumn) {
  if (row >= shownRows_) return;  // staged: its insert will show it as it is then
  if (bulkDepth_ > 0) bulkDirty_ = true;
  else emit dataChanged(index(row, 0), index(row, lastColumn));
}

const ChannelRow& ChannelTableModel::row(int index) const {
  checkIndex(index);
  return rows_[static_cast<size_t>(index)];
}

int ChannelTableModel::appendRow(ChannelRow row) {
  const int position = count();
  if (bulkDepth_ > 0) {
    rows_.push_back(std::move(row));  // staged until the bracket closes
  } else {
    beginInsertRows(QModelIndex(), position, position);
    rows_.push_back(std::move(row));
    shownRows_ = count();
    endInsertRows();
  }
  return position;
}

void ChannelTableModel::removeRowAt(int index) {
  checkIndex(index);
  if (index >= shownRows_) {
    rows_.erase(rows_.begin() + index);  // a staged row: the view never saw it
    return;
  }
  beginRemoveRows(QModelIndex(), index, index);
  rows_.erase(rows_.begin() + index);
  --shownRows_;
  endRemoveRows();
}

void ChannelTableModel::clear() {
  if (rows_.empty()) return;
  if (shownRows_ == 0) {
    rows_.clear();  // only staged rows
    return;
  }
  beginResetModel();
  rows_.clear();
  shownRows_ = 0;
  bulkDirty_ = false;
  endResetModel();
}

void ChannelTableModel::changed() {
  if (bulkDepth_ > 0) bulkDirty_ = true;
  else if (shownRows_ > 0) emit dataChanged(index(0, 0), index(shownRows_ - 1, kColumnCount - 1));
}

void ChannelTableModel::setMark(int index, const QString& mark) {
  checkIndex(index);
  rows_[static_cast<size_t>(index)].mark = mark;
  cellsChanged(index, 0);
}

void ChannelTableModel::setSubItem(int index, int subItem, const QString& text) {
  checkIndex(index);
  QStringList& items = rows_[static_cast<size_t>(index)].subItems;
  if (subItem < 0 || subItem > items.size()) throw TevrinError(ListIndexErrorText(subItem));
  if (subItem == items.size()) items.append(text);
  else items[subItem] = text;
  cellsChanged(index, kColumnCount - 1);
}

void ChannelTableModel::appendSubItem(int index, const QString& text) {
  setSubItem(index, static_cast<int>(row(index).subItems.size()), text);
}

void ChannelTableModel::beginBulkUpdate() { ++bulkDepth_; }

void ChannelTableModel::endBulkUpdate() {
  if (bulkDepth_ == 0 || --bulkDepth_ > 0) return;
  if (bulkDirty_) {
    bulkDirty_ = false;
    changed();
  }
  publishStagedRows();
}

void ChannelTableModel::publishStagedRows() {
  if (shownRows_ == count()) return;
  beginInsertRows(QModelIndex(), shownRows_, count() - 1);
  shownRows_ = count();
  endInsertRows();
}

void ChannelTableModel::repaint() { changed(); }

bool ChannelTableModel::sortByColumn(int column) {
  if (column <= 1 || column == 5 || column >= kColumnCount) return false;
  const int key = column - 1;
  publishStagedRows();
  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [this, key](int a, int b) {
    // QString ordering compares UTF-16 code units by value: no locale, no case folding.
    return rows_[static_cast<size_t>(a)].subItem(key) < rows_[static_cast<size_t>(b)].subItem(key);
  });

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<ChannelRow> sorted;
  sorted.reserve(rows_.size());
  std::vector<int> newPosition(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newPosition[static_cast<size_t>(order[i])] = static_cast<int>(i);
    sorted.push_back(std::move(rows_[static_cast<size_t>(order[i])]));
  }
  rows_ = std::move(sorted);
  numberRows();
  // The selection and every other persistent index follow their channel.
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& old : from)
    to.append(index(newPosition[static_cast<size_t>(old.row())], old.column()));
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  return true;
}

void ChannelTableModel::numberRows() {
  for (size_t i = 0; i < rows_.size(); ++i) {
    QStringList& items = rows_[i].subItems;
    const QString number = QString::number(i + 1);
    if (items.isEmpty()) items.append(number);
    else items[0] = number;
  }
}

void ChannelTableModel::renumber() {
  numberRows();
  changed();
}

int ChannelTableModel::appendHandRow() {
  ChannelRow row;
  row.subItems = {QString::number(count() + 1), QStringLiteral("Тр.новый"), QStringLiteral("Им.новый"),
                  QStringLiteral("---")};
  return appendRow(std::move(row));
}

void ChannelTableModel::setImageProvider(std::function<QVariant(int)> provider) {
  imageProvider_ = std::move(provider);
}

int ChannelTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shownRows_; }

int ChannelTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ChannelTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shownRows_ || index.column() >= kColumnCount) return {};
  const ChannelRow& r = rows_[static_cast<size_t>(index.row())];
  const int sub = index.column() - 1;
  switch (role) {
    case Qt::DisplayRole: return index.column() == 0 ? r.mark : r.subItem(sub);
    case Qt::DecorationRole:
      if (index.column() == 0 || !imageProvider_ || r.image(sub) == kNoImage) return {};
      return imageProvider_(r.image(sub));
    case Qt::TextAlignmentRole:
      return index.column() == 1 ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default: return {};
  }
}

QString ChannelTableModel::columnCaption(int column) {
  static const QString captions[kColumnCount] = {
      QStringLiteral("###"),         QStringLiteral("№"),
      QStringLiteral("Транспондер"), QStringLiteral("Наименование канала"),
      QStringLiteral("Аудио"),       QStringLiteral("Video"),
      QStringLiteral("Кодировка"),   QStringLiteral("Примечание")};
  return column >= 0 && column < kColumnCount ? captions[column] : QString();
}

QVariant ChannelTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) return columnCaption(section);
  if (role == Qt::TextAlignmentRole)
    return section == 1 ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                        : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags ChannelTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // never editable in place
}

}  // namespace tevrin
