// The dialog layer on its own: geometry, data exchange, modal runs, message
// boxes, file and folder choosers, the scripted seam, the status binding.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QApplication>
#include <QTest>
#include <QTreeView>
#include <filesystem>

#include "testutil.h"

#include "choosers.h"
#include "dialog.h"
#include "messages.h"
#include "script.h"
#include "statusbinding.h"

using namespace vzrui;

namespace {

// A dialog with one edit box and one label bound to two fields.
class SampleDialog : public ModalDialog {
 public:
  SampleDialog() {
    edit = new QLineEdit;
    label = new QLabel;
    PlaceControl(1020, edit, 10, 20, 100, 14);
    PlaceControl(1012, label, 10, 40, 100, 8);
    SetTemplateSize(200, 60);
    setWindowTitle("Sample");
  }
  std::string m_strName = "start";
  std::string m_strStatus;
  QLineEdit* edit;
  QLabel* label;
  int cancels = 0;
  int initCount = 0;

  void OnCancel() override {
    ++cancels;
    ModalDialog::OnCancel();
  }

 protected:
  void OnInitDialog() override {
    ++initCount;
    ModalDialog::OnInitDialog();
  }
  void DoDataExchange(DataExchange& dx) override {
    dx.Text(edit, m_strName);
    dx.Text(label, m_strStatus);
  }
};

}  // namespace

TEST(DialogUnits, ConvertWithQuarterWidthAndEighthHeight) {
  const DialogUnits units(6, 13);
  EXPECT_EQ(units.X(4), 6);
  EXPECT_EQ(units.Y(8), 13);
  EXPECT_EQ(units.X(378), 567);
  EXPECT_EQ(units.Y(310), 503) << "310 * 13 / 8 rounds down";
  EXPECT_EQ(units.Rect(15, 180, 62, 13), QRect(22, 292, 93, 21));
}

TEST(DialogUnits, MeasureTheFontLikeThePlatform) {
  QFont font = QApplication::font();
  const DialogUnits units(font);
  const QFontMetrics metrics(font);
  const int total = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(units.averageCharWidth(), (total / 26 + 1) / 2);
  EXPECT_EQ(units.charHeight(), metrics.height());
  EXPECT_GT(units.averageCharWidth(), 2);
}

TEST(ModalDialog, PlacesControlsByTemplateAndFindsThemById) {
  SampleDialog dialog;
  const DialogUnits& u = dialog.Units();
  EXPECT_EQ(dialog.GetDlgItem(1020), dialog.edit);
  EXPECT_EQ(dialog.GetDlgItem(999), nullptr);
  EXPECT_EQ(dialog.edit->geometry(), u.Rect(10, 20, 100, 14));
  EXPECT_EQ(dialog.size(), u.Size(200, 60));
  dialog.EnableDlgItem(1020, false);
  EXPECT_FALSE(dialog.edit->isEnabled());
  dialog.EnableDlgItem(999, false);  // an unknown id is ignored
}

TEST(DataExchange, PushesFieldsAndPullsThemBack) {
  SampleDialog dialog;
  dialog.Initialize();
  EXPECT_EQ(dialog.edit->text(), "start") << "set-up pushes";
  dialog.edit->setText("typed");
  dialog.m_strStatus = "Ready...";
  dialog.UpdateData(false);
  EXPECT_EQ(dialog.edit->text(), "start") << "a push overwrites what was typed";
  EXPECT_EQ(dialog.label->text(), "Ready...");
  dialog.edit->setText("typed");
  dialog.UpdateData(true);
  EXPECT_EQ(dialog.m_strName, "typed");
}

TEST(DataExchange, PullKeepsBytesTheToolkitCannotCarry) {
  SampleDialog dialog;
  dialog.m_strName = std::string("caf\xE9", 4);  // not valid in the system encoding
  dialog.Initialize();
  dialog.UpdateData(true);
  EXPECT_EQ(dialog.m_strName, std::string("caf\xE9", 4));
}

TEST(DataExchange, CustomBindingRunsTheRightDirection) {
  int pushes = 0, pulls = 0;
  DataExchange push(false), pull(true);
  push.Custom([&] { ++pushes; }, [&] { ++pulls; });
  pull.Custom([&] { ++pushes; }, [&] { ++pulls; });
  EXPECT_EQ(pushes, 1);
  EXPECT_EQ(pulls, 1);
}

TEST(ModalDialog, ScriptedRunEndsWithOkAndPullsTheFields) {
  ScriptedAnswers script;
  script.Dialog([](ModalDialog& d) {
    auto& dialog = static_cast<SampleDialog&>(d);
    dialog.edit->setText("from the user");
    dialog.OnOK();
  });
  SampleDialog dialog;
  EXPECT_EQ(dialog.DoModal(), kIdOk);
  EXPECT_EQ(dialog.m_strName, "from the user");
  EXPECT_EQ(dialog.initCount, 1);
  ASSERT_EQ(script.Dialogs().size(), 1u);
  EXPECT_EQ(script.Dialogs()[0].title, "Sample");
  EXPECT_TRUE(script.Problems().empty());
}

TEST(ModalDialog, ScriptedRunLeftOpenIsCancelledWithoutPulling) {
  ScriptedAnswers script;
  script.Dialog([](ModalDialog& d) { static_cast<SampleDialog&>(d).edit->setText("typed"); });
  SampleDialog dialog;
  EXPECT_EQ(dialog.DoModal(), kIdCancel);
  EXPECT_EQ(dialog.cancels, 1);
  EXPECT_EQ(dialog.m_strName, "start");
}

TEST(ModalDialog, EnterIsOkAndEscapeIsCancelWithoutDefaultButton) {
  SampleDialog dialog;
  dialog.Initialize();
  dialog.edit->setText("entered");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &enter);
  EXPECT_TRUE(dialog.IsEnded());
  EXPECT_EQ(dialog.EndResult(), kIdOk);
  EXPECT_EQ(dialog.m_strName, "entered");

  SampleDialog second;
  second.Initialize();
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&second, &escape);
  EXPECT_EQ(second.cancels, 1);
  EXPECT_EQ(second.EndResult(), kIdCancel);
}

TEST(ModalDialog, EnterGoesToTheDefaultButton) {
  SampleDialog dialog;
  auto* pack = new QPushButton("Pack");
  int clicks = 0;
  QObject::connect(pack, &QPushButton::clicked, [&] { ++clicks; });
  dialog.show();
  pack->setParent(&dialog);
  pack->setDefault(true);
  pack->show();
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(&dialog, &enter);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(dialog.IsEnded());
}

TEST(MessageBoxes, ScriptAnswersAndRecordsWhatWasAsked) {
  SetApplicationName("VZR_Toolset");
  ScriptedAnswers script;
  script.Message(kIdNo).Message(kIdCancel).Message(kIdOk);
  EXPECT_EQ(MessageBox(nullptr, "Save?", "Question", Buttons::YesNo, Icon::Question), kIdNo);
  EXPECT_EQ(MessageBox(nullptr, "Exit?", "Save changes?", Buttons::YesNoCancel, Icon::Question), kIdCancel);
  EXPECT_EQ(MessageBox(nullptr, "Oops"), kIdOk);
  const auto asked = script.Messages();
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].text, "Save?");
  EXPECT_EQ(asked[0].caption, "Question");
  EXPECT_EQ(asked[0].buttons, Buttons::YesNo);
  EXPECT_EQ(asked[0].icon, Icon::Question);
  EXPECT_EQ(asked[2].caption, "VZR_Toolset") << "no caption shows the application's name";
  EXPECT_EQ(asked[2].buttons, Buttons::Ok);
  EXPECT_EQ(asked[2].icon, Icon::None);
  EXPECT_TRUE(script.Problems().empty());
  SetApplicationName("");
}

TEST(MessageBoxes, UnfitOrMissingAnswersAreReportedAndHarmless) {
  ScriptedAnswers script;
  script.Message(kIdYes);
  EXPECT_EQ(MessageBox(nullptr, "Only OK", "c"), kIdOk) << "Yes does not fit an OK box";
  EXPECT_EQ(MessageBox(nullptr, "Nothing left", "c", Buttons::YesNoCancel), kIdCancel);
  EXPECT_EQ(MessageBox(nullptr, "Nothing left", "c", Buttons::YesNo), kIdNo);
  EXPECT_EQ(script.Problems().size(), 3u);
}

TEST(MessageBoxes, AnswerOfAnotherKindIsAProblem) {
  ScriptedAnswers script;
  script.Folder("/tmp");
  EXPECT_EQ(MessageBox(nullptr, "text", "c", Buttons::YesNo), kIdNo);
  ASSERT_EQ(script.Problems().size(), 2u) << "the mismatch, and the folder answer left over";
  EXPECT_EQ(script.Remaining(), 1u);
}

// Escape is pressed on the real box: a Yes/No question stays until answered,
// the others end as Cancel or OK.
TEST(MessageBoxes, EscapeLeavesAYesNoQuestionOpen) {
  ScriptedAnswers script;
  script.PressEscape().PressEscape().Message(kIdYes);
  EXPECT_EQ(MessageBox(nullptr, "Save?", "Question", Buttons::YesNo, Icon::Question), kIdYes);
  script.PressEscape();
  EXPECT_EQ(MessageBox(nullptr, "Exit?", "Question", Buttons::YesNoCancel, Icon::Question), kIdCancel);
  script.PressEscape();
  EXPECT_EQ(MessageBox(nullptr, "Done"), kIdOk);
  EXPECT_EQ(script.Messages().size(), 3u) << "each box was asked once";
  EXPECT_TRUE(script.Problems().empty());
}

TEST(FileFilters, PlatformPairsBecomeToolkitFilters) {
  EXPECT_EQ(ConvertFilter("VZR File (*.vzr)| *.vzr"), QStringList{"VZR File (*.vzr)"});
  EXPECT_EQ(ConvertFilter("VZR File Archive (*.vzr)| *.vzr||"), QStringList{"VZR File Archive (*.vzr)"});
  EXPECT_EQ(ConvertFilter("Scripts|*.con;*.ssc|All files (*.*)|*.*|"),
            (QStringList{"Scripts (*.con *.ssc)", "All files (*.*)"}));
  EXPECT_EQ(ConvertFilter("Claims txt (*.txt)|*.vzr"), QStringList{"Claims txt (*.vzr)"})
      << "the patterns that really apply are the ones shown";
  EXPECT_TRUE(ConvertFilter("").isEmpty());
  EXPECT_TRUE(ConvertFilter("no patterns").isEmpty());
}

TEST(FileDialogs, DefaultExtensionOnlyWhenTheNameHasNone) {
  EXPECT_EQ(ApplyDefaultExtension("/a/b/new", ".vzr"), "/a/b/new.vzr");
  EXPECT_EQ(ApplyDefaultExtension("/a/b/new", "vzr"), "/a/b/new.vzr");
  EXPECT_EQ(ApplyDefaultExtension("/a/b/new.dat", ".vzr"), "/a/b/new.dat");
  EXPECT_EQ(ApplyDefaultExtension("/a/b.dir/new", ".vzr"), "/a/b.dir/new.vzr") << "a dot in a folder does not count";
  EXPECT_EQ(ApplyDefaultExtension("/a/b/new", ""), "/a/b/new");
}

TEST(FileDialogs, ScriptedAnswersGetTheDefaultExtensionAndCancelIsNothing) {
  ScriptedAnswers script;
  script.File("/x/archive").CancelFile();
  FileDialogRequest save;
  save.open = false;
  save.defaultExtension = ".vzr";
  save.filter = "VZR File Archive (*.vzr)| *.vzr";
  QWidget owner;
  owner.setWindowTitle("winVZR 2.05");
  EXPECT_EQ(RunFileDialog(&owner, save), std::optional<std::string>("/x/archive.vzr"));
  EXPECT_EQ(RunFileDialog(nullptr, save), std::nullopt);
  const auto asked = script.Files();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_FALSE(asked[0].request.open);
  EXPECT_EQ(asked[0].request.filter, "VZR File Archive (*.vzr)| *.vzr");
  EXPECT_EQ(asked[0].ownerTitle, "winVZR 2.05");
  EXPECT_EQ(asked[1].ownerTitle, "");
}

TEST(FolderBrowser, ScriptRecordsTitleStyleAndOwner) {
  ScriptedAnswers script;
  script.Folder("/mods/X").CancelFolder();
  QWidget owner;
  EXPECT_EQ(BrowseForFolder("Choose a mod folder to decompress:", FolderStyle::Classic, &owner),
            std::optional<std::string>("/mods/X"));
  EXPECT_EQ(BrowseForFolder("", FolderStyle::EditBox, nullptr), std::nullopt);
  const auto asked = script.Folders();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].title, "Choose a mod folder to decompress:");
  EXPECT_EQ(asked[0].style, FolderStyle::Classic);
  EXPECT_EQ(asked[0].owner, &owner);
  EXPECT_EQ(asked[1].style, FolderStyle::EditBox);
  EXPECT_EQ(asked[1].owner, nullptr);
}

// A start folder below many others, as a real home or mod folder is.
class FolderTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 80; ++i) std::filesystem::create_directories(dir / std::string("a").append(std::to_string(100 + i)));
    std::filesystem::create_directories(start);
    std::filesystem::create_directories(other);
    testutil::WriteFileText(dir / "notes.txt", "not a folder");
  }
  bool StartInView(FolderTreeDialog& dialog) const {
    QTreeView* tree = dialog.Tree();
    return tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex()));
  }
  testutil::TempDir dir;
  std::string start = dir / "zz_start";
  std::string other = dir / "a150";
};

TEST_F(FolderTreeTest, StartFolderIsSelectedAndScrolledIntoView) {
  FolderTreeDialog dialog("Choose directory to pack", nullptr, start);
  dialog.show();
  // Once the 80 folders before it are read and sorted, it is still in view.
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Tree()->currentIndex().row() == 80; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return StartInView(dialog); }, 2000));
  EXPECT_EQ(dialog.PathField()->text().toStdString(), start) << "the field shows the selected folder";
  EXPECT_EQ(dialog.windowTitle(), "Browse for Folder");
}

TEST_F(FolderTreeTest, TypedPathAndEnterChooseThatFolder) {
  FolderTreeDialog dialog("", nullptr, start);
  dialog.show();
  dialog.PathField()->setText(QString::fromStdString(other));
  QTest::keyClick(dialog.PathField(), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Chosen(), std::optional<std::string>(other));
}

TEST_F(FolderTreeTest, PathThatIsNoFolderSaysSoAndStaysOpen) {
  ScriptedAnswers script;
  script.Message(kIdOk);
  FolderTreeDialog dialog("", nullptr, start);
  dialog.show();
  dialog.PathField()->setText(QString::fromStdString(dir / "notes.txt"));
  QTest::keyClick(dialog.PathField(), Qt::Key_Return);
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].text, "The path is not a folder:\n" + std::string(dir / "notes.txt"));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.Chosen(), std::nullopt);
}

TEST(StatusBinding, SinkSetsTheFieldAndPushesIt) {
  SampleDialog dialog;
  {
    ProcessStatusSink status(dialog);
    EXPECT_EQ(GetStatusSink(), &status.sink());
    dialog.Initialize();
    ASSERT_TRUE(BindStatusText(dialog.m_strStatus));
    GetStatusSink()->SetText("Files: 3");
    EXPECT_EQ(dialog.m_strStatus, "Files: 3");
    EXPECT_EQ(dialog.label->text(), "Files: 3");
    GetStatusSink()->Repaint();  // hidden window: nothing to paint, nothing breaks
    UnbindStatusText(dialog.m_strStatus);
    EXPECT_EQ(GetStatusSink()->text, nullptr);
  }
  EXPECT_EQ(GetStatusSink()->window, nullptr) << "the sink is uninstalled when it goes";
  std::string field;
  EXPECT_FALSE(BindStatusText(field)) << "the engine's fallback sink must never hold a window's field";
  EXPECT_EQ(GetStatusSink()->text, nullptr);
}
