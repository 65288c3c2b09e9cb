#include "HostOptions.h"

#include "platform/core/DaraPaths.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

const QString kPluginFile = QStringLiteral("libtorvistat9.so");

// QApplication's own options that a user may pass to the host; they go on to QApplication.
const QStringList kToolkitOptionsWithValue{
    QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"), QStringLiteral("display"),
    QStringLiteral("geometry"),      QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowicon"),   QStringLiteral("qwindowtitle"),
    QStringLiteral("style"),         QStringLiteral("stylesheet"),
    QStringLiteral("session")};
const QStringList kToolkitFlags{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                QStringLiteral("nograb"), QStringLiteral("dograb"),
                                QStringLiteral("sync")};

// An option as the user typed it ("-x", "--x" or "--x=1"), for the error message.
QString spelledAs(const QStringList& arguments, const QString& name) {
    for (const QString& argument : arguments.mid(1)) {
        QString bare = argument.section(QLatin1Char('='), 0, 0);
        while (bare.startsWith(QLatin1Char('-')))
            bare.remove(0, 1);
        if (bare == name)
            return argument.section(QLatin1Char('='), 0, 0);
    }
    return name;
}

} // namespace

QString hostUsage() {
    return QStringLiteral(
        "Использование: torvi-host [параметры]\n"
        "\n"
        "Программа бэк-офиса АЗС: загружает модуль статистики и отвечает на его запросы.\n"
        "\n"
        "Параметры:\n"
        "  --plugin <файл>        модуль статистики (по умолчанию libtorvistat9.so,\n"
        "                         собранный рядом с программой)\n"
        "  --mode <число>         режим (значение 46); 0 и 3 — папка базы ГСМ из --fuel-db\n"
        "                         (по умолчанию 0)\n"
        "  --fuel-db <папка>      папка базы ГСМ (значение 5; по умолчанию $DARA_ROOT/DB/)\n"
        "  --goods-db <папка|база>\n"
        "                         папка базы товаров текущего отдела, на сервере сети —\n"
        "                         имя базы (отвечает библиотека товаров программы;\n"
        "                         по умолчанию $DARA_ROOT/DB/TradeDB/, на сервере TradeDB)\n"
        "  --stat-server <имя>    компьютер сервера статистики (значение 13): ХОСТ[:ПОРТ]\n"
        "                         или основной и резервные ХОСТ[:ПОРТ],ХОСТ[:ПОРТ],…;\n"
        "                         пусто — локальный сервер\n"
        "  --caption <текст>      подпись окна статистики по ГСМ (значение 16)\n"
        "  --offscreen-job        без оператора: построить статистику по ГСМ за 30 дней\n"
        "                         до --job-end, сохранить снимки окон в $DARA_ROOT/EXPORT/\n"
        "                         и завершить работу\n"
        "  --job-end <ГГГГ-ММ-ДД> день после периода --offscreen-job (по умолчанию сегодня)\n"
        "  --version              версия программы\n"
        "  -h, --help             эта справка\n");
}

QString defaultFuelDb() {
    return mapDaraPath(QStringLiteral("C:\\DARA\\DB\\"));
}

QString defaultExportFolder() {
    return mapDaraPath(QStringLiteral("C:\\DARA\\EXPORT\\"));
}

QString defaultPluginPath(const QString& applicationDir) {
    const QDir dir(applicationDir);
    // Installed first: an installed host must not take up a plug-in that merely lies where a
    // build tree would have put it.
    const QStringList candidates{
        QDir::cleanPath(dir.filePath(QStringLiteral(TORVI_HOST_INSTALLED_PLUGIN_RELATIVE))),
        QDir::cleanPath(dir.filePath(QStringLiteral(TORVI_HOST_PLUGIN_RELATIVE))),
        dir.filePath(kPluginFile),
        QDir::cleanPath(dir.filePath(QStringLiteral("../lib/") + kPluginFile)),
    };
    for (const QString& candidate : candidates)
        if (QFileInfo(candidate).isFile())
            return candidate;
    return candidates.first();
}

QString executableDir() {
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
}

HostOptionsParse parseHostOptions(const QStringList& arguments, const QString& defaultPluginPath) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption plugin(QStringLiteral("plugin"), QString(), QStringLiteral("file"));
    const QCommandLineOption mode(QStringLiteral("mode"), QString(), QStringLiteral("number"));
    const QCommandLineOption fuelDb(QStringLiteral("fuel-db"), QString(), QStringLiteral("dir"));
    const QCommandLineOption goodsDb(QStringLiteral("goods-db"), QString(), QStringLiteral("dir"));
    const QCommandLineOption statServer(QStringLiteral("stat-server"), QString(),
                                        QStringLiteral("host"));
    const QCommandLineOption caption(QStringLiteral("caption"), QString(), QStringLiteral("text"));
    const QCommandLineOption offscreenJob(QStringLiteral("offscreen-job"));
    const QCommandLineOption jobEnd(QStringLiteral("job-end"), QString(), QStringLiteral("date"));
    parser.addOptions(
        {help, version, plugin, mode, fuelDb, goodsDb, statServer, caption, offscreenJob, jobEnd});
    QList<QCommandLineOption> toolkitOptions;
    for (const QString& name : kToolkitOptionsWithValue)
        toolkitOptions << QCommandLineOption(name, QString(), QStringLiteral("value"));
    for (const QString& name : kToolkitFlags)
        toolkitOptions << QCommandLineOption(name);
    for (const QCommandLineOption& option : toolkitOptions)
        parser.addOption(option);

    HostOptionsParse result;
    if (!parser.parse(arguments)) {
        // Qt's own wording is English; what went wrong is named again in Russian.
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            result.error = QStringLiteral("Неизвестный параметр: %1")
                               .arg(spelledAs(arguments, unknown.first()));
        else if (arguments.size() > 1 && arguments.last().startsWith(QLatin1Char('-')))
            result.error = QStringLiteral("Не указано значение параметра %1").arg(arguments.last());
        else
            result.error = QStringLiteral("Неверная командная строка: %1").arg(parser.errorText());
        return result;
    }
    if (parser.isSet(help)) {
        result.helpRequested = true;
        return result;
    }
    if (parser.isSet(version)) {
        result.versionRequested = true;
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.error =
            QStringLiteral("Лишний аргумент: «%1»").arg(parser.positionalArguments().first());
        return result;
    }

    HostOptions options;
    options.pluginPath = parser.isSet(plugin) ? parser.value(plugin) : defaultPluginPath;
    if (options.pluginPath.isEmpty()) {
        result.error = QStringLiteral("Не указан файл модуля статистики (--plugin)");
        return result;
    }
    if (parser.isSet(mode)) {
        bool ok = false;
        options.mode = parser.value(mode).trimmed().toInt(&ok);
        if (!ok) {
            result.error = QStringLiteral("Режим (--mode) должен быть целым числом, а не «%1»")
                               .arg(parser.value(mode));
            return result;
        }
    }
    options.fuelDb = parser.isSet(fuelDb) ? parser.value(fuelDb) : defaultFuelDb();
    if (parser.isSet(goodsDb)) {
        options.goodsDb = parser.value(goodsDb).trimmed();
        if (options.goodsDb.isEmpty()) {
            result.error = QStringLiteral("Не указана база товаров (--goods-db)");
            return result;
        }
    }
    options.statServer = parser.value(statServer).trimmed();
    options.caption = parser.value(caption);
    options.offscreenJob = parser.isSet(offscreenJob);
    if (parser.isSet(jobEnd)) {
        if (!options.offscreenJob) {
            result.error =
                QStringLiteral("Параметр --job-end задаёт период только для --offscreen-job");
            return result;
        }
        options.jobEnd = QDate::fromString(parser.value(jobEnd), QStringLiteral("yyyy-MM-dd"));
        // The same bound as torvi-stationdb's first day: no station history is older.
        if (!options.jobEnd.isValid() || options.jobEnd.year() < 1900) {
            result.error =
                QStringLiteral("Дата --job-end «%1» не в виде ГГГГ-ММ-ДД или раньше 1900 года")
                    .arg(parser.value(jobEnd));
            return result;
        }
    } else {
        options.jobEnd = QDate::currentDate();
    }
    for (const QCommandLineOption& option : toolkitOptions) {
        if (!parser.isSet(option))
            continue;
        const QString name = option.names().first();
        options.toolkitArguments << QLatin1Char('-') + name;
        if (kToolkitOptionsWithValue.contains(name))
            options.toolkitArguments << parser.value(option);
    }
    result.options = options;
    return result;
}
