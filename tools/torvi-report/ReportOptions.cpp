#include "ReportOptions.h"

#include "platform/core/DaraPaths.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace {

const QStringList kFuelSchemas{QStringLiteral("Время - Литры"), QStringLiteral("Время - Суммы"),
                               QStringLiteral("Время - Заправок")};
const QStringList kGoodsSchemas{QStringLiteral("Время - Суммы"),
                                QStringLiteral("Время - Количество"),
                                QStringLiteral("Время - Количество продаж")};
const QStringList kUnitCaptions{QStringLiteral("минута"), QStringLiteral("час"),
                                QStringLiteral("сутки"),  QStringLiteral("неделя"),
                                QStringLiteral("месяц"),  QStringLiteral("год")};
const QStringList kUnitNames{QStringLiteral("minute"), QStringLiteral("hour"),
                             QStringLiteral("day"),    QStringLiteral("week"),
                             QStringLiteral("month"),  QStringLiteral("year")};
const QStringList kFormats{QStringLiteral("pdf"), QStringLiteral("html"), QStringLiteral("png"),
                           QStringLiteral("txt"), QStringLiteral("csv"),  QStringLiteral("xlsx")};

// The options that take a value; --step takes two.
const QStringList kValued{
    QStringLiteral("schema"),   QStringLiteral("from"),        QStringLiteral("to"),
    QStringLiteral("period"),   QStringLiteral("grade"),       QStringLiteral("category"),
    QStringLiteral("item"),     QStringLiteral("liters-from"), QStringLiteral("liters-to"),
    QStringLiteral("fuel-db"),  QStringLiteral("goods-db"),    QStringLiteral("stat-server"),
    QStringLiteral("out"),      QStringLiteral("size"),        QStringLiteral("compare"),
    QStringLiteral("stations"), QStringLiteral("region"),      QStringLiteral("split-by")};
const QStringList kFlags{QStringLiteral("all"),    QStringLiteral("all-items"),
                         QStringLiteral("split"),  QStringLiteral("csv-c"),
                         QStringLiteral("quiet"),  QStringLiteral("help"),
                         QStringLiteral("version")};

struct TRefused {
    QString message;
};

[[noreturn]] void refuse(const QString& message) {
    throw TRefused{message};
}

std::optional<QDateTime> parseMoment(const QString& text) {
    const QString t = text.trimmed();
    for (const char* format : {"yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd HH:mm",
                               "yyyy-MM-ddTHH:mm", "dd.MM.yyyy HH:mm:ss", "dd.MM.yyyy HH:mm"}) {
        const QDateTime moment = QDateTime::fromString(t, QLatin1String(format));
        if (moment.isValid())
            return QDateTime(moment.date(), moment.time());
    }
    for (const char* format : {"yyyy-MM-dd", "dd.MM.yyyy"}) {
        const QDate day = QDate::fromString(t, QLatin1String(format));
        if (day.isValid())
            return QDateTime(day, QTime(0, 0));
    }
    return std::nullopt;
}

} // namespace

const QStringList& schemaCaptions(ReportOptions::Subject subject) {
    return subject == ReportOptions::Subject::Fuel ? kFuelSchemas : kGoodsSchemas;
}

namespace {

int schemaOf(const QString& text, ReportOptions::Subject subject) {
    const QStringList& captions = schemaCaptions(subject);
    bool number = false;
    const int index = text.trimmed().toInt(&number);
    if (number && index >= 0 && index < captions.size())
        return index;
    for (int i = 0; i < captions.size(); ++i) {
        const QString short_ = captions.at(i).section(QStringLiteral(" - "), 1);
        if (text.trimmed().compare(captions.at(i), Qt::CaseInsensitive) == 0 ||
            text.trimmed().compare(short_, Qt::CaseInsensitive) == 0)
            return i;
    }
    refuse(QStringLiteral("Неизвестная схема выборки (--schema): «%1»; возможны 0, 1, 2 или «%2»")
               .arg(text, captions.join(QStringLiteral("», «"))));
}

double literBound(const QString& option, const QString& text) {
    QString plain = text.trimmed();
    plain.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(plain, &ok);
    if (!ok || !std::isfinite(value) || value < 0)
        refuse(QStringLiteral("Граница литров (--%1) должна быть неотрицательным числом, а не «%2»")
                   .arg(option, text));
    return value;
}

} // namespace

std::optional<std::pair<QDateTime, QDateTime>> relativePeriod(const QString& name,
                                                              const QDateTime& now) {
    const QDate today = now.date();
    const auto days = [](QDate from, QDate to) {
        return std::make_pair(QDateTime(from, QTime(0, 0)), QDateTime(to, QTime(0, 0)));
    };
    const QDate monthStart(today.year(), today.month(), 1);
    const QDate yearStart(today.year(), 1, 1);
    if (name == QLatin1String("yesterday"))
        return days(today.addDays(-1), today);
    if (name == QLatin1String("today"))
        return days(today, today.addDays(1));
    if (name == QLatin1String("last-7-days"))
        return days(today.addDays(-7), today);
    if (name == QLatin1String("last-30-days"))
        return days(today.addDays(-30), today);
    if (name == QLatin1String("this-month"))
        return days(monthStart, today.addDays(1));
    if (name == QLatin1String("last-month"))
        return days(monthStart.addMonths(-1), monthStart);
    if (name == QLatin1String("this-year"))
        return days(yearStart, today.addDays(1));
    if (name == QLatin1String("last-year"))
        return days(yearStart.addYears(-1), yearStart);
    return std::nullopt;
}

QString expandOutputName(const QString& name, const QDateTime& from, const QDateTime& to) {
    QString expanded = name;
    expanded.replace(QStringLiteral("{from}"), from.toString(QStringLiteral("yyyy-MM-dd")));
    expanded.replace(QStringLiteral("{to}"), to.toString(QStringLiteral("yyyy-MM-dd")));
    return expanded;
}

ReportOptionsParse parseReportOptions(const QStringList& arguments, const QDateTime& now) {
    ReportOptionsParse result;
    try {
        ReportOptions options;
        std::optional<QString> subject, schema, from, to, period;
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            const QString argument = arguments.at(i);
            if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
                if (subject)
                    refuse(QStringLiteral("Лишний аргумент: «%1»").arg(argument));
                subject = argument;
                continue;
            }
            QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
            std::optional<QString> inlineValue;
            if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
                inlineValue = name.mid(eq + 1);
                name.truncate(eq);
            }
            if (name == QLatin1String("h"))
                name = QStringLiteral("help");
            const auto value = [&]() -> QString {
                if (inlineValue)
                    return *inlineValue;
                if (i + 1 >= arguments.size())
                    refuse(QStringLiteral("Не указано значение параметра --%1").arg(name));
                return arguments.at(++i);
            };
            if (name == QLatin1String("step")) {
                QString count = inlineValue ? *inlineValue : value();
                QString unit;
                if (count.contains(QLatin1Char(' '))) {
                    unit = count.section(QLatin1Char(' '), 1).trimmed();
                    count = count.section(QLatin1Char(' '), 0, 0);
                } else if (i + 1 < arguments.size()) {
                    unit = arguments.at(++i);
                } else {
                    refuse(QStringLiteral(
                        "После --step нужны число и единица, например --step 1 час"));
                }
                bool ok = false;
                options.stepMultiplier = count.toInt(&ok);
                if (!ok || options.stepMultiplier < 1 || options.stepMultiplier > 1000)
                    refuse(QStringLiteral(
                               "Число шагов (--step) должно быть целым от 1 до 1000, а не «%1»")
                               .arg(count));
                qsizetype index = kUnitCaptions.indexOf(unit.toLower());
                if (index < 0)
                    index = kUnitNames.indexOf(unit.toLower());
                if (index < 0)
                    refuse(QStringLiteral("Неизвестная единица шага (--step): «%1»; возможны %2 "
                                          "или %3")
                               .arg(unit, kUnitCaptions.join(QStringLiteral(", ")),
                                    kUnitNames.join(QStringLiteral(", "))));
                options.stepUnit = int(index);
            } else if (kFlags.contains(name)) {
                if (inlineValue)
                    refuse(QStringLiteral("Параметр --%1 не принимает значения").arg(name));
                if (name == QLatin1String("help")) {
                    result.helpRequested = true;
                    return result;
                }
                if (name == QLatin1String("version")) {
                    result.versionRequested = true;
                    return result;
                }
                if (name == QLatin1String("all"))
                    options.all = true;
                else if (name == QLatin1String("all-items")) {
                    options.all = true;
                    options.selection = ReportOptions::Selection::GoodsItems;
                } else if (name == QLatin1String("split"))
                    options.split = true;
                else if (name == QLatin1String("csv-c"))
                    options.machineCsv = true;
                else
                    options.quiet = true;
            } else if (kValued.contains(name)) {
                const QString v = value();
                if (name == QLatin1String("schema"))
                    schema = v;
                else if (name == QLatin1String("from"))
                    from = v;
                else if (name == QLatin1String("to"))
                    to = v;
                else if (name == QLatin1String("period"))
                    period = v;
                else if (name == QLatin1String("grade") || name == QLatin1String("category") ||
                         name == QLatin1String("item")) {
                    const auto kind =
                        name == QLatin1String("grade")      ? ReportOptions::Selection::Grades
                        : name == QLatin1String("category") ? ReportOptions::Selection::Categories
                                                            : ReportOptions::Selection::GoodsItems;
                    if (!options.items.isEmpty() && kind != options.selection)
                        refuse(QStringLiteral("Категории (--category) и товары (--item) в одном "
                                              "отчёте не смешиваются"));
                    options.selection = kind;
                    options.items << v;
                } else if (name == QLatin1String("liters-from"))
                    options.literLow = literBound(name, v);
                else if (name == QLatin1String("liters-to"))
                    options.literHigh = literBound(name, v);
                else if (name == QLatin1String("compare")) {
                    const QStringList kinds{QStringLiteral("none"), QStringLiteral("previous"),
                                            QStringLiteral("year")};
                    options.compare = int(kinds.indexOf(v.toLower()));
                    if (options.compare < 0)
                        refuse(QStringLiteral("Неизвестное сравнение (--compare): «%1»; возможны "
                                              "previous, year или none")
                                   .arg(v));
                } else if (name == QLatin1String("fuel-db"))
                    options.fuelDb = v;
                else if (name == QLatin1String("goods-db"))
                    options.goodsDb = v;
                else if (name == QLatin1String("stat-server"))
                    options.statServer = v.trimmed();
                else if (name == QLatin1String("out"))
                    options.outputs << v;
                else if (name == QLatin1String("stations")) {
                    options.chain = true;
                    if (v.trimmed() != QLatin1String("all"))
                        for (const QString& station : v.split(QLatin1Char(',')))
                            if (!station.trimmed().isEmpty())
                                options.stations << station.trimmed();
                    if (v.trimmed() != QLatin1String("all") && options.stations.isEmpty())
                        refuse(QStringLiteral("Не названа ни одна АЗС (--stations): укажите all "
                                              "или имена через запятую"));
                } else if (name == QLatin1String("region")) {
                    options.chain = true;
                    options.region = v.trimmed();
                } else if (name == QLatin1String("split-by")) {
                    if (v != QLatin1String("station"))
                        refuse(QStringLiteral("Линии делятся (--split-by) только по АЗС: station, "
                                              "а не «%1»")
                                   .arg(v));
                    options.splitByStation = true;
                } else {
                    const QStringList sides = v.split(QRegularExpression(QStringLiteral("[x×X]")));
                    bool w = false, h = false;
                    const QSize size(sides.value(0).toInt(&w), sides.value(1).toInt(&h));
                    if (sides.size() != 2 || !w || !h || size.width() < 100 ||
                        size.height() < 100 || size.width() > 10000 || size.height() > 10000)
                        refuse(QStringLiteral("Размер рисунка (--size) задаётся как ШxВ от "
                                              "100x100 до 10000x10000, а не «%1»")
                                   .arg(v));
                    options.pictureSize = size;
                }
            } else {
                refuse(QStringLiteral("Неизвестный параметр: %1").arg(argument));
            }
        }

        if (!subject)
            refuse(QStringLiteral("Не указано, что строить: fuel (ГСМ) или goods (товары)"));
        if (*subject == QLatin1String("fuel"))
            options.subject = ReportOptions::Subject::Fuel;
        else if (*subject == QLatin1String("goods"))
            options.subject = ReportOptions::Subject::Goods;
        else
            refuse(QStringLiteral("Неизвестный вид статистики: «%1»; возможны fuel или goods")
                       .arg(*subject));
        const bool fuel = options.subject == ReportOptions::Subject::Fuel;
        if (schema)
            options.schema = schemaOf(*schema, options.subject);

        if (fuel) {
            if (options.selection != ReportOptions::Selection::Grades)
                refuse(QStringLiteral("Для ГСМ выбираются виды топлива (--grade или --all), а не "
                                      "категории и товары"));
        } else {
            if (options.selection == ReportOptions::Selection::Grades) {
                if (!options.items.isEmpty())
                    refuse(QStringLiteral("Для товаров выбираются категории (--category) или "
                                          "товары (--item), а не виды топлива"));
                options.selection = ReportOptions::Selection::Categories;
            }
            if (options.literLow > 0 || options.literHigh > 0)
                refuse(QStringLiteral("Границы литров (--liters-from, --liters-to) есть только у "
                                      "статистики ГСМ"));
        }
        if (options.splitByStation && !options.chain)
            refuse(QStringLiteral("По АЗС (--split-by station) делится только статистика сети: "
                                  "укажите --stations или --region"));
        if (options.chain) {
            if (options.statServer.isEmpty())
                refuse(QStringLiteral("Статистика сети (--stations, --region) строится только "
                                      "по серверу статистики сети: --stat-server ХОСТ[:ПОРТ]"));
            if (!options.fuelDb.isEmpty() || !options.goodsDb.isEmpty())
                refuse(QStringLiteral("Базы данных АЗС сети берутся из каталога сети: --fuel-db "
                                      "и --goods-db с --stations и --region не задаются"));
            if (options.split)
                refuse(QStringLiteral("В статистике сети линии делятся по АЗС: --split-by "
                                      "station вместо --split"));
            if (options.selection == ReportOptions::Selection::GoodsItems)
                refuse(QStringLiteral("В статистике сети товары выбираются по категориям "
                                      "(--category или --all)"));
            if (options.literLow > 0 || options.literHigh > 0)
                refuse(QStringLiteral("Границы литров в статистике сети не задаются"));
        }
        if (options.all && !options.items.isEmpty())
            refuse(QStringLiteral("Указаны и --all, и отдельные позиции: выберите одно"));
        if (!options.all && options.items.isEmpty())
            refuse(fuel ? QStringLiteral("Не указан вид топлива: --grade <название> или --all")
                        : QStringLiteral("Не выбран товар/категория: --category, --item, --all "
                                         "или --all-items"));
        if (options.literHigh > 0 && options.literLow >= options.literHigh)
            refuse(QStringLiteral("Нижняя граница литров должна быть меньше верхней"));

        if (period && (from || to))
            refuse(QStringLiteral("Период задаётся либо --period, либо --from и --to"));
        if (from.has_value() != to.has_value())
            refuse(from ? QStringLiteral("Не указан конец периода (--to)")
                        : QStringLiteral("Не указано начало периода (--from)"));
        if (from) {
            const auto start = parseMoment(*from);
            if (!start)
                refuse(QStringLiteral("Неверная дата --from: «%1»; ожидается ГГГГ-ММ-ДД или "
                                      "ГГГГ-ММ-ДД ЧЧ:ММ[:СС]")
                           .arg(*from));
            const auto end = parseMoment(*to);
            if (!end)
                refuse(QStringLiteral("Неверная дата --to: «%1»; ожидается ГГГГ-ММ-ДД или "
                                      "ГГГГ-ММ-ДД ЧЧ:ММ[:СС]")
                           .arg(*to));
            options.from = *start;
            options.to = *end;
        } else {
            const QString name = period.value_or(QStringLiteral("yesterday"));
            const auto bounds = relativePeriod(name, now);
            if (!bounds)
                refuse(QStringLiteral("Неизвестный период (--period): «%1»; возможны yesterday, "
                                      "today, last-7-days, last-30-days, this-month, last-month, "
                                      "this-year, last-year")
                           .arg(name));
            options.from = bounds->first;
            options.to = bounds->second;
        }
        if (options.from >= options.to)
            refuse(QStringLiteral("Задан неверный период выборки: начало %1 не раньше конца %2")
                       .arg(options.from.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                            options.to.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))));

        // As the host's plug-in finds them: the suite's usual folders, which a PostgreSQL
        // server reads as the databases named by their last part.
        if (options.fuelDb.isEmpty())
            options.fuelDb = mapDaraPath(QStringLiteral("C:\\DARA\\DB\\"));
        if (options.goodsDb.isEmpty())
            options.goodsDb = mapDaraPath(QStringLiteral("C:\\DARA\\DB\\TradeDB\\"));

        if (options.outputs.isEmpty())
            refuse(QStringLiteral("Не указан ни один файл результата (--out ФАЙЛ)"));
        for (QString& output : options.outputs) {
            output = expandOutputName(output, options.from, options.to);
            if (!kFormats.contains(QFileInfo(output).suffix().toLower()))
                refuse(QStringLiteral("Неизвестный формат файла «%1»: ожидается .pdf, .html, "
                                      ".png, .txt, .csv или .xlsx")
                           .arg(output));
        }
        result.options = options;
    } catch (const TRefused& refused) {
        result.error = refused.message;
    }
    return result;
}

QString reportUsage() {
    return QStringLiteral(
        "Использование: torvi-report fuel|goods [параметры] --out ФАЙЛ [--out ФАЙЛ ...]\n"
        "\n"
        "Строит статистику продаж ГСМ (fuel) или товаров (goods) так же, как окна статистики,\n"
        "без окна, и записывает отчёт и данные графика в файлы.\n"
        "\n"
        "Что строить:\n"
        "  --schema СХЕМА         схема выборки: 0, 1, 2 или подпись окна\n"
        "                         ГСМ: «Время - Литры», «Время - Суммы», «Время - Заправок»;\n"
        "                         товары: «Время - Суммы», «Время - Количество»,\n"
        "                         «Время - Количество продаж» (по умолчанию 0)\n"
        "  --from ДАТА --to ДАТА  период: ГГГГ-ММ-ДД или ГГГГ-ММ-ДД ЧЧ:ММ[:СС]\n"
        "                         (начало входит в период, конец — нет)\n"
        "  --period ИМЯ           период относительно сегодняшнего дня (местное время):\n"
        "                         yesterday, today, last-7-days, last-30-days, this-month,\n"
        "                         last-month, this-year, last-year (по умолчанию yesterday;\n"
        "                         today и this-… — по конец сегодняшнего дня)\n"
        "  --step N ЕДИНИЦА       шаг: N от 1 до 1000 и минута|час|сутки|неделя|месяц|год\n"
        "                         (или minute|hour|day|week|month|year; месяц — 30 дней,\n"
        "                         год — 365 дней; по умолчанию 1 час)\n"
        "  --grade НАЗВАНИЕ       вид топлива (ГСМ), можно несколько раз\n"
        "  --category НАЗВ|КОД    категория товаров, можно несколько раз\n"
        "  --item НАЗВ|КОД        товар, можно несколько раз\n"
        "  --all                  все виды топлива (ГСМ) или все категории (товары)\n"
        "  --all-items            все товары\n"
        "  --split                отдельная линия для каждого вида топлива, категории, товара\n"
        "  --liters-from N        ГСМ: только заправки от N литров\n"
        "  --liters-to N          ГСМ: только заправки меньше N литров\n"
        "  --compare previous|year рядом с каждой линией пунктиром прошлый период той же длины\n"
        "                         или те же даты год назад; в отчете и файлах их итоги\n"
        "\n"
        "Где данные (как у torvi-host):\n"
        "  --fuel-db ПАПКА|БАЗА   база ГСМ (по умолчанию $DARA_ROOT/DB/)\n"
        "  --goods-db ПАПКА|БАЗА  база товаров (по умолчанию $DARA_ROOT/DB/TradeDB/)\n"
        "  --stat-server ХОСТ[:ПОРТ][,ХОСТ[:ПОРТ]...]\n"
        "                         сервер статистики сети (PostgreSQL); в списке — основной\n"
        "                         и резервные, читается резервный, пока он доступен;\n"
        "                         без него — файлы станции\n"
        "\n"
        "Статистика сети (АЗС из каталога сети на сервере --stat-server):\n"
        "  --stations all|ИМЯ,... все АЗС каталога или названные через запятую\n"
        "  --region РЕГИОН        АЗС региона (вместе с --stations — названные из региона)\n"
        "  --split-by station     отдельная линия для каждой АЗС (без него — их сумма)\n"
        "\n"
        "Результат (формат по расширению; {from} и {to} в имени заменяются границами периода\n"
        "в виде ГГГГ-ММ-ДД):\n"
        "  --out ФАЙЛ.pdf         отчёт, напечатанный как в окне просмотра отчётов\n"
        "  --out ФАЙЛ.html        страница отчёта (кодировка windows-1251), рисунок рядом — "
        "ФАЙЛ.bmp\n"
        "  --out ФАЙЛ.png         весь график, все страницы, размером --size\n"
        "  --out ФАЙЛ.txt         таблица итогов по позициям\n"
        "  --out ФАЙЛ.csv         данные графика для электронной таблицы: «;», «,» в числах,\n"
        "                         UTF-8 с BOM, даты дд.ММ.гггг ЧЧ:мм\n"
        "  --out ФАЙЛ.xlsx        книга: данные, итоги и график\n"
        "  --csv-c                CSV в машинном виде: «,», «.» в числах, даты ISO 8601, без BOM\n"
        "  --size ШxВ             размер рисунка .png (по умолчанию 1200x700)\n"
        "  --quiet                не показывать ход построения\n"
        "  --version              версия программы\n"
        "  -h, --help             эта справка\n"
        "\n"
        "Пример: продажи ГСМ за вчера по часам, по видам топлива:\n"
        "  torvi-report fuel --period yesterday --step 1 час --all --split \\\n"
        "      --out \"$DARA_ROOT/EXPORT/fuel-{from}.pdf\" --out "
        "\"$DARA_ROOT/EXPORT/fuel-{from}.xlsx\"\n");
}
