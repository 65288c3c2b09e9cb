#include "extraction/Extractor.h"

#include "platform/core/Exceptions.h"
#include "platform/data/ClientDataSet.h"
#include "platform/data/DCOMConnection.h"

TExtractor::TExtractor(TClientDataSet* dataSet, TDateTime dateFrom, TDateTime dateTo,
                       QWidget* ownerWindow)
    : m_dateFrom(dateFrom)
    , m_dateTo(dateTo)
    , m_dataSet(dataSet)
    , m_ownerWindow(ownerWindow)
    // Not a child of the statistics window: that one is disabled during a run, and a disabled
    // parent would disable the progress window with it.
    , m_progress(std::make_unique<TfmProgress>()) {
    m_progress->SetOwnerWindow(ownerWindow);
    QObject::connect(m_progress.get(), &TfmProgress::CancelRequested, m_progress.get(),
                     [this] { Cancel(); });
}

TExtractor::~TExtractor() {
    // The body still uses the data set and the progress window; both must outlive it.
    StopRun();
    if (m_dataSet)
        m_dataSet->close();
    m_dataSet = nullptr;
    m_ownerWindow = nullptr;
    m_progress.reset();
}

void TExtractor::SetItems(const TQueryItems& value) {
    if (!m_items.isSharedWith(value))
        m_items = value;
}

void TExtractor::SetDateFrom(TDateTime value) {
    if (m_dateFrom != value)
        m_dateFrom = value;
}

void TExtractor::SetDateTo(TDateTime value) {
    if (m_dateTo != value)
        m_dateTo = value;
}

void TExtractor::SetSchema(int value) {
    if (m_schema != value)
        m_schema = value;
}

void TExtractor::Cancel() {
    m_cancelRequested = true;
    if (m_dataSet)
        if (TDCOMConnection* connection = m_dataSet->remoteServer())
            connection->cancel();
}

void TExtractor::StopRun() {
    // A run waiting on a stopped server would otherwise hold the window's closing for ever.
    Cancel();
    StopThread();
    ResetCancel();
}

void TExtractor::ResetCancel() {
    m_cancelRequested = false;
    if (m_dataSet)
        if (TDCOMConnection* connection = m_dataSet->remoteServer())
            connection->resetCancel();
}

void TExtractor::CheckCancelled() const {
    if (m_cancelRequested.load())
        throw EOperationCancelled();
}
