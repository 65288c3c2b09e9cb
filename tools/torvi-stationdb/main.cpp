// torvi-stationdb: creates a station's fuel and goods databases with a generated history, for the
// demo, the tests and the benchmarks.

#include "PostgresStationSink.h"
#include "SqliteStationSink.h"
#include "StationGenerator.h"

#include "platform/core/DaraPaths.h"
#include "platform/core/Exceptions.h"
#include "platform/data/postgres/ChainCatalogue.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

const char kUsage[] =
    "Использование: torvi-stationdb [--root ПАПКА] [--start ГГГГ-ММ-ДД] [--days N]\n"
    "                               [--fillings N] [--seed N] [--force]\n"
    "       torvi-stationdb --postgres СЕРВЕР[:ПОРТ] --fuel-db ИМЯ --goods-db ИМЯ\n"
    "                       [--station ИМЯ [--region РЕГИОН]] [...]\n"
    "Создаёт базы данных станции ПАПКА/DB/fuel.sqlite и ПАПКА/DB/TradeDB/goods.sqlite\n"
    "(или две базы на сервере PostgreSQL сети станций) с созданной по правилам историей\n"
    "продаж (одинаковые параметры дают одинаковые базы).\n"
    "  --root ПАПКА     корневая папка DARA (по умолчанию $DARA_ROOT, иначе ~/DARA)\n"
    "  --postgres СЕРВЕР[:ПОРТ]  загрузить базы на сервер PostgreSQL; пользователь и\n"
    "                   пароль берутся из PGUSER, PGPASSWORD или ~/.pgpass; только\n"
    "                   основной сервер, не список с резервными\n"
    "  --fuel-db ИМЯ    имя базы данных топлива на сервере PostgreSQL\n"
    "  --goods-db ИМЯ   имя базы данных товаров на сервере PostgreSQL\n"
    "  --station ИМЯ    внести АЗС под этим именем в каталог сети torvi_chain на сервере\n"
    "                   (создаётся, если его нет) после того, как её базы на месте;\n"
    "                   АЗС с тем же именем в каталоге заменяется\n"
    "  --region РЕГИОН  регион АЗС в каталоге сети (с --station)\n"
    "  --start ДАТА     первый день истории (по умолчанию 2009-01-01)\n"
    "  --days N         число дней истории, от 1 до 36500 (по умолчанию 365)\n"
    "  --fillings N     заправок в обычный день, от 1 до 100000 (по умолчанию 1000)\n"
    "  --seed N         начальное значение генератора (по умолчанию 1)\n"
    "  --force          заменить существующие базы данных\n"
    "  --version        показать версию программы\n"
    "  --help           показать эту справку\n";

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

int usageError(const QString& message) {
    print(stderr, QStringLiteral("torvi-stationdb: %1\n\n").arg(message));
    std::fputs(kUsage, stderr);
    return 2;
}

std::optional<qint64> number(const QString& text, qint64 low, qint64 high) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < low || v > high)
        return std::nullopt;
    return v;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    StationSettings settings;
    settings.root = daraRoot();
    bool rootGiven = false;
    QString postgres, fuelDb, goodsDb, station, region;
    bool regionGiven = false;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString option = args[i];
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = option.indexOf(QLatin1Char('=')); eq > 0) {
            value = option.mid(eq + 1);
            option = option.left(eq);
            hasValue = true;
        }
        const auto takeValue = [&]() -> std::optional<QString> {
            if (hasValue)
                return value;
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == QLatin1String("--version")) {
            std::fputs("torvi-stationdb " TORVI_VERSION "\n", stdout);
            return 0;
        }
        if (option == QLatin1String("--force")) {
            settings.force = true;
            continue;
        }
        if (option != QLatin1String("--root") && option != QLatin1String("--start") &&
            option != QLatin1String("--days") && option != QLatin1String("--fillings") &&
            option != QLatin1String("--seed") && option != QLatin1String("--postgres") &&
            option != QLatin1String("--fuel-db") && option != QLatin1String("--goods-db") &&
            option != QLatin1String("--station") && option != QLatin1String("--region"))
            return usageError(QStringLiteral("неизвестный параметр «%1»").arg(args[i]));
        const std::optional<QString> given = takeValue();
        if (!given)
            return usageError(QStringLiteral("у параметра %1 нет значения").arg(option));
        if (option == QLatin1String("--root")) {
            if (given->isEmpty())
                return usageError(QStringLiteral("папка --root не может быть пустой"));
            settings.root = *given;
            rootGiven = true;
        } else if (option == QLatin1String("--postgres")) {
            postgres = *given;
        } else if (option == QLatin1String("--fuel-db")) {
            fuelDb = *given;
        } else if (option == QLatin1String("--goods-db")) {
            goodsDb = *given;
        } else if (option == QLatin1String("--station")) {
            station = given->trimmed();
            if (station.isEmpty())
                return usageError(QStringLiteral("имя АЗС --station не может быть пустым"));
        } else if (option == QLatin1String("--region")) {
            region = given->trimmed();
            regionGiven = true;
        } else if (option == QLatin1String("--start")) {
            settings.start = QDate::fromString(*given, QStringLiteral("yyyy-MM-dd"));
            if (!settings.start.isValid() || settings.start.year() < 1900)
                return usageError(
                    QStringLiteral("дата «%1» не в виде ГГГГ-ММ-ДД или раньше 1900 года")
                        .arg(*given));
        } else if (option == QLatin1String("--days")) {
            const auto v = number(*given, 1, 36500);
            if (!v)
                return usageError(QStringLiteral("число дней «%1» не от 1 до 36500").arg(*given));
            settings.days = int(*v);
        } else if (option == QLatin1String("--fillings")) {
            const auto v = number(*given, 1, 100000);
            if (!v)
                return usageError(
                    QStringLiteral("число заправок «%1» не от 1 до 100000").arg(*given));
            settings.fillingsPerDay = int(*v);
        } else {
            bool ok = false;
            settings.seed = given->toULongLong(&ok);
            if (!ok)
                return usageError(QStringLiteral("начальное значение «%1» не целое неотрицательное "
                                                 "число")
                                      .arg(*given));
        }
    }

    if (postgres.isEmpty() && !(fuelDb.isEmpty() && goodsDb.isEmpty()))
        return usageError(QStringLiteral("ключи --fuel-db и --goods-db действуют только с "
                                         "--postgres"));
    if (!postgres.isEmpty() && (fuelDb.isEmpty() || goodsDb.isEmpty()))
        return usageError(QStringLiteral("с ключом --postgres нужны --fuel-db и --goods-db"));
    if (postgres.isEmpty() && !station.isEmpty())
        return usageError(QStringLiteral("каталог сети АЗС (--station) ведётся только на сервере "
                                         "PostgreSQL: нужен ключ --postgres"));
    if (regionGiven && station.isEmpty())
        return usageError(QStringLiteral("ключ --region действует только с --station"));
    if (!postgres.isEmpty() && rootGiven)
        return usageError(QStringLiteral("ключ --root не сочетается с --postgres"));

    QElapsedTimer timer;
    timer.start();
    StationGenerator generator(settings, [](const QString& line) {
        print(stderr, QStringLiteral("\r%1    ").arg(line));
        std::fflush(stderr);
    });
    try {
        std::unique_ptr<StationSink> sink;
        if (postgres.isEmpty())
            sink = std::make_unique<SqliteStationSink>(settings.root, settings.force);
        else
            sink = std::make_unique<PostgresStationSink>(postgres, fuelDb, goodsDb, settings.force);
        const StationSummary s = generator.run(*sink);
        std::fputs("\n", stderr);
        // Only now: the pair carries its names, so the catalogue never lists a half-loaded one.
        if (!station.isEmpty()) {
            try {
                ChainCatalogue::registerStation(postgres, {station, region, fuelDb, goodsDb, {}});
            } catch (const Exception& e) {
                print(stderr, QStringLiteral("torvi-stationdb: базы данных «%1» и «%2» загружены, "
                                             "но АЗС «%3» не внесена в каталог сети: %4. "
                                             "Повторите запуск с ключом --force\n")
                                  .arg(fuelDb, goodsDb, station, e.message()));
                return 1;
            }
            print(stdout, QStringLiteral("АЗС «%1» внесена в каталог сети «%2»\n")
                              .arg(station, QLatin1String(ChainCatalogue::kDatabase)));
        }
        print(stdout, QStringLiteral("%1: %2 заправок, %3 смен\n%4: %5 документов, %6 строк\n"
                                     "Время: %7 с\n")
                          .arg(s.fuelFile, QString::number(s.fillings), QString::number(s.shifts),
                               s.goodsFile, QString::number(s.documents), QString::number(s.lines),
                               QString::number(double(timer.elapsed()) / 1000.0, 'f', 1)));
        return 0;
    } catch (const Exception& e) {
        std::fputs("\n", stderr);
        print(stderr, QStringLiteral("torvi-stationdb: %1\n").arg(e.message()));
        return 1;
    }
}
