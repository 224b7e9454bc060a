// gui/host/gui_screenshot_test.cpp - screenshots of built windows, kept as
// test artefacts under <build>/artefacts/gui/ for a person to look at; never
// compared by pixel.
#include <gtest/gtest.h>

#include <QPixmap>

#include "gui/host/gui_qt_test_support.h"

namespace bw {
namespace {

void save(cGuiWindow* w, const char* name) {
  std::filesystem::path dir = std::filesystem::path(BRINDLEWORK_ARTEFACTS_DIR) / "gui";
  std::filesystem::create_directories(dir);
  QPixmap shot = static_cast<QWidget*>(w->infoNativeObject("OBJT").object)->grab();
  EXPECT_FALSE(shot.isNull());
  EXPECT_TRUE(shot.save(QString::fromStdString((dir / name).string())));
}

TEST_F(QtHostTest, ScreenshotsOfEveryKind) {
  cGuiWindowHostCore* w = window("Every kind");
  w->beginGroupVertical(nullptr);
  w->addLabel("Labels:")->initStyle(kGuiStyleBold);
  w->beginGroupHorizontal("Framed");
  w->addLabel("left")->initAlignLeft();
  w->addBar(nullptr);
  w->addLabel("highlight")->initStylePen5();
  w->addBreak();
  w->addButton("Button")->setHelp("A button");
  w->endGroup();
  w->beginGroupGrid(2, "Grid");
  w->addText("Text")->setState("A text <b>as typed</b>");
  w->addText("Right")->initAlignRight()->setState("right\nsecond line not shown");
  w->addButton("Disabled")->setDisabled(true);
  w->endGroup();
  w->addBar("Section");
  w->beginGroupPage(nullptr);
  w->addTextBox("Box")->setState("A text box\nof two lines");
  w->addLabel("second page");
  w->endGroup();
  w->beginGroupVertical("")->initScrollable();
  for (int i = 0; i < 6; ++i) w->addLabel("scrolled line");
  w->endGroup();
  w->endGroup();
  w->setSize(480, 520);
  w->build();
  settle();
  save(w, "every_kind.png");

  cGuiWindowHostCore* status = window("Brindlework");
  status->beginGroupVertical(nullptr);
  status->addText("Status")->setState("Opening database...");
  status->endGroup();
  status->setSize(400, 60);
  status->build();
  settle();
  save(status, "status_window.png");
}

}  // namespace
}  // namespace bw
