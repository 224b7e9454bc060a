// gui/host/core/gui_group_hosts.cpp - the four group hosts: their fixed
// width and height, the layout tree of a group and its children, and the
// page group's table of pages.
#include <string>
#include <string_view>

#include "core/exception.h"
#include "gui/host/core/gui_host_items.h"

namespace bw {

namespace {

GuiGroupKind kindOf(const cGuiGroupItem& group) {
  if (group.isOfClass(cGuiGroupHorizontal::kClassName)) return GuiGroupKind::Horizontal;
  if (group.isOfClass(cGuiGroupVertical::kClassName)) return GuiGroupKind::Vertical;
  if (group.isOfClass(cGuiGroupGrid::kClassName)) return GuiGroupKind::Grid;
  if (group.isOfClass(cGuiGroupPage::kClassName)) return GuiGroupKind::Page;
  raise("BUG", "cGui; infoGroupHasFixedHeight(); unknown group type");
}

// A grid of fewer than one column lays out as one column.
int32_t columnsOf(const cGuiGroupItem& group) {
  if (!group.isOfClass(cGuiGroupGrid::kClassName)) return 0;
  int32_t columns = static_cast<const cGuiGroupGrid&>(group).infoColumns();
  return columns < 1 ? 1 : columns;
}

GuiLayoutNode spacer() { return guiLayoutLeaf(GuiLayoutKind::Spacer, nullptr); }

}  // namespace

bool guiGroupHasFixedWidth(const cGuiGroupItem& group) {
  GuiGroupKind kind = kindOf(group);
  int32_t run = kind == GuiGroupKind::Horizontal ? group.infoCount()
                : kind == GuiGroupKind::Grid     ? columnsOf(group)
                                                 : 1;
  bool any = false, current = true;
  int32_t inRun = 0;
  for (cGuiItem* child = group.infoFirst(); child; child = child->infoNext()) {
    current = current && guiRecord(*child).infoFixedWidth();
    if (++inRun == run || !child->infoNext()) {
      any = any || current;
      current = true;
      inRun = 0;
    }
  }
  return any;
}

bool guiGroupHasFixedHeight(const cGuiGroupItem& group) {
  GuiGroupKind kind = kindOf(group);
  size_t lanes = kind == GuiGroupKind::Vertical ? 1
                 : kind == GuiGroupKind::Grid   ? static_cast<size_t>(columnsOf(group))
                                                : static_cast<size_t>(group.infoCount());
  std::vector<bool> fixed(lanes, true);
  size_t i = 0;
  for (cGuiItem* child = group.infoFirst(); child; child = child->infoNext(), ++i) {
    if (!guiRecord(*child).infoFixedHeight()) fixed[i % lanes] = false;
  }
  for (bool lane : fixed) {
    if (lane) return true;
  }
  return false;
}

GuiLayoutNode guiBuildGroup(cGuiGroupItem& group, cGuiWindowHostCore* window, GuiSharedParams flags) {
  GuiGroupKind kind = kindOf(group);
  bool horizontal = kind == GuiGroupKind::Horizontal, vertical = kind == GuiGroupKind::Vertical;
  bool page = kind == GuiGroupKind::Page, grid = kind == GuiGroupKind::Grid;

  // What the children may fill, and whether they are all fixed this way.
  bool someFixedW = false, someFlexW = false, someFixedH = false, someFlexH = false;
  bool allFixed = true;
  for (cGuiItem* child = group.infoFirst(); child; child = child->infoNext()) {
    cGuiShared& record = guiRecord(*child);
    bool fixedW = record.infoFixedWidth(), fixedH = record.infoFixedHeight();
    if (horizontal) allFixed = allFixed && fixedW;
    if (vertical) allFixed = allFixed && fixedH;
    if (grid) continue;
    bool countW = fixedW && !((vertical || page) && child->isOfClass(cGuiGroupHorizontal::kClassName));
    bool countH = fixedH && !((horizontal || page) && child->isOfClass(cGuiGroupVertical::kClassName));
    (countW ? someFixedW : someFlexW) = true;
    (countH ? someFixedH : someFlexH) = true;
  }
  GuiSharedParams childFlags{(vertical || page) && !someFixedW && someFlexW,
                             (horizontal || page) && !someFixedH && someFlexH};

  GuiLayoutNode node;
  node.kind = GuiLayoutKind::Group;
  node.item = &group;
  node.group = kind;
  node.columns = grid ? columnsOf(group) : 0;

  // Children in build order; in vertical groups and grids, runs of
  // labelled gadgets share one two-column group so that their labels line up.
  cGuiItem* last = nullptr;
  GuiLayoutNode* run = nullptr;
  for (cGuiItem* child = group.infoFirst(); child; child = child->infoNext()) {
    cGuiShared::Built built = guiRecord(*child).build(last, window, childFlags);
    last = built.last;
    bool labelled = (vertical || grid) && built.fragment.size() == 2;
    if (labelled && !run) {
      GuiLayoutNode columns;
      columns.kind = GuiLayoutKind::Columns;
      columns.columns = 2;
      node.children.push_back(std::move(columns));
      run = &node.children.back();
    } else if (!labelled) {
      run = nullptr;
    }
    for (GuiLayoutNode& part : built.fragment) (run ? run->children : node.children).push_back(std::move(part));
  }
  guiRecord(group).lastBuilt = last;

  if (grid) {
    int32_t n = static_cast<int32_t>(node.children.size());
    int32_t pad = node.columns - (((n - 1) % node.columns) + 1);
    for (int32_t i = 0; i < pad; ++i) node.children.push_back(spacer());
  }
  if (group.infoParent()) {
    bool fill = horizontal && allFixed ? flags.fillWidthAllowed : vertical && allFixed ? flags.fillHeightAllowed : false;
    if (group.infoNoWeight()) fill = false;
    if ((horizontal || vertical) && group.infoScrollable()) fill = true;
    if (fill) node.children.push_back(spacer());
  }
  if (node.children.empty()) node.children.push_back(guiLayoutLeaf(GuiLayoutKind::EmptyRect, nullptr));

  node.sameSize = group.infoEqualSizedItems();
  node.noWeight = group.infoNoWeight();
  node.scroll = !group.infoScrollable() ? GuiScroll::None : group.infoParent() ? GuiScroll::Nested : GuiScroll::Root;
  node.framed = group.infoFramed() && node.scroll != GuiScroll::Nested;
  node.title = group.infoTitle();
  return node;
}

intptr_t guiGroupShared(cGuiGroupItem& group, GuiFixedCache& cache, int32_t methodId,
                        const GuiSharedParams* params) {
  switch (methodId) {
    case 0:
      if (!params) raise("BUG", std::string(group.className()) + ".shared(); params=NILL");
      guiRecord(group).fragment.push_back(guiBuildGroup(group, guiRecord(group).window, *params));
      return 0;
    case 1: return 0;
    case 2:
    case 3:
      if (!cache.known) {
        bool scrollable = group.infoScrollable();
        cache.width = !scrollable && guiGroupHasFixedWidth(group);
        cache.height = !scrollable && guiGroupHasFixedHeight(group);
        cache.known = true;
      }
      return methodId == 2 ? cache.width : cache.height;
    case 4: return 0;
    default: {
      std::string_view host = group.className();
      host.remove_suffix(4);  // "...Host" -> the neutral class
      raise("BUG", std::string(host) + ".shared(); unknown method id");
    }
  }
}

cGuiGroupHorizontalHost::cGuiGroupHorizontalHost(Text title) : cGuiGroupHorizontal(title) {
  setShared(std::make_unique<cGuiShared>(this));
}

cGuiGroupVerticalHost::cGuiGroupVerticalHost(Text title) : cGuiGroupVertical(title) {
  setShared(std::make_unique<cGuiShared>(this));
}

cGuiGroupGridHost::cGuiGroupGridHost(Text title, int32_t columns) : cGuiGroupGrid(title, columns) {
  setShared(std::make_unique<cGuiShared>(this));
}

cGuiGroupPageHost::cGuiGroupPageHost(Text title) : cGuiGroupPage(title) {
  setShared(std::make_unique<cGuiShared>(this));
}

intptr_t cGuiGroupPageHost::shared(int32_t methodId, const GuiSharedParams* params) {
  return guiGroupShared(*this, cache_, methodId, params);
}

void cGuiGroupPageHost::add(cGuiItem* item) {
  if (item && !item->isOfClass(cGuiGroupItem::kClassName)) {
    auto* wrap = new cGuiGroupHorizontalHost(nullptr);
    wrap->add(item);
    item = wrap;
  }
  cGuiGroupPage::add(item);
}

void cGuiGroupPageHost::finishGroup() {
  pages_.clear();
  for (cGuiItem* child = infoFirst(); child; child = child->infoNext()) pages_.push_back(child);
  finished_ = true;
}

cGuiGroupPage* cGuiGroupPageHost::setState(int32_t page) {
  cGuiGroupPage::setState(page);
  if (GuiGadgetView* view = guiView(*this)) view->showPage(page);
  return this;
}

cGuiItem* cGuiGroupPageHost::getStateItem() {
  if (!finished_) raise("EMU", "cGuiGroupPage.getStateItem(); the group is not finished");
  size_t state = static_cast<size_t>(getState());
  return state < pages_.size() ? pages_[state] : nullptr;
}

cGuiGroupPage* cGuiGroupPageHost::setStateItem(cGuiItem* item) {
  setState(infoPageNumOfPageItem(item));
  return this;
}

int32_t cGuiGroupPageHost::infoPageNumOfPageItem(cGuiItem* item) {
  if (!finished_) raise("EMU", "cGuiGroupPage.infoPageNumOfPageItem(); the group is not finished");
  cGuiItem* page = item;
  if (item && item->infoParent() != this) page = item->infoParent();
  if (!page || page->infoParent() != this) {
    raise("EMU", "cGuiGroupPage.infoPageNumOfPageItem(); the given item is not a page of the group");
  }
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i] == page) return static_cast<int32_t>(i);
  }
  raise("BUG", "cGuiGroupPage.infoPageNumOfPageItem(); failed to find matching page item");
}

cGuiItem* cGuiGroupPageHost::infoPageItemOfPageNum(int32_t page) {
  if (!finished_) raise("EMU", "cGuiGroupPage.infoPageItemOfPageNum(); the group is not finished");
  if (page < 0 || page >= static_cast<int32_t>(pages_.size())) {
    raise("EMU", "cGuiGroupPage.infoPageItemOfPageNum(); the page number is outside the valid range");
  }
  return pages_[static_cast<size_t>(page)];
}

}  // namespace bw
