#pragma once
// What the files of the main window share beside the class: the text of a
// box, the observation time between the picker and the calendar, and how
// long a save's message stands.
#include "reduce/Epoch.h"

#include <QDateTime>
#include <QLineEdit>

#include <cmath>
#include <string>

namespace corvane::form1 {

// How long the status bar says where a save went before the video's path
// shows again.
inline constexpr int kSavedMessageMs = 15000;

inline std::string text(const QLineEdit* e) {
    return e->text().toStdString();
}

inline CivilDateTime toCivil(const QDateTime& utc) {
    const QDateTime t = utc.toUTC();
    CivilDateTime c;
    c.year = t.date().year();
    c.month = t.date().month();
    c.day = t.date().day();
    c.hour = t.time().hour();
    c.minute = t.time().minute();
    c.second = t.time().second() + t.time().msec() / 1000.0;
    return c;
}

inline QDateTime fromCivil(const CivilDateTime& c) {
    const int whole = static_cast<int>(std::floor(c.second));
    const int msec = static_cast<int>(std::lround((c.second - whole) * 1000.0));
    return QDateTime(QDate(c.year, c.month, c.day), QTime(c.hour, c.minute, whole, msec), Qt::UTC);
}

} // namespace corvane::form1
