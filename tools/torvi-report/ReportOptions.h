#pragma once

#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// What torvi-report is asked to build: the window's choices, where the data is and which files
// to write.
struct ReportOptions {
    enum class Subject { Fuel, Goods };
    enum class Selection { Grades, Categories, GoodsItems };

    Subject subject = Subject::Fuel;
    int schema = 0;
    // The period, half-open as the windows' runs are: from inclusive, to exclusive.
    QDateTime from;
    QDateTime to;
    int stepMultiplier = 1;
    int stepUnit = 1; // the windows' default: one hour
    Selection selection = Selection::Grades;
    // Names, or for goods also identifiers, as typed; empty with `all`.
    QStringList items;
    bool all = false;
    bool split = false;
    // The earlier period beside every line: 0 none, 1 the previous period, 2 a year ago (the
    // values of the extractor's comparison).
    int compare = 0;
    double literLow = 0;
    double literHigh = 0;
    QString fuelDb;
    QString goodsDb;
    QString statServer;
    // The chain's stations from the catalogue on the statistics server: all of them, those named,
    // or those of a region; empty and false outside a chain's statistics.
    bool chain = false;
    QStringList stations;
    QString region;
    // One line per station instead of their sum.
    bool splitByStation = false;
    QStringList outputs;
    bool machineCsv = false;
    QSize pictureSize{1200, 700};
    bool quiet = false;
};

struct ReportOptionsParse {
    std::optional<ReportOptions> options; // empty when refused or help asked
    QString error;                        // why it was refused, in Russian
    bool helpRequested = false;
    bool versionRequested = false;
};

// The command line without the program name. `now` is the workstation's local time, from which
// the relative periods are counted.
// The windows' schema captions of a subject, in the order of their numbers.
const QStringList& schemaCaptions(ReportOptions::Subject subject);

ReportOptionsParse parseReportOptions(const QStringList& arguments, const QDateTime& now);

// The relative period named `name` around `now` (local time), or nothing for an unknown name.
// "today" and the "this-" periods end at the end of today; the others at the start of today or
// of the current month or year.
std::optional<std::pair<QDateTime, QDateTime>> relativePeriod(const QString& name,
                                                              const QDateTime& now);

// "{from}" and "{to}" in an output name replaced with the period's bounds as yyyy-MM-dd.
QString expandOutputName(const QString& name, const QDateTime& from, const QDateTime& to);

// The Russian usage text.
QString reportUsage();
