#include "OperatorScript.h"

#include "PluginObjectNames.h"
#include "ScreenshotFile.h"

#include "platform/core/CodePage1251.h"
#include "platform/core/TextTable.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextBrowser>

#include <algorithm>
#include <cstdio>

namespace {

using namespace PluginObjects;

const QString kValueWindow = QString::fromLatin1(fmValue);
const QString kReportWindow = QString::fromLatin1(RptFrm);
const QString kReportPdf = QStringLiteral("fuel-report.pdf");
const QString kReportHtml = QStringLiteral("fuel-report.html");
const QString kReportDocx = QStringLiteral("fuel-report.docx");
const QString kTablePdf = QStringLiteral("fuel-table.pdf");
const QString kComparePicture = QStringLiteral("fuel-compare.png");
const QString kWordTarget = QStringLiteral("Microsoft Word");
// The three schemes of the fuel window whose totals make the table: litres, sums, fillings.
const QString kSchemes[] = {QStringLiteral("Время - Литры"), QStringLiteral("Время - Суммы"),
                            QStringLiteral("Время - Заправок")};
// LibreOffice sets up its profile on the first conversion, which takes a while on a busy machine.
constexpr int kExportTimeoutMs = 180000;
// Where the plug-in's printing goes instead of a printer: the job has no printer to wait for.
const char kPrintToFile[] = "TORVI_PRINT_TO_FILE";
// How often the job looks at the screen, and how long it lets a finished window settle: the
// chart hands its points to the drawing on a later pass of the event loop.
constexpr int kPollMs = 50;
constexpr int kSettleMs = 500;
// The goods statistics are built for the first categories of the shop's list.
constexpr int kGoodsCategories = 3;

void report(const QString& line) {
    std::fputs(QStringLiteral("torvi-host: %1\n").arg(line).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString withoutMnemonic(QString text) {
    return text.remove(QLatin1Char('&'));
}

QAction* menuEntry(const QMenu* menu, const QString& caption) {
    if (!menu)
        return nullptr;
    for (QAction* item : menu->actions())
        if (withoutMnemonic(item->text()) == caption)
            return item;
    return nullptr;
}

QDialog* modalNamed(const QString& name) {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    return dialog && !qobject_cast<QMessageBox*>(dialog) && dialog->objectName() == name ? dialog
                                                                                         : nullptr;
}

// A control of the plug-in's window, found as the operator finds it: by its name and what it is.
template <class T>
T* control(QWidget* window, const char* name, QStringList& missing) {
    auto* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        missing << QString::fromLatin1(name);
    return found;
}

QString periodText(const QDateTime& at) {
    return at.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

// A total as the report writes it ("1234,50" or "1234.50"), for the sum over the grades.
double totalValue(const QString& text) {
    QString plain = text;
    return plain.replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
}

// The grades' totals as a table drawn with "+", "-" and "|", the way the suite's plain-text
// reports are; fillings are counted, so they stand without decimals.
QStringList fuelTable(const QStringList& grades, const QHash<QString, QStringList>& totals,
                      const QString& from, const QString& to) {
    const QStringList header{QStringLiteral("Вид топлива"), QStringLiteral("Литры"),
                             QStringLiteral("Сумма"), QStringLiteral("Заправок")};
    const QChar point = std::any_of(totals.begin(), totals.end(),
                                    [](const QStringList& values) {
                                        return values.value(0).contains(QLatin1Char(','));
                                    })
                            ? QLatin1Char(',')
                            : QLatin1Char('.');
    const auto number = [point](double value, int decimals) {
        return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), point);
    };
    QList<QStringList> rows;
    double sum[3] = {0, 0, 0};
    for (const QString& grade : grades) {
        const QStringList values = totals.value(grade);
        QStringList row{grade};
        for (int i = 0; i < 3; ++i) {
            const double value = totalValue(values.value(i));
            sum[i] += value;
            row << number(value, i == 2 ? 0 : 2);
        }
        rows << row;
    }
    const QStringList total{QStringLiteral("Итого"), number(sum[0], 2), number(sum[1], 2),
                            number(sum[2], 0)};
    return ItemTotalsTable(QStringLiteral("ПРОДАЖИ ГСМ ПО ВИДАМ ТОПЛИВА"),
                           QStringLiteral("Период: %1 - %2").arg(from, to), header, rows, total);
}

} // namespace

JobPeriod jobPeriod(QDate end, int days) {
    // The window's pickers know no time zones: no daylight-saving change can move a midnight.
    return {QDateTime(end.addDays(-days), QTime(0, 0), Qt::UTC),
            QDateTime(end, QTime(0, 0), Qt::UTC)};
}

OperatorScript::OperatorScript(QMenu* reportsMenu, Settings settings, QObject* parent)
    : QObject(parent)
    , m_reports(reportsMenu)
    , m_settings(std::move(settings)) {
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &OperatorScript::poll);
}

const OperatorScript::Stage& OperatorScript::stage() const {
    static const Stage stages[] = {
        {QStringLiteral("ГСМ"), QString::fromLatin1(fmGSMStat), QStringLiteral("по ГСМ"),
         QString::fromLatin1(CheckListBox1), QStringLiteral("Время - Литры"),
         QStringLiteral("fuel-statistics.png"), QStringLiteral("fuel-point-value.png")},
        {QStringLiteral("Товары"), QString::fromLatin1(fmTovarStat), QStringLiteral("по товарам"),
         QString::fromLatin1(clbTovarList), QStringLiteral("Время - Суммы"),
         QStringLiteral("goods-statistics.png"), QString()},
    };
    return stages[m_stage];
}

void OperatorScript::start() {
    QTimer::singleShot(0, this, [this] { openWindow(0); });
}

void OperatorScript::waitFor(const QString& what, int timeoutMs, Ready ready, Then then) {
    m_waitingFor = what;
    m_timeoutMs = timeoutMs;
    m_ready = std::move(ready);
    m_then = std::move(then);
    m_stepClock.start();
    if (!m_poll.isActive())
        m_poll.start();
}

void OperatorScript::runStep(Then step) {
    // A step that opens a modal loop (a box of the plug-in, a dialog) waits in it until the loop
    // ends. Run from the poll's own timer, it would stop the poll for that long, and Qt never
    // re-enters a timer's slot: nobody would answer the box. From a timer of its own the step
    // may wait; the poll answers the box and keeps the time meanwhile.
    m_waitingFor = QStringLiteral("завершения шага");
    m_timeoutMs = m_settings.stepTimeoutMs;
    m_stepClock.start();
    QTimer::singleShot(0, this, [this, step = std::move(step)] {
        if (!m_done)
            step();
    });
}

bool OperatorScript::click(QAbstractButton* button) {
    button->click();
    return !m_done;
}

void OperatorScript::pause(int ms, Then then) {
    waitFor(
        QStringLiteral("паузы"), ms + m_settings.stepTimeoutMs,
        [this, ms] { return m_stepClock.elapsed() >= ms; }, std::move(then));
}

void OperatorScript::poll() {
    if (m_done || answerMessageBox())
        return;
    if (m_ready && m_ready()) {
        // The next step sets up its own wait: this one must not be destroyed while it runs.
        Then then = std::move(m_then);
        m_ready = {};
        m_then = {};
        runStep(std::move(then));
        return;
    }
    if (m_stepClock.elapsed() > m_timeoutMs)
        fail(QStringLiteral("За %1 с не дождались %2").arg(m_timeoutMs / 1000).arg(m_waitingFor));
}

bool OperatorScript::answerMessageBox() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box)
        return false;
    const QString caption = box->windowTitle();
    const QString text = box->text();
    report(QStringLiteral("сообщение «%1»: %2").arg(caption, text));
    if (m_expectedBox && m_expectedBox(caption, text)) {
        box->accept();
        return true;
    }
    // The answer an operator gives to get rid of a box: its escape button, else its first one.
    if (QAbstractButton* escape = box->escapeButton())
        escape->click();
    else if (!box->buttons().isEmpty())
        box->buttons().constFirst()->click();
    else
        box->reject();
    fail(QStringLiteral("Неожиданное сообщение «%1» во время построения статистики: %2")
             .arg(caption, text.trimmed()));
    return true;
}

void OperatorScript::fail(const QString& message) {
    if (m_done)
        return;
    m_done = true;
    m_poll.stop();
    report(QStringLiteral("ошибка: %1").arg(message));
    emit finished(1);
}

void OperatorScript::succeed() {
    m_done = true;
    m_poll.stop();
    emit finished(0);
}

void OperatorScript::openWindow(int stageIndex) {
    m_stage = stageIndex;
    const Stage& current = stage();
    QAction* statistics = menuEntry(m_reports, QStringLiteral("Статистика"));
    QAction* entry = statistics ? menuEntry(statistics->menu(), current.menuEntry) : nullptr;
    if (!entry) {
        fail(QStringLiteral("В меню «Отчёты» нет пункта «Статистика» → «%1»: модуль статистики "
                            "не добавил своё меню")
                 .arg(current.menuEntry));
        return;
    }
    report(QStringLiteral("«Отчёты» → «Статистика» → «%1»").arg(current.menuEntry));
    // Triggered from the event queue: the window it opens is modal and returns only when closed.
    QTimer::singleShot(0, entry, &QAction::trigger);
    waitFor(
        QStringLiteral("окна статистики %1").arg(current.what), m_settings.stepTimeoutMs,
        [this] {
            m_window = modalNamed(stage().windowName);
            return !m_window.isNull();
        },
        [this] {
            auto* list = m_window->findChild<QListWidget*>(stage().listName);
            if (!list) {
                fail(QStringLiteral("В окне статистики %1 нет списка %2")
                         .arg(stage().what, stage().listName));
                return;
            }
            waitFor(
                QStringLiteral("списка %1").arg(stage().listName), m_settings.stepTimeoutMs,
                [list = QPointer<QListWidget>(list)] { return list && list->count() > 0; },
                [this] { fillInAndBuild(); });
        });
}

bool OperatorScript::allFound(const QStringList& missing) {
    if (missing.isEmpty())
        return true;
    fail(QStringLiteral("В окне статистики %1 нет элементов: %2")
             .arg(stage().what, missing.join(QStringLiteral(", "))));
    return false;
}

bool OperatorScript::choosePeriodAndStep(QWidget* window) {
    QStringList missing;
    auto* schema = control<QComboBox>(window, cbSchema, missing);
    auto* multiplier = control<QComboBox>(window, cbMult, missing);
    auto* unit = control<QComboBox>(window, cbDim, missing);
    auto* dateFrom = control<QDateTimeEdit>(window, dtpDateFrom, missing);
    auto* timeFrom = control<QDateTimeEdit>(window, dtpTimeFrom, missing);
    auto* dateTo = control<QDateTimeEdit>(window, dtpDateTo, missing);
    auto* timeTo = control<QDateTimeEdit>(window, dtpTimeTo, missing);
    if (!allFound(missing))
        return false;
    const auto choose = [this](QComboBox* box, const QString& text) {
        const int index = box->findText(text);
        if (index < 0) {
            fail(QStringLiteral("В списке %1 нет значения «%2»").arg(box->objectName(), text));
            return false;
        }
        box->setCurrentIndex(index);
        return true;
    };
    if (!choose(schema, stage().schema) || !choose(multiplier, QStringLiteral("1")) ||
        !choose(unit, QStringLiteral("сутки")))
        return false;

    // The window merges the time pickers into the date pickers on every change: the times first,
    // so that the dates keep midnight.
    const JobPeriod period = jobPeriod(m_settings.periodEnd, m_settings.periodDays);
    timeFrom->setTime(period.from.time());
    timeTo->setTime(period.to.time());
    dateFrom->setDateTime(QDateTime(period.from.date(), period.from.time(), dateFrom->timeSpec()));
    dateTo->setDateTime(QDateTime(period.to.date(), period.to.time(), dateTo->timeSpec()));
    const auto holds = [](const QDateTimeEdit* edit, const QDateTime& at) {
        return edit->date() == at.date() && edit->time() == at.time();
    };
    if (!holds(dateFrom, period.from) || !holds(dateTo, period.to)) {
        fail(QStringLiteral("Окно не приняло период %1 – %2: в нём %3 – %4")
                 .arg(periodText(period.from), periodText(period.to),
                      periodText(dateFrom->dateTime()), periodText(dateTo->dateTime())));
        return false;
    }
    return true;
}

bool OperatorScript::chooseFuelGrades(QWidget* window, QStringList& names) {
    QStringList missing;
    auto* grades = control<QListWidget>(window, CheckListBox1, missing);
    auto* selectAll = control<QAbstractButton>(window, bbtSelectAll, missing);
    if (!allFound(missing))
        return false;
    const auto allChecked = [grades] {
        for (int i = 0; i < grades->count(); ++i)
            if (grades->item(i)->checkState() != Qt::Checked)
                return false;
        return true;
    };
    if (!allChecked() && !click(selectAll))
        return false;
    if (!allChecked()) {
        fail(QStringLiteral("Кнопка «%1» не отметила все виды топлива").arg(selectAll->text()));
        return false;
    }
    for (int i = 0; i < grades->count(); ++i)
        names << grades->item(i)->text();
    return true;
}

bool OperatorScript::chooseGoodsCategories(QWidget* window, QStringList& names) {
    QStringList missing;
    auto* byCategory = control<QAbstractButton>(window, rbtCateg, missing);
    auto* list = control<QListWidget>(window, clbTovarList, missing);
    if (!allFound(missing))
        return false;
    if (!byCategory->isChecked()) {
        fail(QStringLiteral("Окно статистики по товарам открылось не в режиме «%1»")
                 .arg(byCategory->text()));
        return false;
    }
    // The operator keeps the first categories with a name checked and clears the rest.
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* line = list->item(i);
        const bool keep = names.size() < kGoodsCategories && !line->text().isEmpty();
        line->setCheckState(keep ? Qt::Checked : Qt::Unchecked);
        if (keep)
            names << line->text();
    }
    if (names.size() < kGoodsCategories) {
        fail(QStringLiteral("В списке категорий меньше %1 названий").arg(kGoodsCategories));
        return false;
    }
    return true;
}

void OperatorScript::fillInAndBuild() {
    if (!m_window) {
        fail(QStringLiteral("Окно статистики %1 закрылось само").arg(stage().what));
        return;
    }
    QWidget* window = m_window;
    QStringList missing;
    auto* split = control<QCheckBox>(window, chbMultiGraph, missing);
    auto* go = control<QAbstractButton>(window, bbtGo, missing);
    // Read when the run has finished; missing it now would only fail later.
    control<QLabel>(window, RecordCountLabel, missing);
    if (!allFound(missing))
        return;
    QStringList names;
    if (!choosePeriodAndStep(window) ||
        !(m_stage == 0 ? chooseFuelGrades(window, names) : chooseGoodsCategories(window, names)))
        return;
    if (!split->isChecked() && !click(split))
        return;
    if (!split->isChecked()) {
        fail(QStringLiteral("Флажок «%1» не включился").arg(split->text()));
        return;
    }
    if (!go->isEnabled()) {
        fail(QStringLiteral("Кнопка «%1» недоступна").arg(go->text()));
        return;
    }

    const JobPeriod period = jobPeriod(m_settings.periodEnd, m_settings.periodDays);
    report(QStringLiteral("«%1», %2 – %3, шаг 1 сутки, %4: %5")
               .arg(stage().schema, periodText(period.from), periodText(period.to), split->text(),
                    names.join(QStringLiteral(", "))));
    // Clicked from the event queue: a refusal comes as a modal box, which the timer answers.
    QTimer::singleShot(0, go, &QAbstractButton::click);
    waitFor(
        QStringLiteral("окончания построения"), m_settings.runTimeoutMs,
        [this] { return runFinished(); },
        [this] { pause(kSettleMs, [this] { takeWindowPicture(); }); });
}

bool OperatorScript::runFinished() const {
    if (!m_window || !m_window->isEnabled())
        return false;
    for (const QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String(fmProgress) && window->isVisible())
            return false;
    // A fresh window shows 0 until a run has counted its periods.
    const QLabel* count = m_window->findChild<QLabel*>(QString::fromLatin1(RecordCountLabel));
    return count && count->text().toInt() > 0;
}

bool OperatorScript::savePicture(QWidget* window, const QString& fileName) {
    QString error;
    const QString path =
        saveScreenshot(window->grab().toImage(), m_settings.exportFolder, fileName, &error);
    if (path.isEmpty()) {
        fail(error);
        return false;
    }
    m_screenshots << path;
    return true;
}

void OperatorScript::takeWindowPicture() {
    if (!m_window) {
        fail(QStringLiteral("Окно статистики %1 закрылось само").arg(stage().what));
        return;
    }
    const int points =
        m_window->findChild<QLabel*>(QString::fromLatin1(RecordCountLabel))->text().toInt();
    report(QStringLiteral("построено периодов: %1").arg(points));
    if (!savePicture(m_window, stage().picture))
        return;

    // The model has an object of the same name; the view is the widget.
    QWidget* chart = m_window->findChild<QWidget*>(QString::fromLatin1(Chart1));
    if (!chart || chart->metaObject()->indexOfSignal(pointClickedSignature) < 0) {
        fail(QStringLiteral("В окне статистики %1 нет диаграммы Chart1 с сигналом "
                            "pointClicked(int,int)")
                 .arg(stage().what));
        return;
    }
    // The first line, in the middle of the month: a day the station sold.
    const int point = points / 2;
    QMetaObject::invokeMethod(chart, pointClicked, Qt::QueuedConnection, Q_ARG(int, 0),
                              Q_ARG(int, point));
    waitFor(
        QStringLiteral("окна значения точки"), m_settings.stepTimeoutMs,
        [this] {
            m_valueWindow = modalNamed(kValueWindow);
            return !m_valueWindow.isNull();
        },
        [this] { pause(kSettleMs, [this] { takeValuePicture(); }); });
}

void OperatorScript::takeValuePicture() {
    if (!m_valueWindow) {
        fail(QStringLiteral("Окно значения точки закрылось само"));
        return;
    }
    QStringList shown;
    for (const char* name : {lbName, lbXValue, lbYValue}) {
        const QLabel* label = m_valueWindow->findChild<QLabel*>(QString::fromLatin1(name));
        if (!label || label->text().isEmpty()) {
            fail(QStringLiteral("В окне значения точки пусто поле %1").arg(QLatin1String(name)));
            return;
        }
        shown << label->text();
    }
    report(QStringLiteral("точка: %1").arg(shown.join(QStringLiteral("; "))));
    if (!stage().valuePicture.isEmpty() && !savePicture(m_valueWindow, stage().valuePicture))
        return;
    closeWindows();
}

void OperatorScript::closeWindows() {
    QTimer::singleShot(0, m_valueWindow.data(), &QWidget::close);
    waitFor(
        QStringLiteral("закрытия окна значения точки"), m_settings.stepTimeoutMs,
        [this] { return !m_valueWindow && modalNamed(stage().windowName); },
        [this] {
            // The fuel report is printed from the fuel window, before it closes.
            if (m_stage == 0)
                openReport([this] { printReport(); });
            else
                closeStageWindow();
        });
}

void OperatorScript::openReport(Then shown) {
    QStringList missing;
    auto* print = control<QAbstractButton>(m_window, bbtPrint, missing);
    if (!print) {
        fail(QStringLiteral("В окне статистики по ГСМ нет кнопки «Печать» (bbtPrint)"));
        return;
    }
    report(QStringLiteral("«%1»").arg(withoutMnemonic(print->text())));
    QTimer::singleShot(0, print, &QAbstractButton::click);
    waitFor(
        QStringLiteral("окна отчета"), m_settings.stepTimeoutMs,
        [this] {
            m_reportWindow = modalNamed(kReportWindow);
            return !m_reportWindow.isNull();
        },
        [this, shown] {
            QStringList absent;
            auto* format = control<QAbstractButton>(m_reportWindow, bbtRepForm, absent);
            auto* view = control<QTextBrowser>(m_reportWindow, wb, absent);
            if (!absent.isEmpty()) {
                fail(QStringLiteral("В окне отчета нет элементов: %1")
                         .arg(absent.join(QStringLiteral(", "))));
                return;
            }
            // The viewer opens in the format chosen last time; the job prints the HTML one.
            if (withoutMnemonic(format->text()) == QStringLiteral("Новый формат") && !click(format))
                return;
            waitFor(
                QStringLiteral("показа отчета"), m_settings.stepTimeoutMs,
                [view = QPointer<QTextBrowser>(view)] {
                    return view && view->isVisible() && !view->document()->isEmpty();
                },
                [this, shown] { pause(kSettleMs, shown); });
        });
}

void OperatorScript::printReport() {
    if (!m_reportWindow) {
        fail(QStringLiteral("Окно отчета закрылось само"));
        return;
    }
    if (!savePicture(m_reportWindow, QStringLiteral("fuel-report-viewer.png")))
        return;
    if (!QDir().mkpath(m_settings.exportFolder)) {
        fail(QStringLiteral("Не удалось создать папку %1").arg(m_settings.exportFolder));
        return;
    }
    const QString pdf = QDir(m_settings.exportFolder).filePath(kReportPdf);
    QFile::remove(pdf);
    qputenv(kPrintToFile, QFile::encodeName(pdf));
    auto* printButton =
        m_reportWindow->findChild<QAbstractButton*>(QString::fromLatin1(PrintButton));
    if (!printButton) {
        fail(QStringLiteral("В окне отчета нет кнопки «Печатать» (PrintButton)"));
        return;
    }
    report(QStringLiteral("«%1» в %2").arg(withoutMnemonic(printButton->text()), pdf));
    const bool printed = click(printButton);
    qunsetenv(kPrintToFile);
    if (!printed)
        return;
    if (!QFileInfo(pdf).isFile() || QFileInfo(pdf).size() == 0) {
        fail(QStringLiteral("Отчет не напечатан в %1").arg(pdf));
        return;
    }
    m_screenshots << pdf;
    saveReport();
}

void OperatorScript::saveReport() {
    const QByteArray html = m_reportWindow->property("HtmlText").toByteArray();
    if (html.isEmpty()) {
        fail(QStringLiteral("Окно отчета не отдало текст HTML (HtmlText)"));
        return;
    }
    QString error;
    const QString path = saveExportFile(html, m_settings.exportFolder, kReportHtml, &error);
    if (path.isEmpty()) {
        fail(error);
        return;
    }
    m_screenshots << path;
    // The page names its picture where the plug-in left it; a saved page shows it from there.
    static const QRegularExpression picture(QStringLiteral("<img src=\"([^\"]+)\""));
    const QString picturePath = picture.match(CodePage1251::decode(html)).captured(1);
    if (picturePath.isEmpty() || !QFileInfo(picturePath).isFile()) {
        fail(QStringLiteral("Рисунок отчета «%1» не найден").arg(picturePath));
        return;
    }
    report(QStringLiteral("рисунок отчета: %1").arg(picturePath));
    exportDocument();
}

void OperatorScript::exportDocument() {
    if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty()) {
        report(QStringLiteral("LibreOffice (soffice) не установлен: экспорт отчета в .docx "
                              "пропущен"));
        readTotals(0);
        return;
    }
    QStringList missing;
    auto* more = control<QAbstractButton>(m_reportWindow, sbtnAdditional, missing);
    auto* targets = control<QWidget>(m_reportWindow, rgChooseExport, missing);
    auto* run = control<QAbstractButton>(m_reportWindow, btnExport, missing);
    if (!missing.isEmpty()) {
        fail(QStringLiteral("В окне отчета нет элементов экспорта: %1")
                 .arg(missing.join(QStringLiteral(", "))));
        return;
    }
    QAbstractButton* word = nullptr;
    for (QAbstractButton* target : targets->findChildren<QAbstractButton*>())
        if (withoutMnemonic(target->text()) == kWordTarget)
            word = target;
    if (!word) {
        fail(QStringLiteral("Среди целей экспорта нет «%1»").arg(kWordTarget));
        return;
    }
    if (!run->isEnabled()) {
        report(QStringLiteral("экспорт отчетов запрещен настройкой AllowExportReports: .docx "
                              "пропущен"));
        readTotals(0);
        return;
    }
    if ((!more->isChecked() && !click(more)) || !click(word))
        return;
    report(QStringLiteral("«%1» → «%2» → «%3»")
               .arg(withoutMnemonic(more->text()), kWordTarget, withoutMnemonic(run->text())));
    // Without a screen the plug-in leaves the document in the export folder and says where.
    m_document.clear();
    m_expectedBox = [this](const QString& caption, const QString& text) {
        if (caption != QStringLiteral("Информация") ||
            !text.startsWith(QStringLiteral("Документ сохранен в файл")))
            return false;
        m_document = text.section(QLatin1Char('"'), 1, 1);
        return true;
    };
    const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
    QTimer::singleShot(0, run, &QAbstractButton::click);
    waitFor(
        QStringLiteral("документа .docx от LibreOffice"), kExportTimeoutMs,
        [this, started] {
            // With a screen LibreOffice shows the document instead: the newest one is it.
            if (m_document.isEmpty()) {
                const QFileInfoList made =
                    QDir(m_settings.exportFolder)
                        .entryInfoList({QStringLiteral("*.docx")}, QDir::Files, QDir::Time);
                if (!made.isEmpty() && made.constFirst().lastModified() >= started &&
                    made.constFirst().fileName() != kReportDocx)
                    m_document = made.constFirst().filePath();
            }
            return !m_document.isEmpty() && modalNamed(kReportWindow);
        },
        [this] {
            m_expectedBox = {};
            const QString path = QDir(m_settings.exportFolder).filePath(kReportDocx);
            QFile::remove(path);
            if (!QFile::rename(m_document, path)) {
                fail(QStringLiteral("Не удалось переименовать %1 в %2").arg(m_document, path));
                return;
            }
            m_screenshots << path;
            report(QStringLiteral("документ Word: %1").arg(path));
            readTotals(0);
        });
}

void OperatorScript::readTotals(int scheme) {
    if (!m_reportWindow) {
        fail(QStringLiteral("Окно отчета закрылось само"));
        return;
    }
    const QString html = CodePage1251::decode(m_reportWindow->property("HtmlText").toByteArray());
    if (!html.contains(kSchemes[scheme])) {
        fail(QStringLiteral("Отчет построен не по схеме «%1»").arg(kSchemes[scheme]));
        return;
    }
    // The report's totals: one "<nobr>grade : sum</nobr>" per grade that sold anything.
    static const QRegularExpression entry(QStringLiteral("<nobr>(.*?) : (.*?)</nobr>"));
    const QString totals =
        html.section(QStringLiteral("ИТОГО:"), 1).section(QStringLiteral("</b>"), 0, 0);
    QStringList read;
    for (auto it = entry.globalMatch(totals); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString grade = match.captured(1).trimmed();
        if (!m_grades.contains(grade))
            m_grades << grade;
        QStringList& values = m_totals[grade];
        while (values.size() < 3)
            values << QStringLiteral("0");
        values[scheme] = match.captured(2).trimmed();
        read << grade + QStringLiteral(" ") + values[scheme];
    }
    report(QStringLiteral("итоги «%1»: %2").arg(kSchemes[scheme], read.join(QStringLiteral("; "))));
    if (scheme + 1 < int(std::size(kSchemes)))
        closeReport([this, scheme] { runScheme(scheme + 1); });
    else
        printTable();
}

void OperatorScript::closeReport(Then next) {
    QTimer::singleShot(0, m_reportWindow.data(), &QWidget::close);
    waitFor(
        QStringLiteral("закрытия окна отчета"), m_settings.stepTimeoutMs,
        [this] { return !m_reportWindow && modalNamed(stage().windowName); }, std::move(next));
}

void OperatorScript::runScheme(int scheme) {
    if (!m_window) {
        fail(QStringLiteral("Окно статистики по ГСМ закрылось само"));
        return;
    }
    auto* schema = m_window->findChild<QComboBox*>(QString::fromLatin1(cbSchema));
    auto* go = m_window->findChild<QAbstractButton*>(QString::fromLatin1(bbtGo));
    const int index = schema ? schema->findText(kSchemes[scheme]) : -1;
    if (index < 0 || !go) {
        fail(QStringLiteral("В окне статистики по ГСМ нельзя выбрать «%1»").arg(kSchemes[scheme]));
        return;
    }
    schema->setCurrentIndex(index);
    m_runSeen = false;
    m_window->installEventFilter(this);
    report(QStringLiteral("«%1», «%2»").arg(kSchemes[scheme], withoutMnemonic(go->text())));
    QTimer::singleShot(0, go, &QAbstractButton::click);
    waitFor(
        QStringLiteral("окончания построения"), m_settings.runTimeoutMs,
        [this] { return m_runSeen && runFinished(); },
        [this, scheme] {
            m_window->removeEventFilter(this);
            openReport([this, scheme] { readTotals(scheme); });
        });
}

bool OperatorScript::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::EnabledChange && !m_window->isEnabled())
        m_runSeen = true;
    return QObject::eventFilter(watched, event);
}

void OperatorScript::printTable() {
    QStringList missing;
    auto* format = control<QAbstractButton>(m_reportWindow, bbtRepForm, missing);
    auto* memo = control<QPlainTextEdit>(m_reportWindow, RptMemo, missing);
    auto* preview = control<QAbstractButton>(m_reportWindow, bbtPreview, missing);
    auto* print = control<QAbstractButton>(m_reportWindow, PrintButton, missing);
    if (!missing.isEmpty()) {
        fail(QStringLiteral("В окне отчета нет элементов: %1")
                 .arg(missing.join(QStringLiteral(", "))));
        return;
    }
    // The old format prints the memo's text page by page; the operator makes the memo editable
    // (Ctrl+E) and pastes the table there.
    if (!click(format))
        return;
    if (withoutMnemonic(format->text()) != QStringLiteral("Новый формат")) {
        fail(QStringLiteral("Окно отчета не перешло в старый формат"));
        return;
    }
    const JobPeriod period = jobPeriod(m_settings.periodEnd, m_settings.periodDays);
    memo->setPlainText(fuelTable(m_grades, m_totals, periodText(period.from), periodText(period.to))
                           .join(QLatin1Char('\n')));
    if (!click(preview) || !savePicture(m_reportWindow, QStringLiteral("fuel-table-preview.png")) ||
        !click(preview))
        return;

    const QString pdf = QDir(m_settings.exportFolder).filePath(kTablePdf);
    QFile::remove(pdf);
    qputenv(kPrintToFile, QFile::encodeName(pdf));
    report(QStringLiteral("таблица итогов, «%1» в %2").arg(withoutMnemonic(print->text()), pdf));
    const bool printed = click(print);
    qunsetenv(kPrintToFile);
    if (!printed)
        return;
    if (!QFileInfo(pdf).isFile() || QFileInfo(pdf).size() == 0) {
        fail(QStringLiteral("Таблица не напечатана в %1").arg(pdf));
        return;
    }
    m_screenshots << pdf;
    // The viewer remembers its format: the next report opens in the new one again.
    if (!click(format))
        return;
    closeReport([this] { compareFuel(); });
}

void OperatorScript::compareFuel() {
    if (!m_window) {
        fail(QStringLiteral("Окно статистики %1 закрылось само").arg(stage().what));
        return;
    }
    auto* previous = m_window->findChild<QAction*>(QStringLiteral("miComparePrevious"));
    QPointer<QAction> none = m_window->findChild<QAction*>(QStringLiteral("miCompareNone"));
    auto* schema = m_window->findChild<QComboBox*>(QStringLiteral("cbSchema"));
    QPointer<QLabel> change = m_window->findChild<QLabel*>(QStringLiteral("lbCompare"));
    if (!previous || !none || !schema || !change) {
        fail(QStringLiteral("В окне статистики %1 нет сравнения с прошлым периодом в меню "
                            "диаграммы")
                 .arg(stage().what));
        return;
    }
    schema->setCurrentIndex(schema->findText(kSchemes[0]));
    report(QStringLiteral("«%1»: «%2»").arg(withoutMnemonic(previous->text()), kSchemes[0]));
    // The chart is on show: the choice builds it again at once. The box's line appears only at
    // the end of a compared run, and goes only at the end of one without comparison.
    QTimer::singleShot(0, previous, &QAction::trigger);
    waitFor(
        QStringLiteral("построения сравнения"), m_settings.runTimeoutMs,
        [this, change] { return change && runFinished() && change->isVisible(); },
        [this, change, none] {
            pause(kSettleMs, [this, change, none] {
                if (!m_window || !change || !none) {
                    fail(QStringLiteral("Окно статистики %1 закрылось само").arg(stage().what));
                    return;
                }
                report(QStringLiteral("сравнение: %1").arg(change->text()));
                if (!savePicture(m_window, kComparePicture))
                    return;
                QTimer::singleShot(0, none, &QAction::trigger);
                waitFor(
                    QStringLiteral("построения без сравнения"), m_settings.runTimeoutMs,
                    [this, change] { return change && runFinished() && change->isHidden(); },
                    [this] { closeStageWindow(); });
            });
        });
}

void OperatorScript::closeStageWindow() {
    // Closing saves the window's settings, which may answer with a box.
    QTimer::singleShot(0, m_window.data(), &QWidget::close);
    waitFor(
        QStringLiteral("закрытия окна статистики %1").arg(stage().what), m_settings.stepTimeoutMs,
        [this] { return !m_window && !QApplication::activeModalWidget(); },
        [this] {
            if (m_stage == 0)
                openWindow(1);
            else
                succeed();
        });
}
