// gui/host/core/gui_path_request_test.cpp - where a file chooser opens.
#include "gui/host/core/gui_path_request.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(GuiChooserFolder, TheGivenDrawerElseTheLastFolderElseHome) {
  struct {
    const char* drawer;
    const char* last;
    const char* home;
    const char* want;
  } cases[] = {
      {"/srv/feeds", "/tmp", "/home/ann", "/srv/feeds"},
      {"", "/tmp/opml", "/home/ann", "/tmp/opml"},
      {"", "", "/home/ann", "/home/ann"},  // never "/" while there is a home
      {"", "", "", "/"},
      {"", "", nullptr, "/"},
  };
  for (const auto& c : cases) {
    GuiPathRequest request{"Select File", c.drawer, "", *c.drawer == 0, false, false, false};
    EXPECT_EQ(guiChooserFolder(request, c.last, c.home), c.want) << c.drawer << " " << c.last;
  }
}

}  // namespace
}  // namespace bw
