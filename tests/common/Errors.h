#pragma once

// The message of the error of class E that `body` raises, or the empty text when it raises none;
// an error of another class passes through and fails the test.

#include "platform/core/Exceptions.h"

template <class E = Exception, class Body>
QString errorOf(Body&& body) {
    try {
        body();
    } catch (const E& e) {
        return e.message();
    }
    return {};
}
