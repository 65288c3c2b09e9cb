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
    // The worker counts rows here between two advances of the bar.
    void AddStepValue(int count) { m_stepValue += count; }

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

// Holds back the bar's repaints while the user interface thread applies a batch of steps: the bar
// repaints itself at once for every step that moves it by a pixel, and once after the batch is
// enough.
class TProgressSteps {
public:
    explicit TProgressSteps(TfmProgress& progress);
    ~TProgressSteps();
    TProgressSteps(const TProgressSteps&) = delete;
    TProgressSteps& operator=(const TProgressSteps&) = delete;

private:
    QProgressBar* m_bar;
    bool m_wasEnabled;
};
