#pragma once

#include <cstdint>

// Waits that keep the event loop running: socket, timer and window events are delivered
// (re-entrantly) while the caller waits. The thread sleeps in the kernel until an event
// or the deadline arrives, so a wait costs no CPU.

// Runs the event loop for centiseconds × 10 ms.
void Wait(int centiseconds);
// Runs the event loop for seconds × 1000 ms.
void WaitSeconds(int seconds);
// Runs the event loop for ms milliseconds.
void WaitMilliseconds(int64_t ms);

// A monotonic millisecond clock that never wraps (deadlines of every component).
int64_t TickCount();
