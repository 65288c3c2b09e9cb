#pragma once

#include "extraction/QueryItems.h"
#include "windows/StatWindow.h"

#include <memory>

class QGroupBox;
class QLabel;
class QListWidget;
class QTimer;
class TGSMExtractor;
class TdmStatistic;

// TfmGSMStat: the fuel statistics window ("Статистика по ГСМ"). The operator picks a period, the
// grades, a step and a schema; "Построить" hands them to the window's fuel extractor, which fills
// the chart on its worker thread.
class TfmGSMStat : public TStatWindow {
    Q_OBJECT

public:
    explicit TfmGSMStat(TdmStatistic& dm, QWidget* parent = nullptr);

    QLabel* Label1;
    QGroupBox* gbGSM;
    QListWidget* CheckListBox1;
    QPushButton* bbtSelectAll;
    QGroupBox* gbLitre;
    QLabel* Label4;
    QComboBox* cbLiter_Low;
    QLabel* Label5;
    QComboBox* cbLiter_Hi;
    QLabel* Label9;
    QLabel* MinValueLabel;
    QTimer* Timer1;

    // Null until the first-show initialisation has made it, and again after the window closed.
    TGSMExtractor* Extractor() const;
    const TGSMColor& GradeColors() const { return m_colors; }

    void FormShow() override;
    void Timer1Timer();
    void cbSchemaChange();
    void bbtSelectAllClick();
    void bbtGoClick() override;

private:
    void buildControls();

    TGSMColor m_colors;
};

// The "ГСМ" menu entry's window over the host's window and the data module whose fuel folder the
// menu handler has set. The handler shows it modally and frees it when it closes, also when an
// error escapes.
std::unique_ptr<QDialog> CreateFuelStatistics(QWidget* applicationWindow, TdmStatistic& dm);
