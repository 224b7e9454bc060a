// app/news_gui_windows.cpp - host windows for the news interface.
#include "app/news_gui_windows.h"

#include <vector>

#include "gui/gui_gadgets.h"
#include "gui/host/gui_app_client.h"

namespace bw {
namespace {

class OtherWindow : public NewsGuiWindow {
 public:
  void setBusy(bool) override {}
  bool infoCloseRequested(bool) override { return false; }
  bool infoQuitRequested(bool) override { return false; }
  int32_t infoWidth() const override { return 0; }
  int32_t infoHeight() const override { return 0; }
};

OtherWindow gOtherWindow;
NewsGuiItem gOtherItem;

class HostText : public NewsGuiText {
 public:
  explicit HostText(cGuiText* text) : text_(text) {}
  void setState(Text text) override { text_->setState(text); }
  Str state() const override { return text_->getState(); }

 private:
  cGuiText* text_;
};

}  // namespace

NewsGuiWindow* otherNewsGuiWindow() { return &gOtherWindow; }
NewsGuiItem* otherNewsGuiItem() { return &gOtherItem; }

class NewsGuiWindows::HostWindow : public NewsGuiBuiltWindow {
 public:
  HostWindow(NewsGuiWindows& owner, cGuiWindow* window) : owner_(owner), window_(window) {
    owner_.windows_[window_] = this;
  }
  ~HostWindow() override {
    owner_.windows_.erase(window_);
    endGuiWindow(window_);
  }
  void setBusy(bool busy) override { window_->setBusy(busy); }
  bool infoCloseRequested(bool keep) override { return window_->infoCloseRequested(keep); }
  bool infoQuitRequested(bool keep) override { return window_->infoQuitRequested(keep); }
  int32_t infoWidth() const override { return window_->infoWidth(); }
  int32_t infoHeight() const override { return window_->infoHeight(); }
  void beginGroupVertical() override { window_->beginGroupVertical(nullptr); }
  NewsGuiText* addText(Text label) override {
    cGuiText* text = window_->addText(label);
    return keep(text, std::make_unique<HostText>(text));
  }
  NewsGuiItem* addButton(Text label) override {
    return keep(window_->addButton(label), std::make_unique<NewsGuiItem>());
  }
  void endGroup() override { window_->endGroup(); }
  void build() override { window_->build(false); }
  void close() override { window_->close(); }

  cGuiWindow* host() const { return window_; }
  NewsGuiItem* itemFor(const cGuiItem* host) const {
    for (const Item& i : items_)
      if (i.host == host) return i.item.get();
    return otherNewsGuiItem();
  }
  cGuiItem* hostFor(const NewsGuiItem* item) const {
    for (const Item& i : items_)
      if (i.item.get() == item) return i.host;
    return nullptr;
  }

 private:
  struct Item {
    cGuiItem* host;
    std::unique_ptr<NewsGuiItem> item;
  };
  template <class Wrapper>
  Wrapper* keep(cGuiItem* host, std::unique_ptr<Wrapper> item) {
    Wrapper* raw = item.get();
    items_.push_back({host, std::move(item)});
    return raw;
  }

  NewsGuiWindows& owner_;
  cGuiWindow* window_;
  std::vector<Item> items_;
};

std::unique_ptr<NewsGuiBuiltWindow> NewsGuiWindows::CreateGuiWindow(Text title) {
  return std::make_unique<HostWindow>(*this, cGuiHost::CreateGuiWindow(title));
}

ChangedGuiItem NewsGuiWindows::checkForChangedGuiItem() { return translate(cGuiHost::checkForChangedGuiItem(false)); }

ChangedGuiItem NewsGuiWindows::waitForChangedGuiItem() { return translate(cGuiHost::waitForChangedGuiItem()); }

ChangedGuiItem NewsGuiWindows::translate(const GuiChange& change) const {
  if (!change.window) return {};
  auto found = windows_.find(change.window);
  if (found == windows_.end()) return {nullptr, otherNewsGuiWindow()};
  return {change.item ? found->second->itemFor(change.item) : nullptr, found->second};
}

cGuiWindow* NewsGuiWindows::hostWindow(const NewsGuiWindow* window) const {
  for (const auto& [host, ours] : windows_)
    if (ours == window) return ours->host();
  return nullptr;
}

cGuiItem* NewsGuiWindows::hostItem(const NewsGuiWindow* window, const NewsGuiItem* item) const {
  for (const auto& [host, ours] : windows_)
    if (ours == window) return ours->hostFor(item);
  return nullptr;
}

}  // namespace bw
