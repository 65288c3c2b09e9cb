#pragma once

#include "torvistat/plugin_abi.h"

#include <QString>

#include <atomic>

class QWidget;

// What the host hands over through the exports. Empty until the matching export is called; every
// reader tests for that first. Worker threads read GetPrivValue while connecting, hence atomics.
namespace HostFunctions {

extern std::atomic<TorviGetValueFn> GetValue;
extern std::atomic<TorviGetPrivValueFn> GetPrivValue;
extern std::atomic<TorviCreateMenuItemFn> CreateMenuItem;
// The host's main window: the parent of the plug-in's windows.
extern std::atomic<QWidget*> ApplicationWindow;

// Asks GetValue / GetPrivValue and converts the answer (EConvertError when it cannot be).
// Callers test that the function is set before asking.
int getValueInt(int code);
QString getValueString(int code);
int getPrivValueInt(int code);
QString getPrivValueString(int code);

// Forgets everything the host handed over (the library is being unloaded, or a test starts anew).
void reset();

} // namespace HostFunctions
