#include "common/WindowTestSupport.h"

#include "platform/core/DateTime.h"
#include "platform/data/sqlite/StationSchema.h"
#include "plugin/DmStatistic.h"
#include "windows/SmenaList.h"

#include <QCheckBox>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <memory>

// A shift row for the test station: number, start, end ("" while open).
struct Shift {
    int number;
    QString begin;
    QString end;
};

class TestSmenaList : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void numberColours_data();
    void numberColours();
    void selection_data();
    void selection();
    void quickSearch_data();
    void quickSearch();
    void helpPanelAndPlacement();

private:
    void useShifts(const QList<Shift>& shifts);
    bool select(const std::function<void(TSmenaListFrm*)>& act);
    int currentNumber(TSmenaListFrm* form) const;
    QModelIndex rowOf(TSmenaListFrm* form, int number) const;

    std::unique_ptr<WindowTestEnvironment> m_env;
    QTemporaryDir m_station;
    int m_smFrom = -1;
    int m_smTo = -1;
    TDateTime m_periodFrom = -1;
    TDateTime m_periodTo = -1;
};

namespace {

// The shifts of the small station the other tests use: 120 is still open.
const QList<Shift> kStation{{5, "2009-08-01 08:00:00.000", "2009-08-01 20:00:00.000"},
                            {11, "2009-08-04 08:00:00.000", "2009-08-04 20:00:00.000"},
                            {110, "2009-08-20 08:00:00.000", "2009-08-20 20:00:00.000"},
                            {116, "2009-08-23 08:00:00.000", "2009-08-23 20:00:00.000"},
                            {117, "2009-08-23 20:00:00.000", "2009-08-24 08:00:00.000"},
                            {119, "2009-08-24 20:00:00.000", "2009-08-25 08:00:00.000"},
                            {120, "2009-08-25 08:00:00.000", ""}};

TDateTime at(int day, int hour) {
    return encodeDateTime(2009, 8, day, hour);
}

} // namespace

void TestSmenaList::initTestCase() {
    m_env = std::make_unique<WindowTestEnvironment>();
    QVERIFY(m_station.isValid());
    CreateDmStatistic();
    dmStatistic->FuelDbPath = m_station.path();
}

void TestSmenaList::cleanupTestCase() {
    FreeDmStatistic();
    m_env.reset();
}

void TestSmenaList::init() {
    m_smFrom = m_smTo = -1;
    m_periodFrom = m_periodTo = -1;
    useShifts(kStation);
    SmenaListFrm = new TSmenaListFrm;
}

void TestSmenaList::cleanup() {
    delete SmenaListFrm.data();
    dmStatistic->CloseAllData();
}

void TestSmenaList::useShifts(const QList<Shift>& shifts) {
    dmStatistic->CloseAllData();
    const QString file = m_station.filePath(QStringLiteral("fuel.sqlite"));
    QFile::remove(file);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "shifts");
        db.setDatabaseName(file);
        QVERIFY(db.open());
        StationSchema::execute(db, StationSchema::fuelStatements());
        QSqlQuery insert(db);
        insert.prepare(
            "INSERT INTO SmSilo (SmNum, BegTime, EndTime, Operator) VALUES (?, ?, ?, ?)");
        for (const Shift& shift : shifts) {
            insert.addBindValue(shift.number);
            insert.addBindValue(shift.begin);
            insert.addBindValue(shift.end.isEmpty() ? QVariant() : QVariant(shift.end));
            insert.addBindValue(QStringLiteral("Иванова"));
            QVERIFY2(insert.exec(), qPrintable(insert.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("shifts");
    dmStatistic->cdsSmSilo.open();
}

bool TestSmenaList::select(const std::function<void(TSmenaListFrm*)>& act) {
    whenModalShown<TSmenaListFrm>(act);
    return SelectSmena(m_smFrom, m_smTo, m_periodFrom, m_periodTo, &dmStatistic->cdsSmSilo,
                       &dmStatistic->dsSmSilo);
}

QModelIndex TestSmenaList::rowOf(TSmenaListFrm* form, int number) const {
    const QAbstractItemModel* model = form->DBGrid1->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data(Qt::EditRole).toInt() == number)
            return model->index(row, 0);
    }
    return QModelIndex();
}

int TestSmenaList::currentNumber(TSmenaListFrm* form) const {
    return form->DBGrid1->currentIndex().siblingAtColumn(0).data(Qt::EditRole).toInt();
}

void TestSmenaList::numberColours_data() {
    QTest::addColumn<QList<Shift>>("shifts");
    QTest::addColumn<QList<int>>("red");
    QTest::newRow("120, 119, 117, 116: only 119")
        << QList<Shift>{{116, "2009-08-23 08:00:00.000", "2009-08-23 20:00:00.000"},
                        {117, "2009-08-23 20:00:00.000", "2009-08-24 08:00:00.000"},
                        {119, "2009-08-24 20:00:00.000", "2009-08-25 08:00:00.000"},
                        {120, "2009-08-25 08:00:00.000", ""}}
        << QList<int>{119};
    QTest::newRow("the station: every gap, never the lowest")
        << kStation << QList<int>{119, 116, 110, 11};
    QTest::newRow("one shift") << QList<Shift>{{7, "2009-08-01 08:00:00.000", ""}} << QList<int>{};
}

void TestSmenaList::numberColours() {
    QFETCH(QList<Shift>, shifts);
    QFETCH(QList<int>, red);
    useShifts(shifts);
    QList<int> painted;
    QList<int> listed;
    select([&](TSmenaListFrm* form) {
        const QImage image = form->DBGrid1->viewport()->grab().toImage();
        const QAbstractItemModel* model = form->DBGrid1->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QRect cell = form->DBGrid1->visualRect(model->index(row, 0));
            const int number = model->index(row, 0).data(Qt::EditRole).toInt();
            listed << number;
            // Numbers are right-aligned: the left edge of the cell shows its background.
            const QPoint probe(cell.left() + 3, cell.center().y());
            if (image.pixelColor(probe * image.devicePixelRatio()) == QColor(255, 0, 0))
                painted << number;
            // Any other column of the row stays plain.
            const QRect other = form->DBGrid1->visualRect(model->index(row, 1));
            QVERIFY(image.pixelColor(QPoint(other.left() + 3, other.center().y()) *
                                     image.devicePixelRatio()) != QColor(255, 0, 0));
        }
        form->reject();
    });
    QCOMPARE(listed.size(), shifts.size());
    QVERIFY2(std::is_sorted(listed.rbegin(), listed.rend()), "Смены идут не от новой к старой");
    QCOMPARE(painted, red);
    QVERIFY2(!SmenaListFrm->cloneCursor().active(), "Копия курсора осталась открытой");
    QVERIFY2(SmenaListFrm->DBGrid1->model() != &dmStatistic->dsSmSilo, "Сетка не отключена");
}

void TestSmenaList::selection_data() {
    QTest::addColumn<QList<int>>("clicked");
    QTest::addColumn<QString>("close");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QList<TDateTime>>("period");
    QTest::newRow("one shift") << QList<int>{116} << "ok" << true << QList<int>{116, 116}
                               << QList<TDateTime>{at(23, 8), at(23, 20)};
    QTest::newRow("117 and 120 by Ctrl, 120 open")
        << QList<int>{117, 120} << "ok" << true << QList<int>{117, 120}
        << QList<TDateTime>{at(23, 20), at(25, 8)};
    QTest::newRow("116 to 119") << QList<int>{116, 117, 119} << "ok" << true << QList<int>{116, 119}
                                << QList<TDateTime>{at(23, 8), at(25, 8)};
    QTest::newRow("the open shift alone has no end")
        << QList<int>{120} << "ok" << true << QList<int>{120, 120}
        << QList<TDateTime>{at(25, 8), 0.0};
    QTest::newRow("double click") << QList<int>{110} << "double click" << true
                                  << QList<int>{110, 110}
                                  << QList<TDateTime>{at(20, 8), at(20, 20)};
    QTest::newRow("double click below the rows: the current row")
        << QList<int>{110} << "double click below" << true << QList<int>{110, 110}
        << QList<TDateTime>{at(20, 8), at(20, 20)};
    QTest::newRow("cancel keeps the caller's values")
        << QList<int>{116} << "cancel" << false << QList<int>{-1, -1}
        << QList<TDateTime>{-1.0, -1.0};
    QTest::newRow("Esc cancels") << QList<int>{116} << "esc" << false << QList<int>{-1, -1}
                                 << QList<TDateTime>{-1.0, -1.0};
    QTest::newRow("F4 has no visible current-shift button")
        << QList<int>{116} << "f4" << false << QList<int>{-1, -1} << QList<TDateTime>{-1.0, -1.0};
}

void TestSmenaList::selection() {
    QFETCH(QList<int>, clicked);
    QFETCH(QString, close);
    QFETCH(bool, result);
    QFETCH(QList<int>, numbers);
    QFETCH(QList<TDateTime>, period);
    const bool chosen = select([&](TSmenaListFrm* form) {
        QItemSelectionModel* selection = form->DBGrid1->selectionModel();
        selection->clearSelection();
        for (int number : clicked)
            selection->setCurrentIndex(rowOf(form, number),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        if (close == QLatin1String("ok")) {
            form->BitBtn1->click();
        } else if (close == QLatin1String("cancel")) {
            form->BitBtn2->click();
        } else if (close == QLatin1String("esc")) {
            QTest::keyClick(form->DBGrid1, Qt::Key_Escape);
        } else if (close.startsWith(QLatin1String("double click"))) {
            QWidget* grid = form->DBGrid1->viewport();
            const QPoint at =
                close.endsWith(QLatin1String("below"))
                    ? QPoint(5, grid->height() - 3)
                    : form->DBGrid1->visualRect(rowOf(form, clicked.first())).center();
            QVERIFY(form->DBGrid1->indexAt(at).isValid() ==
                    !close.endsWith(QLatin1String("below")));
            QTest::mouseDClick(grid, Qt::LeftButton, {}, at);
        } else {
            QTest::keyClick(form->DBGrid1, Qt::Key_F4);
            QVERIFY(form->isVisible());
            form->reject();
        }
    });
    QCOMPARE(chosen, result);
    QCOMPARE(QList<int>({m_smFrom, m_smTo}), numbers);
    QCOMPARE(toQDateTime(m_periodFrom), toQDateTime(period[0]));
    QCOMPARE(toQDateTime(m_periodTo), toQDateTime(period[1]));
}

void TestSmenaList::quickSearch_data() {
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QList<int>>("found");
    QTest::newRow("1, 1, 7 within a second") << QStringList{"117"} << QList<int>{117};
    QTest::newRow("1, a pause, 7") << QStringList{"1", "7"} << QList<int>{120, 120};
    QTest::newRow("11 finds the newest shift starting so") << QStringList{"11"} << QList<int>{119};
    QTest::newRow("a number nobody has leaves the row") << QStringList{"9"} << QList<int>{5};
}

void TestSmenaList::quickSearch() {
    QFETCH(QStringList, typed);
    QFETCH(QList<int>, found);
    // The grid as SelectSmena wires it, shown without a modal loop so that the test can wait.
    TSmenaListFrm* form = SmenaListFrm;
    form->DBGrid1->setModel(&dmStatistic->dsSmSilo);
    form->show();
    form->DBGrid1->setCurrentIndex(rowOf(form, 5));
    QList<int> rows;
    for (const QString& digits : typed) {
        for (const QChar digit : digits) {
            QTest::keyClick(form->DBGrid1, digit.toLatin1());
            QTest::qWait(200);
        }
        QCOMPARE(form->searchText(), digits);
        // Nothing moves until a second after the last digit.
        QCOMPARE(currentNumber(form), rows.isEmpty() ? 5 : rows.last());
        QTRY_VERIFY_WITH_TIMEOUT(form->searchText().isEmpty(), 1500);
        rows << currentNumber(form);
    }
    QCOMPARE(rows, found);
    form->hide();
}

void TestSmenaList::helpPanelAndPlacement() {
    TSmenaListFrm* form = SmenaListFrm;
    QVERIFY(form->panSelectSmenaInfo->height() <= form->CheckBox1->sizeHint().height() + 1);
    QVERIFY(!form->Memo1->isVisibleTo(form));
    QCOMPARE(form->Memo1->toPlainText(), SmenaHelpLines().join(QLatin1Char(' ')));
    form->CheckBox1->click();
    QCOMPARE(form->panSelectSmenaInfo->height(), 170);
    QCOMPARE(form->Memo1->height(), 145);
    form->CheckBox1->click();
    QVERIFY(form->panSelectSmenaInfo->height() < 30);

    const QRect placed(40, 50, 600, 480);
    select([&](TSmenaListFrm* shown) {
        shown->setGeometry(placed);
        shown->reject();
    });
    delete SmenaListFrm.data();
    SmenaListFrm = new TSmenaListFrm;
    QCOMPARE(SmenaListFrm->geometry(), placed);
}

QTEST_MAIN(TestSmenaList)
#include "tst_smenalist.moc"
