// gui/host/gui_qt_inputs.cpp - the input gadgets on Qt: check box, line
// edits, slider, combo box, radio buttons, plain-text editor and path
// button, each with a view that shows values without reporting them.
#include "gui/host/gui_qt_inputs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "gui/host/core/gui_input_hosts.h"
#include "gui/host/core/gui_list_host.h"
#include "gui/host/gui_qt_widgets.h"

namespace bw {

namespace {

GuiPathChooser gChooser;

// The window hears of a focus leaving one of the string gadgets.
void reportFocusOut(cGuiItem* item, void* object) {
  guiGuarded([item, object] {
    if (cGuiWindowHostCore* window = guiRecord(*item).window) window->focusLeft(object);
  });
}

// A text entry that tells the window when the focus leaves it.
template <class Entry>
class FocusReporting : public Entry {
 public:
  explicit FocusReporting(cGuiItem* item) : item_(item) {}

 protected:
  void focusOutEvent(QFocusEvent* event) override {
    Entry::focusOutEvent(event);
    reportFocusOut(item_, this);
  }

 private:
  cGuiItem* item_;
};
using LineEdit = FocusReporting<QLineEdit>;
using TextEdit = FocusReporting<GuiTextBoxWidget>;

// Common to every input view: help, disabled state, the object.
class InputView : public GuiInputView {
 public:
  explicit InputView(QWidget* object) : object_(object) {}
  void showHelp(Text help) override { object_->setToolTip(QString::fromUtf8(help.view().data(), help.length())); }
  void showDisabled(bool flag) override { object_->setEnabled(!flag); }
  void* nativeObject() override { return object_; }

 protected:
  QWidget* object_;
};

class TickView : public InputView {
 public:
  explicit TickView(QCheckBox* box) : InputView(box), box_(box) {}
  int32_t shownValue() override { return box_->isChecked() ? 1 : 0; }
  void showValue(int32_t value) override {
    QSignalBlocker block(box_);
    box_->setChecked(value != 0);
  }
  void attachNotify(std::function<void()> notify) override {
    QObject::connect(box_, &QCheckBox::toggled, box_, [notify] { guiGuarded(notify); });
  }

 private:
  QCheckBox* box_;
};

// Keeps the text it last showed until the user edits, so that the
// set-if-changed comparison converts nothing.
class LineView : public InputView {
 public:
  LineView(QLineEdit* edit, const GuiTextCodec& codec) : InputView(edit), edit_(edit), codec_(codec) {
    QObject::connect(edit_, &QLineEdit::textChanged, edit_, [this] { known_ = false; });
  }
  void showText(Text shown) override {
    edit_->setText(QString::fromStdString(codec_.toUtf8(shown)));
    shown_ = Str(shown.view());
    known_ = true;
  }
  Str shownText() override {
    if (!known_) {
      shown_ = codec_.fromUtf8(edit_->text().toStdString());
      known_ = true;
    }
    return shown_;
  }
  void attachNotify(std::function<void()> notify) override {
    QObject::connect(edit_, &QLineEdit::returnPressed, edit_, [notify] { guiGuarded(notify); });
  }

 private:
  QLineEdit* edit_;
  const GuiTextCodec& codec_;
  Str shown_;
  bool known_ = false;
};

// A path reports every edit as well as Return: a dialog's "OK" follows
// the name as it is typed, so Return finds it in its state.
class PathView : public LineView {
 public:
  PathView(QLineEdit* edit, QToolButton* button, const GuiTextCodec& codec)
      : LineView(edit, codec), edit_(edit), button_(button) {}
  void showDisabled(bool flag) override {
    LineView::showDisabled(flag);
    button_->setEnabled(!flag);
  }
  void attachNotify(std::function<void()> notify) override {
    LineView::attachNotify(notify);
    QObject::connect(edit_, &QLineEdit::textEdited, edit_, [notify] { guiGuarded(notify); });
  }

 private:
  QLineEdit* edit_;
  QToolButton* button_;
};

class BoxView : public InputView {
 public:
  BoxView(QPlainTextEdit* box, const GuiTextCodec& codec) : InputView(box), box_(box), codec_(codec) {}
  void showText(Text shown) override {
    QSignalBlocker block(box_);
    box_->setPlainText(QString::fromStdString(codec_.toUtf8(shown)));
  }
  Str shownText() override { return codec_.fromUtf8(box_->toPlainText().toStdString()); }
  void attachNotify(std::function<void()> notify) override {
    QObject::connect(box_, &QPlainTextEdit::textChanged, box_, [notify] { guiGuarded(notify); });
  }

 private:
  QPlainTextEdit* box_;
  const GuiTextCodec& codec_;
};

class SliderView : public InputView {
 public:
  SliderView(QSlider* slider, QLabel* shown) : InputView(slider), slider_(slider), shown_(shown) {
    QObject::connect(slider_, &QSlider::valueChanged, shown_, [this](int v) { shown_->setNum(v); });
  }
  int32_t shownValue() override { return slider_->value(); }
  void showValue(int32_t value) override {
    {
      QSignalBlocker block(slider_);
      slider_->setValue(value);
    }
    shown_->setNum(value);
  }
  void attachNotify(std::function<void()> notify) override {
    QObject::connect(slider_, &QSlider::valueChanged, slider_, [notify] { guiGuarded(notify); });
  }

 private:
  QSlider* slider_;
  QLabel* shown_;
};

class CycleView : public InputView {
 public:
  explicit CycleView(QComboBox* combo) : InputView(combo), combo_(combo) {}
  int32_t shownValue() override { return combo_->currentIndex(); }
  void showValue(int32_t value) override {
    QSignalBlocker block(combo_);
    combo_->setCurrentIndex(value);
  }
  void attachNotify(std::function<void()> notify) override {
    QObject::connect(combo_, &QComboBox::currentIndexChanged, combo_, [notify] { guiGuarded(notify); });
  }

 private:
  QComboBox* combo_;
};

class RadioView : public InputView {
 public:
  RadioView(QWidget* box, QButtonGroup* group) : InputView(box), group_(group) {}
  int32_t shownValue() override { return group_->checkedId(); }
  void showValue(int32_t value) override {
    QSignalBlocker block(group_);
    if (QAbstractButton* button = group_->button(value)) button->setChecked(true);
  }
  void attachNotify(std::function<void()> notify) override {
    QObject::connect(group_, &QButtonGroup::idToggled, group_, [notify](int, bool checked) {
      if (checked) guiGuarded(notify);
    });
  }

 private:
  QButtonGroup* group_;
};

class NativeView : public GuiGadgetView {
 public:
  explicit NativeView(QWidget* object) : object_(object) {}
  void* nativeObject() override { return object_; }

 private:
  QWidget* object_;
};

QString qtText(const GuiTextCodec& codec, const Str& text) {
  return text.isNil() ? QString() : QString::fromStdString(codec.toUtf8(text));
}

// The gadget in a row: followed by a unit label, or by a stretch that keeps
// it at the left.
QWidget* row(QWidget* gadget, const QString& unit, bool stretch) {
  auto* box = new QWidget();
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(gadget, unit.isNull() ? 0 : 1);
  if (!unit.isNull()) {
    auto* label = new QLabel(unit);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
  }
  if (stretch) layout->addStretch(1);
  return box;
}

void bindView(cGuiItem* item, std::unique_ptr<GuiGadgetView> view) {
  auto* input = dynamic_cast<cGuiInputItem*>(item);
  if (input) {
    if (!input->infoHelp().isNil()) view->showHelp(input->infoHelp());
    if (input->infoDisabled()) view->showDisabled(true);
  }
  guiRecord(*item).view = std::move(view);
}

QWidget* realiseTick(cGuiTickHost* tick) {
  auto* box = new QCheckBox();
  box->setChecked(tick->getState());
  bindView(tick, std::make_unique<TickView>(box));
  return tick->keepsLeft() ? row(box, QString(), true) : box;
}

QWidget* realiseString(cGuiStringHost* string, const GuiTextCodec& codec) {
  auto* edit = new LineEdit(string);
  edit->setMaxLength(string->infoMaxChars());
  edit->setText(qtText(codec, string->infoText()));
  bindView(string, std::make_unique<LineView>(edit, codec));
  return edit;
}

QWidget* realiseNumber(cGuiNumberStringHost* number, const GuiTextCodec& codec) {
  auto* edit = new LineEdit(number);
  edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0123456879-]*"), edit));
  edit->setText(QString::number(number->getState()));
  bindView(number, std::make_unique<LineView>(edit, codec));
  QString unit = qtText(codec, number->infoUnitText());
  return unit.isNull() ? edit : row(edit, unit, false);
}

QWidget* realisePath(cGuiPathStringHost* path, const GuiTextCodec& codec) {
  auto* box = new QWidget();
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* edit = new LineEdit(path);
  edit->setMaxLength(256);
  edit->setText(qtText(codec, path->infoText()));
  auto* button = new QToolButton();
  button->setFocusPolicy(Qt::NoFocus);
  button->setIcon(box->style()->standardIcon(path->isDrawer() ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
  QObject::connect(button, &QToolButton::clicked, button,
                   [path] { guiGuarded([path] { guiPathRequest(*path, guiPathChooser()); }); });
  layout->addWidget(edit, 1);
  layout->addWidget(button);
  bindView(path, std::make_unique<PathView>(edit, button, codec));
  return box;
}

QWidget* realiseBox(cGuiStringBoxHost* host, const GuiTextCodec& codec) {
  auto* box = new TextEdit(host);
  box->setPlainText(qtText(codec, host->infoText()));
  if (host->isFixedFont()) box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  if (host->infoNoWeight()) box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  if (host->infoInVirtualGroup()) {
    // The scrollable group scrolls: the box grows with its text.
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto grow = [box] {
      int lines = static_cast<int>(box->document()->size().height());
      box->setMinimumHeight((lines + 1) * box->fontMetrics().lineSpacing() + 2 * box->frameWidth());
    };
    QObject::connect(box, &QPlainTextEdit::textChanged, box, grow);
    grow();
  } else {
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  }
  bindView(host, std::make_unique<BoxView>(box, codec));
  return box;
}

QWidget* realiseSlider(cGuiSliderHost* host, const GuiTextCodec& codec) {
  auto* slider = new QSlider(Qt::Horizontal);
  slider->setRange(host->infoMin(), host->infoMax());
  slider->setValue(host->getState());
  auto* shown = new QLabel(QString::number(host->getState()));
  shown->setMinimumWidth(shown->fontMetrics().horizontalAdvance(
      QString::number(std::abs(host->infoMax()) > std::abs(host->infoMin()) ? host->infoMax() : host->infoMin())));
  auto* box = new QWidget();
  auto* layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(slider, 1);
  layout->addWidget(shown);
  if (!host->infoUnitText().isNil()) layout->addWidget(new QLabel(qtText(codec, host->infoUnitText())));
  if (host->infoNoWeight()) box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  bindView(host, std::make_unique<SliderView>(slider, shown));
  return box;
}

QWidget* realiseCycle(cGuiCycleChoiceHost* host, const GuiTextCodec& codec) {
  auto* combo = new QComboBox();
  for (const Str& choice : host->infoChoices()) combo->addItem(qtText(codec, choice));
  combo->setCurrentIndex(host->getState());
  if (host->infoNoWeight()) combo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  bindView(host, std::make_unique<CycleView>(combo));
  return combo;
}

QWidget* realiseRadio(cGuiRadioChoiceHost* host, const GuiTextCodec& codec) {
  auto* box = new QWidget();
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* group = new QButtonGroup(box);
  int id = 0;
  for (const Str& choice : host->infoChoices()) {
    auto* button = new QRadioButton(guiQtLiteral(qtText(codec, choice)));
    group->addButton(button, id++);
    layout->addWidget(button);
  }
  if (QAbstractButton* current = group->button(host->getState())) current->setChecked(true);
  bindView(host, std::make_unique<RadioView>(box, group));
  return host->keepsLeft() ? row(box, QString(), true) : box;
}

}  // namespace

QWidget* guiRealiseInput(cGuiItem* item, const GuiTextCodec& codec) {
  if (auto* list = dynamic_cast<cGuiListHost*>(item)) return guiRealiseList(list, codec);
  if (auto* tick = dynamic_cast<cGuiTickHost*>(item)) return realiseTick(tick);
  if (auto* string = dynamic_cast<cGuiStringHost*>(item)) return realiseString(string, codec);
  if (auto* number = dynamic_cast<cGuiNumberStringHost*>(item)) return realiseNumber(number, codec);
  if (auto* path = dynamic_cast<cGuiPathStringHost*>(item)) return realisePath(path, codec);
  if (auto* box = dynamic_cast<cGuiStringBoxHost*>(item)) return realiseBox(box, codec);
  if (auto* slider = dynamic_cast<cGuiSliderHost*>(item)) return realiseSlider(slider, codec);
  if (auto* cycle = dynamic_cast<cGuiCycleChoiceHost*>(item)) return realiseCycle(cycle, codec);
  if (auto* radio = dynamic_cast<cGuiRadioChoiceHost*>(item)) return realiseRadio(radio, codec);
  if (auto* simple = dynamic_cast<cGuiNativeSimpleHost*>(item)) {
    auto* widget = static_cast<QWidget*>(simple->infoValue()->object());
    guiRecord(*item).view = std::make_unique<NativeView>(widget);
    return widget;
  }
  return guiRealiseNative(item, codec);
}

QWidget* guiRealiseInputLabel(cGuiItem* item, const GuiTextCodec& codec) {
  if (auto* simple = dynamic_cast<cGuiNativeSimpleHost*>(item)) return static_cast<QWidget*>(simple->infoLabelObject());
  auto* input = dynamic_cast<cGuiInputItem*>(item);
  if (!input || dynamic_cast<cGuiButtonHost*>(item)) return nullptr;
  auto* label = new QLabel(guiQtText(codec, input->infoLabel()));
  label->setTextFormat(Qt::PlainText);
  label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  bool top = dynamic_cast<cGuiStringBoxHost*>(item) || dynamic_cast<cGuiRadioChoiceHost*>(item);
  label->setAlignment(Qt::AlignRight | (top ? Qt::AlignTop : Qt::AlignVCenter));
  return label;
}

void guiSetPathChooser(GuiPathChooser chooser) { gChooser = std::move(chooser); }

const GuiPathChooser& guiPathChooser() {
  static const GuiPathChooser fileDialog = [](const GuiPathRequest& request) -> std::optional<GuiPathAnswer> {
    // The folder last chosen in, for the next chooser without a path.
    static std::string lastFolder;
    QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(QString::fromStdString(guiChooserFolder(request, lastFolder, std::getenv("HOME"))));
    if (!request.file.empty()) dialog.selectFile(QString::fromStdString(request.file));
    if (request.drawersOnly) {
      dialog.setFileMode(QFileDialog::Directory);
      dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
      dialog.setFileMode(request.saveMode ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    }
    if (request.saveMode) dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    lastFolder = dialog.directory().absolutePath().toStdString();
    std::string chosen = dialog.selectedFiles().front().toStdString();
    if (request.drawersOnly) return GuiPathAnswer{chosen, std::string()};
    size_t slash = chosen.rfind('/');
    if (slash == std::string::npos) return GuiPathAnswer{std::string(), chosen};
    return GuiPathAnswer{chosen.substr(0, slash == 0 ? 1 : slash), chosen.substr(slash + 1)};
  };
  return gChooser ? gChooser : fileDialog;
}

}  // namespace bw
