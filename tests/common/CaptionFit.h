#pragma once

// Whether a window shows every caption whole: each visible button, check box, radio button, label
// and group box title, measured in the control's own font as its style lays the control out,
// against the room the control gives the caption and the room its parents leave the control.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include <algorithm>

namespace CaptionFit {

// The caption as drawn: "&&" is an ampersand, any other "&" marks the next letter.
inline QString drawnText(const QString& caption) {
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        text += caption.at(i);
    }
    return text;
}

inline QSize textSize(const QWidget* control, const QString& caption, const QIcon& icon = {},
                      const QSize& iconSize = {}) {
    const QFontMetrics metrics = control->fontMetrics();
    const QStringList lines = drawnText(caption).split(QLatin1Char('\n'));
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    if (!icon.isNull())
        width += iconSize.width() + 4;
    return {width, metrics.height() * int(lines.size())};
}

// The caption the control shows, empty for a control without one or one this check leaves out.
inline QString captionOf(const QWidget* control) {
    if (const auto* box = qobject_cast<const QGroupBox*>(control))
        return box->title();
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (const auto* tool = qobject_cast<const QToolButton*>(control))
        return tool->arrowType() != Qt::NoArrow ||
                       (tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull())
                   ? QString()
                   : tool->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    return {};
}

// "" when the caption of the control fits the room its style gives it, else what it needs and
// has.
inline QString ownRoom(QWidget* control) {
    QStyle* style = control->style();
    QSize needed;
    QRect room;
    if (auto* box = qobject_cast<QGroupBox*>(control)) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.textAlignment = box->alignment();
        option.lineWidth = 1;
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        if (box->isCheckable())
            option.subControls |= QStyle::SC_GroupBoxCheckBox;
        if (box->isFlat())
            option.features |= QStyleOptionFrame::Flat;
        // The style sizes the title's place by its text: a place that leaves the box is cut.
        const QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        needed = title.size();
        room = box->rect().intersected(title);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        room = QRect(QPoint(0, 0), label->size());
        needed = label->wordWrap() ? QSize(1, label->heightForWidth(label->width()))
                                   : label->minimumSizeHint();
    } else if (auto* tool = qobject_cast<QToolButton*>(control)) {
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tool);
        room = tool->rect().adjusted(frame, frame, -frame, -frame);
        needed = textSize(tool, tool->text());
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        QStyle::SubElement contents = QStyle::SE_PushButtonContents;
        if (qobject_cast<QCheckBox*>(button)) {
            contents = QStyle::SE_CheckBoxContents;
        } else if (qobject_cast<QRadioButton*>(button)) {
            contents = QStyle::SE_RadioButtonContents;
        } else if (auto* push = qobject_cast<QPushButton*>(button)) {
            if (push->autoDefault() || push->isDefault())
                option.features |= QStyleOptionButton::AutoDefaultButton;
            if (push->isFlat())
                option.features |= QStyleOptionButton::Flat;
        }
        room = style->subElementRect(contents, &option, button);
        needed = textSize(button, button->text(), button->icon(), button->iconSize());
    }
    if (needed.width() <= room.width() && needed.height() <= room.height())
        return {};
    return QStringLiteral("needs %1x%2, has %3x%4")
        .arg(needed.width())
        .arg(needed.height())
        .arg(room.width())
        .arg(room.height());
}

// Every captioned control of the shown `window` whose caption is cut, one line each; empty when
// every caption shows whole.
inline QStringList clippedCaptions(QWidget* window) {
    QStringList clipped;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        const QString caption = captionOf(control);
        if (caption.isEmpty() || !control->isVisible())
            continue;
        QString why = ownRoom(control);
        // A parent narrower or lower than the control cuts it, caption and all.
        const QRect shown = control->visibleRegion().boundingRect();
        if (why.isEmpty() && shown != control->rect())
            why = QStringLiteral("cut by its parents to %1x%2")
                      .arg(shown.width())
                      .arg(shown.height());
        if (!why.isEmpty())
            clipped << QStringLiteral("%1 %2 «%3»: %4")
                           .arg(QString::fromLatin1(control->metaObject()->className()),
                                control->objectName(), caption, why);
    }
    return clipped;
}

} // namespace CaptionFit
