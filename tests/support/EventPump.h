// Event-loop helpers for tests of Qt Core code.
#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// Creates the process's QCoreApplication on first use (tests that need one call this first).
void EnsureCoreApplication();

// Handles events until `done` returns true or `timeout` passes; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Handles events for `duration`.
void PumpFor(std::chrono::milliseconds duration);

} // namespace testsupport
