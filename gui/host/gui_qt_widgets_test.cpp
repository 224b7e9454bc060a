// gui/host/gui_qt_widgets_test.cpp - the widgets of groups on Qt, offscreen:
// a row of ticks, labels and buttons that goes on over a second line when
// its window is narrow, and a row of buttons alone that keeps one line.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QPushButton>

#include "gui/host/gui_qt_test_support.h"

namespace bw {
namespace {

class QtRowTest : public QtHostTest {
 protected:
  // The rows' buttons and ticks (with their labels) as the window shows them.
  std::vector<QRect> placesIn(QWidget* top) {
    std::vector<QRect> places;
    for (QAbstractButton* b : top->findChildren<QAbstractButton*>())
      if (b->isVisibleTo(top)) places.emplace_back(b->mapTo(top, QPoint(0, 0)), b->size());
    return places;
  }
  // A row that took another line lays its window out again, a level of
  // the widget tree at each pass of the toolkit.
  void settleLayouts() {
    for (int i = 0; i < 10; ++i) settle();
  }
  // The distinct tops of the places: one per line.
  static size_t lines(const std::vector<QRect>& places) {
    std::vector<int> tops;
    for (const QRect& r : places)
      if (std::none_of(tops.begin(), tops.end(), [&](int t) { return std::abs(t - r.top()) < r.height(); }))
        tops.push_back(r.top());
    return tops.size();
  }
};

TEST_F(QtRowTest, ARowOfTicksGoesOnOverASecondLineWhenNarrowAndNeverOverlaps) {
  cGuiWindowHostCore* w = window("Rows");
  w->beginGroupVertical(nullptr);
  w->beginGroupHorizontal(nullptr);
  w->addTick("Summary is the full Contents");
  w->addTick("Wrong about news updates");
  w->addLabel("");
  w->addButton("Show previous update");
  w->endGroup();
  w->beginGroupHorizontal(nullptr);
  for (const char* label : {"Deselect", "Update selected", "Update all", "Log out", "Info"}) w->addButton(label);
  w->endGroup();
  w->endGroup();
  w->setSize(1000, 200);
  w->build();
  w->open();
  settle();
  QWidget* top = topOf(w);
  EXPECT_EQ(lines(placesIn(top)), 2u);  // each row on one line
  const int narrowest = top->minimumSizeHint().width();
  for (int width : {narrowest, narrowest + 40, 600, 1000}) {
    SCOPED_TRACE(width);
    top->resize(width, top->minimumSizeHint().height());
    settleLayouts();
    const std::vector<QRect> places = placesIn(top);
    for (size_t i = 0; i < places.size(); ++i) {
      EXPECT_TRUE(top->rect().contains(places[i])) << i;
      for (size_t j = 0; j < i; ++j) EXPECT_FALSE(places[i].intersects(places[j])) << i << " over " << j;
    }
    EXPECT_LE(lines(places), 4u);  // each row takes two lines at most
  }
  // Narrower than both rows on one line: both took a second line (a row of
  // more than three buttons flows too).
  top->resize(narrowest, top->minimumSizeHint().height());
  settleLayouts();
  EXPECT_EQ(lines(placesIn(top)), 4u);
  client_->endGuiWindow(w);
}

}  // namespace
}  // namespace bw
