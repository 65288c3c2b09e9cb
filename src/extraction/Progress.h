#pragma once

#include <QPointer>
#include <QWidget>

class QProgressBar;
class QPushButton;

// The small borderless window that shows how far a run has come while the statistics window is
// disabled. The worker drives it only through synchronised calls; MaxValue and StepValue are
// plain fields the worker writes between those calls. "Отмена" and Escape ask the run to stop:
// the window says so once per run and leaves the stopping to whoever listens.
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
    QPushButton* CancelButton() const { return m_cancel; }

signals:
    // The operator asked to stop the run, once per run at most.
    void CancelRequested();

protected:
    // The bar must be full before the window may close: closing it is no way to stop a run,
    // "Отмена" is.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QProgressBar* m_bar;
    QPushButton* m_cancel;
    QPointer<QWidget> m_ownerWindow;
    int m_maxValue = 0;
    int m_stepValue = 0;
};
