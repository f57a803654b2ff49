#include "filelistmodel.h"


namespace toolset {

void FileListModel::Rebuild(int rows) {
  beginResetModel();
  rows_ = rows;
  endResetModel();
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QModelIndex FileListModel::index(int row, int column, const QModelIndex& parent) const {
  const bool inside = !parent.isValid() && row >= 0 && row < rows_ && column >= 0 && column < kColumnCount;
  return inside ? createIndex(row, column) : QModelIndex();
}

// What the table model gives its rows: selectable, enabled, never a parent.
Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

bool FileListModel::hasChildren(const QModelIndex& parent) const { return !parent.isValid() && rows_ > 0; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || !rowAt_) return {};
  const present::EntryRow row = rowAt_(index.row());
  switch (index.column()) {
    case kName:
      return QString::fromStdString(row.name);
    case kSize:
      return QString::fromStdString(row.size);
    case kOffset:
      return QString::fromStdString(row.offset);
    default:
      return {};
  }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (section) {
    case kName:
      return QStringLiteral("Name");
    case kSize:
      return QStringLiteral("Size");
    case kOffset:
      return QStringLiteral("Offset");
    default:
      return {};
  }
}

void AnnouncingSelectionModel::select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) {
  if (changing_) changing_();
  QItemSelectionModel::select(index, command);
}

void AnnouncingSelectionModel::select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) {
  if (changing_) changing_();
  QItemSelectionModel::select(selection, command);
}

}  // namespace toolset
