#include "plugin/VariantValue.h"

#include "platform/core/Exceptions.h"
#include "platform/core/FormatSettings.h"

#include <cmath>
#include <limits>

namespace {

int roundToInt(double value, const QString& shown) {
    const double rounded = std::nearbyint(value); // the default mode rounds half to even
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<int>::min() ||
        rounded > std::numeric_limits<int>::max())
        throw EConvertError(QStringLiteral("Значение «%1» не помещается в целое число")
                                .arg(ShortenedForMessage(shown)));
    return static_cast<int>(rounded);
}

QString typeName(uint16_t vt) {
    switch (vt) {
    case TORVI_VT_EMPTY:
        return QStringLiteral("Empty");
    case TORVI_VT_NULL:
        return QStringLiteral("Null");
    case TORVI_VT_I4:
        return QStringLiteral("Integer");
    case TORVI_VT_R8:
        return QStringLiteral("Double");
    case TORVI_VT_BSTR:
        return QStringLiteral("String");
    case TORVI_VT_BOOL:
        return QStringLiteral("Boolean");
    default:
        return QString::number(vt); // the messages say "значение типа %1" themselves
    }
}

} // namespace

VariantValue::VariantValue() {
    TorviVariantInit(&m_value);
}

VariantValue::~VariantValue() {
    TorviVariantClear(&m_value);
}

TorviVariant* VariantValue::out() {
    TorviVariantClear(&m_value);
    return &m_value;
}

int VariantValue::toInt() const {
    switch (m_value.vt) {
    case TORVI_VT_EMPTY:
        return 0;
    case TORVI_VT_I4:
        return m_value.value.i4;
    case TORVI_VT_R8:
        return roundToInt(m_value.value.r8, QString::number(m_value.value.r8));
    case TORVI_VT_BOOL:
        return m_value.value.boolVal ? -1 : 0;
    case TORVI_VT_BSTR: {
        const QString text = toString();
        const QString trimmed = text.trimmed();
        bool ok = false;
        const double number = QLocale::c().toDouble(trimmed, &ok);
        if (!ok || trimmed.isEmpty())
            throw EConvertError(
                QStringLiteral("Не удалось преобразовать значение «%1» в целое число")
                    .arg(ShortenedForMessage(text)));
        return roundToInt(number, text);
    }
    default:
        throw EConvertError(
            QStringLiteral("Не удалось преобразовать значение типа %1 в целое число")
                .arg(typeName(m_value.vt)));
    }
}

QString VariantValue::toString() const {
    switch (m_value.vt) {
    case TORVI_VT_EMPTY:
    case TORVI_VT_NULL:
        return QString();
    case TORVI_VT_I4:
        return QString::number(m_value.value.i4);
    case TORVI_VT_R8:
        return floatToStrGeneral(m_value.value.r8, 15, TFormatSettings());
    case TORVI_VT_BOOL:
        return m_value.value.boolVal ? QStringLiteral("True") : QStringLiteral("False");
    case TORVI_VT_BSTR:
        return m_value.value.str ? QString::fromUtf8(m_value.value.str) : QString();
    default:
        throw EConvertError(QStringLiteral("Не удалось преобразовать значение типа %1 в строку")
                                .arg(typeName(m_value.vt)));
    }
}
