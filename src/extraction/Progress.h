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

    // While steps are held (TProgressSteps), ProgressApplyStep advances a position of its own
    // and the bar takes it when the hold ends.
    void HoldSteps();
    void ReleaseSteps();

protected:
    // The bar must be full before the window may close: a run cannot be cancelled.
    void closeEvent(QCloseEvent* event) override;

private:
    QProgressBar* m_bar;
    QPointer<QWidget> m_ownerWindow;
    int m_maxValue = 0;
    int m_stepValue = 0;
    bool m_holding = false;
    int m_heldPosition = 0;
};

// Holds back the bar while the user interface thread applies a batch of steps. Each step that
// moves the bar has it work out its look again, which costs more than everything else a bucket
// does on that thread; the bar takes the batch's end position once instead.
class TProgressSteps {
public:
    explicit TProgressSteps(TfmProgress& progress)
        : m_progress(progress) {
        m_progress.HoldSteps();
    }
    ~TProgressSteps() { m_progress.ReleaseSteps(); }
    TProgressSteps(const TProgressSteps&) = delete;
    TProgressSteps& operator=(const TProgressSteps&) = delete;

private:
    TfmProgress& m_progress;
};
