#pragma once

#include <QFont>
#include <QLabel>
#include <QWidget>

#include <type_traits>

class QApplication;
class QDialog;

namespace platform {

// Registers the font substitutions and Qt's Japanese texts, once at program start (and in
// tests), so that "ＭＳ Ｐゴシック" resolves on every system and every button reads Japanese.
void installJapaneseEnvironment(QApplication& app);

// The font the windows name "ＭＳ Ｐゴシック", at the given point size.
QFont msPGothic(double pointSize, bool bold = false);

// The program's dialogs: fixed client size, close box only, the program's icon, centred over
// their parent, no task bar entry of their own.
void makeFixedDialog(QDialog* dialog, int width, int height);

// Places a widget at left, top, width, height within its parent.
void place(QWidget* widget, int left, int top, int width, int height);

// A new child control, named as the window calls it (its objectName), placed at left, top,
// width, height within its parent. Labels show their text as it is, never as markup: many show
// what the user typed or what came from a file.
template <class Control>
Control* control(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* made = new Control(parent);
    made->setObjectName(QString::fromLatin1(name));
    place(made, left, top, width, height);
    if constexpr (std::is_base_of_v<QLabel, Control>)
        made->setTextFormat(Qt::PlainText);
    return made;
}

// A tool tip that shows text as it is: a tool tip reads markup whenever it finds some, so the
// text goes escaped, in a paragraph that keeps its blanks and line breaks.
QString plainToolTip(const QString& text);

// A label that grows or shrinks with its text, keeping its left and top.
void setLabelText(QLabel* label, const QString& text);

} // namespace platform
