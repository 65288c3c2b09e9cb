#pragma once

#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

class QAbstractButton;
class QDialog;
class QMenu;

// The period the job builds: the `days` whole days before `end`, midnight to midnight, so that
// with one-day steps every point is one calendar day of the station's history.
struct JobPeriod {
    QDateTime from;
    QDateTime to;
};
JobPeriod jobPeriod(QDate end, int days);

// Plays the operator in the host without a person: opens "Отчёты" → "Статистика" → "ГСМ",
// builds the fuel statistics of the last month with one-day steps, one line per grade, opens the
// value of one point and leaves pictures of both windows in the export folder, opens the report
// with "Печать", prints it to a PDF file, saves its HTML there too and exports it as a .docx
// through LibreOffice when that is installed; builds the sums and the fillings of the same month
// and prints the three reports' totals per grade as one plain-text table with the viewer's old
// format; then opens
// "Товары", builds the shop's sales of the same month for its first three categories, one line
// each, opens the value of one point and leaves a picture of the goods window beside the others.
// The plug-in is known only through what Qt shows of it: window and control names and Qt's own
// classes.
//
// The plug-in's windows are modal, so the job never waits in a call of its own: it triggers and
// clicks through the event queue and watches the screen from a timer, which keeps running inside
// the windows' modal loops. Every message box is answered, reported and ends the job, as does a
// step that does not come within its time.
class OperatorScript : public QObject {
    Q_OBJECT

public:
    struct Settings {
        QString exportFolder;
        QDate periodEnd;
        int periodDays = 30;
        int stepTimeoutMs = 30000;
        int runTimeoutMs = 120000;
    };

    OperatorScript(QMenu* reportsMenu, Settings settings, QObject* parent = nullptr);

    // Starts the job from the event loop; finished() tells the outcome.
    void start();
    // The pictures written, in the order they were taken.
    const QStringList& screenshots() const { return m_screenshots; }

signals:
    // 0 when every step was done; the job has closed what it opened by then.
    void finished(int exitCode);

private:
    using Ready = std::function<bool()>;
    using Then = std::function<void()>;

    void waitFor(const QString& what, int timeoutMs, Ready ready, Then then);
    void runStep(Then step);
    // Clicks as the operator does; false when the job has ended meanwhile (a box the click opened
    // was answered and reported), and the step must stop.
    bool click(QAbstractButton* button);
    void pause(int ms, Then then);
    void poll();
    bool answerMessageBox();
    void fail(const QString& message);
    void succeed();

    // One statistics window the job goes through.
    struct Stage {
        QString menuEntry;
        QString windowName;
        QString what; // how the messages name the window
        QString listName;
        QString schema;
        QString picture;
        QString valuePicture; // empty: the value window is checked, not pictured
    };

    void openWindow(int stage);
    void fillInAndBuild();
    // False, and the job failed, when a control was not found.
    bool allFound(const QStringList& missing);
    bool choosePeriodAndStep(QWidget* window);
    bool chooseFuelGrades(QWidget* window, QStringList& names);
    bool chooseGoodsCategories(QWidget* window, QStringList& names);
    bool runFinished() const;
    void takeWindowPicture();
    void takeValuePicture();
    void closeWindows();
    void openReport(Then shown);
    void exportDocument();
    void readTotals(int scheme);
    void closeReport(Then next);
    void runScheme(int scheme);
    void printTable();
    void printReport();
    void saveReport();
    void closeStageWindow();
    bool savePicture(QWidget* window, const QString& fileName);
    const Stage& stage() const;
    bool eventFilter(QObject* watched, QEvent* event) override;

    QPointer<QMenu> m_reports;
    Settings m_settings;
    QTimer m_poll;
    QElapsedTimer m_stepClock;
    QString m_waitingFor;
    int m_timeoutMs = 0;
    Ready m_ready;
    Then m_then;
    int m_stage = 0;
    QPointer<QDialog> m_window;
    QPointer<QDialog> m_valueWindow;
    QPointer<QDialog> m_reportWindow;
    QStringList m_screenshots;
    // A box the current step waits for (caption, text): answered instead of ending the job.
    std::function<bool(const QString&, const QString&)> m_expectedBox;
    QString m_document;
    // The run started by the job has disabled the window: its end is the end of that run.
    bool m_runSeen = false;
    // Per grade, in the order the reports name them: litres, sums, fillings.
    QStringList m_grades;
    QHash<QString, QStringList> m_totals;
    bool m_done = false;
};
