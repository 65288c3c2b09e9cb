#pragma once

#include "platform/core/Exceptions.h"

#include <memory>

// A new error of the class of `error` whose message is "<context> -> <message>", with
// " <# ClassName #>" appended once when `appendClassName` is set. `error` is left unchanged.
// The query builders and the report export both put their context in front of a caught error
// this way, so it lives below both of them.
std::unique_ptr<Exception> ExceptionWithContext(const Exception& error, const QString& context,
                                                bool appendClassName);
