#pragma once

#include "platform/data/DataPacket.h"

#include <QHash>
#include <QString>

#include <memory>

// The statistics server as a connection sees it: it learns the database locations through
// StatParameter and answers a provider's request with all rows of the result.
class TStatServer {
public:
    virtual ~TStatServer() = default;

    // Index 1: the goods database location; 2: the fuel one. Another index raises EDatabaseError.
    virtual void setStatParameter(int index, const QString& value) = 0;
    virtual QString statParameter(int index) const = 0;

    // Runs the provider's query (for the providers that take one, commandText unchanged) and
    // returns every row. declaredTypes maps lower-case column names to the type a data set has
    // stored for them; the other columns take the type of their values.
    virtual std::shared_ptr<const TDataPacket>
    provide(const QString& providerName, const QString& commandText,
            const QHash<QString, TFieldType>& declaredTypes) = 0;

    // Callable from any thread while provide() runs on another: the request under way ends
    // promptly with EOperationCancelled in the thread that runs it, the statement on the server
    // is stopped, and so is every later request until resetCancel(). A run calls resetCancel()
    // at its start, so that a cancel arriving between two of its requests still ends it.
    virtual void cancel() = 0;
    virtual void resetCancel() = 0;

    // Whether the server's SQL has width_bucket over an array of time stamps, so that a caller
    // may have the rows cut into buckets and summed on the server instead of fetching them.
    virtual bool bucketsRowsItself() const { return false; }
};
