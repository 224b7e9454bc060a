// gui/host/gui_window_host.cpp - the window host on Qt: a top-level widget
// whose close button and drops become window events, the busy filter and
// cursor, the cycle chain, and the placement kept per save ID.
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QSettings>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <optional>

#include "core/exception.h"
#include "gui/host/core/gui_placement.h"
#include "gui/host/gui_app_client.h"
#include "gui/host/gui_qt_widgets.h"

namespace bw {

namespace {

// The window's own widget: closing asks, dropping reports.
class TopWidget : public QWidget {
 public:
  explicit TopWidget(cGuiWindowHost* window) : window_(window) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    guiGuarded([this] { window_->client()->queueWindowEvent(window_); });
  }
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (window_->infoAppWindow() && event->mimeData()->hasUrls()) event->acceptProposedAction();
  }
  void dropEvent(QDropEvent* event) override {
    guiGuarded([this, event] {
      for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        window_->client()->queueDroppedPath(window_, guiDroppedPath(url.toLocalFile().toStdString()));
      }
    });
    event->acceptProposedAction();
  }

 private:
  cGuiWindowHost* window_;
};

// While busy: the window takes no mouse, key, wheel, drop or close input.
// Installed with the window's first busy time and kept: a feed update is
// busy a while for every feed.
class BusyFilter : public QObject {
 public:
  explicit BusyFilter(QWidget* top) : top_(top) {}
  bool busy = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!busy) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != top_) return false;
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::Wheel:
      case QEvent::Drop:
      case QEvent::Close: event->ignore(); return true;
      default: return false;
    }
  }

 private:
  QWidget* top_;
};

// The wait cursor of a busy window, set and unset when the toolkit next
// runs: a busy time that ends before that is never seen.
class BusyCursor : public GuiPendingShow {
 public:
  QWidget* top = nullptr;
  bool busy = false;
  // The widget goes: a new one starts with the normal cursor.
  void forget() {
    top = nullptr;
    shown_ = false;
  }

 protected:
  void applyShow() override {
    if (!top || busy == shown_) return;
    shown_ = busy;
    if (busy) {
      top->setCursor(Qt::WaitCursor);
    } else {
      top->unsetCursor();
    }
  }

 private:
  bool shown_ = false;
};

// The usable area of every screen, the primary one first.
std::vector<GuiRect> screenAreas() {
  std::vector<GuiRect> areas;
  auto add = [&](QScreen* screen) {
    QRect area = screen->availableGeometry();
    areas.push_back({area.x(), area.y(), area.width(), area.height()});
  };
  if (QScreen* primary = QGuiApplication::primaryScreen()) add(primary);
  for (QScreen* screen : QGuiApplication::screens())
    if (screen != QGuiApplication::primaryScreen()) add(screen);
  return areas;
}

// What the window manager's frame adds to a window's size, allowed for
// before the frame exists.
constexpr int kFrameWidth = 8, kFrameHeight = 36;

// A place for a window of that size, kept on a screen.
QPoint onScreen(QPoint place, QSize size) {
  GuiRect framed = guiClampToScreens({place.x(), place.y(), size.width() + kFrameWidth, size.height() + kFrameHeight},
                                     screenAreas());
  return {framed.x, framed.y};
}

// Whether a window of that size at place lies wholly on one screen.
bool whollyOnScreen(QPoint place, QSize size) {
  const GuiRect framed{place.x(), place.y(), size.width() + kFrameWidth, size.height() + kFrameHeight};
  return guiClampToScreens(framed, screenAreas()) == framed;
}

// The usable area of the screen a window opens on: its owner's, the one
// under its place, else the primary one.
QRect openingArea(QWidget* top, std::optional<QPoint> place) {
  QScreen* screen = nullptr;
  if (QWidget* owner = top->parentWidget()) screen = owner->screen();
  if (!screen && place) screen = QGuiApplication::screenAt(*place);
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

// The largest inside of a window whose frame fits area.
QSize insideOf(QRect area) {
  return {std::max(1, area.width() - kFrameWidth), std::max(1, area.height() - kFrameHeight)};
}

// The main window's first size: most of the primary screen, within a
// comfortable reading size.
QSize firstMainSize(QWidget* top) {
  QSize size(1280, 860);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    size = size.boundedTo(QSize(area.width() * 9 / 10, area.height() * 9 / 10));
  }
  return size.expandedTo(top->minimumSizeHint());
}

QString saveKey(uint32_t id) {
  char key[5] = {char(id >> 24), char(id >> 16), char(id >> 8), char(id), 0};
  return QString::fromLatin1(key, 4);
}

}  // namespace

struct cGuiWindowHost::Native {
  std::unique_ptr<TopWidget> top;
  // A dialog of the main window; centred on it when it first opens.
  bool dialog = false;
  bool centre = false;
  // Centred, and kept centred while its size settles after showing.
  bool keepCentred = false;
  std::unique_ptr<QObject> settling;
  std::unique_ptr<BusyFilter> busy;
  BusyCursor cursor;
};

namespace {

// Centres a dialog again whenever its size changes in the moments after
// it opened (a row that went on over a second line, texts set late).
class CentreWhileSettling : public QObject {
 public:
  CentreWhileSettling(QWidget* top, std::function<void()> centre) : centre_(std::move(centre)) {
    top->installEventFilter(this);
    QTimer::singleShot(1000, this, [this, top] { top->removeEventFilter(this); });
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize) guiGuarded(centre_);
    return false;
  }

 private:
  std::function<void()> centre_;
};

}  // namespace

cGuiWindowHost::cGuiWindowHost(Text title, cGuiAppClient* client)
    : cGuiWindowHostCore(title, client), native_(std::make_unique<Native>()), qtClient_(client) {}

cGuiWindowHost::~cGuiWindowHost() { tearDown(); }

void cGuiWindowHost::nativeBuild(const GuiLayoutNode& root) {
  auto top = std::make_unique<TopWidget>(this);
  top->setWindowTitle(guiQtText(qtClient_->infoCodec(), infoTitle()));
  top->setAcceptDrops(infoAppWindow());
  auto* layout = new QVBoxLayout(top.get());
  if (root.scroll == GuiScroll::Root) layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(guiRealise(root, qtClient_->infoCodec()));
  cGuiWindow* main = qtClient_->infoMainWindow();
  if (main && main != this && main->infoIsOpen()) {
    auto* owner = static_cast<QWidget*>(main->infoNativeObject("OBJT").object);
    top->setParent(owner, Qt::Dialog);
    native_->dialog = true;
  }
  if (main != this) {
    // Esc is a request to close, as the window's close button.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), top.get());
    QObject::connect(escape, &QShortcut::activated, top.get(),
                     [this] { guiGuarded([this] { client()->queueWindowEvent(this); }); });
  }
  native_->top = std::move(top);
  GuiPosition given = cGuiWindow::getPosition();
  int32_t width = cGuiWindow::infoWidth(), height = cGuiWindow::infoHeight();
  bool placed = positionGiven();
  if (infoSaveID() != 0) {
    QSettings settings(QString::fromStdString(qtClient_->settingsPath()), QSettings::IniFormat);
    settings.beginGroup(saveKey(infoSaveID()));
    if (!placed && native_->dialog && settings.contains("dx")) {
      // A dialog's place is kept beside its main window, wherever that is
      // now; only where it lies on a screen.
      auto* owner = static_cast<QWidget*>(main->infoNativeObject("OBJT").object);
      const QPoint at = owner->frameGeometry().topLeft() + QPoint(settings.value("dx").toInt(), settings.value("dy").toInt());
      const QSize size(std::max(width, settings.value("width", 0).toInt()), std::max(height, settings.value("height", 0).toInt()));
      if (whollyOnScreen(at, size)) {
        given = {at.x(), at.y()};
        placed = true;
      }
    } else if (!placed && !native_->dialog && settings.contains("x")) {
      given = {settings.value("x").toInt(), settings.value("y").toInt()};
      placed = true;
    }
    if (width < 0 && settings.contains("width")) {
      width = settings.value("width").toInt();
      height = settings.value("height").toInt();
    }
  }
  if (width >= 0 && height >= 0) {
    native_->top->resize(width, height);
  } else if (main == this) {
    native_->top->resize(firstMainSize(native_->top.get()));
  }
  fitToScreen(placed, given.x, given.y);
  if (placed) {
    native_->top->move(onScreen({given.x, given.y}, native_->top->size().expandedTo(native_->top->minimumSizeHint())));
  } else if (main == this) {
    // The first run: in the middle of the screen, where the toolkit knows
    // it to be (a window manager's own placement may never reach it).
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      const QSize size = native_->top->size().grownBy({kFrameWidth / 2, kFrameHeight - kFrameWidth / 2, kFrameWidth / 2, kFrameWidth / 2});
      native_->top->move(onScreen({area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2},
                                  native_->top->size()));
    }
  } else {
    native_->centre = native_->dialog;
  }
}

// The window's size within the usable area of the screen it opens on, its
// frame too; a window whose least size is larger still scrolls its
// contents.
void cGuiWindowHost::fitToScreen(bool placeKnown, int32_t x, int32_t y) {
  QWidget* top = native_->top.get();
  const QRect area = openingArea(top, placeKnown ? std::optional<QPoint>(QPoint(x, y)) : std::nullopt);
  if (area.isEmpty()) return;
  const QSize room = insideOf(area);
  if (!top->layout()) return;
  top->layout()->activate();
  if (top->minimumSizeHint().width() > room.width() || top->minimumSizeHint().height() > room.height()) scrollContents();
  const QSize size = top->size().boundedTo(room);
  if (size != top->size()) top->resize(size);
}

// The root group moves into a scroll area: the window may then be as small
// as the screen.
void cGuiWindowHost::scrollContents() {
  QWidget* top = native_->top.get();
  auto* layout = static_cast<QVBoxLayout*>(top->layout());
  if (layout->count() != 1 || qobject_cast<QScrollArea*>(layout->itemAt(0)->widget())) return;
  QWidget* root = layout->itemAt(0)->widget();
  layout->removeWidget(root);
  auto* scroll = new QScrollArea();
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(root);
  layout->addWidget(scroll);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->activate();
}

// A dialog's first place: its inside centred on its owner's inside; the
// dialog's frame, not yet made, is taken to be as the owner's (none while
// the toolkit knows of none). It is centred again while its size settles.
void cGuiWindowHost::placeOnShow() {
  if (!native_->centre) return;
  native_->centre = false;
  if (!native_->top->parentWidget()) return;
  centreOnOwner();
  native_->settling = std::make_unique<CentreWhileSettling>(native_->top.get(), [this] { centreOnOwner(); });
}

void cGuiWindowHost::centreOnOwner() {
  QWidget* owner = native_->top->parentWidget();
  if (!owner) return;
  if (native_->top->layout()) native_->top->layout()->activate();
  const QPoint inside = owner->mapToGlobal(QPoint(0, 0));
  const QMargins margins = owner->windowHandle() ? owner->windowHandle()->frameMargins() : QMargins();
  const QSize size = native_->top->size().expandedTo(native_->top->minimumSizeHint());
  const QSize framed = size.grownBy(margins);
  GuiRect place = guiCentreOn({inside.x() - margins.left(), inside.y() - margins.top(),
                               owner->width() + margins.left() + margins.right(),
                               owner->height() + margins.top() + margins.bottom()},
                              framed.width(), framed.height(), screenAreas());
  native_->top->move(place.x, place.y);
}

void cGuiWindowHost::nativeCycleChain(const std::vector<cGuiItem*>& chain, cGuiItem* firstFocus) {
  QWidget* previous = nullptr;
  for (cGuiItem* item : chain) {
    auto* widget = static_cast<QWidget*>(guiView(*item)->nativeObject());
    widget->setFocusPolicy(Qt::StrongFocus);
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
  if (firstFocus) static_cast<QWidget*>(guiView(*firstFocus)->nativeObject())->setFocus();
}

void cGuiWindowHost::nativeShow(bool open) {
  guiApplyPendingShows();  // the window's size follows its texts
  if (open) {
    if (!native_->top->isVisible()) fitToScreen(true, native_->top->x(), native_->top->y());
    placeOnShow();
    native_->top->show();
  } else {
    savePlacement();
    native_->top->hide();
  }
}

GuiPlacement cGuiWindowHost::nativePlacement() {
  guiApplyPendingShows();
  QRect frame = native_->top->frameGeometry();
  return {frame.x(), frame.y(), native_->top->width(), native_->top->height()};
}

void cGuiWindowHost::nativeMove(int32_t x, int32_t y) {
  native_->centre = false;
  native_->settling.reset();
  native_->top->move(x, y);
}

void cGuiWindowHost::nativeResize(int32_t width, int32_t height) {
  guiApplyPendingShows();
  native_->top->resize(width, height);
  // A size given before the window opens is one it opens with: within its
  // screen.
  if (!native_->top->isVisible()) fitToScreen(true, native_->top->x(), native_->top->y());
}

void cGuiWindowHost::nativeBusy(bool busy) {
  if (busy && !native_->busy) {
    native_->busy = std::make_unique<BusyFilter>(native_->top.get());
    qApp->installEventFilter(native_->busy.get());
  }
  if (native_->busy) native_->busy->busy = busy;
  native_->cursor.top = native_->top.get();
  native_->cursor.busy = busy;
  native_->cursor.showLater();
}

void cGuiWindowHost::nativeDestroy() {
  if (qtClient_->infoMainWindow() == this) {
    qtClient_->setMainWindow(nullptr);
    // The dialogs are their windows' own: none goes with the main window.
    std::vector<QWidget*> dialogs;
    for (QObject* child : native_->top->children())
      if (auto* dialog = dynamic_cast<TopWidget*>(child)) dialogs.push_back(dialog);
    for (QWidget* dialog : dialogs) dialog->setParent(nullptr, Qt::Window);
  }
  native_->settling.reset();
  native_->busy.reset();
  native_->cursor.forget();
  native_->top.reset();
}

GuiNativeObject cGuiWindowHost::nativeObject(Text kind) {
  guiApplyPendingShows();  // whoever holds the widgets reads them as shown
  std::string_view k = kind.view();
  if (k == "OBJT") return {native_->top.get(), false};
  if (k == "APPL") return {qtClient_->infoApplication(), false};
  if (k == "SCRN") return {native_->top->screen(), false};
  if (k == "WIND") return {native_->top->windowHandle(), false};
  if (k == "SIGS") return {nullptr, false};
  return {nullptr, true};
}

// The placement of a window with a save ID, kept for the next build.
// A dialog's place is kept as where it stood beside its main window; a
// window closed before the screen showed it keeps what it had.
void cGuiWindowHost::savePlacement() {
  if (infoSaveID() == 0 || !native_->top->isVisible()) return;
  QWindow* handle = native_->top->windowHandle();
  if (!handle || !handle->isExposed()) return;
  GuiPlacement p = nativePlacement();
  if (!whollyOnScreen({p.x, p.y}, {p.width, p.height})) return;
  QSettings settings(QString::fromStdString(qtClient_->settingsPath()), QSettings::IniFormat);
  settings.beginGroup(saveKey(infoSaveID()));
  QWidget* owner = native_->dialog ? native_->top->parentWidget() : nullptr;
  if (owner) {
    const QPoint from = owner->frameGeometry().topLeft();
    settings.setValue("dx", p.x - from.x());
    settings.setValue("dy", p.y - from.y());
    settings.remove("x");
    settings.remove("y");
  } else {
    settings.setValue("x", p.x);
    settings.setValue("y", p.y);
  }
  settings.setValue("width", p.width);
  settings.setValue("height", p.height);
}

}  // namespace bw
