#pragma once

#include <QString>

// Where the statistics windows find their databases. Both folders are sent to the statistics
// server whenever it is connected, so they are decided afresh at each opening of a window.

// "C:\DARA\DB\" mapped under $DARA_ROOT: the fuel folder unless the host names another.
QString DefaultFuelDbPath();

// The fuel database folder: "C:\DARA\DB\" unless the host's mode (GetValue code 46) is 0 or 3,
// in which case the host names it (code 5). Without GetValue the default stays. A mode that is
// not a number raises EConvertError.
QString FuelDbPathFromHost();

// The goods database folder: "C:\DARA\DB\TradeDB\" unless the goods library, when the host has
// loaded it, reports its current department's folder through GetCurrentDepartmentPath. The goods
// library is only looked up among the loaded ones, never loaded for this.
QString GetGoodsDbPath();

// Where the goods library is expected: $DARA_ROOT/libVedoz9.so.
QString goodsLibraryPath();
