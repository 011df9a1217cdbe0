// The one exception of the network path. Every thrower holds
// "mutex_exception"; the final catcher releases it exactly once.
#pragma once

#include <stdio.h>

class SocketError {
  public:
    explicit SocketError(const char* text, int code_ = 0) : code(code_) {
        snprintf(message, sizeof(message), "%s", text ? text : "");
    }
    char message[100];  // at most 99 characters
    int code;
};

// Takes "mutex_exception" (skipped while the process globals do not exist)
// and throws SocketError(text, 1). A second thread about to throw waits here
// until the first failure's final catcher has released the lock.
[[noreturn]] void ThrowSocketError(const char* text);

// For the final catcher of a SocketError: releases "mutex_exception" once.
// A catcher that rethrows a fresh SocketError must not call it.
void ReleaseSocketError();
