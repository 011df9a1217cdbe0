// The listener thread: accepts server connections on the local port.
#pragma once

void* ListenToPort(void* unused);
