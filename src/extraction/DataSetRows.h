#pragma once

#include "platform/data/ClientDataSet.h"
#include "platform/data/Field.h"

// A data set's visible rows as the bucket pass reads them: its "Data" field for the time and
// `amount` for what each row adds. Shared by the station windows' pass and the chain's.
template <class AmountOfRow>
struct TDataSetRows {
    TClientDataSet& set;
    const TField& data;
    const AmountOfRow& amount;

    bool AtEnd() const { return set.eof(); }
    TDateTime Time() const { return data.asDateTime(); }
    double Amount() const { return amount(); }
    void Next() { set.next(); }
};
