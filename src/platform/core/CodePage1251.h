#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Code page 1251, in which the suite keeps its settings files and over whose bytes the settings
// hashes are computed. Both directions are taken from Qt's codec when first needed; nothing here
// spells out the table.
namespace CodePage1251 {

QString decode(QByteArrayView bytes);

// Characters the code page cannot hold become "?", as the ANSI conversions of the suite's other
// programs make them; callers that must not lose text check representable() first.
QByteArray encode(QStringView text);

// True when every character of `text` survives a round trip through the code page.
bool representable(QStringView text);
// The first character that does not survive, or -1.
qsizetype firstUnrepresentable(QStringView text);

// Lower case for the letters of the code page (Latin and Cyrillic); other characters unchanged.
QString toLower(QStringView text);

} // namespace CodePage1251
