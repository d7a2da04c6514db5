#include "store/plan_store.h"

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

} // namespace store
