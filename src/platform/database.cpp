#include "platform/database.h"

#include "platform/failure.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <limits>

namespace platform {
namespace {

QString errorOf(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

[[noreturn]] void fail(sqlite3* db)
{
    throw Failure(errorOf(db));
}

// Prepares exactly one statement. Text after it other than blanks would be a second statement
// smuggled in, so it is refused rather than silently ignored.
sqlite3_stmt* prepare(sqlite3* db, const QString& sql)
{
    if (!db)
        throw Failure(QStringLiteral("データベースが開かれていません。"));
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, &tail) != SQLITE_OK)
        fail(db);
    if (!stmt)
        throw Failure(QStringLiteral("SQL 文がありません。"));
    if (tail && !QByteArray(tail).trimmed().isEmpty()) {
        sqlite3_finalize(stmt);
        throw Failure(QStringLiteral("SQL 文の後に余分な文字があります。"));
    }
    return stmt;
}

struct Statement {
    sqlite3_stmt* stmt;
    ~Statement() { sqlite3_finalize(stmt); }
};

QVariant columnValue(sqlite3_stmt* stmt, int i)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, i));
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(stmt, i)));
    }
    }
}

void bind(sqlite3* db, sqlite3_stmt* stmt, int index, const QVariant& value)
{
    int rc = SQLITE_OK;
    if (value.isNull()) {
        rc = sqlite3_bind_null(stmt, index);
    } else if (value.typeId() == QMetaType::QString) {
        const QByteArray utf8 = value.toString().toUtf8();
        rc = sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    } else {
        rc = sqlite3_bind_int64(stmt, index, value.toLongLong());
    }
    if (rc != SQLITE_OK)
        fail(db);
}

} // namespace

qint16 toInt16(qint64 value)
{
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        throw Failure(QStringLiteral("オーバーフローしました。"));
    return qint16(value);
}

std::unique_ptr<Database> Database::open(const QString& path)
{
    // Without write permission the file is opened read-only, whoever runs the program, so a
    // protected file is never changed (a purge then fails with the engine's description).
    const QFileInfo info(path);
    const bool writable = info.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
    const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_FULLMUTEX;
    sqlite3* db = nullptr;
    const QByteArray utf8 = path.toUtf8();
    if (sqlite3_open_v2(utf8.constData(), &db, flags, nullptr) != SQLITE_OK) {
        const QString description = db ? errorOf(db) : QStringLiteral("out of memory");
        sqlite3_close(db);
        throw Failure(description);
    }
    std::unique_ptr<Database> result(new Database(db));
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // Every commit reaches the disk before it returns, and the rollback journal lets a
    // commit cut short by a crash or power loss be undone at the next open.
    // (FULL is also the engine's default, so a file locked right now loses nothing by the
    // pragma failing.)
    sqlite3_exec(db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
    // Reading the schema now makes a file that is not a database fail here, where the
    // user opened it, rather than at some later command.
    // A file that another program holds locked is still a database: it stays open, and each
    // statement fails with "database is locked" until the lock is gone.
    const QByteArray schemaCheck("SELECT count(*) FROM sqlite_master");
    sqlite3_stmt* check = nullptr;
    int rc = sqlite3_prepare_v2(db, schemaCheck.constData(), int(schemaCheck.size()), &check, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(check);
    sqlite3_finalize(check);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
        fail(db);
    return result;
}

Database::~Database()
{
    sqlite3_close_v2(m_db);
}

void Database::execute(const QString& sql)
{
    Statement statement{prepare(m_db, sql)};
    int rc;
    while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail(m_db);
}

Recordset Database::openRecordset(const QString& sql, const QString& updatableTable)
{
    Statement statement{prepare(m_db, sql)};
    Recordset rs;
    rs.m_db = m_db;
    rs.m_table = updatableTable;
    const int columns = sqlite3_column_count(statement.stmt);
    for (int i = 0; i < columns; ++i)
        rs.m_columns << QString::fromUtf8(sqlite3_column_name(statement.stmt, i));
    int rc;
    while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW) {
        std::vector<QVariant> row;
        row.reserve(size_t(columns));
        for (int i = 0; i < columns; ++i)
            row.push_back(columnValue(statement.stmt, i));
        rs.m_rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        fail(m_db);
    return rs;
}

void Recordset::moveNext()
{
    if (eof())
        throw Failure(QStringLiteral("カレント レコードがありません。"));
    ++m_pos;
}

int Recordset::columnIndex(const QString& column) const
{
    int index = -1;
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].compare(column, Qt::CaseInsensitive) == 0) {
            index = i;
            break;
        }
    }
    if (index < 0)
        throw Failure(QStringLiteral("コレクションに項目 '%1' が見つかりません。").arg(column));
    return index;
}

QVariant Recordset::value(const QString& column) const
{
    const int index = columnIndex(column);
    if (eof())
        throw Failure(QStringLiteral("カレント レコードがありません。"));
    return m_rows[m_pos][size_t(index)];
}

QString Recordset::text(const QString& column) const
{
    const QVariant v = value(column);
    if (v.isNull())
        throw Failure(QStringLiteral("Null の使い方が不正です。"));
    return v.toString();
}

qint16 Recordset::int16(const QString& column) const
{
    const QVariant v = value(column);
    if (v.isNull())
        throw Failure(QStringLiteral("Null の使い方が不正です。"));
    bool ok = false;
    const qint64 n = v.toLongLong(&ok);
    if (!ok)
        throw Failure(QStringLiteral("型が一致しません。"));
    return toInt16(n);
}

void Recordset::addNew()
{
    if (m_table.isEmpty())
        throw Failure(QStringLiteral("この結果セットには行を追加できません。"));
    m_adding = true;
    m_newColumns.clear();
    m_newValues.clear();
}

void Recordset::setField(const QString& column, const QVariant& value)
{
    if (!m_adding)
        throw Failure(QStringLiteral("AddNew が実行されていません。"));
    columnIndex(column);
    const int existing = m_newColumns.indexOf(column);
    if (existing >= 0) {
        m_newValues[existing] = value;
    } else {
        m_newColumns << column;
        m_newValues << value;
    }
}

void Recordset::update()
{
    if (!m_adding)
        throw Failure(QStringLiteral("AddNew が実行されていません。"));
    // The pending row is dropped whatever happens: a row that failed is not retried by accident.
    m_adding = false;
    QStringList quotedColumns, marks;
    for (const QString& c : std::as_const(m_newColumns)) {
        quotedColumns << QLatin1Char('"') + QString(c).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
        marks << QStringLiteral("?");
    }
    const QString sql = QStringLiteral("INSERT INTO \"%1\" (%2) VALUES (%3)")
                            .arg(QString(m_table).replace(QLatin1Char('"'), QLatin1String("\"\"")),
                                 quotedColumns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    Statement statement{prepare(m_db, sql)};
    for (int i = 0; i < m_newValues.size(); ++i)
        bind(m_db, statement.stmt, i + 1, m_newValues[i]);
    if (sqlite3_step(statement.stmt) != SQLITE_DONE)
        fail(m_db);
    m_newColumns.clear();
    m_newValues.clear();
}

void Recordset::close()
{
    m_rows.clear();
    m_columns.clear();
    m_pos = 0;
    m_adding = false;
}

} // namespace platform
