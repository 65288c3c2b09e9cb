#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Builds a station's fuel and goods databases with a generated history. The same settings always
// give the same files, so the tests and the benchmarks can rely on the figures.
struct StationSettings {
    QString root;            // the DARA root: files go to DB/ and DB/TradeDB/ under it
    QDate start{2009, 1, 1}; // first day of the history
    int days = 365;
    int fillingsPerDay = 1000; // on an ordinary weekday; weekends and seasons vary it
    quint64 seed = 1;
    bool force = false; // replace existing databases
};

struct StationSummary {
    qint64 fillings = 0;
    qint64 shifts = 0;
    qint64 documents = 0;
    qint64 lines = 0;
    QString fuelFile;
    QString goodsFile;
};

// The shop's catalogue, as a real station shop's size: its categories in the order of their
// identifiers (from 1), each with its goods in the order of theirs. The same every time.
struct ShopCategory {
    QString name;
    double price = 0; // roubles for an ordinary pack
    QStringList goods;
};
std::vector<ShopCategory> shopCatalogue();

class StationGenerator {
public:
    // Called now and then with a line describing how far the run has come.
    using Progress = std::function<void(const QString& line)>;

    explicit StationGenerator(StationSettings settings, Progress progress = {});
    // Raises EDatabaseError or EOSError with a Russian message; an existing database is refused
    // unless settings.force. A database is written under a temporary name and renamed at the end,
    // so an interrupted run never leaves a half-built station in place.
    StationSummary run();

private:
    StationSettings m_settings;
    Progress m_progress;
};
