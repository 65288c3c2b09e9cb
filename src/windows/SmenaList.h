#pragma once

#include "platform/core/DateTime.h"
#include "platform/data/ClientDataSet.h"

#include <QDialog>
#include <QPointer>
#include <QStringList>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;
class TDataSetModel;

// The help text of the shift list, line by line.
const QStringList& SmenaHelpLines();

// Whether shift `number` gets a red number cell: the next lower shift listed in `clone` (ordered
// newest first) is not number − 1. The lowest shift of the list never does.
bool SmenaNumberHasGap(TClientDataSet& clone, int number);

// The shifts and the time span a selection stands for.
struct TSmenaRange {
    int SmFrom = 0;
    int SmTo = 0;
    TDateTime PeriodFrom = 0;
    TDateTime PeriodTo = 0;
};

// One shift row as the list reads it; an open shift has no end time (0).
struct TSmenaRow {
    int SmNum = 0;
    TDateTime BegTime = 0;
    TDateTime EndTime = 0;
};

// The range of a selection from its first and last rows in list order: the smaller and larger
// number, and the earliest and latest of their times. An empty time (the end of an open shift) is
// no moment of the shift and takes no part, so an open shift in a range never pulls the period
// back to 1899-12-30.
TSmenaRange SmenaRangeOf(const TSmenaRow& first, const TSmenaRow& last);

// TSmenaListFrm: the modal picker over the station's shifts ("Выберите смену").
class TSmenaListFrm : public QDialog {
    Q_OBJECT

public:
    // The modal result of the current-shift action, next to QDialog's Accepted (OK).
    static constexpr int CurrentShiftResult = 5;

    explicit TSmenaListFrm(QWidget* parent = nullptr);
    ~TSmenaListFrm() override;

    QFrame* panSelectSmenaInfo;
    QCheckBox* CheckBox1;
    QPlainTextEdit* Memo1;
    QFrame* Panel3;
    QTableView* DBGrid1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* CurBtn;
    QPushButton* PropBtn;
    QLabel* lbAuto;
    QComboBox* cbAuto;
    QLabel* lbCardNum;
    QLineEdit* edSimpleText;
    QCheckBox* cbCheckBox;
    QTimer* tmSearchTimer;
    QTimer* tmBringToFront;
    QAction* CurSmena;
    QAction* actFocusSimpleText;
    QAction* SetBookmark;

    // The private clone cursor of the colouring rule; open only while SelectSmena runs.
    TClientDataSet& cloneCursor() { return m_clone; }
    QString searchText() const { return m_searchText; }

    void CheckBox1Click();
    void DBGrid1DblClick();
    void tmSearchTimerTimer();
    void tmBringToFrontTimer();
    void CurSmenaExecute();
    void actFocusSimpleTextExecute();

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void restorePlacement();
    void savePlacement();

    TClientDataSet m_clone;
    QString m_searchText;
};

// The shift list while it exists; the caller creates it before SelectSmena and frees it after.
extern QPointer<TSmenaListFrm> SmenaListFrm;

// Shows SmenaListFrm over the shifts of `dataSource` and reads the choice. True when the list was
// closed with OK or with the current-shift result; the four outputs are written only on OK with a
// shift to read, otherwise they keep the caller's values.
bool SelectSmena(int& SmFrom, int& SmTo, TDateTime& PeriodFrom, TDateTime& PeriodTo,
                 TClientDataSet* dataSet, TDataSetModel* dataSource);
