#pragma once

#include <QList>
#include <QString>

// A data set's filter text in the forms the system writes: "Name in ('a','b')" with apostrophes
// doubled inside a quoted value, and "Name = 12". Both reduce to "the field equals one of these
// values". Any other text raises EDatabaseError rather than filtering by a guess.
struct TFilterExpression {
    struct Value {
        QString text;        // the value as written, without quotes, apostrophes undoubled
        bool quoted = false; // 'text' rather than a bare number
    };

    QString fieldName;
    QList<Value> values;

    static TFilterExpression parse(const QString& text);
};
