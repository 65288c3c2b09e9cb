#pragma once

#include "torvistat/plugin_abi.h"

#include <QString>

// A value received from the host. It starts empty, the host writes into out(), and the value is
// cleared (its string freed) when the object goes. Conversions follow the VARIANT rules the suite
// relies on and raise EConvertError with a Russian message where they cannot be made.
class VariantValue {
public:
    VariantValue();
    ~VariantValue();
    VariantValue(const VariantValue&) = delete;
    VariantValue& operator=(const VariantValue&) = delete;

    // Clears the value and hands it out for the host to fill.
    TorviVariant* out();
    const TorviVariant& raw() const { return m_value; }

    // Integer: from I4, from R8 rounded half to even, from a numeric string, from a boolean
    // (-1/0); empty gives 0. Null, a string that is not a number or a value out of range raise.
    int toInt() const;
    // Text: a string as it is, numbers in decimal with "." as the point, empty and null as "".
    QString toString() const;

private:
    TorviVariant m_value;
};
