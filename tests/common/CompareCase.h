#pragma once

// The comparison with an earlier period as both statistics windows offer it through their shared
// frame, run against the small hand-built station: the comparison chosen in the chart's menu, the
// earlier period's points at this period's times with their own dates in the value window, the
// report's block and the box's line only with it, every page in the saved data through the save
// dialog too, the choice back after reopening.

#include "common/CaptionFit.h"
#include "common/TestFiles.h"
#include "common/WindowTestSupport.h"

#include "extraction/StatReport.h"
#include "platform/chart/ChartModel.h"
#include "platform/chart/ChartView.h"
#include "platform/core/CodePage1251.h"
#include "windows/StatWindow.h"
#include "windows/Value.h"

#include <QAction>
#include <QFileDialog>

// `pick` checks the lines of the run; `reopen` closes nothing and opens the window again. The
// data column "earlier" holds the earlier day's values in 6-hour steps.
template <class W, class Pick, class Reopen>
void compareCase(WindowTestEnvironment& env, W* window, Pick pick, Reopen reopen) {
    pick();
    window->dtpDateFrom->setDate(QDate(2009, 8, 25));
    window->dtpDateTo->setDate(QDate(2009, 8, 26));
    window->cbMult->setCurrentIndex(5);
    window->cbDim->setCurrentIndex(1);
    window->miComparePrevious->trigger();
    QVERIFY(window->miComparePrevious->isChecked() && !window->miCompareYear->isChecked());
    window->bbtGo->click();
    QVERIFY(runFinished(window, 20000));
    QCOMPARE(env.boxes.size(), 0);
    const ChartModel* chart = window->Chart();
    const int last = chart->seriesCount() - 1;
    QCOMPARE(chart->series(last)->partner(), 0);
    QTEST(centValues(chart->series(last)), "earlier");
    QCOMPARE(chart->series(last)->title(), QStringLiteral("прошлый период"));
    QVERIFY(window->lbCompare->text().startsWith(QStringLiteral("к прошлому периоду: ")));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QStringList clipped = CaptionFit::clippedCaptions(window);
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join('\n')));
    QString shownDate;
    whenModalShown<TfmValue>([&](TfmValue* value) {
        shownDate = value->lbXValue->text();
        value->close();
    });
    emit window->Chart1->pointClicked(last, 1);
    QCOMPARE(shownDate, QStringLiteral("24.08.2009 06:00:00, Понедельник"));

    // Two points a page: the data files still hold all five rows of both lines.
    window->SpinEdit1->setValue(2);
    QTemporaryDir dir;
    window->SaveData(dir.filePath("d.csv"), TStatWindow::TDataFormat::SpreadsheetCsv);
    const QStringList rows =
        QString::fromUtf8(readBytes(dir.filePath("d.csv"))).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 6);
    QVERIFY2(rows[0].endsWith(";прошлый период") && rows[2].startsWith("25.08.2009 06:00;"),
             qPrintable(rows.join('|')));

    // The dialog: the workbook's filter chosen as an operator chooses it gives a workbook with its
    // own extension in the export folder, and says where it went. A folder of its own, so that
    // no question about replacing a file can stand in the dialog's way.
    QTemporaryDir folder;
    SetDataFolderSource([&] { return folder.path(); });
    QString shownFolder;
    whenModalShown<QFileDialog>([&](QFileDialog* dialog) {
        shownFolder = dialog->directory().absolutePath();
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        types->setCurrentIndex(2);
        emit types->textActivated(types->currentText());
        dialog->selectFile(QStringLiteral("d"));
        static_cast<QDialog*>(dialog)->accept();
    });
    window->miSaveData->trigger();
    SetDataFolderSource({});
    QCOMPARE(shownFolder, QDir(folder.path()).absolutePath());
    QVERIFY(readBytes(folder.filePath("d.xlsx")).startsWith("PK"));
    QCOMPARE(env.boxes.size(), 1);
    QCOMPARE(env.boxes.takeFirst().text,
             QStringLiteral("Данные сохранены в файл \"%1\"").arg(folder.filePath("d.xlsx")));

    QByteArray report;
    SetReportViewerEntry(
        [&](const QString&, const QByteArray& html, const QString&) { report = html; });
    window->bbtPrint->click();
    QVERIFY(CodePage1251::decode(report).contains("<b>ПРОШЛЫЙ ПЕРИОД:<br><nobr>всего : "));

    // Another choice on a shown chart builds it again at once; it is there after reopening.
    window->miCompareYear->trigger();
    QVERIFY(runFinished(window, 20000));
    QCOMPARE(chart->series(chart->seriesCount() - 1)->title(), QStringLiteral("год назад"));
    window->close();
    window = reopen();
    QVERIFY(window->miCompareYear->isChecked() && !window->miComparePrevious->isChecked());
    pick();
    window->miCompareNone->trigger();
    QVERIFY(!window->miCompareYear->isChecked());
    window->bbtGo->click();
    QVERIFY(runFinished(window, 20000));
    QVERIFY(!window->Chart()->series(window->Chart()->seriesCount() - 1)->isCompanion());
    QVERIFY(window->lbCompare->isHidden());
    window->bbtPrint->click();
    SetReportViewerEntry({});
    QVERIFY(!CodePage1251::decode(report).contains("ПЕРИОД:"));
}
