#pragma once

#include <functional>
#include <memory>

class QDialog;
class QWidget;
class TdmStatistic;

// The statistics windows as the menu handlers see them. The library entry registers one factory
// per kind when the plug-in is loaded; the handlers only decide the database folder, put it into
// the data module and ask for the window to be shown. A kind without a factory is not part of the
// build, which the operator is told instead of getting an empty window.
namespace StatisticsWindows {

// Chain: every station of the chain's catalogue on the central server.
enum class Kind { Fuel, Goods, Chain };

// Creates the window of one kind, parented to the host's main window, over the data module whose
// folders the handler has just set. The window is shown with exec() and deleted by the caller
// afterwards, so it must not delete itself on closing.
using Factory = std::function<std::unique_ptr<QDialog>(QWidget* parent, TdmStatistic& dm)>;

// Replaces the factory of a kind; an empty one takes the kind out again.
void registerFactory(Kind kind, Factory factory);
bool isAvailable(Kind kind);

// Shows the window of the kind over `dm` modally and frees it when it is closed. An error
// escaping from the window is passed on only after the window is freed. While one window of the
// kind is shown, a second request only brings it to the front.
void showModal(Kind kind, TdmStatistic& dm);

// The window of the kind while it is shown, else null.
QDialog* shownWindow(Kind kind);

// Frees any window still referenced; the library is being unloaded.
void freeAll();

} // namespace StatisticsWindows
