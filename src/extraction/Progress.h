#pragma once

#include <QPointer>
#include <QWidget>

class QProgressBar;

// The small borderless window that shows how far a run has come while the statistics window is
// disabled. The worker drives it only through synchronised calls; MaxValue and StepValue are
// plain fields the worker writes between those calls.
class TfmProgress : public QWidget {
    Q_OBJECT

public:
    explicit TfmProgress(QWidget* parent = nullptr);

    QWidget* OwnerWindow() const { return m_ownerWindow; }
    void SetOwnerWindow(QWidget* window);
    int MaxValue() const { return m_maxValue; }
    void SetMaxValue(int value);
    int StepValue() const { return m_stepValue; }
    void SetStepValue(int value);

    void ProgressStart();
    void ProgressApplyMax();
    void ProgressApplyStep();
    void ProgressFinish();

    QProgressBar* ProgressBar1() const { return m_bar; }

protected:
    // The bar must be full before the window may close: a run cannot be cancelled.
    void closeEvent(QCloseEvent* event) override;

private:
    QProgressBar* m_bar;
    QPointer<QWidget> m_ownerWindow;
    int m_maxValue = 0;
    int m_stepValue = 0;
};
