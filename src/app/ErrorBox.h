#pragma once
// How an error reaches the user: the error box's text and the one place that
// catches whatever a handler raises.
#include <QString>

#include <exception>
#include <functional>
#include <string>

class QWidget;

namespace corvane {

// The error's text as the error box shows it: a full stop is added when the
// last character sorts after "." (so "No MCI device open" gets one and a text
// ending in ")" or "." does not).
QString errorBoxText(const QString& text);
QString errorBoxText(const std::string& text);

// Text of an exception caught by the handler wrapper.
QString describeException(std::exception_ptr error);

// Shows the error box (caption "Corvane", error icon) over `parent`.
void showErrorBox(QWidget* parent, const QString& message);

} // namespace corvane
