#pragma once

#include <QSize>
#include <QString>

class QWidget;

// Where a window was last closed, kept per user under the suite's common key by the window's
// name, so that the operator finds it there again in the next session.
namespace WindowPlacement {

// Puts the window where it was last closed; false, leaving the window alone, when nothing is kept
// or the kept placement is smaller than `smallest` or off the screen: a placement from another
// screen set-up, or a damaged one, must not put the window out of reach.
bool restore(QWidget* window, const QString& name, QSize smallest);

// Keeps the window's placement for the next restore.
void save(const QWidget* window, const QString& name);

} // namespace WindowPlacement
