#include "filelistmodel.h"

#include <cstdint>

#include "entrytext.h"
#include "vzrpack.h"

namespace toolset {

void FileListModel::Rebuild(const VzrArchive* archive) {
  beginResetModel();
  archive_ = archive;
  rows_ = archive ? static_cast<int>(archive->FileIndex.count) : 0;
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
  if (role != Qt::DisplayRole || !archive_ || !index.isValid()) return {};
  // The engine may rewrite the index while a command runs and the window
  // repaints; a row it no longer has shows nothing.
  const auto row = static_cast<uint32_t>(index.row());
  if (row >= archive_->FileIndex.count || row >= archive_->FileIndex.files.size()) return {};
  const FileEntry& entry = archive_->FileIndex.files[row];
  switch (index.column()) {
    case kName:
      return EntryNameToQt(std::string(entry.name, strnlen(entry.name, sizeof entry.name)));
    case kSize:  // shown signed, as the platform's "%d" shows it
      return QString::number(static_cast<int32_t>(entry.fileSize));
    case kOffset:
      return QString::number(static_cast<int32_t>(entry.fileOffset));
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
