#pragma once

#include "HostOptions.h"

#include "torvistat/plugin_abi.h"

// The host's side of the plug-in ABI: the value functions and the menu-item factory. The ABI
// passes no context to them, so they answer from the options set here once at start-up.
namespace HostValues {

void setOptions(const HostOptions& options);

// Clear `result` and give it an integer, or a copy of the text that the plug-in frees.
void setInt(TorviVariant* result, int value);
void setString(TorviVariant* result, const QString& text);

// GetValue: 46 the mode, 5 the fuel database folder; other codes stay empty.
void getValue(TorviVariant* result, int32_t code, int32_t param);
// GetPrivValue: 11 is 1 for the local statistics server, 13 its computer, 16 the caption.
void getPrivValue(TorviVariant* result, int32_t code);
// Creates a QAction in the parent's QMenu at index (appended when index is out of range),
// giving the parent a QMenu first when it has none.
TorviMenuItem createMenuItem(TorviMenuItem parent, int32_t index);

} // namespace HostValues
