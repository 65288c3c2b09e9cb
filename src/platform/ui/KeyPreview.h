#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;
class QWidget;

// Key preview for one window: the window sees a key pressed in any of its own controls before
// the control does (Esc closes a statistics window from whichever control has the focus).
// Only the window and the widgets inside it are watched, also those added later, so the rest of
// the application's events never pass through here; windows of their own among its children (an
// open combo box list, a window opened from this one) keep their keys. Owned by the window.
class KeyPreview : public QObject {
public:
    // `handler` returns true when it has taken the key; the control then never sees it.
    using Handler = std::function<bool(QKeyEvent*)>;
    KeyPreview(QWidget* window, Handler handler);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QWidget* widget);

    QWidget* m_window;
    Handler m_handler;
};
