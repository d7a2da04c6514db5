#include "store/plan_store.h"

#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"

using state::sqlQuote;

namespace store {

QString countTodaySql(const QString& today)
{
    return QStringLiteral("SELECT * FROM PLAN_DAT WHERE PLAN_DAT.P_DATE = '") + sqlQuote(today) + QStringLiteral("'");
}

QString purgeAtStartSql(const QString& today)
{
    return QStringLiteral("DELETE") + QStringLiteral(" FROM PLAN_DAT") + QStringLiteral(" WHERE PLAN_DAT.P_DATE< '")
        + sqlQuote(today) + QStringLiteral("'");
}

QString purgeOnDemandSql(const QString& today)
{
    // SQLite has no "DELETE * FROM"; the plain form deletes the same rows.
    return QStringLiteral("DELETE FROM PLAN_DAT WHERE PLAN_DAT.P_DATE < '") + sqlQuote(today) + QStringLiteral("'");
}

QString listTodaySql(const QString& today)
{
    return QStringLiteral("SELECT * FROM PLAN_DAT WHERE P_DATE= '") + sqlQuote(today) + QStringLiteral("';");
}

QString deleteSql(const PLAN_REC& row)
{
    return QStringLiteral("DELETE") + QStringLiteral(" FROM PLAN_DAT")
        + QStringLiteral(" WHERE PLAN_DAT.P_DATE = '") + sqlQuote(row.P_DATE) + QStringLiteral("'")
        + QStringLiteral(" AND PLAN_DAT.P_DETAIL = '") + sqlQuote(row.P_DETAIL) + QStringLiteral("'")
        + QStringLiteral(" AND PLAN_DAT.P_HOUR = '") + sqlQuote(row.P_HOUR) + QStringLiteral("'")
        + QStringLiteral(" AND PLAN_DAT.P_MIN= '") + sqlQuote(row.P_MIN) + QStringLiteral("';");
}

QString duplicateSql(const QString& date, const QString& trimmedDetail, const QString& hour, const QString& minute)
{
    return QStringLiteral("SELECT") + QStringLiteral(" PLAN_DAT.* FROM PLAN_DAT")
        + QStringLiteral(" WHERE PLAN_DAT.P_DATE = '") + sqlQuote(date) + QStringLiteral("'")
        + QStringLiteral(" AND PLAN_DAT.P_DETAIL = '") + sqlQuote(trimmedDetail) + QStringLiteral("'")
        + QStringLiteral(" AND PLAN_DAT.P_HOUR = '") + sqlQuote(hour) + QStringLiteral("'")
        + QStringLiteral(" AND PLAN_DAT.P_MIN= '") + sqlQuote(minute) + QStringLiteral("';");
}

qsizetype characters(const QString& text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++n;
    }
    return n;
}

QString fitted(const QString& text, int size)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++n) {
        if (n == size)
            return text.left(i);
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    return text;
}

void checkFits(const PLAN_REC& row)
{
    const std::pair<const char*, const QString*> texts[] = {
        {"P_DATE", &row.P_DATE},     {"P_HOUR", &row.P_HOUR},   {"P_MIN", &row.P_MIN},
        {"P_DETAIL", &row.P_DETAIL}, {"P_PLACE", &row.P_PLACE}, {"P_NOTICE", &row.P_NOTICE}};
    for (const auto& [column, text] : texts) {
        const QString name = QLatin1String(column);
        if (characters(*text) > platform::columnSize(name))
            throw platform::Failure(platform::tooLongDescription(name));
    }
}

StoredRow storedRow(const std::vector<QVariant>& v)
{
    return {v.at(0).toLongLong(),
            {v.at(1).toString(), v.at(2).toString(), v.at(3).toString(), v.at(4).toString(), qint16(v.at(5).toInt()),
             v.at(6).toString(), v.at(7).toString()}};
}

bool isDuplicate(platform::Database& db, const PLAN_REC& row, qint64 exceptId)
{
    return !db.query(QStringLiteral("SELECT 1 FROM PLAN_DAT WHERE P_DATE = ? AND P_DETAIL = ? AND P_HOUR = ?"
                                    " AND P_MIN = ? AND rowid <> ? LIMIT 1"),
                     {row.P_DATE, state::trimBlanks(row.P_DETAIL), row.P_HOUR, row.P_MIN, exceptId})
                .empty();
}

qint64 insert(platform::Database& db, const PLAN_REC& row)
{
    checkFits(row);
    db.run(QStringLiteral("INSERT INTO PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_IMPORTANCE, P_DETAIL, P_PLACE, P_NOTICE)"
                          " VALUES (?, ?, ?, ?, ?, ?, ?)"),
           {row.P_DATE, row.P_HOUR, row.P_MIN, int(row.P_IMPORTANCE), row.P_DETAIL, row.P_PLACE, row.P_NOTICE});
    return db.lastInsertRowId();
}

bool replace(platform::Database& db, qint64 id, const PLAN_REC& row)
{
    checkFits(row);
    return db.run(QStringLiteral("UPDATE PLAN_DAT SET P_DATE = ?, P_HOUR = ?, P_MIN = ?, P_IMPORTANCE = ?, P_DETAIL = ?,"
                                 " P_PLACE = ?, P_NOTICE = ? WHERE rowid = ?"),
                  {row.P_DATE, row.P_HOUR, row.P_MIN, int(row.P_IMPORTANCE), row.P_DETAIL, row.P_PLACE, row.P_NOTICE, id})
        > 0;
}

std::optional<PLAN_REC> find(platform::Database& db, qint64 id)
{
    const auto rows = db.query(QStringLiteral("SELECT ") + kRowColumns + QStringLiteral(" FROM PLAN_DAT WHERE rowid = ?"), {id});
    if (rows.empty())
        return std::nullopt;
    return storedRow(rows.front()).rec;
}

void remove(platform::Database& db, qint64 id)
{
    db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE rowid = ?"), {id});
}

} // namespace store
