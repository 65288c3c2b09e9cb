#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Every message box of the system goes through here, so that a test can answer it without a
// modal loop and check what the operator would have read.
namespace MessageBoxes {

enum class Icon { None, Information, Warning, Error, Question };

struct Shown {
    QString caption;
    QString text;
    Icon icon = Icon::None;
    QMessageBox::StandardButtons buttons;
};

// Shows a modal box and returns the button pressed (or what the installed handler answers).
QMessageBox::StandardButton show(QWidget* parent, const QString& caption, const QString& text,
                                 Icon icon, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                 QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// "Ошибка" with the error icon; "Информация" with the information icon.
void error(QWidget* parent, const QString& text);
void information(QWidget* parent, const QString& text);

// Installed by tests (and by the headless demo): boxes are handed to it instead of shown.
// An empty handler restores the real boxes. Returns the previous handler.
using Handler = std::function<QMessageBox::StandardButton(const Shown&)>;
Handler setHandler(Handler handler);

} // namespace MessageBoxes
