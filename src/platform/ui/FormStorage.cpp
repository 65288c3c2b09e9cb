#include "platform/ui/FormStorage.h"

#include "platform/core/Exceptions.h"
#include "platform/settings/Registry.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QWidget>

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
const QString kTimeFormat = QStringLiteral("HH:mm:ss.zzz");

struct StoredValue {
    QWidget* control = nullptr;
    QString property;
};

StoredValue resolve(QWidget* form, const QString& entry) {
    const qsizetype dot = entry.indexOf(QLatin1Char('.'));
    const QString name = entry.left(dot);
    const QString property = dot < 0 ? QString() : entry.mid(dot + 1);
    QWidget* control = form->findChild<QWidget*>(name);
    bool known = false;
    if (qobject_cast<QComboBox*>(control))
        known = property == QLatin1String("ItemIndex");
    else if (qobject_cast<QAbstractButton*>(control))
        known = property == QLatin1String("Checked");
    else if (qobject_cast<QLabel*>(control))
        known = property == QLatin1String("Caption");
    else if (qobject_cast<QDateTimeEdit*>(control))
        known = property == QLatin1String("Date") || property == QLatin1String("Time");
    if (!known)
        throw Exception(QStringLiteral("Окно %1 не может сохранять значение «%2»")
                            .arg(form->objectName(), entry));
    return {control, property};
}

QString valueText(const StoredValue& v) {
    if (auto* combo = qobject_cast<QComboBox*>(v.control))
        return QString::number(comboBoxItemIndex(combo));
    if (auto* button = qobject_cast<QAbstractButton*>(v.control))
        return button->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
    if (auto* label = qobject_cast<QLabel*>(v.control))
        return label->text();
    auto* edit = static_cast<QDateTimeEdit*>(v.control);
    const QDateTime value = edit->dateTime();
    return v.property == QLatin1String("Date") ? value.date().toString(kDateFormat)
                                               : value.time().toString(kTimeFormat);
}

void applyText(const StoredValue& v, const QString& text) {
    if (auto* combo = qobject_cast<QComboBox*>(v.control)) {
        bool ok = false;
        const int index = text.toInt(&ok);
        // An editable box may be stored with no item chosen (the operator typed a text); a list
        // box always has one.
        const int lowest = combo->isEditable() ? -1 : 0;
        if (ok && index >= lowest && index < combo->count())
            combo->setCurrentIndex(index);
        if (ok && index == -1 && combo->isEditable())
            combo->setEditText(QString());
    } else if (auto* button = qobject_cast<QAbstractButton*>(v.control)) {
        if (text == QLatin1String("true") || text == QLatin1String("false"))
            button->setChecked(text == QLatin1String("true"));
    } else if (auto* label = qobject_cast<QLabel*>(v.control)) {
        label->setText(text);
    } else {
        auto* edit = static_cast<QDateTimeEdit*>(v.control);
        QDateTime value = edit->dateTime();
        if (v.property == QLatin1String("Date")) {
            const QDate date = QDate::fromString(text, kDateFormat);
            if (!date.isValid())
                return;
            value.setDate(date);
        } else {
            const QTime time = QTime::fromString(text, kTimeFormat);
            if (!time.isValid())
                return;
            value.setTime(time);
        }
        if (value >= edit->minimumDateTime() && value <= edit->maximumDateTime())
            edit->setDateTime(value);
    }
}

} // namespace

int comboBoxItemIndex(const QComboBox* box) {
    const int index = box->currentIndex();
    if (!box->isEditable() || (index >= 0 && box->itemText(index) == box->currentText()))
        return index;
    return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

TFormStorage::TFormStorage(QWidget* form, const QStringList& storedValues)
    : m_form(form)
    , m_group(form->objectName())
    , m_storedValues(storedValues) {
    for (const QString& entry : m_storedValues)
        resolve(m_form, entry);
}

void TFormStorage::restore() {
    const TRegistry registry;
    for (const QString& entry : m_storedValues) {
        const QVariant stored = registry.readValue(m_group, entry);
        if (stored.isValid())
            applyText(resolve(m_form, entry), stored.toString());
    }
}

void TFormStorage::save() const {
    TRegistry registry;
    for (const QString& entry : m_storedValues)
        registry.writeValue(m_group, entry, valueText(resolve(m_form, entry)));
    registry.flush();
}
