#include "store/plan_store.h"

#include "platform/database.h"
#include "platform/failure.h"
#include "state/text.h"

#include <QCryptographicHash>

#include <limits>

using state::sqlQuote;

namespace store {
namespace {

// The columns' Japanese names and sizes, for a text refused as too long.
struct ColumnSize {
    const char* column;
    const char* caption;
    int size;
};
constexpr ColumnSize kColumnSizes[] = {
    {"P_DETAIL", "用件", 255}, {"P_PLACE", "場所", 255}, {"P_NOTICE", "備考", 255},
    {"P_DATE", "日付", 10},    {"P_HOUR", "時", 2},      {"P_MIN", "分", 2},
    {"END_DATE", "終了日", 10}, {"END_HOUR", "終了時", 2}, {"END_MIN", "終了分", 2},
};

// The schema names each size check after its column: "CHECK constraint failed: P_DETAIL_SIZE".
QString tooLong(const QString& engineText)
{
    for (const ColumnSize& column : kColumnSizes)
        if (engineText.contains(QLatin1String(column.column) + QLatin1String("_SIZE")))
            return tooLongDescription(QLatin1String(column.column));
    return {};
}
// Every connection names a refused size in these words, whoever opened it.
[[maybe_unused]] const bool kChecksDescribed = (platform::describeChecksWith(tooLong), true);

QString hashOf(std::initializer_list<const QString*> texts)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QString* text : texts) {
        const QByteArray utf8 = text->toUtf8();
        // The length first, so that no two different rows hash the same bytes.
        hash.addData(QByteArray::number(utf8.size()) + ':');
        hash.addData(utf8);
    }
    return QString::fromLatin1(hash.result().toHex());
}

// The statement's condition for today's rows, today standing quoted in it.
QString todayCondition(const QString& quotedToday)
{
    return QStringLiteral(" WHERE PLAN_DAT.P_DATE = '") + quotedToday + QStringLiteral("'");
}

} // namespace

int columnSize(const QString& column)
{
    for (const ColumnSize& c : kColumnSizes)
        if (column == QLatin1String(c.column))
            return c.size;
    return std::numeric_limits<int>::max();
}

QString tooLongDescription(const QString& column)
{
    for (const ColumnSize& c : kColumnSizes)
        if (column == QLatin1String(c.column))
            return QStringLiteral("「%1」の文字数が多すぎます（%2文字以内）。").arg(QString::fromUtf8(c.caption)).arg(c.size);
    return QStringLiteral("文字数が多すぎます。");
}

bool sameAppointment(const PLAN_REC& a, const PLAN_REC& b)
{
    return a.P_DATE == b.P_DATE && a.P_HOUR == b.P_HOUR && a.P_MIN == b.P_MIN && a.P_DETAIL == b.P_DETAIL
        && a.P_IMPORTANCE == b.P_IMPORTANCE && a.P_PLACE == b.P_PLACE && a.P_NOTICE == b.P_NOTICE
        && a.END_DATE == b.END_DATE && a.END_HOUR == b.END_HOUR && a.END_MIN == b.END_MIN && a.ALL_DAY == b.ALL_DAY;
}

QString digest(const PLAN_REC& r)
{
    const QString importance = QString::number(r.P_IMPORTANCE);
    if (!r.hasEnd() && !r.ALL_DAY)
        return hashOf({&r.P_DATE, &r.P_HOUR, &r.P_MIN, &r.P_DETAIL, &importance, &r.P_PLACE, &r.P_NOTICE});
    const QString allDay = r.ALL_DAY ? QStringLiteral("1") : QStringLiteral("0");
    return hashOf({&r.P_DATE, &r.P_HOUR, &r.P_MIN, &r.P_DETAIL, &importance, &r.P_PLACE, &r.P_NOTICE, &r.END_DATE,
                   &r.END_HOUR, &r.END_MIN, &allDay});
}

QString digest(const PLAN_REC& r, std::optional<int> remind)
{
    if (!remind)
        return digest(r);
    const QString values = digest(r);
    const QString lead = QString::number(*remind);
    return hashOf({&values, &lead});
}

QString firstUid(const PLAN_REC& row)
{
    return hashOf({&row.P_DATE, &row.P_HOUR, &row.P_MIN, &row.P_DETAIL}) + QStringLiteral("@meridocal");
}

QString timeSpanCaption(const PLAN_REC& row)
{
    if (row.ALL_DAY)
        return row.END_DATE.isEmpty() || row.END_DATE == row.P_DATE ? QStringLiteral("終日")
                                                                      : QStringLiteral("終日〜") + row.END_DATE;
    QString text = state::timeCaption(row.P_HOUR, row.P_MIN);
    if (row.hasEnd())
        text += QStringLiteral("〜") + (row.END_DATE == row.P_DATE ? QString() : row.END_DATE + QLatin1Char(' '))
            + state::timeCaption(row.END_HOUR, row.END_MIN);
    return text;
}

QString countTodaySql(const QString& today)
{
    return listTodaySql(today);
}

QString purgeAtStartSql(const QString& today)
{
    return purgeOnDemandSql(today);
}

QString purgeOnDemandSql(const QString& today)
{
    // An appointment still going on stays: deleting it would lose it. A row without an end has
    // an empty END_DATE, before every date.
    const QString quoted = sqlQuote(today);
    return QStringLiteral("DELETE FROM PLAN_DAT WHERE PLAN_DAT.P_DATE < '") + quoted
        + QStringLiteral("' AND PLAN_DAT.END_DATE < '") + quoted + QStringLiteral("'");
}

QString listTodaySql(const QString& today)
{
    // The days-long ones that began earlier come first, found along their own small index: the
    // "+" keeps the engine from walking every past row of PLAN_DAT_KEY instead.
    const QString quoted = sqlQuote(today);
    return QStringLiteral("SELECT * FROM (SELECT * FROM PLAN_DAT WHERE END_DATE > P_DATE AND END_DATE >= '") + quoted
        + QStringLiteral("' AND +P_DATE < '") + quoted
        + QStringLiteral("' ORDER BY +P_DATE, P_HOUR, P_MIN) UNION ALL SELECT * FROM PLAN_DAT") + todayCondition(quoted);
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
        {"P_DATE", &row.P_DATE},     {"P_HOUR", &row.P_HOUR},     {"P_MIN", &row.P_MIN},
        {"P_DETAIL", &row.P_DETAIL}, {"P_PLACE", &row.P_PLACE},   {"P_NOTICE", &row.P_NOTICE},
        {"END_DATE", &row.END_DATE}, {"END_HOUR", &row.END_HOUR}, {"END_MIN", &row.END_MIN}};
    for (const auto& [column, text] : texts) {
        const QString name = QLatin1String(column);
        if (characters(*text) > columnSize(name))
            throw platform::Failure(tooLongDescription(name));
    }
}

QString rowColumns(const QString& alias)
{
    QStringList columns = kRowColumns.split(QStringLiteral(", "));
    for (QString& column : columns)
        column.prepend(alias + QLatin1Char('.'));
    return columns.join(QStringLiteral(", "));
}

StoredRow storedRow(const std::vector<QVariant>& v)
{
    return {v.at(0).toLongLong(),
            {v.at(1).toString(), v.at(2).toString(), v.at(3).toString(), v.at(4).toString(), qint16(v.at(5).toInt()),
             v.at(6).toString(), v.at(7).toString(), v.at(8).toString(), v.at(9).toString(), v.at(10).toString(),
             v.at(11).toInt() != 0},
            v.at(12).toString(), v.size() > 13 ? v.at(13).toLongLong() : 0};
}

bool isDuplicate(platform::Database& db, const PLAN_REC& row, qint64 exceptId)
{
    return !db.query(QStringLiteral("SELECT 1 FROM PLAN_DAT WHERE P_DATE = ? AND P_DETAIL = ? AND P_HOUR = ?"
                                    " AND P_MIN = ? AND ID <> ? LIMIT 1"),
                     {row.P_DATE, state::trimBlanks(row.P_DETAIL), row.P_HOUR, row.P_MIN, exceptId})
                .empty();
}

qint64 insert(platform::Database& db, const PLAN_REC& row, const QString& uid, const QByteArray& source)
{
    checkFits(row);
    const QVariantList values{row.P_DATE,   row.P_HOUR,   row.P_MIN,     int(row.P_IMPORTANCE), row.P_DETAIL,
                              row.P_PLACE,  row.P_NOTICE, row.END_DATE,  row.END_HOUR,          row.END_MIN,
                              int(row.ALL_DAY), source.isEmpty() ? QVariant() : QVariant(QString::fromUtf8(source))};
    const QString columns = QStringLiteral("P_DATE, P_HOUR, P_MIN, P_IMPORTANCE, P_DETAIL, P_PLACE, P_NOTICE, END_DATE,"
                                           " END_HOUR, END_MIN, ALL_DAY, SOURCE");
    if (uid.isEmpty())
        db.run(QStringLiteral("INSERT INTO PLAN_DAT (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(columns), values);
    else
        db.run(QStringLiteral("INSERT INTO PLAN_DAT (%1, UID) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)").arg(columns),
               QVariantList(values) << uid);
    return db.lastInsertRowId();
}

bool replace(platform::Database& db, qint64 id, const PLAN_REC& row)
{
    checkFits(row);
    return db.run(QStringLiteral("UPDATE PLAN_DAT SET P_DATE = ?, P_HOUR = ?, P_MIN = ?, P_IMPORTANCE = ?, P_DETAIL = ?,"
                                 " P_PLACE = ?, P_NOTICE = ?, END_DATE = ?, END_HOUR = ?, END_MIN = ?, ALL_DAY = ?"
                                 " WHERE ID = ?"),
                  {row.P_DATE, row.P_HOUR, row.P_MIN, int(row.P_IMPORTANCE), row.P_DETAIL, row.P_PLACE, row.P_NOTICE,
                   row.END_DATE, row.END_HOUR, row.END_MIN, int(row.ALL_DAY), id})
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
    db.run(QStringLiteral("DELETE FROM PLAN_DAT WHERE ID = ?"), {id});
}

QByteArray sourceOf(platform::Database& db, qint64 id)
{
    const auto rows = db.query(QStringLiteral("SELECT SOURCE FROM PLAN_DAT WHERE ID = ?"), {id});
    return rows.empty() ? QByteArray() : rows.front().at(0).toString().toUtf8();
}

} // namespace store
