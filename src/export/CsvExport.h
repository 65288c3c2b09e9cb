#pragma once

#include <QString>

class TChartTable;

// Two forms of the same table. Spreadsheet: what a spreadsheet in a Russian locale opens right
// with a double click (";" between fields, "," in numbers, UTF-8 with a byte order mark, dates as
// dd.MM.yyyy HH:mm, CR LF). Machine: comma between fields, "." in numbers, ISO 8601 dates,
// UTF-8 without a mark, LF.
enum class TCsvDialect { Spreadsheet, Machine };

// Header "Дата" and the column names, then one line per row with the values to the cent; a
// column without a value in a row leaves its field empty. Written row by row through the file's
// buffer: the memory used does not grow with the table.
void WriteChartCsv(const QString& path, const TChartTable& table, TCsvDialect dialect);

// A header field as the dialect writes it: quoted when it holds the separator, a quote, a line
// break or outer blanks; in the spreadsheet form a leading =, +, - or @ gets an apostrophe in
// front, so that a name from the database is never taken for a formula.
QString CsvField(const QString& text, TCsvDialect dialect);
