// Helpers for widget tests, offscreen (their main is WidgetTestMain.cpp): answering modal
// dialogs, and clearing the end of the program between tests.
#pragma once

#include <QString>
#include <functional>
#include <ostream>

class QDialog;

// Test failures show texts as text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace testsupport {

// After a test that ended the program (QCoreApplication::exit, which also makes every later
// modal dialog return at once): clears the ending so the next test runs normally.
void ClearProgramEnd();

// Runs `act` on the next modal dialog that opens on top of the current one (or on the first,
// when none is open), polled every 5 ms for up to 5 s. `act` usually inspects the dialog and
// then answers it; when it leaves it open, the caller's exec() goes on running.
void OnNextModal(std::function<void(QDialog*)> act);

} // namespace testsupport
