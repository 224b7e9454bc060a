// gui/host/gui_qt_natives.cpp - the key button and the image item on Qt,
// the picture reader, and the procedures on toolkit objects: window order,
// object IDs and saved gadget states.
#include <QAbstractButton>
#include <QApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTextEdit>
#include <functional>

#include "gui/host/core/gui_input_hosts.h"
#include "gui/host/core/gui_native_items.h"
#include "gui/host/gui_app_client.h"
#include "gui/host/gui_natives.h"
#include "gui/host/gui_qt_inputs.h"
#include "gui/host/gui_qt_widgets.h"
#include "platform/native_path.h"

namespace bw {

namespace {

const char* const kObjectId = "brindleworkObjectId";

class KeyButtonView : public GuiNativeItemView {
 public:
  explicit KeyButtonView(QPushButton* button) : button_(button) {}
  void showDisabled(bool flag) override { button_->setEnabled(!flag); }
  void attachNotify(std::function<void()> notify) override {
    QObject::connect(button_, &QPushButton::clicked, button_, [notify] { guiGuarded(notify); });
  }
  void* nativeObject() override { return button_; }

 private:
  QPushButton* button_;
};

class IconView : public GuiNativeItemView {
 public:
  explicit IconView(QLabel* label) : label_(label) {}
  void showBitMap(const cBitMap* bitmap) override {
    if (!bitmap) {
      label_->clear();
      return;
    }
    // The pixmap is a copy: the bitmap may be replaced or freed later.
    QImage view(reinterpret_cast<const uchar*>(bitmap->pixels.data()), bitmap->width, bitmap->height,
                 bitmap->width * 4, QImage::Format_ARGB32);
    label_->setPixmap(QPixmap::fromImage(view.copy()));
  }
  void* nativeObject() override { return label_; }

 private:
  QLabel* label_;
};

// An editor where Return starts a new line.
bool isLineBreaking(QWidget* widget) {
  if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) return !plain->isReadOnly();
  if (auto* rich = qobject_cast<QTextEdit*>(widget)) return !rich->isReadOnly();
  return false;
}

// The key answers in the whole window unless an editor that takes the key
// has the focus. Return in a one-line entry is first the entry's own (it
// reports the string), then the window's default button's.
void bindKey(QPushButton* button, uint8_t key) {
  QList<QKeySequence> keys;
  if (key == 13) {
    keys = {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
  } else {
    keys = {QKeySequence(QString(QChar(key)))};
  }
  auto takesKey = [key](QWidget* focus) {
    return key == 13 ? isLineBreaking(focus) : qobject_cast<QLineEdit*>(focus) || isLineBreaking(focus);
  };
  for (const QKeySequence& sequence : keys) {
    auto* shortcut = new QShortcut(sequence, button, nullptr, nullptr, Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, button, [button, key] {
      if (auto* entry = qobject_cast<QLineEdit*>(QApplication::focusWidget()); entry && key == 13) {
        Q_EMIT entry->returnPressed();
      }
      if (button->isEnabled()) button->animateClick();
    });
    shortcut->setEnabled(!takesKey(QApplication::focusWidget()));
    QObject::connect(qApp, &QApplication::focusChanged, shortcut,
                     [shortcut, takesKey](QWidget*, QWidget* now) { shortcut->setEnabled(!takesKey(now)); });
  }
}

QWidget* realiseKeyButton(cGuiKeyButton* key, const GuiTextCodec& codec) {
  GuiStyledText styled;
  auto* button = new QPushButton(guiQtLiteral(guiQtText(codec, key->infoLabel(), &styled)));
  if (!styled.runs.empty() && styled.runs.front().style.bold) {
    QFont font = button->font();
    font.setBold(true);
    button->setFont(font);
  }
  button->setEnabled(!key->infoDisabled());
  button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  guiFitButtonToText(button);
  bindKey(button, key->infoKey());
  guiRecord(*key).view = std::make_unique<KeyButtonView>(button);
  return button;
}

QWidget* realiseIcon(cGuiNativeIcon* icon) {
  auto* label = new QLabel();
  label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  label->setFixedSize(icon->infoWidth() + 2 * label->frameWidth(), icon->infoHeight() + 2 * label->frameWidth());
  label->setAlignment(Qt::AlignCenter);
  auto view = std::make_unique<IconView>(label);
  if (icon->infoBitMap()) view->showBitMap(icon->infoBitMap());
  guiRecord(*icon).view = std::move(view);
  return label;
}

QWidget* topWidget(cGuiWindow* window) {
  if (!window) return nullptr;
  GuiNativeObject top = window->infoNativeObject("OBJT");
  return top.unknown ? nullptr : static_cast<QWidget*>(top.object);
}

QWidget* objectOf(cGuiItem* item) {
  GuiGadgetView* view = item ? guiView(*item) : nullptr;
  return view ? static_cast<QWidget*>(view->nativeObject()) : nullptr;
}

// Every item of the window, groups included, depth first.
void eachItem(cGuiItem* item, const std::function<void(cGuiItem*)>& f) {
  for (; item; item = item->infoNext()) {
    f(item);
    if (auto* group = dynamic_cast<cGuiGroupItem*>(item)) eachItem(group->infoFirst(), f);
  }
}

// Every identified item of the application's built windows, with its key.
void eachIdentified(cGuiWindow* window, const std::function<void(cGuiItem*, const QString&)>& f) {
  auto* host = dynamic_cast<cGuiWindowHostCore*>(window);
  if (!host || !topWidget(window)) return;
  for (cAppResource* r = host->client()->infoFirstResource(); r; r = r->infoNextResource()) {
    auto* w = dynamic_cast<cGuiWindowHostCore*>(r);
    if (!w || !w->infoBuilt() || !w->infoRootGroup()) continue;
    eachItem(w->infoRootGroup(), [&f](cGuiItem* item) {
      QWidget* object = objectOf(item);
      QVariant id = object ? object->property(kObjectId) : QVariant();
      if (id.isValid()) f(item, QString::number(id.toUInt(), 16).rightJustified(8, '0'));
    });
  }
}

QString settingsFile(cGuiWindow* window) {
  auto* client = static_cast<cGuiAppClient*>(static_cast<cGuiWindowHostCore*>(window)->client());
  return QString::fromStdString(client->settingsPath());
}

}  // namespace

QWidget* guiRealiseNative(cGuiItem* item, const GuiTextCodec& codec) {
  if (auto* key = dynamic_cast<cGuiKeyButton*>(item)) return realiseKeyButton(key, codec);
  if (auto* icon = dynamic_cast<cGuiNativeIcon*>(item)) return realiseIcon(icon);
  return nullptr;
}

void guiWindowToFront(cGuiWindow* window) {
  if (QWidget* top = topWidget(window)) {
    top->raise();
    top->activateWindow();
  }
}

void guiWindowToBack(cGuiWindow* window) {
  if (QWidget* top = topWidget(window)) top->lower();
}

void guiItemSetNativeAttr(cGuiItem* item, uint32_t id) {
  if (QWidget* object = objectOf(item)) object->setProperty(kObjectId, QVariant::fromValue(id));
}

bool guiSaveScreenshot(cGuiWindow* window, Text nativePath) {
  QWidget* top = topWidget(window);
  if (!top) return false;
  return top->grab().save(QString::fromUtf8(nativePath.view().data(), qsizetype(nativePath.length())), "PNG");
}

void guiAppSaveStates(cGuiWindow* window) {
  if (!topWidget(window)) return;
  QSettings settings(settingsFile(window), QSettings::IniFormat);
  settings.beginGroup("States");
  eachIdentified(window, [&settings](cGuiItem* item, const QString& key) {
    Str state = guiStateText(*item);
    if (!state.isNil()) settings.setValue(key, QByteArray(state.view().data(), qsizetype(state.length())));
  });
}

void guiAppLoadSavedStates(cGuiWindow* window) {
  if (!topWidget(window)) return;
  QSettings settings(settingsFile(window), QSettings::IniFormat);
  settings.beginGroup("States");
  eachIdentified(window, [&settings](cGuiItem* item, const QString& key) {
    if (!settings.contains(key)) return;
    QByteArray state = settings.value(key).toByteArray();
    guiGuarded([&] { guiRestoreStateText(*item, Str(std::string_view(state.constData(), size_t(state.size())))); });
  });
}

std::optional<cBitMap> guiReadPicture(Text nativePath) {
  std::string host;
  if (nativePath.isNil() || !dos::nativeToHost(nativePath, host)) return std::nullopt;
  QImageReader reader(QString::fromStdString(host));
  QImage image = reader.read();
  if (image.isNull()) return std::nullopt;
  image = image.convertToFormat(QImage::Format_ARGB32);
  cBitMap bitmap(image.width(), image.height());
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
    std::copy(row, row + image.width(), bitmap.pixels.begin() + ptrdiff_t(y) * image.width());
  }
  return bitmap;
}

}  // namespace bw
