#pragma once

#include <QString>
#include <QStringList>

class QComboBox;
class QWidget;

// A combo box's item index as the system reads it: an editable box whose text is none of its
// items has no item (-1), even though Qt still remembers the item chosen before the typing.
int comboBoxItemIndex(const QComboBox* box);

// The form-storage facility: chosen control values of one window, kept per user between sessions
// in the per-user registry file, one group per window (the window's object name). A value is
// named "Control.Property" as the system lists it:
//   ItemIndex of a combo box, Checked of a check box, Caption of a label,
//   Date and Time of a date or time picker (a QDateTimeEdit; each part is kept on its own).
// A stored value that does not fit its control (damaged file, a list that got shorter) is left
// out and the control keeps what it has.
class TFormStorage {
public:
    // Raises Exception when a listed control is missing or its property is not one of the above:
    // that is a fault of the window, not of the operator's settings.
    TFormStorage(QWidget* form, const QStringList& storedValues);

    QString groupName() const { return m_group; }
    const QStringList& storedValues() const { return m_storedValues; }

    void restore();
    void save() const;

private:
    QWidget* m_form;
    QString m_group;
    QStringList m_storedValues;
};
