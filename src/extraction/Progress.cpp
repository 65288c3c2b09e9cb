#include "extraction/Progress.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

TfmProgress::TfmProgress(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_bar(new QProgressBar(this))
    , m_cancel(new QPushButton(QStringLiteral("Отмена"), this)) {
    setObjectName(QStringLiteral("fmProgress"));
    setWindowTitle(QStringLiteral("Обработка данных"));
    // Border width 2 around a client area of 328 × 98: the bar, and the button under it.
    setContentsMargins(2, 2, 2, 2);
    setFixedSize(328 + 4, 98 + 4);
    setStyleSheet(QStringLiteral("TfmProgress { border: 2px solid palette(dark); }"));
    setAttribute(Qt::WA_StyledBackground);
    m_bar->setObjectName(QStringLiteral("ProgressBar1"));
    m_bar->setGeometry(2 + 13, 2 + 16, 306, 34);
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 0 + 1);
    m_bar->setValue(0);
    m_cancel->setObjectName(QStringLiteral("btCancel"));
    m_cancel->setGeometry(2 + 114, 2 + 60, 100, 30);
    m_cancel->setAutoDefault(false);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        // Pressed twice, the run is still asked only once.
        m_cancel->setEnabled(false);
        emit CancelRequested();
    });
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void TfmProgress::SetOwnerWindow(QWidget* window) {
    if (m_ownerWindow != window)
        m_ownerWindow = window;
}

void TfmProgress::SetMaxValue(int value) {
    if (m_maxValue != value)
        m_maxValue = value;
}

void TfmProgress::SetStepValue(int value) {
    if (m_stepValue != value)
        m_stepValue = value;
}

void TfmProgress::ProgressStart() {
    m_bar->setValue(0);
    m_cancel->setEnabled(true);
    show();
    // Escape reaches the window only when it has the keyboard.
    activateWindow();
    m_cancel->setFocus();
    if (m_ownerWindow)
        m_ownerWindow->setEnabled(false);
}

void TfmProgress::ProgressApplyMax() {
    m_bar->setMaximum(qMax(m_maxValue, 0));
}

void TfmProgress::ProgressApplyStep() {
    const qint64 next = qint64(m_bar->value()) + m_stepValue;
    m_bar->setValue(int(qBound(qint64(m_bar->minimum()), next, qint64(m_bar->maximum()))));
}

void TfmProgress::ProgressFinish() {
    if (m_ownerWindow)
        m_ownerWindow->setEnabled(true);
    m_bar->setValue(m_bar->maximum());
    close();
}

void TfmProgress::closeEvent(QCloseEvent* event) {
    if (m_bar->value() == m_bar->maximum())
        event->accept();
    else
        event->ignore();
}

void TfmProgress::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (m_cancel->isEnabled())
            m_cancel->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
