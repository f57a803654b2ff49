// window_test.cpp - the window itself: caption, template layout, keys, help,
// the drawn button images, and a screenshot for the README.
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QThread>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <sstream>

#include "artwork.h"
#include "quickpack_fixture.h"

namespace quickpack_test {
namespace {

using quickpack::ImageState;

// A mod with a little of everything, as a user would have it.
void TypicalMod(const ModTree& mod) {
  for (const char* level : {"Alpine_Pass", "Base_Camp", "Crevasse"}) mod.Folder(std::string("hxGlacier/levels/") + level);
  mod.Folder("hxGlacier/game");
  for (const char* folder : {"Objects", "Menu", "Sounds", "Archives", "Art", "_old"}) mod.Folder(folder);
}

void PressKey(QWidget* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}

bool IsGreen(QRgb c) { return qGreen(c) > qRed(c) + 40 && qGreen(c) > qBlue(c) + 40; }
bool IsCream(QRgb c) { return qRed(c) > 220 && qGreen(c) > 210 && qBlue(c) > 170 && qRed(c) >= qBlue(c) + 15; }
bool IsDarkLettering(QRgb c) { return qGray(c) < 70; }
bool IsBrownLettering(QRgb c) { return qRed(c) < 190 && qRed(c) > qGreen(c) + 15 && qGreen(c) > qBlue(c); }

int CountPixels(const QImage& image, bool (*test)(QRgb)) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += test(image.pixel(x, y)) ? 1 : 0;
  return n;
}

TEST(QuickPackWindow, CaptionSizeAndFrame) {
  ModTree mod;
  Window w;
  EXPECT_EQ(w.dialog->windowTitle().toStdString(), "Vzr Mod Quick Pack 1.3");
  EXPECT_EQ(w.dialog->size(), w.dialog->DialogRect(0, 0, 361, 32).size());
  EXPECT_EQ(w.dialog->minimumSize(), w.dialog->maximumSize()) << "not resizable";
  const Qt::WindowFlags flags = w.dialog->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(w.dialog->windowIcon().isNull());
}

TEST(QuickPackWindow, ControlsSitAtTheirTemplatePositions) {
  ModTree mod;
  Window w;
  const quickpack::QuickPackDialog& d = *w.dialog;
  EXPECT_EQ(d.m_ctlPackLevel->geometry(), d.DialogRect(96, 4, 47, 18));
  EXPECT_EQ(d.m_ctlPackFolder->geometry(), d.DialogRect(273, 4, 48, 18));
  EXPECT_EQ(d.m_ctlAllLevels->geometry(), d.DialogRect(147, 4, 26, 12));
  EXPECT_EQ(d.m_ctlAllFolders->geometry(), d.DialogRect(325, 4, 26, 12));
  EXPECT_EQ(d.m_ctlStatus->geometry(), d.DialogRect(7, 22, 278, 8));
  EXPECT_EQ(d.m_ctlHelp->geometry(), d.DialogRect(343, 21, 11, 9));
  EXPECT_EQ(d.m_ctlSeparator->geometry(), d.DialogRect(178, 4, 6, 15));
  EXPECT_EQ(d.m_ctlLevelList->geometry().topLeft(), d.DialogRect(7, 4, 85, 56).topLeft());
  EXPECT_EQ(d.m_ctlLevelList->width(), d.DialogRect(7, 4, 85, 56).width());
  EXPECT_EQ(d.m_ctlFolderList->geometry().topLeft(), d.DialogRect(188, 4, 81, 64).topLeft());
  EXPECT_LE(d.m_ctlLevelList->geometry().bottom(), d.m_ctlStatus->geometry().top())
      << "the closed list does not cover the status line";
  EXPECT_EQ(d.m_ctlSeparator->text().toStdString(), "|\n|");
  EXPECT_EQ(d.m_ctlHelp->text().toStdString(), "?");
  EXPECT_TRUE(d.m_ctlLevelList->isEditable());
  EXPECT_TRUE(d.m_ctlFolderList->isEditable());
}

TEST(QuickPackWindow, FocusGoesThroughTheControlsInTemplateOrder) {
  ModTree mod;
  TypicalMod(mod);
  Window w;
  quickpack::QuickPackDialog& d = *w.dialog;
  const std::vector<QWidget*> order{d.m_ctlPackLevel,  d.m_ctlLevelList,  d.m_ctlFolderList, d.m_ctlPackFolder,
                                    d.m_ctlAllLevels,  d.m_ctlAllFolders, d.m_ctlHelp};
  // The control that is or holds w (a list's edit field belongs to its list).
  auto owner = [&](QWidget* w) -> QWidget* {
    for (QWidget* c : order)
      if (c == w || c->isAncestorOf(w)) return c;
    return nullptr;
  };
  std::vector<QWidget*> visited{order.front()};
  for (QWidget* w = order.front()->nextInFocusChain(); w != order.front(); w = w->nextInFocusChain()) {
    QWidget* o = owner(w);
    if (o && (w->focusPolicy() & Qt::TabFocus) && o != visited.back()) visited.push_back(o);
  }
  EXPECT_EQ(visited, order);
}

TEST(QuickPackWindow, HelpShowsSixLinesAndTheEmptyLineBeforeTheExample) {
  ModTree mod;
  Window w;
  w.script.Message(vzrui::kIdOk);
  w.dialog->m_ctlHelp->click();
  const auto messages = w.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Help");
  EXPECT_EQ(messages[0].buttons, vzrui::Buttons::Ok);
  EXPECT_EQ(messages[0].icon, vzrui::Icon::Question);
  const std::string expected =
      "- Place this utility in your mod's archives folder.\n"
      "- Unpacked folders should be at your mod's root.\n"
      "- Directories and levels will be automaticly detected and added to drop down lists. \n"
      "\n"
      "Example:\n"
      "   Extracted objects folder should be located \\mods\\YourMod\\Objects\\\n"
      "    This program should be executed from \\mods\\YourMod\\Archives\\\n";
  EXPECT_EQ(messages[0].text, expected);
  std::istringstream lines(messages[0].text);
  int count = 0, empty = 0;
  for (std::string line; std::getline(lines, line); ++count) empty += line.empty() ? 1 : 0;
  EXPECT_EQ(count, 7);
  EXPECT_EQ(empty, 1);
}

TEST(QuickPackWindow, EscapeEndsTheProgram) {
  ModTree mod;
  Window w;
  PressKey(w.dialog.get(), Qt::Key_Escape);
  EXPECT_FALSE(w.dialog->isVisible());
  EXPECT_TRUE(w.dialog->IsEnded());
}

TEST(QuickPackWindow, EnterInADropDownListEndsTheProgram) {
  ModTree mod;
  TypicalMod(mod);
  Window w;
  w.RecordPacks();
  w.dialog->activateWindow();
  w.dialog->m_ctlFolderList->setFocus();
  PressKey(w.dialog->m_ctlFolderList->lineEdit(), Qt::Key_Return);
  EXPECT_FALSE(w.dialog->isVisible());
  EXPECT_EQ(w.dialog->EndResult(), vzrui::kIdOk);
  EXPECT_TRUE(w.calls.empty());
  EXPECT_EQ(w.dialog->m_ctlFolderList->Count(), 4) << "Enter adds nothing to the list";
}

TEST(QuickPackWindow, EnterOnAFocusedButtonClicksIt) {
  ModTree mod;
  TypicalMod(mod);
  Window w;
  w.RecordPacks();
  w.dialog->m_ctlPackFolder->setFocus();
  PressKey(w.dialog->m_ctlPackFolder, Qt::Key_Return);
  EXPECT_TRUE(w.dialog->isVisible());
  EXPECT_FALSE(w.dialog->IsEnded());
  EXPECT_EQ(w.PackedNames(), std::vector<std::string>{"hxGlacier/game"});
}

TEST(QuickPackWindow, CloseBoxEndsTheProgram) {
  ModTree mod;
  Window w;
  w.dialog->close();
  EXPECT_FALSE(w.dialog->isVisible());
  EXPECT_EQ(w.dialog->EndResult(), vzrui::kIdCancel);
}

// The texts the status line showed each time it was painted.
class PaintedTexts : public QObject {
 public:
  explicit PaintedTexts(QLabel* label) : label_(label) { label->installEventFilter(this); }
  std::vector<std::string> texts;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && (texts.empty() || texts.back() != label_->text().toStdString()))
      texts.push_back(label_->text().toStdString());
    return false;
  }

 private:
  QLabel* label_;
};

void PostClick(QWidget* button) {
  const QPointF centre = QRectF(button->rect()).center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
    QCoreApplication::postEvent(button, new QMouseEvent(type, centre, button->mapToGlobal(centre), Qt::LeftButton,
                                                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                        Qt::NoModifier));
}

TEST(QuickPackWindow, LongPackRepaintsItsProgressAtMostTenTimesASecondAndDropsClicks) {
  ModTree mod;
  TypicalMod(mod);
  Window w;
  PaintedTexts painted(w.dialog->m_ctlStatus);
  QElapsedTimer clock;
  w.dialog->SetPacker([&](const char*, int) {
    clock.start();
    for (int step = 0; step < 60; ++step) {  // work of some 600 ms
      if (step == 5) PostClick(w.dialog->m_ctlHelp);
      // As extraction names each entry: a text, no repaint request.
      GetStatusSink()->SetText(("step " + std::to_string(step)).c_str());
      QThread::msleep(10);
    }
    return 0;
  });
  w.dialog->OnPackFolder();
  const qint64 worked = clock.elapsed();
  const std::size_t paintedDuringWork = painted.texts.size();
  QApplication::processEvents();
  EXPECT_GE(paintedDuringWork, 3u) << "progress shows while the work runs";
  EXPECT_LE(paintedDuringWork, static_cast<std::size_t>(worked / 100 + 1)) << "at most ten repaints a second";
  EXPECT_TRUE(w.Messages().empty()) << "the click on ? during the work was neither acted on nor replayed";

  w.script.Message(vzrui::kIdOk);
  PostClick(w.dialog->m_ctlHelp);
  QApplication::processEvents();
  EXPECT_EQ(w.Messages().size(), 1u) << "the same click, once the work is done, opens the help";
}

TEST(ButtonImages, SizesAndFaces) {
  for (ImageState state : {ImageState::kNormal, ImageState::kPressed}) {
    EXPECT_EQ(quickpack::PackLevelImage(state).size(), QSize(70, 30));
    EXPECT_EQ(quickpack::PackFolderImage(state).size(), QSize(70, 30));
    EXPECT_EQ(quickpack::AllImage(state).size(), QSize(37, 16));
  }
  for (const QImage& normal : {quickpack::PackLevelImage(ImageState::kNormal), quickpack::AllImage(ImageState::kNormal)}) {
    const int area = normal.width() * normal.height();
    EXPECT_GT(CountPixels(normal, IsGreen), area / 2) << "a green face";
    EXPECT_GT(CountPixels(normal, IsDarkLettering), 15) << "dark lettering";
    EXPECT_EQ(CountPixels(normal, IsCream), 0);
  }
  for (const QImage& pressed :
       {quickpack::PackFolderImage(ImageState::kPressed), quickpack::AllImage(ImageState::kPressed)}) {
    const int area = pressed.width() * pressed.height();
    EXPECT_GT(CountPixels(pressed, IsCream), area / 2) << "a pale cream face";
    EXPECT_GT(CountPixels(pressed, IsBrownLettering), 15) << "brown lettering";
    EXPECT_EQ(CountPixels(pressed, IsGreen), 0);
  }
  EXPECT_NE(quickpack::PackLevelImage(ImageState::kNormal), quickpack::PackFolderImage(ImageState::kNormal))
      << "each Pack button carries its own lettering";
}

TEST(ButtonImages, ButtonsShowTheirImagesUnscaledFromTheTopLeft) {
  ModTree mod;
  TypicalMod(mod);
  Window w;
  for (quickpack::BitmapButton* button : {w.dialog->m_ctlPackLevel, w.dialog->m_ctlAllFolders}) {
    for (bool down : {false, true}) {
      button->setDown(down);
      const QImage shown = button->grab().toImage();
      const QImage& image = down ? button->PressedImage() : button->NormalImage();
      const int width = std::min(shown.width(), image.width());
      const int height = std::min(shown.height(), image.height());
      int differing = 0;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) differing += shown.pixel(x, y) != image.pixel(x, y) ? 1 : 0;
      EXPECT_EQ(differing, 0) << button->text().toStdString() << (down ? " pressed" : " normal");
      button->setDown(false);
    }
  }
}

TEST(Screenshot, RendersTheWindowToPng) {
  ModTree mod;
  TypicalMod(mod);
  Window w;
  const QImage shot = w.dialog->grab().toImage();
  ASSERT_EQ(shot.size(), w.dialog->size());
  const std::string path = std::string(VZR_SCREENSHOT_DIR) + "/vzrpack.png";
  ASSERT_TRUE(shot.save(QString::fromStdString(path))) << path;
  EXPECT_GT(CountPixels(shot, IsGreen), 3000) << "the four green buttons are on it";

  // The six button images, four times enlarged, for a close look.
  QImage sheet(4 * (70 * 2 + 37 + 16), 4 * (30 * 2 + 12), QImage::Format_RGB32);
  sheet.fill(Qt::white);
  QPainter p(&sheet);
  p.scale(4, 4);
  int y = 2;
  for (ImageState state : {ImageState::kNormal, ImageState::kPressed}) {
    p.drawImage(2, y, quickpack::PackLevelImage(state));
    p.drawImage(2 + 70 + 4, y, quickpack::PackFolderImage(state));
    p.drawImage(2 + 140 + 8, y, quickpack::AllImage(state));
    y += 32;
  }
  p.end();
  EXPECT_TRUE(sheet.save(QString::fromStdString(std::string(VZR_SCREENSHOT_DIR) + "/vzrpack-buttons.png")));
}

}  // namespace
}  // namespace quickpack_test
