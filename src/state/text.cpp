#include "state/text.h"

namespace state {
namespace {
bool isBlank(QChar c)
{
    return c == QChar(0x0020) || c == QChar(0x3000);
}
} // namespace

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString sqlQuote(const QString& value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    // The engine reads a statement only up to a NUL, so a NUL cannot stand inside the literal:
    // the literal is closed around it and the character joined in by its code.
    quoted.replace(QChar(0), QLatin1String("'||char(0)||'"));
    return quoted;
}

QString timeCaption(const QString& hour, const QString& minute)
{
    return hour + QStringLiteral("時") + minute + QStringLiteral("分");
}

QString importanceMarks(qint16 importance)
{
    return importance == 0 ? QStringLiteral("!!!") : importance == 1 ? QStringLiteral("!!") : QStringLiteral("!");
}

QString importanceName(qint16 importance)
{
    return importance == 0 ? QStringLiteral("重要度 高") : importance == 1 ? QStringLiteral("重要度 中") : QStringLiteral("重要度 低");
}

QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

QString dateKey(const QDate& date)
{
    return QStringLiteral("%1/%2/%3").arg(date.year(), 4, 10, QLatin1Char('0')).arg(twoDigits(date.month()), twoDigits(date.day()));
}

QString dateCaption(const QDate& date)
{
    return QStringLiteral("%1年%2月%3日").arg(date.year(), 4, 10, QLatin1Char('0')).arg(twoDigits(date.month()), twoDigits(date.day()));
}

} // namespace state
