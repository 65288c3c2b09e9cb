#pragma once

#include <QString>

#include <functional>
#include <memory>

class QDialog;
class QWidget;

// The statistics windows as the menu handlers see them. The windows library registers one
// factory per kind when the plug-in is loaded; the handlers only decide the database folder and
// ask for the window to be shown. A kind without a factory is not part of the build, which the
// operator is told instead of getting an empty window.
namespace StatisticsWindows {

enum class Kind { Fuel, Goods };

// Creates the window of one kind, parented to the host's main window. The window is shown with
// exec() and deleted by the caller afterwards, so it must not delete itself on closing. dbPath
// is the database folder the handler has just decided for this opening.
using Factory = std::function<std::unique_ptr<QDialog>(QWidget* parent, const QString& dbPath)>;

// Replaces the factory of a kind; an empty one takes the kind out again.
void registerFactory(Kind kind, Factory factory);
bool isAvailable(Kind kind);

// Shows the window of the kind modally and frees it when it is closed. An error escaping from
// the window is passed on only after the window is freed. While one window of the kind is shown,
// a second request only brings it to the front.
void showModal(Kind kind, const QString& dbPath);

// The window of the kind while it is shown, else null.
QDialog* shownWindow(Kind kind);

// Frees any window still referenced; the library is being unloaded.
void freeAll();

} // namespace StatisticsWindows
