#pragma once

#include <QString>

// The suite's folders live under one root: $DARA_ROOT, else ~/DARA. The system names them as the
// suite always has ("C:\DARA\DB\"); this is the one place that turns such a name into a path.
QString daraRoot();

// "C:\DARA\DB\TradeDB\" becomes "<root>/DB/TradeDB/" (any letter case, either slash). A name
// outside C:\DARA is only given forward slashes; a Linux path passes unchanged.
QString mapDaraPath(const QString& suitePath);
