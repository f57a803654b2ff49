// Showing, editing and saving script entries in the real window, with the
// save questions answered by script and the archive read back by the engine.
#include <QTextCursor>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "fileservices.h"
#include "toolset_fixture.h"

using namespace toolsettest;
using testutil::ToBytes;
using vzrui::Buttons;
using vzrui::Icon;
using vzrui::kIdCancel;
using vzrui::kIdNo;
using vzrui::kIdOk;
using vzrui::kIdYes;

namespace {

ArchiveLayout ThreeEntries() {
  ArchiveLayout layout;
  layout.AddRaw("levels/init.con", "cue a\r\ncue b\r\n");
  layout.AddRaw("textures/map.dds", Bytes(40, 2));
  layout.AddRaw("menu/menu.ssc", "fold.in x\n");
  return layout;
}

void ExpectSaveQuestion(const vzrui::MessageQuestion& q) {
  EXPECT_EQ(q.text, "Text was modified. Save changes?");
  EXPECT_EQ(q.caption, "Save changes?");
  EXPECT_EQ(q.buttons, Buttons::YesNo);
  EXPECT_EQ(q.icon, Icon::Question);
}

void ExpectExitQuestion(const vzrui::MessageQuestion& q) {
  EXPECT_EQ(q.text, "Text was modified. Save changes before exit?");
  EXPECT_EQ(q.caption, "Save changes?");
  EXPECT_EQ(q.buttons, Buttons::YesNoCancel);
  EXPECT_EQ(q.icon, Icon::Question);
}

}  // namespace

TEST_F(ToolsetWindowTest, SelectingAScriptShowsItsText) {
  OpenArchive(ThreeEntries());
  testutil::TraceCapture trace;
  Click(0);
  const std::string log = trace.Text();
  EXPECT_EQ(EditorText(), "cue a\ncue b\n");
  EXPECT_TRUE(EditorEnabled());
  EXPECT_TRUE(SaveEnabled());
  EXPECT_EQ(CurrentFileLabel(), "levels/init.con");
  EXPECT_EQ(window->m_nCurrentFile, 1);
  EXPECT_EQ(StatusLine(), "Ready.");
  EXPECT_EQ(window->m_bModified, 0);
  EXPECT_NE(log.find(" Looking at: levels/init.con\n  Looking at: 0\n  Size: 14\n  Offset: 156\n  SizeCompressed: 14\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(CodePosition, 794);
  EXPECT_EQ(window->m_ctlText->textCursor().position(), 0) << "the first line is shown";
}

TEST_F(ToolsetWindowTest, TwoSelectedRowsChangeNothing) {
  OpenArchive(ThreeEntries());
  Click(0);
  CtrlClick(2);
  EXPECT_EQ(window->SelectedRows(), (std::vector<int>{0, 2}));
  EXPECT_EQ(EditorText(), "cue a\ncue b\n");
  EXPECT_EQ(window->m_nCurrentFile, 1);
  EXPECT_EQ(CurrentFileLabel(), "levels/init.con");
  CtrlClick(0);  // only the third row is left: it is loaded
  EXPECT_EQ(EditorText(), "fold.in x\n");
  EXPECT_EQ(window->m_nCurrentFile, 3);
}

TEST_F(ToolsetWindowTest, EditThenSelectAnotherRowAndAnswerNo) {
  const std::string path = OpenArchive(ThreeEntries());
  const Bytes before = testutil::ReadFileBytes(path);
  Click(0);
  Type("changed\n");
  script.Message(kIdNo);
  Click(2);
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectSaveQuestion(script.Messages()[0]);
  EXPECT_EQ(EditorText(), "fold.in x\n");
  EXPECT_EQ(window->m_nCurrentFile, 3);
  EXPECT_EQ(window->m_bModified, 0);
  EXPECT_EQ(testutil::ReadFileBytes(path), before) << "No saves nothing";
}

TEST_F(ToolsetWindowTest, EditThenSelectAnotherRowAndAnswerYes) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  Type("cue c\n");
  script.Message(kIdYes);
  Click(2);
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("cue c\r\n")) << "the previous entry is saved, with its own line ends";
  EXPECT_EQ(EditorText(), "fold.in x\n") << "then the chosen entry is loaded";
  EXPECT_EQ(window->m_nCurrentFile, 3);
  EXPECT_EQ(CurrentFileLabel(), "menu/menu.ssc");
  EXPECT_TRUE(window->SelectedRows().empty()) << "the save rebuilt the list";
  EXPECT_EQ(Cell(0, 1), "7");
}

TEST_F(ToolsetWindowTest, EscapeOnTheSaveQuestionKeepsItOpenAndTheEdit) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  Type("cue kept\n");
  script.PressEscape().Message(kIdYes);  // Escape: the box stays; then Yes
  Click(2);
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("cue kept\r\n")) << "the edit was not thrown away";
}

TEST_F(ToolsetWindowTest, ReselectingTheEditedEntryAsksBeforeLoadingItAgain) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  Type("my edit\n");
  CtrlClick(0);  // deselected: nothing happens
  EXPECT_TRUE(script.Messages().empty());
  script.Message(kIdYes);
  Click(0);
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectSaveQuestion(script.Messages()[0]);
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("my edit\r\n"));
  EXPECT_EQ(EditorText(), "my edit\n");
}

TEST_F(ToolsetWindowTest, SaveChangesWritesTheEntryAndRebuildsTheList) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  Type("cue a\ncue b\ncue longer\n");
  testutil::TraceCapture trace;
  window->OnSaveChanges();
  const std::string log = trace.Text();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("cue a\r\ncue b\r\ncue longer\r\n"));
  EXPECT_EQ(Cell(0, 1), "26") << "the list shows the new size";
  EXPECT_EQ(Cell(1, 2), "182") << "and the new offsets behind it";
  EXPECT_TRUE(window->SelectedRows().empty());
  EXPECT_EQ(window->m_bModified, 0);
  EXPECT_TRUE(SaveEnabled());
  EXPECT_EQ(StatusLine().find(".vzr was updated.") != std::string::npos, true) << StatusLine();
  EXPECT_NE(log.find("doGoSaveChanges(): levels/init.con\n  newFSize: 26\n"), std::string::npos) << log;
  EXPECT_EQ(window->doCheckModified(), 0) << "the saved text is the entry now";
  // A second save writes the same entry again.
  Type("again\n");
  window->OnSaveChanges();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("again\r\n"));
  EXPECT_EQ(EntryBytes(path, 2), ToBytes("fold.in x\n")) << "other entries are untouched";
}

TEST_F(ToolsetWindowTest, SaveChangesBeforeAnySelectionDoesNothing) {
  const std::string path = OpenArchive(ThreeEntries());
  const Bytes before = testutil::ReadFileBytes(path);
  testutil::TraceCapture trace;
  window->OnSaveChanges();
  EXPECT_EQ(trace.Text().find("doGoSaveChanges"), std::string::npos);
  EXPECT_EQ(testutil::ReadFileBytes(path), before);
}

TEST_F(ToolsetWindowTest, EveryByteAndLineEndSurvivesOpenAndSaveUnchanged) {
  std::string all = "first\r\nsecond\nthird\rfourth\r\n";
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  ArchiveLayout layout;
  layout.AddRaw("all.con", all);
  layout.AddRaw("after.inc", "x");
  const std::string path = OpenArchive(layout);
  Click(0);
  EXPECT_EQ(window->doCheckModified(), 0) << "an unchanged text is never modified";
  EXPECT_EQ(window->GetEditorText(), all);
  window->OnSaveChanges();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes(all));
  EXPECT_EQ(EntryBytes(path, 1), ToBytes("x"));
}

TEST_F(ToolsetWindowTest, EditTypedBackIsNotAModification) {
  OpenArchive(ThreeEntries());
  Click(0);
  QTextCursor cursor = window->m_ctlText->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText("z");
  window->m_ctlText->setTextCursor(cursor);
  EXPECT_EQ(window->doCheckModified(), 1);
  cursor.deletePreviousChar();
  EXPECT_EQ(window->doCheckModified(), 0) << "the comparison is on content, not keystrokes";
  Click(2);
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(ToolsetWindowTest, ZeroByteEndsTheShownTextButNotTheEntry) {
  const std::string stored("text\r\n\0binary\x01\x02", 14);
  ArchiveLayout layout;
  layout.AddRaw("mixed.con", stored);
  const std::string path = OpenArchive(layout);
  Click(0);
  EXPECT_EQ(EditorText(), "text\n");
  EXPECT_EQ(window->doCheckModified(), 0);
  Type("new text\n");
  window->OnSaveChanges();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes(std::string("new text\r\n\0binary\x01\x02", 18)));
}

TEST_F(ToolsetWindowTest, Utf16EntryShowsRealCharactersAndSavesAsUtf16) {
  const std::string marked("\xFF\xFE" "A\0B\0\x16\x04\r\0\n\0", 12);
  ArchiveLayout layout;
  layout.AddRaw("wide.con", marked);
  layout.AddRaw("mark.con", "\xFF\xFE");
  const std::string path = OpenArchive(layout);
  Click(0);
  EXPECT_EQ(EditorText(), QString::fromUtf16(u"AB\u0416\n"));
  EXPECT_EQ(window->doCheckModified(), 0);
  window->OnSaveChanges();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes(marked)) << "saved unchanged: the same bytes, mark included";
  Click(0);
  Type(QString::fromUtf16(u"\u0416\u20ac\n"));
  window->OnSaveChanges();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes(std::string("\xFF\xFE\x16\x04\xAC\x20\r\0\n\0", 10)));
  Click(1);
  EXPECT_EQ(EditorText(), QString::fromUtf16(u"\u00ff\u00fe")) << "two bytes alone are not UTF-16";
}

TEST_F(ToolsetWindowTest, ACharacterTheScriptCannotHoldIsRefusedByName) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  Type(QString::fromUtf16(u"\u0416 stays?\n"));
  script.Message(kIdOk);
  window->OnSaveChanges();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("cue a\r\ncue b\r\n")) << "nothing is written, no '?' in its place";
  EXPECT_EQ(window->doCheckModified(), 1);
  const auto asked = script.Messages();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].buttons, Buttons::Ok);
  EXPECT_EQ(asked[0].icon, Icon::Exclamation);
  EXPECT_EQ(asked[0].text.rfind("The text holds \"\u0416\" (U+0416), which this Windows-1252 script cannot store.", 0),
            0u)
      << asked[0].text;
}

TEST_F(ToolsetWindowTest, TextBeyondTheBuffersIsSavedWhole) {
  ArchiveLayout layout;
  layout.AddRaw("big.con", "small\r\n");
  const std::string path = OpenArchive(layout);
  Click(0);
  const QString line = QString(70, 'x') + '\n';
  QString big;
  while (big.size() < 4'100'000) big += line;
  Type(big);
  window->OnSaveChanges();
  const Bytes stored = EntryBytes(path, 0);
  const std::size_t lines = static_cast<std::size_t>(big.size() / line.size());
  ASSERT_EQ(stored.size(), lines * 72) << "every line, each with CR LF";
  EXPECT_EQ(stored.back(), '\n');
  EXPECT_EQ(window->doCheckModified(), 0);
}

TEST_F(ToolsetWindowTest, FailedSaveKeepsTheTextModified) {
  const std::string path = OpenArchive(ThreeEntries());
  // Every write of the engine fails, so it cannot write its copy.
  struct FailingWrites {
    FailingWrites() { vzrfs::SetWriteFaultHook([](uint64_t) { return ENOSPC; }); }
    ~FailingWrites() { vzrfs::SetWriteFaultHook(nullptr); }
  } failing;
  Click(0);
  Type("precious\n");
  window->OnSaveChanges();
  EXPECT_NE(StatusLine().find("Could not"), std::string::npos) << StatusLine();
  EXPECT_EQ(window->m_bModified, 1);
  // Moving on asks; Yes fails again, so the edits stay in the editor.
  script.Message(kIdYes);
  Click(2);
  EXPECT_EQ(EditorText(), "precious\n");
  EXPECT_EQ(window->m_nCurrentFile, 1);
  // Exit asks too; Yes fails, so the window stays open.
  script.Message(kIdYes);
  window->OnCancel();
  EXPECT_FALSE(window->IsEnded());
  ASSERT_EQ(script.Messages().size(), 2u);
  ExpectExitQuestion(script.Messages()[1]);
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("cue a\r\ncue b\r\n"));
}

TEST_F(ToolsetWindowTest, ExitWithEditsAsksAndCancelKeepsTheWindow) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  Type("edited\n");
  script.Message(kIdCancel);
  window->OnCancel();
  EXPECT_FALSE(window->IsEnded());
  EXPECT_EQ(EditorText(), "edited\n");
  script.Message(kIdYes);
  window->OnCancel();
  EXPECT_TRUE(window->IsEnded());
  ASSERT_EQ(script.Messages().size(), 2u);
  ExpectExitQuestion(script.Messages()[0]);
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("edited\r\n")) << "Yes saves, then closes";
}

TEST_F(ToolsetWindowTest, ExitAnsweredNoClosesWithoutSaving) {
  const std::string path = OpenArchive(ThreeEntries());
  const Bytes before = testutil::ReadFileBytes(path);
  Click(0);
  Type("edited\n");
  script.Message(kIdNo);
  window->close();  // the close box
  EXPECT_TRUE(window->IsEnded());
  EXPECT_EQ(testutil::ReadFileBytes(path), before);
}

TEST_F(ToolsetWindowTest, ExitAsksEvenWithNoRowSelected) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  window->OnSaveChanges();  // no row is selected afterwards
  Type("edited after the save\n");
  script.Message(kIdYes);
  window->MenuAction(toolset::kIdAppExit)->trigger();
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_TRUE(window->IsEnded());
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("edited after the save\r\n"));
}

TEST_F(ToolsetWindowTest, ExitWithUnchangedTextAsksNothing) {
  OpenArchive(ThreeEntries());
  Click(0);
  window->OnCancel();
  EXPECT_TRUE(window->IsEnded());
  EXPECT_TRUE(script.Messages().empty());
}

TEST_F(ToolsetWindowTest, OpeningAnotherArchiveAsksFirstAndClearsTheEditor) {
  const std::string first = OpenArchive(ThreeEntries(), "first.vzr");
  Click(0);
  Type("keep me\n");
  ArchiveLayout other;
  other.AddRaw("other.con", "other");
  const std::string second = dir / "second.vzr";
  other.WriteTo(second);
  script.File(second).Message(kIdYes);
  window->OnFileOpen();
  ASSERT_EQ(script.Messages().size(), 1u);
  ExpectSaveQuestion(script.Messages()[0]);
  EXPECT_EQ(EntryBytes(first, 0), ToBytes("keep me\r\n"));
  EXPECT_EQ(Cell(0, 0), "other.con");
  EXPECT_EQ(StatusLine(), "Files: 1");
  EXPECT_EQ(EditorText(), "");
  EXPECT_FALSE(EditorEnabled());
  EXPECT_FALSE(SaveEnabled());
  EXPECT_EQ(window->m_nCurrentFile, 0);
  EXPECT_EQ(window->m_bModified, 0);
}

TEST_F(ToolsetWindowTest, OpenCancelledAsksNothingAndKeepsTheEdits) {
  OpenArchive(ThreeEntries());
  Click(0);
  Type("edits\n");
  script.CancelFile();
  window->OnFileOpen();
  EXPECT_TRUE(script.Messages().empty());
  EXPECT_EQ(EditorText(), "edits\n");
}

TEST_F(ToolsetWindowTest, EntryThatCannotBeReadShowsNothingAndSaysWhy) {
  const std::string path = OpenArchive(ThreeEntries());
  std::filesystem::remove(path);
  script.Message(vzrui::kIdOk);
  Click(0);
  EXPECT_EQ(EditorText(), "");
  EXPECT_EQ(CurrentFileLabel(), "NoFile");
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].text.rfind("The entry \"levels/init.con\" could not be read: the archive cannot be opened (", 0),
            0u)
      << script.Messages()[0].text;
}

TEST_F(ToolsetWindowTest, EntryThatCannotBeDecodedIsNamedWithTheReason) {
  ArchiveLayout layout;
  layout.storageMode = 1;
  Bytes stored = testutil::LiteralSegmentedForm(ToBytes("cue a\r\n"));
  stored[16] = 0xFF;  // the first segment's run header no longer fits its stream
  layout.entries.push_back({"levels/init.con", stored, 7});
  OpenArchive(layout);
  testutil::TraceCapture trace;
  script.Message(vzrui::kIdOk);
  Click(0);
  EXPECT_NE(trace.Text().find(" Looking at: levels/init.con"), std::string::npos) << "the trace line stays";
  EXPECT_EQ(EditorText(), "");
  EXPECT_EQ(CurrentFileLabel(), "NoFile");
  EXPECT_EQ(StatusLine(), "Ready.");
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].text, "The entry \"levels/init.con\" could not be read: damaged stream.")
      << "the entry's name and the reason vzr test gives";
  EXPECT_EQ(script.Messages()[0].icon, Icon::Exclamation);
}

TEST_F(ToolsetWindowTest, SaveRefusesAnArchiveChangedOnDiskSinceItWasOpened) {
  const std::string path = OpenArchive(ThreeEntries());
  Click(0);
  Type("mine\n");
  // Another program rewrites the archive while the text is being edited.
  {
    VzrArchive other;
    other.LoadIndex(path.c_str());
    std::memcpy(other.fileBuffer, "theirs", 6);
    ASSERT_EQ(other.AddReplaceFile(2, 6), 0);
  }
  const Bytes theirs = testutil::ReadFileBytes(path);
  script.Message(vzrui::kIdOk);
  window->OnSaveChanges();
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_NE(script.Messages()[0].text.find("changed on disk since it was opened"), std::string::npos)
      << script.Messages()[0].text;
  EXPECT_EQ(testutil::ReadFileBytes(path), theirs) << "their change is kept";
  EXPECT_EQ(window->m_bModified, 1) << "and the edits stay in the editor";
}

TEST_F(ToolsetWindowTest, Utf8ScriptShowsItsCharactersAndIsSavedBackAsUtf8) {
  ArchiveLayout layout;
  layout.AddRaw("bridge.con", "Br\u00fccke \u2026 Stra\u00dfe\r\n");
  const std::string path = OpenArchive(layout);
  Click(0);
  EXPECT_EQ(EditorText(), QString::fromUtf8("Br\u00fccke \u2026 Stra\u00dfe\n")) << "not read as Windows-1252";
  Type(QString::fromUtf8("\u0150sz \u2192 Br\u00fccke\n"));
  window->OnSaveChanges();
  EXPECT_EQ(EntryBytes(path, 0), ToBytes("\u0150sz \u2192 Br\u00fccke\r\n"));
  EXPECT_TRUE(script.Messages().empty());
}
