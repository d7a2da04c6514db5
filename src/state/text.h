#pragma once

#include <QDate>
#include <QString>

namespace state {

// Removes leading and trailing blanks: the half-width space and the ideographic space.
// The subject check, the duplicate query and the name rules all trim with this one rule.
QString trimBlanks(const QString& text);

// A value as it stands between single quotes in a statement: each ' doubled, so that no
// typed text can end the literal early, and each NUL joined in as char(0).
QString sqlQuote(const QString& value);

// "YYYY/MM/DD", zero-padded and independent of the locale: the P_DATE form.
QString dateKey(const QDate& date);

// "YYYY年MM月DD日", zero-padded.
QString dateCaption(const QDate& date);

// An appointment's time as the windows show it, "09時30分", from the hour and minute as stored.
QString timeCaption(const QString& hour, const QString& minute);

// The importance marks the windows show: "!!!" for high (0), "!!" for medium (1), "!" otherwise.
QString importanceMarks(qint16 importance);
// What the marks mean, for a screen reader: "重要度 高", "重要度 中" or "重要度 低", as the marks go.
QString importanceName(qint16 importance);

// Two digits with a leading zero (hours and minutes as stored).
QString twoDigits(int n);

} // namespace state
