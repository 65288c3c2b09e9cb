#pragma once

#include <QString>

// What every statistics server offers, whatever holds the station's data: the providers a data
// set may name, the two databases StatParameter points at, and the texts for asking wrongly.
namespace StationProviders {

enum class Database { Goods = 1, Fuel = 2 }; // as StatParameter numbers them

struct Provider {
    const char* name;
    Database database;
    const char* sql; // null: the client's command text
};

// The provider of that name, compared without regard to case; EDatabaseError when there is none.
const Provider& find(const QString& providerName);

// The statement the provider runs: its fixed list, or the client's command text unchanged.
// EDatabaseError when a provider that takes the client's text is given none.
QString statement(const Provider& provider, const QString& providerName,
                  const QString& commandText);

// "товаров" or "топлива", as the messages name a database.
QString databaseWord(Database database);

// The two StatParameter values, with the index check every server makes.
class Parameters {
public:
    // EDatabaseError for an index other than 1 or 2.
    static Database database(int index);
    // True when the value changed, so that the server reopens that database.
    bool set(int index, const QString& value);
    QString get(int index) const { return (*this)[database(index)]; }
    const QString& operator[](Database which) const {
        return which == Database::Fuel ? m_fuel : m_goods;
    }

private:
    QString m_goods;
    QString m_fuel;
};

} // namespace StationProviders
