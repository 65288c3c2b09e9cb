#pragma once

// Whether a shown window has every caption whole: each visible button, check box, radio button,
// label and group title, measured in the control's own font, against the room its style gives
// the caption and the room its parents leave the control.

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOption>
#include <QTest>
#include <QToolButton>

#include <optional>
#include <utility>

namespace CaptionFit {

// What the caption needs and the room it has; nothing for a control without a caption.
inline std::optional<std::pair<QSize, QRect>> need(QWidget* control) {
    QStyle* style = control->style();
    // As drawn: "&&" is an ampersand, any other "&" marks the next letter.
    const auto textSize = [control](QString text) {
        text.replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
        return QSize(control->fontMetrics().horizontalAdvance(text),
                     control->fontMetrics().height());
    };
    if (auto* box = qobject_cast<QGroupBox*>(control); box && !box->title().isEmpty()) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.textAlignment = box->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        // The style sizes the title's place by its text: a place that leaves the box is cut.
        const QRect title =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        return std::pair{title.size(), box->rect().intersected(title)};
    }
    if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty())
        return std::pair{label->wordWrap() ? QSize(1, label->heightForWidth(label->width()))
                                           : label->minimumSizeHint(),
                         label->rect()};
    if (auto* tool = qobject_cast<QToolButton*>(control)) {
        if (tool->text().isEmpty() || tool->arrowType() != Qt::NoArrow || !tool->icon().isNull())
            return {};
        const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tool);
        return std::pair{textSize(tool->text()),
                         tool->rect().adjusted(frame, frame, -frame, -frame)};
    }
    auto* button = qobject_cast<QAbstractButton*>(control);
    if (!button || button->text().isEmpty())
        return {};
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<QCheckBox*>(button))
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<QRadioButton*>(button))
        contents = QStyle::SE_RadioButtonContents;
    else if (auto* push = qobject_cast<QPushButton*>(button); push && push->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    QSize text = textSize(button->text());
    if (!button->icon().isNull())
        text.rwidth() += button->iconSize().width() + 4;
    return std::pair{text, style->subElementRect(contents, &option, button)};
}

// One line for each visible control of `window` whose caption is cut; empty when all are whole.
inline QStringList clippedCaptions(QWidget* window) {
    QStringList clipped;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        const auto needed = need(control);
        if (!needed || !control->isVisible())
            continue;
        const auto [size, room] = *needed;
        // A parent narrower or lower than the control cuts it, caption and all.
        const QRect shown = control->visibleRegion().boundingRect();
        if (size.width() > room.width() || size.height() > room.height() ||
            shown != control->rect())
            clipped << QStringLiteral("%1 %2: needs %3x%4, has %5x%6, shown %7x%8")
                           .arg(QString::fromLatin1(control->metaObject()->className()),
                                control->objectName())
                           .arg(size.width())
                           .arg(size.height())
                           .arg(room.width())
                           .arg(room.height())
                           .arg(shown.width())
                           .arg(shown.height());
    }
    return clipped;
}

// The cut captions of `window` shown at its smallest size, once its layout has settled.
inline QStringList clippedAtSmallest(QWidget* window) {
    if (!window->minimumSize().isEmpty())
        window->resize(window->minimumSize());
    if (!QTest::qWaitForWindowExposed(window))
        return {window->objectName() + QStringLiteral(" was never shown")};
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    return clippedCaptions(window);
}

// What the windows of one case cut, each measured at its smallest size as it is shown; `report`
// says what went wrong, empty when nothing did.
struct Survey {
    QStringList clipped;
    bool measured = false;
    void operator()(QWidget* shown) {
        measured = true;
        clipped << clippedAtSmallest(shown);
    }
    QString report() const {
        return measured ? clipped.join(QLatin1Char('\n')) : QStringLiteral("no window was shown");
    }
};

} // namespace CaptionFit
