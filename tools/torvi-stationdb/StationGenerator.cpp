#include "StationGenerator.h"

#include "platform/core/Exceptions.h"

#include <QVariant>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// A generator of our own: the standard distributions differ between library versions, and the
// files must come out the same everywhere.
class Random {
public:
    explicit Random(quint64 seed)
        : m_state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    quint64 next() {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }
    int below(int n) { return int(uniform() * n); }
    double normal() {
        const double u = 1.0 - uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * uniform());
    }
    template <size_t N>
    int pick(const std::array<double, N>& weights) {
        double total = 0;
        for (double w : weights)
            total += w;
        double x = uniform() * total;
        for (size_t i = 0; i < N; ++i) {
            if ((x -= weights[i]) < 0)
                return int(i);
        }
        return int(N - 1);
    }

private:
    quint64 m_state;
};

struct Grade {
    const char* name;
    double share;
    double price; // roubles per litre on the first day
    double meanLitres;
};

const std::array<Grade, 6> kGrades{{
    {"АИ-80", 0.03, 17.40, 20},
    {"АИ-92", 0.42, 20.50, 32},
    {"АИ-95", 0.30, 22.30, 30},
    {"АИ-98", 0.04, 25.90, 35},
    {"ДТ", 0.16, 19.80, 55},
    {"Газ", 0.05, 11.20, 30},
}};

// Fillings per hour of the day: quiet nights, the morning and evening rush.
const std::array<double, 24> kHourWeights{0.25, 0.18, 0.12, 0.10, 0.12, 0.25, 0.7, 1.6,
                                          2.0,  1.5,  1.1,  1.1,  1.3,  1.3,  1.1, 1.1,
                                          1.4,  2.1,  2.2,  1.7,  1.2,  0.9,  0.6, 0.4};

const char* const kOperators[] = {"Иванова Е.В.", "Петров С.А.", "Сидоренко О.И.", "Кузнецов А.Н.",
                                  "Морозова Т.П."};

struct CategorySeed {
    const char* name;
    std::vector<const char*> goods;
    double price;
};

// Category names fit the 20 characters the category list stores; one category has no name, as
// stations have after a careless import.
const std::vector<CategorySeed>& categorySeeds() {
    static const std::vector<CategorySeed> seeds{
        {"Вода", {"Вода питьевая", "Вода минеральная", "Вода газированная"}, 35},
        {"Газированные напитки", {"Кола", "Лимонад", "Тоник", "Напиток O'Cola"}, 55},
        {"Соки", {"Сок яблочный", "Сок апельсиновый", "Нектар персиковый", "Морс"}, 70},
        {"Энергетики", {"Энергетик классический", "Энергетик без сахара"}, 95},
        {"Кофе", {"Кофе американо", "Кофе капучино", "Кофе латте", "Кофе Jacob's 3в1"}, 90},
        {"Чай", {"Чай чёрный", "Чай зелёный", "Чай холодный"}, 45},
        {"Чипсы", {"Чипсы Lay's", "Чипсы рифлёные", "Чипсы с беконом"}, 85},
        {"Сухарики", {"Сухарики ржаные", "Сухарики пшеничные"}, 40},
        {"Орехи", {"Арахис солёный", "Фисташки", "Миндаль", "Кешью"}, 120},
        {"Шоколад", {"Шоколад молочный", "Шоколад горький", "Шоколад с орехом"}, 75},
        {"Батончики", {"Батончик ореховый", "Батончик O'Zera", "Батончик мюсли"}, 50},
        {"Жевательная резинка", {"Жвачка мятная", "Жвачка фруктовая"}, 30},
        {"Конфеты", {"Драже M&M's", "Леденцы", "Мармелад"}, 60},
        {"Выпечка", {"Круассан", "Пирожок с капустой", "Булочка с маком"}, 45},
        {"Хот-доги", {"Хот-дог классический", "Хот-дог французский"}, 110},
        {"Сэндвичи", {"Сэндвич с курицей", "Сэндвич с ветчиной"}, 130},
        {"Мороженое", {"Пломбир", "Эскимо", "Фруктовый лёд"}, 55},
        {"Сигареты", {"Сигареты лёгкие", "Сигареты крепкие", "Сигареты тонкие"}, 95},
        {"Зажигалки", {"Зажигалка", "Спички"}, 25},
        {"Масла моторные", {"Масло 5W-40 4 л", "Масло 10W-40 1 л", "Масло 2T"}, 950},
        {"Масла трансмиссионные", {"Масло 75W-90 1 л", "Масло ATF"}, 480},
        {"Охлаждающие жидкости", {"Антифриз зелёный", "Антифриз красный"}, 380},
        {"Омыватели", {"Омыватель зимний", "Омыватель летний"}, 190},
        {"Автохимия", {"Очиститель стёкол", "Полироль", "Очиститель салона"}, 260},
        {"Щётки", {"Щётка стеклоочистителя", "Скребок"}, 350},
        {"Лампы", {"Лампа H4", "Лампа H7", "Лампа W5W"}, 170},
        {"Предохранители", {"Набор предохранителей"}, 120},
        {"Аптечки", {"Аптечка автомобильная"}, 420},
        {"Огнетушители", {"Огнетушитель ОП-2"}, 650},
        {"Знаки", {"Знак аварийной остановки"}, 300},
        {"Ароматизаторы", {"Ароматизатор Ёлочка", "Ароматизатор гелевый"}, 140},
        {"Карты", {"Атлас дорог", "Карта области"}, 280},
        {"Газеты", {"Газета", "Журнал"}, 40},
        {"Батарейки", {"Батарейка AA", "Батарейка AAA"}, 60},
        {"Зарядки", {"Зарядное устройство USB", "Кабель USB"}, 450},
        {"Канистры", {"Канистра 10 л", "Канистра 20 л"}, 520},
        {"Перчатки", {"Перчатки рабочие"}, 70},
        {"Губки", {"Губка для мойки", "Салфетка микрофибра"}, 90},
        {"Мойка", {"Жетон на мойку"}, 150},
        {"", {"Товар без категории", "Пакет"}, 10},
    };
    return seeds;
}

// Sizes and flavours that make hundreds of articles of the few kinds above.
const char* const kVariants[] = {"",         " 0,33 л", " 0,5 л", " 1 л",   " 1,5 л",     " малый",
                                 " большой", " 50 г",   " 100 г", " 150 г", " Д'Артаньян"};

QString stamp(const QDate& date, qint64 msecOfDay) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", date.year(), date.month(),
                  date.day(), int(msecOfDay / 3600000), int(msecOfDay / 60000 % 60),
                  int(msecOfDay / 1000 % 60), int(msecOfDay % 1000));
    return QString::fromLatin1(buf);
}

double round2(double v) {
    return std::round(v * 100.0) / 100.0;
}

// Busier on Fridays, quieter on Sundays; more driving in summer.
double dayFactor(const QDate& date, Random& random) {
    static const double weekday[] = {1.0, 0.97, 0.98, 1.0, 1.02, 1.15, 1.05, 0.9};
    const double season = 1.0 + 0.09 * std::sin((date.dayOfYear() - 105) * 2.0 * M_PI / 365.0);
    return weekday[date.dayOfWeek()] * season * (0.92 + 0.16 * random.uniform());
}

std::vector<qint64> dayTimes(int count, Random& random) {
    std::vector<qint64> times(size_t(std::max(count, 0)));
    for (qint64& t : times)
        t = qint64(random.pick(kHourWeights)) * 3600000 + qint64(random.below(3600000));
    std::sort(times.begin(), times.end());
    return times;
}

double litres(const Grade& grade, bool truckDiesel, Random& random) {
    if (truckDiesel)
        return round2(150 + random.uniform() * 250);
    // Log-normal around the grade's usual filling, with a floor of a couple of litres.
    const double v = grade.meanLitres * std::exp(0.45 * random.normal() - 0.1);
    return round2(std::clamp(v, 2.0, 120.0));
}

// The rows of one table, filled the way a prepared statement is bound; the sink stores them.
class Rows {
public:
    Rows(StationSink& sink, const char* table, const QStringList& columns)
        : m_sink(sink)
        , m_table(sink.table(QString::fromLatin1(table), columns))
        , m_values(columns.size()) {}
    void bindValue(int column, const QVariant& value) { m_values[column] = value; }
    void add() { m_sink.row(m_table, m_values); }

private:
    StationSink& m_sink;
    int m_table;
    QVariantList m_values;
};

class Writer {
public:
    Writer(const StationSettings& settings, const StationGenerator::Progress& progress)
        : m_settings(settings)
        , m_progress(progress) {}

    void fuel(StationSink& sink, StationSummary& summary);
    void goods(StationSink& sink, StationSummary& summary);

private:
    void report(const QString& what, int day) {
        if (m_progress && (day % 10 == 0 || day + 1 == m_settings.days))
            m_progress(
                QStringLiteral("%1: день %2 из %3").arg(what).arg(day + 1).arg(m_settings.days));
    }

    const StationSettings& m_settings;
    const StationGenerator::Progress& m_progress;
};

void Writer::fuel(StationSink& sink, StationSummary& summary) {
    sink.beginDatabase(StationSink::Database::Fuel);
    Random random(m_settings.seed);

    Rows grade(sink, "GSM", {"ID_GSM", "GsmName", "SortOrder", "Price"});
    for (size_t i = 0; i < kGrades.size(); ++i) {
        grade.bindValue(0, int(i + 1));
        grade.bindValue(1, QString::fromUtf8(kGrades[i].name));
        grade.bindValue(2, int(i + 1));
        grade.bindValue(3, kGrades[i].price);
        grade.add();
    }

    // Twelve-hour shifts from 20:00 the evening before the first day, numbered on from 1 with the
    // odd gap where a shift was cancelled; the last one is still open.
    const qint64 halfDay = 12 * 3600000ll;
    const qint64 shiftCount = (qint64(m_settings.days) * 24 + 4 + 11) / 12;
    std::vector<int> numbers(static_cast<size_t>(shiftCount));
    int number = 1;
    for (int& n : numbers) {
        if (random.below(150) == 0)
            number += 1 + random.below(3);
        n = number++;
    }
    const QDate origin = m_settings.start.addDays(-1);
    const qint64 firstShift = 20 * 3600000ll; // msec from the origin's midnight
    Rows shift(sink, "SmSilo", {"SmNum", "BegTime", "EndTime", "Operator"});
    for (qint64 i = 0; i < shiftCount; ++i) {
        const qint64 begin = firstShift + i * halfDay;
        const qint64 end = begin + halfDay;
        shift.bindValue(0, numbers[size_t(i)]);
        shift.bindValue(1, stamp(origin.addDays(begin / 86400000), begin % 86400000));
        shift.bindValue(2, i + 1 == shiftCount
                               ? QVariant(QMetaType(QMetaType::QString))
                               : QVariant(stamp(origin.addDays(end / 86400000), end % 86400000)));
        shift.bindValue(3, QString::fromUtf8(kOperators[(i / 2 + i % 2 * 2) % 5]));
        shift.add();
    }
    summary.shifts = shiftCount;

    Rows filling(sink, "LogTran",
                 {"Data", "GsmName", "Liter", "Price", "Summa", "NumTrk", "SmNum"});
    std::array<QString, kGrades.size()> names;
    std::array<double, kGrades.size()> shares;
    for (size_t i = 0; i < kGrades.size(); ++i) {
        names[i] = QString::fromUtf8(kGrades[i].name);
        shares[i] = kGrades[i].share;
    }
    for (int day = 0; day < m_settings.days; ++day) {
        const QDate date = m_settings.start.addDays(day);
        // Prices go up a few per cent a year, in steps every four weeks.
        const double inflation = 1.0 + 0.06 * (day / 28) / 13.0;
        const int count = int(std::lround(m_settings.fillingsPerDay * dayFactor(date, random)));
        for (qint64 t : dayTimes(count, random)) {
            const int g = random.pick(shares);
            const double price = round2(kGrades[size_t(g)].price * inflation);
            double liter;
            double summa;
            const double kind = random.uniform();
            if (kind < 0.25) {
                // Paid a round sum: the pump stops at the money.
                summa = double(100 * (2 + random.below(14)));
                liter = round2(summa / price);
            } else if (kind < 0.45) {
                liter = double(10 * (1 + random.below(5)));
                summa = round2(liter * price);
            } else {
                liter = litres(kGrades[size_t(g)], g == 4 && random.below(10) == 0, random);
                summa = round2(liter * price);
            }
            const qint64 sinceOrigin = qint64(day + 1) * 86400000 + t;
            filling.bindValue(0, stamp(date, t));
            filling.bindValue(1, names[size_t(g)]);
            filling.bindValue(2, liter);
            filling.bindValue(3, price);
            filling.bindValue(4, summa);
            filling.bindValue(5, 1 + random.below(8));
            filling.bindValue(6, numbers[size_t((sinceOrigin - firstShift) / halfDay)]);
            filling.add();
            ++summary.fillings;
        }
        report(QStringLiteral("Топливо"), day);
    }
    sink.endDatabase();
}

void Writer::goods(StationSink& sink, StationSummary& summary) {
    sink.beginDatabase(StationSink::Database::Goods);
    Random random(m_settings.seed ^ 0x5DEECE66Dull);

    struct Article {
        int id;
        double price;
        std::vector<int> batches;
    };
    std::vector<Article> articles;
    Rows category(sink, "Category", {"ID_Category", "Name", "IsDelete", "KKMSection"});
    Rows goods(sink, "Goods", {"ID_Goods", "ID_Category", "Name"});
    Rows batch(sink, "Batches", {"ID_P", "ID_Goods"});
    int goodsId = 1;
    int batchId = 1;
    const auto& seeds = categorySeeds();
    for (size_t c = 0; c < seeds.size(); ++c) {
        const int categoryId = int(c + 1);
        category.bindValue(0, categoryId);
        category.bindValue(1, QString::fromUtf8(seeds[c].name));
        category.bindValue(2, c % 17 == 16 ? 1 : 0);
        category.bindValue(3, 1 + int(c % 3));
        category.add();
        for (const char* base : seeds[c].goods) {
            // The plain name and a few distinct sizes or flavours of it.
            std::array<int, 10> order{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
            for (int k = 9; k > 0; --k)
                std::swap(order[size_t(k)], order[size_t(random.below(k + 1))]);
            const int variants = 2 + random.below(5);
            for (int v = 0; v < variants; ++v) {
                const char* variant = kVariants[v == 0 ? 0 : order[size_t(v - 1)]];
                const QString name = QString::fromUtf8(base) + QString::fromUtf8(variant);
                goods.bindValue(0, goodsId);
                goods.bindValue(1, categoryId);
                goods.bindValue(2, name.left(50));
                goods.add();
                Article article{
                    goodsId, round2(seeds[c].price * (0.7 + 0.6 * random.uniform())), {}};
                const int batches = 1 + random.below(3);
                for (int b = 0; b < batches; ++b) {
                    batch.bindValue(0, batchId);
                    batch.bindValue(1, goodsId);
                    batch.add();
                    article.batches.push_back(batchId++);
                }
                articles.push_back(std::move(article));
                ++goodsId;
            }
        }
    }
    // Batches of articles deleted since: their lines name goods that are no longer there.
    std::vector<int> orphanBatches;
    for (int i = 0; i < 5; ++i) {
        batch.bindValue(0, batchId);
        batch.bindValue(1, i % 2 ? QVariant(QMetaType(QMetaType::Int)) : QVariant(900000 + i));
        batch.add();
        orphanBatches.push_back(batchId++);
    }

    Rows document(sink, "Documents", {"ID_doc", "Data", "\"TYPE\""});
    Rows line(sink, "GoodsMotion", {"ID_doc", "ID_p", "RPrice", "\"COUNT\""});
    const std::array<double, 5> lineWeights{50, 25, 13, 8, 4};
    const int articleCount = int(articles.size());
    // Popular articles sell far more often than the rest.
    const auto popularArticle = [&] {
        const double u = random.uniform();
        return std::min(articleCount - 1, int(articleCount * u * u * u));
    };
    qint64 documentId = 1;
    const auto addLine = [&](qint64 doc, int batchOf, double price, double count) {
        line.bindValue(0, doc);
        line.bindValue(1, batchOf);
        line.bindValue(2, price);
        line.bindValue(3, count);
        line.add();
        ++summary.lines;
    };
    const auto addDocument = [&](const QDate& date, qint64 t, int type) {
        document.bindValue(0, documentId);
        document.bindValue(1, stamp(date, t));
        document.bindValue(2, type);
        document.add();
        ++summary.documents;
        return documentId++;
    };
    for (int day = 0; day < m_settings.days; ++day) {
        const QDate date = m_settings.start.addDays(day);
        const double inflation = 1.0 + 0.08 * (day / 28) / 13.0;
        const int sales =
            int(std::lround(m_settings.fillingsPerDay / 3.0 * dayFactor(date, random)));
        // The morning delivery: a receipt (type 1) that must never count as sales.
        const qint64 receipt = addDocument(date, 7 * 3600000ll + random.below(3600000), 1);
        for (int i = 0; i < 10 + random.below(20); ++i) {
            const Article& a = articles[size_t(random.below(articleCount))];
            addLine(receipt, a.batches.back(), round2(a.price * 0.7),
                    double(12 + random.below(36)));
        }
        for (qint64 t : dayTimes(sales, random)) {
            const int type = random.below(200) == 0 ? 3 : 2; // now and then a return
            const qint64 doc = addDocument(date, t, type);
            const int lines = 1 + random.pick(lineWeights);
            for (int l = 0; l < lines; ++l) {
                if (random.below(500) == 0) {
                    addLine(doc, orphanBatches[size_t(random.below(int(orphanBatches.size())))],
                            99.0, 1);
                    continue;
                }
                const Article& a = articles[size_t(popularArticle())];
                const int b = a.batches[size_t(random.below(int(a.batches.size())))];
                addLine(doc, b, round2(a.price * inflation),
                        random.below(5) == 0 ? 2 + random.below(2) : 1);
            }
        }
        if (date.dayOfWeek() == 1) { // the weekly write-off (type 4)
            const qint64 doc = addDocument(date, 22 * 3600000ll, 4);
            addLine(doc, articles[size_t(random.below(articleCount))].batches.front(), 0, 1);
        }
        report(QStringLiteral("Товары"), day);
    }
    sink.endDatabase();
}

} // namespace

StationGenerator::StationGenerator(StationSettings settings, Progress progress)
    : m_settings(std::move(settings))
    , m_progress(std::move(progress)) {}

StationSummary StationGenerator::run(StationSink& sink) {
    StationSummary summary;
    Writer writer(m_settings, m_progress);
    writer.fuel(sink, summary);
    writer.goods(sink, summary);
    sink.commit();
    summary.fuelFile = sink.name(StationSink::Database::Fuel);
    summary.goodsFile = sink.name(StationSink::Database::Goods);
    return summary;
}
