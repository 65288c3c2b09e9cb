#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// One selected grade, goods item or category of a run. Grades carry only their name.
struct TQueryItem {
    QString Name;
    qint32 Id = 0;
};

// Shared between the window and its extractor: assigning shares the array, it does not copy it.
using TQueryItems = QList<TQueryItem>;

// The fuel grade colours, built by the fuel window from the server's grade list.
struct TGSMColorItem {
    QString Name;
    quint32 Color = 0;
};
using TGSMColor = QList<TGSMColorItem>;
