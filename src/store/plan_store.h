#pragma once

#include <QString>

namespace store {

// One appointment as stored in PLAN_DAT; the list window keeps its rows in this form.
struct PLAN_REC {
    QString P_DATE;
    QString P_HOUR;
    QString P_MIN;
    QString P_DETAIL;
    qint16 P_IMPORTANCE = 0;
    QString P_PLACE;
    QString P_NOTICE;
};

inline const QString kTable = QStringLiteral("PLAN_DAT");

// The statements issued against PLAN_DAT. Every value stands between single quotes with each
// of its quotes doubled, so a typed text is always a text and never part of the statement.
QString countTodaySql(const QString& today);                       // today's rows, for the count
QString purgeAtStartSql(const QString& today);                     // rows before today, at start-up
QString purgeOnDemandSql(const QString& today);                    // rows before today, on request
QString listTodaySql(const QString& today);                        // today's rows, for the list
QString deleteSql(const PLAN_REC& row);                            // one appointment and its twins
QString duplicateSql(const QString& date, const QString& trimmedDetail, const QString& hour,
                     const QString& minute);                       // the same appointment, if stored

} // namespace store
