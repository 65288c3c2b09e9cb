#pragma once

#include "extraction/Progress.h"
#include "extraction/QueryItems.h"
#include "platform/core/DateTime.h"
#include "platform/thread/Thread.h"

#include <QPointer>

#include <atomic>
#include <memory>

class TClientDataSet;
class QWidget;

// The worker of a statistics window: created suspended with the window, woken once per run,
// ended when the window closes. The window writes the run's parameters through the setters
// while the worker waits; the worker reads them only during a run.
class TExtractor : public TThread {
public:
    // Must be called on the user interface thread: it creates the progress window.
    TExtractor(TClientDataSet* dataSet, TDateTime dateFrom, TDateTime dateTo, QWidget* ownerWindow);
    ~TExtractor() override;

    const TQueryItems& Items() const { return m_items; }
    // Shares the window's array instead of copying it.
    void SetItems(const TQueryItems& value);
    TDateTime DateFrom() const { return m_dateFrom; }
    void SetDateFrom(TDateTime value);
    TDateTime DateTo() const { return m_dateTo; }
    void SetDateTo(TDateTime value);
    int Schema() const { return m_schema; }
    void SetSchema(int value);
    TClientDataSet* DataSet() const { return m_dataSet; }
    QWidget* OwnerWindow() const { return m_ownerWindow; }
    TfmProgress* Progress() const { return m_progress.get(); }

    // Stops the run under way promptly, from any thread: the worker gives up at its next check
    // and the data set's server cancels the statement it is running. The progress window's
    // "Отмена" calls it. A run ends a cancel's effect; the next one starts afresh.
    void Cancel();
    bool CancelRequested() const { return m_cancelRequested.load(); }

protected:
    // Ends the worker as StopThread does, a run under way included: what subclasses call first
    // thing in their destructor.
    void StopRun();
    // The worker, at the start of a run.
    void ResetCancel();
    // The worker, between steps: EOperationCancelled once Cancel was called.
    void CheckCancelled() const;

private:
    TQueryItems m_items;
    TDateTime m_dateFrom;
    TDateTime m_dateTo;
    int m_schema = 0;
    TClientDataSet* m_dataSet;
    // The window may go before the extractor when a host tears everything down at once.
    QPointer<QWidget> m_ownerWindow;
    std::unique_ptr<TfmProgress> m_progress;
    std::atomic<bool> m_cancelRequested{false};
};
