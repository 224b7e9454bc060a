// gui/host/gui_qt_widgets.h - the Qt side of the host (included only by
// gui/host/*.cpp): the widgets a layout tree becomes, the views the records
// keep onto them, and the guard every Qt callback runs host code through.
#pragma once

#include <QImage>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "gui/host/core/gui_app_core.h"
#include "gui/host/core/gui_text.h"
#include "platform/bitmap.h"

namespace bw {

// A text box that asks for a few lines of height and makes do with two:
// lists beside it get the room first.
class GuiTextBoxWidget : public QPlainTextEdit {
 public:
  QSize sizeHint() const override {
    return {QPlainTextEdit::sizeHint().width(), 5 * fontMetrics().lineSpacing() + 2 * frameWidth() + 8};
  }
  QSize minimumSizeHint() const override {
    return {QPlainTextEdit::minimumSizeHint().width(), 2 * fontMetrics().lineSpacing() + 2 * frameWidth() + 8};
  }
};

// A button may become as narrow as its text and icon (the style's
// minimum width is wider for short texts).
void guiFitButtonToText(QPushButton* button);

// A date written "YYYY-MM-DD" or "YYYY-MM-DD HH:MM" in the locale's short
// form (without withTime the day alone); in the C locale, and for any other
// text, the text as written.
QString guiLocaleDate(const QString& written, const QLocale& locale = QLocale(), bool withTime = true);

// Runs f; an eException is printed (printException) and swallowed, so no
// exception ever leaves a Qt callback.
void guiGuarded(const std::function<void()>& f);

// Turns a layout tree into widgets, giving every built item's record its
// view. Texts reach Qt through codec.
QWidget* guiRealise(const GuiLayoutNode& node, const GuiTextCodec& codec);

// A change to a widget that the user sees only once the toolkit next runs
// (a label's text, a window's cursor), kept until then: a long operation
// shows its progress a hundred times between two passes, and the toolkit
// need take only the last. showLater keeps it (once); showNow, and every
// guiApplyPendingShows, hands it to the toolkit.
class GuiPendingShow {
 public:
  GuiPendingShow() = default;
  virtual ~GuiPendingShow();
  GuiPendingShow(const GuiPendingShow&) = delete;
  GuiPendingShow& operator=(const GuiPendingShow&) = delete;
  void showLater();
  void showNow();

 protected:
  // Brings the widget in line with what was shown; called when waiting.
  virtual void applyShow() = 0;

 private:
  friend void guiApplyPendingShows();
  bool waiting_ = false;
};

// Hands every kept change to the toolkit. Every input pass calls it before
// the toolkit runs, and so does anything that reads or draws a window's
// widgets.
void guiApplyPendingShows();

// A text for Qt: the escapes parsed away, the rest converted from the
// system encoding; the style and alignment go to the widget.
QString guiQtText(const GuiTextCodec& codec, Text text, GuiStyledText* styled = nullptr);

// A text for a button, check box or frame title shown as written: Qt would
// take its "&" for a mnemonic.
inline QString guiQtLiteral(QString text) { return text.replace(QLatin1Char('&'), QLatin1String("&&")); }

// The bitmap's pixels seen as a QImage, not copied: the image is valid
// while the bitmap lives and keeps its size.
inline QImage guiImageOf(cBitMap& bitmap) {
  return QImage(reinterpret_cast<uchar*>(bitmap.pixels.data()), bitmap.width, bitmap.height, bitmap.width * 4,
                QImage::Format_ARGB32);
}

}  // namespace bw
