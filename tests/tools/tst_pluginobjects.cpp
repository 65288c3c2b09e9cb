#include "common/WindowTestSupport.h"

#include "HostGoods.h"
#include "PluginObjectNames.h"

#include "extraction/Progress.h"
#include "plugin/DmStatistic.h"
#include "plugin/StatDbPaths.h"
#include "report_viewer/RptForm.h"
#include "windows/GSMStat.h"
#include "windows/TovarStat.h"
#include "windows/Value.h"

#include <QtTest>

#include "common/TestFiles.h"

#include <algorithm>
#include <memory>

// The names the host's scripted operator finds the plug-in's windows and controls by: each one
// present, of the class the operator uses it as, in the window it is listed under. No server is
// needed: every listed control exists from the window's creation on.
class TestPluginObjects : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        // The viewer reads the suite's settings file under the DARA folder.
        qputenv("DARA_ROOT", QFile::encodeName(m_root.path()));
    }

    void namedControls_data() {
        QTest::addColumn<int>("window");
        const auto& windows = PluginObjects::reliedOn();
        for (int i = 0; i < int(windows.size()); ++i)
            QTest::newRow(windows[size_t(i)].name) << i;
    }
    void namedControls() {
        QFETCH(int, window);
        const PluginObjects::Window& listed = PluginObjects::reliedOn()[size_t(window)];
        const std::unique_ptr<QWidget> made = make(QLatin1String(listed.name));
        QVERIFY2(made, "the list names a window the plug-in does not make");
        QCOMPARE(made->objectName(), QLatin1String(listed.name));
        for (const PluginObjects::Control& control : listed.controls) {
            const QList<QObject*> found = made->findChildren<QObject*>(QLatin1String(control.name));
            QVERIFY2(std::any_of(found.begin(), found.end(),
                                 [&](QObject* o) { return o->inherits(control.className); }),
                     qPrintable(QStringLiteral("%1 has no %2 named %3")
                                    .arg(listed.name, control.className, control.name)));
            if (QLatin1String(control.name) == QLatin1String(PluginObjects::Chart1)) {
                const auto view = std::find_if(found.begin(), found.end(), [](QObject* o) {
                    return o->metaObject()->indexOfSignal(PluginObjects::pointClickedSignature) >=
                           0;
                });
                QVERIFY2(view != found.end(), "the chart has no point click signal");
            }
        }
    }

    // --goods-db: the host's goods library answers the plug-in's own lookup, and leaves no link in
    // the suite's folder; a goods library of the suite's there is never replaced.
    void goodsLibraryOfTheHost_data() {
        QTest::addColumn<QByteArray>("planted"); // what stands at the library's name before
        QTest::addColumn<QString>("error");
        QTest::newRow("named database") << QByteArray() << "";
        QTest::newRow("the suite's own library there")
            << QByteArray("ELF?") << "уже есть библиотека товаров";
    }
    void goodsLibraryOfTheHost() {
        QFETCH(QByteArray, planted);
        QFETCH(QString, error);
        const QString name = goodsLibraryPath();
        // Never through a link a faulty run left: it would land in the host's library.
        QVERIFY(planted.isEmpty() || (!QFileInfo(name).isSymLink() && writeBytes(name, planted)));
        const QString message =
            HostGoods::install(QStringLiteral(GOODS_LIBRARY), QStringLiteral("station02_goods"));
        QVERIFY2(error.isEmpty() ? message.isEmpty() : message.contains(error),
                 qPrintable(message));
        if (planted.isEmpty()) {
            QCOMPARE(GetGoodsDbPath(), QStringLiteral("station02_goods"));
            QVERIFY(!QFileInfo(name).exists() && !QFileInfo(name).isSymLink());
        } else {
            QCOMPARE(readBytes(name), planted);
            QVERIFY(QFile::remove(name));
        }
    }

private:
    std::unique_ptr<QWidget> make(QLatin1String name) {
        if (name == QLatin1String(PluginObjects::fmGSMStat))
            return std::make_unique<TfmGSMStat>(m_dm);
        if (name == QLatin1String(PluginObjects::fmTovarStat))
            return std::make_unique<TfmTovarStat>(m_dm);
        if (name == QLatin1String(PluginObjects::fmProgress))
            return std::make_unique<TfmProgress>();
        if (name == QLatin1String(PluginObjects::fmValue))
            return std::make_unique<TfmValue>();
        if (name == QLatin1String(PluginObjects::RptFrm))
            return std::make_unique<TRptFrm>();
        return nullptr;
    }

    WindowTestEnvironment m_env;
    QTemporaryDir m_root;
    TdmStatistic m_dm;
};

QTEST_MAIN(TestPluginObjects)
#include "tst_pluginobjects.moc"
