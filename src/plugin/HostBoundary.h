#pragma once

#include <utility>

// An error must never unwind into the host: the host is foreign code that knows nothing of our
// exceptions, and unwinding through its frames ends the process. Every entry from the host (the
// exports and the menu click slots) therefore runs through callAtHostBoundary. What the original
// suite did there, hand the error to the application's standard error display, is here the
// plug-in's own error box (MessageBoxes::error, caption "Ошибка"); without a widget application
// in the process the text goes to stderr instead.
void reportCurrentErrorToHost() noexcept;

template <class Body>
void callAtHostBoundary(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        reportCurrentErrorToHost();
    }
}
