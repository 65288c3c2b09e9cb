#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <vector>

// Builds a station's fuel and goods databases with a generated history. The same settings always
// give the same files, so the tests and the benchmarks can rely on the figures.
struct StationSettings {
    QString root;            // the DARA root: SQLite files go to DB/ and DB/TradeDB/ under it
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

// Where a generated history goes: the station's SQLite files or a chain's PostgreSQL server.
// The generator hands over the rows of both databases, one database after the other, and then
// commits; a sink that is destroyed without a commit leaves the previous station in place.
class StationSink {
public:
    enum class Database { Fuel, Goods };
    virtual ~StationSink() = default;

    // Creates the database's tables.
    virtual void beginDatabase(Database which) = 0;
    // Rows of the tables may arrive interleaved; columns are named as the SQL names them.
    virtual int table(const QString& name, const QStringList& columns) = 0;
    virtual void row(int table, const QVariantList& values) = 0;
    // All rows given: build the indexes.
    virtual void endDatabase() = 0;
    // Both databases complete: they replace what was there.
    virtual void commit() = 0;
    // The database as the summary names it.
    virtual QString name(Database which) const = 0;
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
    // Raises EDatabaseError or EOSError with a Russian message.
    StationSummary run(StationSink& sink);

private:
    StationSettings m_settings;
    Progress m_progress;
};
