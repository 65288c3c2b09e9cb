#include "common/StationFixture.h"

#include "common/Errors.h"
#include "platform/thread/SynchronizedCall.h"
#include "platform/ui/MessageBoxes.h"
#include "plugin/DmStatistic.h"
#include "plugin/HostFunctions.h"

#include "HostValues.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// What the fake host answers to GetPrivValue, and which codes it was asked.
QHash<int, QVariant> privAnswers;
QList<int> privAsked;

void fakeGetPrivValue(TorviVariant* result, int32_t code) {
    privAsked << code;
    const QVariant answer = privAnswers.value(code);
    if (answer.metaType().id() == QMetaType::Int)
        HostValues::setInt(result, answer.toInt());
    else if (answer.isValid())
        HostValues::setString(result, answer.toString());
}

using Put = QPair<int, QString>;

// A server that records the parameter puts and refuses the one at failIndex.
class RecordingServer : public TStatServer {
public:
    RecordingServer(QList<Put>* puts, int failIndex)
        : m_puts(puts)
        , m_failIndex(failIndex) {}
    void setStatParameter(int index, const QString& value) override {
        m_puts->append({index, value});
        if (index == m_failIndex)
            throw EDatabaseError(QStringLiteral("папка «%1» недоступна").arg(value));
    }
    QString statParameter(int) const override { return QString(); }
    std::shared_ptr<const TDataPacket> provide(const QString&, const QString&,
                                               const QHash<QString, TFieldType>&) override {
        auto packet = std::make_shared<TDataPacket>();
        TColumnBuilder grade(QStringLiteral("GsmName"), TFieldType::Unknown);
        grade.appendText("АИ-92");
        packet->columns.push_back(grade.finish());
        packet->rowCount = 1;
        return packet;
    }

private:
    QList<Put>* m_puts;
    int m_failIndex;
};

} // namespace

class TestDmStatistic : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_station = std::make_unique<StationFixture>();
        QVERIFY2(m_station->isValid(), qPrintable(m_station->error()));
        qputenv("DARA_ROOT", m_station->root().toUtf8());
    }

    void init() {
        HostFunctions::reset();
        privAnswers.clear();
        privAsked.clear();
        m_boxes.clear();
        MessageBoxes::setHandler([this](const MessageBoxes::Shown& shown) {
            m_boxes << shown;
            return QMessageBox::Ok;
        });
        CreateDmStatistic();
        // The folders as the menu handlers set them, in the suite's own spelling.
        dmStatistic->FuelDbPath = QStringLiteral("C:\\DARA\\DB\\");
        dmStatistic->GoodsDbPath = QStringLiteral("C:\\DARA\\DB\\TradeDB\\");
    }

    void cleanup() {
        FreeDmStatistic();
        MessageBoxes::setHandler({});
        HostFunctions::reset();
    }

    void computerName_data() {
        QTest::addColumn<bool>("hostAnswers");
        QTest::addColumn<QVariant>("code11");
        QTest::addColumn<QString>("code13");
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QList<int>>("asked");
        // clang-format off
        QTest::newRow("no GetPrivValue") << false << QVariant() << "" << "" << QList<int>{};
        QTest::newRow("11 is the text 1: local, 13 not asked")
            << true << QVariant("1") << "station-2" << "" << QList<int>{11};
        QTest::newRow("11 is 0: the computer of 13")
            << true << QVariant(0) << "station-2" << "station-2" << QList<int>{11, 13};
        QTest::newRow("11 is 2: the computer of 13")
            << true << QVariant(2) << "pg-host:5433" << "pg-host:5433" << QList<int>{11, 13};
        QTest::newRow("11 empty, 13 empty: local")
            << true << QVariant() << "" << "" << QList<int>{11, 13};
        // clang-format on
    }
    void computerName() {
        QFETCH(bool, hostAnswers);
        QFETCH(QVariant, code11);
        QFETCH(QString, code13);
        QFETCH(QString, computer);
        QFETCH(QList<int>, asked);
        if (hostAnswers)
            HostFunctions::GetPrivValue = fakeGetPrivValue;
        if (code11.isValid())
            privAnswers.insert(11, code11);
        privAnswers.insert(13, code13);

        // Both connections carry the same handlers.
        const QList<QPair<TClientDataSet*, TDCOMConnection*>> uses{
            {&dmStatistic->cdsGSM, &dmStatistic->DCOMConnection1},
            {&dmStatistic->cdsTovarStat, &dmStatistic->DCOMConnectionThread}};
        dmStatistic->cdsTovarStat.setCommandText(QStringLiteral("SELECT * FROM Category"));
        for (const auto& [set, connection] : uses) {
            privAsked.clear();
            const QString message = errorOf<EDatabaseError>([&] { set->open(); });
            QCOMPARE(privAsked, asked);
            QCOMPARE(connection->computerName(), computer);
            if (computer.isEmpty()) {
                QCOMPARE(message, QString());
                QVERIFY(set->active());
            } else {
                QVERIFY2(message.contains(QStringLiteral("«%1»").arg(computer)),
                         qPrintable(message));
                QVERIFY(!connection->connected());
                QVERIFY(!set->active());
            }
        }
        QVERIFY(m_boxes.isEmpty());
    }

    void parameterPush_data() {
        QTest::addColumn<QString>("goods");
        QTest::addColumn<QString>("fuel");
        QTest::addColumn<int>("failIndex");
        QTest::addColumn<QList<Put>>("puts");
        QTest::addColumn<QString>("box");
        const QString error = QStringLiteral("При установке параметра возникла ошибка: папка «%1» "
                                             "недоступна");
        // clang-format off
        QTest::newRow("both folders") << "G" << "F" << 0 << QList<Put>{{1, "G"}, {2, "F"}} << "";
        QTest::newRow("no fuel folder: only the goods one")
            << "G" << "" << 0 << QList<Put>{{1, "G"}} << "";
        QTest::newRow("no goods folder: put empty")
            << "" << "F" << 0 << QList<Put>{{1, ""}, {2, "F"}} << "";
        QTest::newRow("first put fails: second not tried")
            << "G" << "F" << 1 << QList<Put>{{1, "G"}} << error.arg("G");
        QTest::newRow("second put fails")
            << "G" << "F" << 2 << QList<Put>{{1, "G"}, {2, "F"}} << error.arg("F");
        // clang-format on
    }
    void parameterPush() {
        QFETCH(QString, goods);
        QFETCH(QString, fuel);
        QFETCH(int, failIndex);
        QFETCH(QList<Put>, puts);
        QFETCH(QString, box);
        dmStatistic->GoodsDbPath = goods;
        dmStatistic->FuelDbPath = fuel;
        QList<Put> recorded;
        dmStatistic->DCOMConnection1.setServerFactory([&](const QString&) {
            return std::make_unique<RecordingServer>(&recorded, failIndex);
        });
        dmStatistic->cdsGSM.open();
        QCOMPARE(recorded, puts);
        QVERIFY(dmStatistic->DCOMConnection1.connected());
        QVERIFY2(dmStatistic->cdsGSM.active(), "the open that connected goes on");
        QCOMPARE(dmStatistic->cdsGSM.recordCount(), 1);
        if (box.isEmpty()) {
            QVERIFY(m_boxes.isEmpty());
            return;
        }
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].caption, QStringLiteral("Ошибка"));
        QCOMPARE(m_boxes[0].text, box);
        QCOMPARE(m_boxes[0].icon, MessageBoxes::Icon::Error);
    }

    void parameterPushFromWorker() {
        // The goods extractor connects on its own thread: the failed put's box comes up on the
        // user interface thread, and the open goes on.
        QList<Put> recorded;
        dmStatistic->DCOMConnectionThread.setServerFactory(
            [&](const QString&) { return std::make_unique<RecordingServer>(&recorded, 2); });
        bool boxOnUiThread = false;
        MessageBoxes::setHandler([&](const MessageBoxes::Shown& shown) {
            boxOnUiThread = SynchronizedCall::onUiThread();
            m_boxes << shown;
            return QMessageBox::Ok;
        });
        dmStatistic->cdsTovarStat.setCommandText(QStringLiteral("SELECT * FROM Documents"));
        std::atomic<bool> done{false};
        std::thread worker([&] {
            dmStatistic->cdsTovarStat.open();
            done = true;
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 5000);
        worker.join();
        QVERIFY(finished);
        QCOMPARE(recorded.size(), 2);
        QVERIFY(dmStatistic->cdsTovarStat.active());
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY(boxOnUiThread);
    }

    void closeAllData_data() {
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("nothing open") << QStringList{};
        QTest::newRow("only the goods thread") << QStringList{"cdsTovarStat"};
        QTest::newRow("everything") << QStringList{"cdsLogtran", "cdsSmSilo",   "cdsGSM",
                                                   "cdsGoods",   "cdsCategory", "cdsTovarStat"};
    }
    void closeAllData() {
        QFETCH(QStringList, opened);
        TdmStatistic& dm = *dmStatistic;
        dm.cdsLogtran.setCommandText(QStringLiteral("SELECT * FROM LogTran"));
        dm.cdsTovarStat.setCommandText(QStringLiteral("SELECT * FROM Documents"));
        const QList<TClientDataSet*> sets{&dm.cdsLogtran, &dm.cdsSmSilo,   &dm.cdsGSM,
                                          &dm.cdsGoods,   &dm.cdsCategory, &dm.cdsTovarStat};
        for (TClientDataSet* set : sets) {
            if (opened.contains(set->name()))
                set->open();
        }
        dm.CloseAllData();
        for (TClientDataSet* set : sets)
            QVERIFY2(!set->active(), qPrintable(set->name()));
        QVERIFY(!dm.DCOMConnection1.connected());
        QVERIFY(!dm.DCOMConnectionThread.connected());
    }

    void storedDefinitions() {
        TdmStatistic& dm = *dmStatistic;
        dm.cdsSmSilo.open();
        QStringList headers;
        for (int c = 0; c < dm.dsSmSilo.columnCount(); ++c)
            headers << dm.dsSmSilo.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers,
                 (QStringList{"Номер смены", "Время начала", "Время окончания", "Оператор"}));
        QCOMPARE(dm.dsSmSilo.data(dm.dsSmSilo.index(0, 0)).toString(), QStringLiteral("120"));

        // Category names filter without regard to case; the unnamed category is listed too.
        dm.cdsCategory.open();
        QCOMPARE(dm.cdsCategory.recordCount(), 4);
        dm.cdsCategory.setFilter(QStringLiteral("Name in ('напитки')"));
        dm.cdsCategory.setFiltered(true);
        QCOMPARE(dm.cdsCategory.recordCount(), 2);

        dm.CloseAllData();
    }

private:
    std::unique_ptr<StationFixture> m_station;
    QList<MessageBoxes::Shown> m_boxes;
};

QTEST_GUILESS_MAIN(TestDmStatistic)
#include "tst_dmstatistic.moc"
