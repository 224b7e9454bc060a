// app/news_gui_windows.cpp - host windows for the news interface.
#include "app/news_gui_windows.h"

#include <vector>

#include "core/exception.h"
#include "gui/gui_gadgets.h"
#include "gui/host/core/gui_native_items.h"
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

class HostPage : public NewsGuiPageGroup {
 public:
  explicit HostPage(cGuiGroupPage* page) : page_(page) {}
  void setState(int32_t page) override { page_->setState(page); }

 private:
  cGuiGroupPage* page_;
};

class HostButton : public NewsGuiButton {
 public:
  explicit HostButton(cGuiButton* button) : button_(button) {}
  explicit HostButton(cGuiKeyButton* key) : key_(key) {}
  // A key button shows its label only.
  void initImage(Text path) override {
    if (button_) button_->initImage(path);
  }
  void setDisabled(bool disabled) override {
    if (button_) {
      button_->setDisabled(disabled);
    } else {
      key_->setDisabled(disabled);
    }
  }

 private:
  cGuiButton* button_ = nullptr;
  cGuiKeyButton* key_ = nullptr;
};

}  // namespace

NewsGuiWindow* otherNewsGuiWindow() { return &gOtherWindow; }
NewsGuiItem* otherNewsGuiItem() { return &gOtherItem; }

class NewsGuiWindows::HostWindow : public NewsGuiBuiltWindow {
 public:
  // owned: destroying this ends the host window.
  HostWindow(NewsGuiWindows& owner, cGuiWindow* window, bool owned) : owner_(owner), window_(window), owned_(owned) {
    owner_.windows_[window_] = this;
  }
  ~HostWindow() override {
    owner_.windows_.erase(window_);
    if (owned_) endGuiWindow(window_);
  }
  void setBusy(bool busy) override { window_->setBusy(busy); }
  bool infoCloseRequested(bool keep) override { return window_->infoCloseRequested(keep); }
  bool infoQuitRequested(bool keep) override { return window_->infoQuitRequested(keep); }
  int32_t infoWidth() const override { return window_->infoWidth(); }
  int32_t infoHeight() const override { return window_->infoHeight(); }
  void beginGroupVertical() override { window_->beginGroupVertical(nullptr); }
  NewsGuiText* addText(Text label) override {
    return text(window_->addText(label));
  }
  NewsGuiButton* addButton(Text label) override {
    cGuiButton* host = window_->addButton(label);
    return wrap(host, [host] { return std::make_unique<HostButton>(host); });
  }
  NewsGuiButton* addKeyButton(Text label, uint8_t key) override {
    cGuiKeyButton* host = bw::addKeyButton(window_, label, key);
    return wrap(host, [host] { return std::make_unique<HostButton>(host); });
  }
  void addBar() override { window_->addBar(nullptr); }
  void endGroup() override { window_->endGroup(); }
  void build() override { window_->build(false); }
  void close() override { window_->close(); }

  // The interface's item for a gadget of this window, made once.
  NewsGuiText* text(cGuiText* host) { return wrap(host, [host] { return std::make_unique<HostText>(host); }); }
  NewsGuiPageGroup* page(cGuiGroupPage* host) {
    return wrap(host, [host] { return std::make_unique<HostPage>(host); });
  }
  NewsGuiItem* item(cGuiItem* host) {
    return wrap(host, [] { return std::make_unique<NewsGuiItem>(); });
  }

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
  template <class Make>
  auto wrap(cGuiItem* host, Make make) -> decltype(make().get()) {
    for (const Item& i : items_)
      if (i.host == host) return static_cast<decltype(make().get())>(i.item.get());
    auto made = make();
    auto* raw = made.get();
    items_.push_back({host, std::move(made)});
    return raw;
  }

  NewsGuiWindows& owner_;
  cGuiWindow* window_;
  bool owned_;
  std::vector<Item> items_;
};

NewsGuiWindows::NewsGuiWindows() = default;
NewsGuiWindows::~NewsGuiWindows() = default;

std::unique_ptr<NewsGuiBuiltWindow> NewsGuiWindows::CreateGuiWindow(Text title) {
  return std::make_unique<HostWindow>(*this, cGuiHost::CreateGuiWindow(title), true);
}

NewsGuiWindow* NewsGuiWindows::adoptWindow(cGuiWindow* window) {
  auto found = windows_.find(window);
  if (found != windows_.end()) return found->second;
  adopted_.push_back(std::make_unique<HostWindow>(*this, window, false));
  return adopted_.back().get();
}

NewsGuiWindows::HostWindow* NewsGuiWindows::adopted(NewsGuiWindow* window) const {
  for (const auto& w : adopted_)
    if (w.get() == window) return w.get();
  raise("EMU", "NewsGuiWindows.adopt(); the window was not adopted");
}

NewsGuiText* NewsGuiWindows::adoptText(NewsGuiWindow* window, cGuiText* text) { return adopted(window)->text(text); }

NewsGuiPageGroup* NewsGuiWindows::adoptPage(NewsGuiWindow* window, cGuiGroupPage* page) {
  return adopted(window)->page(page);
}

NewsGuiItem* NewsGuiWindows::adoptItem(NewsGuiWindow* window, cGuiItem* item) { return adopted(window)->item(item); }

void NewsGuiWindows::forget(NewsGuiWindow* window) {
  std::erase_if(adopted_, [window](const std::unique_ptr<HostWindow>& w) { return w.get() == window; });
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
