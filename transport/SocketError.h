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
