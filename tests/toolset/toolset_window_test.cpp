// The main window as a user meets it: start, menu, keys, Open and the list.
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTreeView>
#include <filesystem>

#include "celldelegate.h"
#include "toolset_fixture.h"

using namespace toolsettest;
using toolset::ToolsetDialog;

TEST(ToolsetLayout, ColumnWidthsFollowTheClientWidth) {
  const auto w = toolset::ComputeColumnWidths(400);
  EXPECT_EQ(w.name, 260);
  EXPECT_EQ(w.size, 60);
  EXPECT_EQ(w.offset, 40);
  const auto odd = toolset::ComputeColumnWidths(567);
  EXPECT_EQ(odd.name + odd.size + odd.offset, 567 - 40) << "40 pixels narrower than the client area";
}

TEST(ToolsetEntries, TextEntriesByTheirLastCharacters) {
  EXPECT_TRUE(toolset::IsTextEntryName("levels/init.CON"));
  EXPECT_TRUE(toolset::IsTextEntryName("a.rs"));
  EXPECT_TRUE(toolset::IsTextEntryName("x.inc"));
  EXPECT_TRUE(toolset::IsTextEntryName("objects/cart.Ssc"));
  EXPECT_FALSE(toolset::IsTextEntryName("abc"));
  EXPECT_FALSE(toolset::IsTextEntryName(".rs")) << "shorter than 4 characters";
  EXPECT_FALSE(toolset::IsTextEntryName("map.dds"));
  EXPECT_FALSE(toolset::IsTextEntryName("init.cons"));
  EXPECT_FALSE(toolset::IsTextEntryName(""));
}

TEST_F(ToolsetWindowTest, StartsReadyWithEverythingEmptyAndDisabled) {
  EXPECT_EQ(window->windowTitle(), "winVZR 2.05");
  EXPECT_EQ(StatusLine(), "Ready...");
  EXPECT_EQ(window->m_strStatus, "Ready...");
  EXPECT_EQ(CurrentFileLabel(), "") << "the template's text is replaced by the first push";
  EXPECT_FALSE(SaveEnabled());
  EXPECT_FALSE(EditorEnabled());
  EXPECT_EQ(window->m_pArchive, nullptr);
  EXPECT_EQ(window->m_nCurrentFile, 0);
  EXPECT_FALSE(window->windowIcon().isNull());

  QHeaderView* header = window->m_ctlFileList->header();
  ASSERT_EQ(header->count(), 3);
  EXPECT_EQ(window->ListModel()->headerData(0, Qt::Horizontal).toString(), "Name");
  EXPECT_EQ(window->ListModel()->headerData(1, Qt::Horizontal).toString(), "Size");
  EXPECT_EQ(window->ListModel()->headerData(2, Qt::Horizontal).toString(), "Offset");
  EXPECT_FALSE(header->sectionsClickable());
  const auto widths = toolset::ComputeColumnWidths(window->m_ctlFileList->contentsRect().width());
  EXPECT_EQ(header->sectionSize(0), widths.name);
  EXPECT_EQ(header->sectionSize(1), widths.size);
  EXPECT_EQ(header->sectionSize(2), widths.offset);
  EXPECT_EQ(window->m_ctlFileList->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(window->m_ctlText->lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST_F(ToolsetWindowTest, MenuHasItsIdsAndDisabledItems) {
  for (int id : {toolset::kIdFileOpen, toolset::kIdAppExit, toolset::kIdExtractAll, toolset::kIdExtractSelected,
                 toolset::kIdExtractModFolder, toolset::kIdPackDirectory}) {
    ASSERT_NE(window->MenuAction(id), nullptr) << id;
    EXPECT_TRUE(window->MenuAction(id)->isEnabled()) << id;
    EXPECT_EQ(window->MenuAction(id)->data().toInt(), id);
  }
  ASSERT_NE(window->MenuAction(toolset::kIdFileNew), nullptr);
  EXPECT_FALSE(window->MenuAction(toolset::kIdFileNew)->isEnabled());
  ASSERT_NE(window->MenuAction(toolset::kIdSelectByKeyword), nullptr);
  EXPECT_FALSE(window->MenuAction(toolset::kIdSelectByKeyword)->isEnabled());
  QStringList titles;
  for (QAction* menu : window->MenuBar()->actions()) titles << menu->text().remove('&');
  EXPECT_EQ(titles, (QStringList{"File", "Extract", "Pack", "Select"}));
  EXPECT_FALSE(window->MenuBar()->actions().back()->isEnabled()) << "the whole Select menu is disabled";
  // Triggering the disabled items anyway changes nothing and asks nothing.
  window->MenuAction(toolset::kIdFileNew)->trigger();
  window->MenuAction(toolset::kIdSelectByKeyword)->trigger();
  EXPECT_TRUE(script.Asked().empty());
  EXPECT_EQ(window->m_pArchive, nullptr);
}

TEST_F(ToolsetWindowTest, EnterDoesNothingAndEscapeCloses) {
  window->m_ctlFileList->setFocus();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &enter);
  EXPECT_FALSE(window->IsEnded());
  EXPECT_TRUE(window->isVisible());
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(window.get(), &escape);
  EXPECT_TRUE(window->IsEnded());
  EXPECT_EQ(window->EndResult(), vzrui::kIdCancel);
}

TEST_F(ToolsetWindowTest, EnterWithAScriptSelectedLeavesTheArchiveAlone) {
  ArchiveLayout layout;
  layout.AddRaw("levels/init.con", "a = 1\r\n");
  const std::string path = OpenArchive(layout);
  Click(0);
  ASSERT_TRUE(SaveEnabled());
  const auto written = std::filesystem::last_write_time(path);
  window->m_ctlFileList->setFocus();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(window->m_ctlFileList, &enter);  // the list passes it on to the window
  EXPECT_FALSE(window->IsEnded());
  EXPECT_EQ(StatusLine(), "Ready.") << "no save ran";
  EXPECT_EQ(std::filesystem::last_write_time(path), written);
  EXPECT_EQ(window->SelectedRows(), std::vector<int>{0}) << "a save would have rebuilt the list";
}

TEST_F(ToolsetWindowTest, FileExitAndCloseBoxCloseWithoutEdits) {
  window->MenuAction(toolset::kIdAppExit)->trigger();
  EXPECT_TRUE(window->IsEnded());
  EXPECT_TRUE(script.Asked().empty());
}

TEST_F(ToolsetWindowTest, OpenListsEveryEntryWithSizesAndOffsets) {
  ArchiveLayout layout;
  layout.AddRaw("levels/init.con", "a = 1\r\n");
  layout.AddRaw("textures/map.dds", Bytes(300, 7));
  layout.AddRaw("b.rs", "");
  testutil::TraceCapture trace;
  const std::string path = OpenArchive(layout);
  const auto lines = trace.Lines();

  ASSERT_EQ(window->ListModel()->rowCount(), 3);
  EXPECT_EQ(Cell(0, 0), "levels/init.con");
  EXPECT_EQ(Cell(0, 1), "7");
  EXPECT_EQ(Cell(0, 2), "156");
  EXPECT_EQ(Cell(1, 0), "textures/map.dds");
  EXPECT_EQ(Cell(1, 1), "300");
  EXPECT_EQ(Cell(1, 2), "163");
  EXPECT_EQ(Cell(2, 2), "463");
  EXPECT_EQ(StatusLine(), "Files: 3");
  EXPECT_TRUE(window->SelectedRows().empty());
  EXPECT_EQ(window->m_nCurrentFile, 0);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "LoadIndex(): " + path), lines.end());

  const auto asked = script.Files();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0].request.open);
  EXPECT_EQ(asked[0].request.defaultExtension, ".vzr");
  EXPECT_EQ(asked[0].request.filter, "VZR File (*.vzr)| *.vzr");
  EXPECT_EQ(asked[0].ownerTitle, "winVZR 2.05");
}

TEST_F(ToolsetWindowTest, SizesOfTwoGigabytesOrMoreShowNegative) {
  ArchiveLayout layout;
  layout.AddRaw("huge.bin", "x");
  layout.entries[0].fileSize = 0x80000000u;
  OpenArchive(layout);
  EXPECT_EQ(Cell(0, 1), "-2147483648");
}

TEST_F(ToolsetWindowTest, CancelledOpenChangesNothingAndUnreadableOpensEmpty) {
  script.CancelFile();
  window->OnFileOpen();
  EXPECT_EQ(window->m_pArchive, nullptr);
  EXPECT_EQ(StatusLine(), "Ready...");

  Open(dir / "missing.vzr");
  ASSERT_NE(window->m_pArchive, nullptr);
  EXPECT_EQ(window->ListModel()->rowCount(), 0);
  EXPECT_EQ(StatusLine(), "Files: 0");
}

TEST_F(ToolsetWindowTest, DamagedIndexListsWhatWasReadAndWarns) {
  ArchiveLayout layout;
  layout.AddRaw("a.con", "one");
  layout.AddRaw("b.con", "two");
  Bytes bytes = layout.Build();
  bytes.resize(bytes.size() - 10);  // the second entry is cut
  testutil::WriteFileBytes(dir / "cut.vzr", bytes);
  script.File(dir / "cut.vzr").Message(vzrui::kIdOk);
  window->OnFileOpen();
  EXPECT_EQ(window->ListModel()->rowCount(), 1);
  EXPECT_EQ(StatusLine(), "Files: 1");
  const auto messages = script.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "The archive is damaged: 1 entries could be read.");
  EXPECT_EQ(messages[0].icon, vzrui::Icon::Exclamation);
}

TEST_F(ToolsetWindowTest, NonTextEntryClearsAndDisablesTheEditor) {
  ArchiveLayout layout;
  layout.AddRaw("textures/map.dds", Bytes(10, 1));
  layout.AddRaw("abc", "not text");
  OpenArchive(layout);
  Click(0);
  EXPECT_EQ(window->m_nCurrentFile, 1);
  EXPECT_EQ(EditorText(), "");
  EXPECT_FALSE(EditorEnabled());
  EXPECT_FALSE(SaveEnabled());
  EXPECT_EQ(CurrentFileLabel(), "NoFile");
  Click(1);
  EXPECT_EQ(window->m_nCurrentFile, 2);
  EXPECT_EQ(CurrentFileLabel(), "NoFile");
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(ToolsetWindowTest, ControlsFollowAResize) {
  const QSize before = window->size();
  const QRect list = window->m_ctlFileList->geometry();
  const QRect editor = window->m_ctlText->geometry();
  const int statusGap = before.height() - window->GetDlgItem(toolset::kIdcStatus)->geometry().bottom();
  const int saveTop = window->GetDlgItem(toolset::kIdcSaveChanges)->y();
  window->resize(before.width() + 100, before.height() + 80);
  EXPECT_EQ(window->m_ctlFileList->width(), list.width() + 100);
  EXPECT_EQ(window->m_ctlFileList->height(), list.height() + 40);
  EXPECT_EQ(window->m_ctlText->y(), editor.y() + 40);
  EXPECT_EQ(window->m_ctlText->height(), editor.height() + 40);
  EXPECT_EQ(window->height() - window->GetDlgItem(toolset::kIdcStatus)->geometry().bottom(), statusGap)
      << "the status line keeps its distance from the bottom";
  EXPECT_EQ(window->GetDlgItem(toolset::kIdcSaveChanges)->y(), saveTop + 40);
}

TEST_F(ToolsetWindowTest, NamesShowAsUtf8WhenTheyAreElseByteForByte) {
  const std::string utf8Name = "levels/gr\xC3\xB6\xC3\x9F" "e.con";  // größe.con in UTF-8
  const std::string singleByteName = "levels/gr\xF6\xDF" "e.con";   // the same in one byte a letter
  ArchiveLayout layout;
  layout.AddRaw(utf8Name, "u");
  layout.AddRaw(singleByteName, "s");
  OpenArchive(layout);
  const QString shown = QString::fromUtf8("levels/größe.con");
  EXPECT_EQ(Cell(0, 0), shown);
  EXPECT_EQ(Cell(1, 0), shown) << "byte for byte, as before";
  Click(0);
  EXPECT_EQ(QString::fromStdString(CurrentFileLabel()), shown);

  const std::string out = dir / "out";
  std::filesystem::create_directory(out);
  script.Folder(out);
  window->m_ctlFileList->selectAll();
  window->OnExtractSelected();
  EXPECT_EQ(testutil::ReadFileBytes(out + "/" + utf8Name), testutil::ToBytes("u"));
  EXPECT_EQ(testutil::ReadFileBytes(out + "/" + singleByteName), testutil::ToBytes("s")) << "the name's own bytes";
}

// The list paints its cells itself, shaping each text once; a user must see
// the same pixels as the style's own cell painter gives.
TEST_F(ToolsetWindowTest, ListCellsLookAsTheStylePaintsThem) {
  ArchiveLayout layout;
  for (int i = 0; i < 60; ++i) layout.AddRaw("objects/crates/crate" + std::to_string(i) + ".con", Bytes(i * 37, 1));
  layout.entries[3].name = "objects/" + std::string(120, 'w') + "/elided.con";
  layout.entries[4].name = "sound/b\xe9ll.wav";
  OpenArchive(layout);
  toolset::FileListView* list = window->m_ctlFileList;
  const auto shot = [&](QAbstractItemDelegate* painter) {
    list->setItemDelegate(painter);
    window->repaint();
    return list->grab().toImage();
  };
  const auto compare = [&](const char* state) {
    EXPECT_EQ(shot(new QStyledItemDelegate(list)), shot(new toolset::PlainCellDelegate(list))) << state;
  };
  list->setFocus();
  list->selectionModel()->setCurrentIndex(Row(5), QItemSelectionModel::NoUpdate);
  Click(2);
  CtrlClick(3);
  CtrlClick(5);
  compare("selected rows, one of them current, an elided name");
  window->m_ctlText->setFocus();
  compare("the list without the focus");
  list->verticalScrollBar()->setValue(30);
  list->setEnabled(false);
  compare("scrolled and disabled");
}

// The list is a table that lays out no rows on open, made to look and answer
// keys as the tree view of rows it replaced: beside such a tree, the same
// pixels and the same rows reached.
TEST_F(ToolsetWindowTest, ListLooksAndMovesAsATreeOfRows) {
  ArchiveLayout layout;
  for (int i = 0; i < 90; ++i) layout.AddRaw("objects/crates/crate" + std::to_string(i) + ".con", Bytes(i * 37, 1));
  OpenArchive(layout);
  toolset::FileListView* list = window->m_ctlFileList;
  auto* tree = new QTreeView(window.get());
  tree->setModel(window->ListModel());
  tree->setItemDelegate(new toolset::PlainCellDelegate(tree));
  tree->setRootIsDecorated(false);
  tree->setUniformRowHeights(true);
  tree->setAllColumnsShowFocus(true);
  tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tree->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree->header()->setStretchLastSection(false);
  tree->setPalette(list->palette());
  tree->setGeometry(list->geometry());
  for (int column = 0; column < 3; ++column) tree->setColumnWidth(column, list->columnWidth(column));
  tree->show();
  window->setAttribute(Qt::WA_KeyboardFocusChange);  // as after Tab: the focus frame shows
  const auto shot = [](QAbstractItemView* view) {
    view->setFocus();
    QApplication::processEvents();
    return view->grab().toImage();
  };
  const std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
      {Qt::Key_Down, Qt::NoModifier},      {Qt::Key_Down, Qt::ShiftModifier}, {Qt::Key_PageDown, Qt::NoModifier},
      {Qt::Key_PageDown, Qt::NoModifier},  {Qt::Key_End, Qt::NoModifier},     {Qt::Key_PageUp, Qt::NoModifier},
      {Qt::Key_Home, Qt::ShiftModifier},   {Qt::Key_End, Qt::ControlModifier}, {Qt::Key_Right, Qt::NoModifier},
      {Qt::Key_PageUp, Qt::ShiftModifier}, {Qt::Key_Up, Qt::NoModifier}};
  for (const auto& [key, modifiers] : keys) {
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(tree), static_cast<QAbstractItemView*>(list)}) {
      view->setFocus();
      QTest::keyClick(view, key, modifiers);
    }
    EXPECT_EQ(list->currentIndex().row(), tree->currentIndex().row()) << "key " << key;
    EXPECT_EQ(list->selectionModel()->selectedRows().size(), tree->selectionModel()->selectedRows().size());
    EXPECT_EQ(list->verticalScrollBar()->value(), tree->verticalScrollBar()->value()) << "key " << key;
    EXPECT_EQ(shot(list), shot(tree)) << "after key " << key;
  }
}

// What each cell tells the style, as a tree's row cells do: styles that
// round a row's selection or light the row under the mouse draw one row, not
// three separate cells.
TEST_F(ToolsetWindowTest, ListCellsTellTheStyleTheyFormRows) {
  ArchiveLayout layout;
  for (const char* name : {"a.con", "b.con", "c.con"}) layout.AddRaw(name, "x");
  OpenArchive(layout);
  toolset::FileListView* list = window->m_ctlFileList;
  const QPoint overSizeOfSecond = list->visualRect(window->ListModel()->index(1, 1)).center();
  QHoverEvent hover(QEvent::HoverMove, overSizeOfSecond, overSizeOfSecond, QPointF(-1, -1));
  QApplication::sendEvent(list->viewport(), &hover);
  const QStyleOptionViewItem::ViewItemPosition positions[] = {
      QStyleOptionViewItem::Beginning, QStyleOptionViewItem::Middle, QStyleOptionViewItem::End};
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) {
      QStyleOptionViewItem cell;
      cell.state = QStyle::State_Enabled | QStyle::State_HasFocus;
      list->DressCell(cell, window->ListModel()->index(row, column));
      EXPECT_EQ(cell.viewItemPosition, positions[column]) << "column " << column;
      EXPECT_EQ(bool(cell.state & QStyle::State_MouseOver), row == 1) << "the whole row under the mouse";
      EXPECT_EQ(bool(cell.state & QStyle::State_Sibling), row < 2) << "rows follow";
      EXPECT_FALSE(cell.state & QStyle::State_HasFocus) << "the list frames the current row, not a cell";
    }
}

namespace {

// The rows of pixels of image within rect that hold anything darker than
// the background at the rect's top-left corner: the ink's height.
int InkHeight(const QImage& image, const QRect& rect) {
  const QRgb background = image.pixel(rect.topLeft());
  int top = -1, bottom = -1;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x)
      if (qGray(image.pixel(x, y)) + 60 < qGray(background)) {
        if (top < 0) top = y;
        bottom = y;
        break;
      }
  return top < 0 ? 0 : bottom - top + 1;
}

}  // namespace

// Dots and rings on capitals are part of a name: a row shows the whole of
// its text, as the same text drawn on its own shows it.
TEST_F(ToolsetWindowTest, RowsAreAsTallAsTheirAccentedCapitals) {
  const QString name = QString::fromUtf8("\u00d6lfeld_\u00dcbung_\u00c5gypt.con");
  ArchiveLayout layout;
  layout.AddRaw("plain.con", "x");
  layout.AddRaw(name.toStdString(), "x");
  layout.AddRaw("after.con", "x");
  OpenArchive(layout);
  window->resize(900, 700);
  QApplication::processEvents();
  const QImage shown = window->m_ctlFileList->viewport()->grab().toImage();
  const QRect cell = window->m_ctlFileList->visualRect(Row(1));

  const QFontMetrics metrics(window->m_ctlFileList->font());
  QImage alone(metrics.horizontalAdvance(name) + 8, metrics.height() * 3, QImage::Format_RGB32);
  alone.fill(Qt::white);
  QPainter painter(&alone);
  painter.setFont(window->m_ctlFileList->font());
  painter.setPen(Qt::black);
  painter.drawText(4, metrics.height() * 2, name);
  painter.end();
  const int needed = InkHeight(alone, alone.rect());
  ASSERT_GT(needed, 0) << "the font draws the name";
  EXPECT_GE(InkHeight(shown, cell), needed) << "row height " << cell.height() << ", font height " << metrics.height();
}
