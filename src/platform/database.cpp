#include "platform/database.h"

#include "platform/failure.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <sqlite3.h>

#include <limits>

namespace platform {
namespace {

int g_busyTimeoutMs = Database::kBusyTimeoutMs;

CheckDescriber g_describeCheck = nullptr;

[[noreturn]] void fail(sqlite3* db, int rc)
{
    throw Failure(describeFailure(db, rc));
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
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, &tail);
    if (rc != SQLITE_OK)
        platform::fail(db, rc);
    if (!stmt)
        throw Failure(QStringLiteral("SQL 文がありません。"));
    if (tail && !QByteArray(tail, int(utf8.constData() + utf8.size() - tail)).trimmed().isEmpty()) {
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
    } else if (value.typeId() == QMetaType::Double) {
        rc = sqlite3_bind_double(stmt, index, value.toDouble());
    } else {
        rc = sqlite3_bind_int64(stmt, index, value.toLongLong());
    }
    if (rc != SQLITE_OK)
        platform::fail(db, rc);
}

sqlite3_stmt* prepareBound(sqlite3* db, const QString& sql, const QVariantList& values)
{
    sqlite3_stmt* stmt = prepare(db, sql);
    try {
        for (int i = 0; i < values.size(); ++i)
            bind(db, stmt, i + 1, values[i]);
    } catch (...) {
        sqlite3_finalize(stmt);
        throw;
    }
    return stmt;
}

Row readRow(sqlite3_stmt* stmt, int columns)
{
    Row row;
    row.reserve(size_t(columns));
    for (int i = 0; i < columns; ++i)
        row.push_back(columnValue(stmt, i));
    return row;
}

} // namespace

void describeChecksWith(CheckDescriber describer)
{
    g_describeCheck = describer;
}

QString describeFailure(sqlite3* db, int resultCode)
{
    const QString engineText = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(resultCode));
    const int extended = db ? sqlite3_extended_errcode(db) : resultCode;
    switch (extended) {
    case SQLITE_READONLY_DBMOVED:
        return QStringLiteral("データベースのファイルが実行中に移動・削除・置き換えされました。"
                              "プログラムを起動し直してください。");
    case SQLITE_CONSTRAINT_CHECK:
        if (const QString text = g_describeCheck ? g_describeCheck(engineText) : QString(); !text.isEmpty())
            return text;
        break;
    case SQLITE_IOERR_WRITE:
    case SQLITE_IOERR_FSYNC:
    case SQLITE_IOERR_TRUNCATE:
        // A write refused by the file system is most often a full disk reported as an I/O error.
        return QStringLiteral("データベースのファイルに書き込めません（ディスクがいっぱいか、装置の故障です）。");
    default:
        break;
    }
    // An empty file or another program's database opens as a database without our tables.
    static const QString noTable = QStringLiteral("no such table: ");
    if (engineText.startsWith(noTable))
        return QStringLiteral("予定のデータベースではありません（表 %1 がありません）。").arg(engineText.mid(noTable.size()));
    switch (resultCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("データベースがほかのプログラムに使われています（ロック中）。"
                              "しばらくしてからやり直してください。");
    case SQLITE_READONLY:
        return QStringLiteral("データベースに書き込めません（ファイルまたはフォルダーが読み取り専用です）。");
    case SQLITE_FULL:
        return QStringLiteral("ディスクがいっぱいで、データベースに書き込めません。");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return QStringLiteral("データベースのファイルではないか、ファイルが壊れています。");
    case SQLITE_CANTOPEN:
        return QStringLiteral("データベースのファイルを開けません（ファイルがないか、"
                              "ファイルまたはフォルダーにアクセスできません）。");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("データベースへのアクセスが拒否されました。");
    case SQLITE_NOMEM:
        return QStringLiteral("メモリが足りません。");
    case SQLITE_IOERR:
        return QStringLiteral("データベースのファイルを読み書きできません（%1）。").arg(engineText);
    default:
        break;
    }
    return engineText;
}

qint16 toInt16(qint64 value)
{
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        throw Failure(QStringLiteral("オーバーフローしました。"));
    return qint16(value);
}

void Database::setBusyTimeoutForTests(int ms)
{
    g_busyTimeoutMs = ms;
}

std::unique_ptr<Database> Database::open(const QString& path, bool readOnly)
{
    // Without write permission the file is opened read-only, whoever runs the program, so a
    // protected file is never changed (a purge then fails with its description).
    const QFileInfo info(path);
    const bool writable = !readOnly
        && info.permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
    const int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_FULLMUTEX;
    sqlite3* db = nullptr;
    // The file system's own bytes: a folder name need not be valid UTF-8.
    const QByteArray name = QFile::encodeName(path);
    const int opened = sqlite3_open_v2(name.constData(), &db, flags, nullptr);
    if (opened != SQLITE_OK) {
        const QString description = describeFailure(db, opened);
        sqlite3_close(db);
        throw Failure(description);
    }
    std::unique_ptr<Database> result(new Database(db));
    result->m_path = path;
    sqlite3_busy_timeout(db, g_busyTimeoutMs);
    // Every commit reaches the disk before it returns, and the rollback journal lets a
    // commit cut short by a crash or power loss be undone at the next open.
    // (FULL is also the engine's default, so a file locked right now loses nothing by the
    // pragma failing.)
    sqlite3_exec(db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
    // Reading the schema now makes a file that is not a database fail here, where the
    // user opened it, rather than at some later command.
    // A file that another program holds locked is still a database: it stays open, and each
    // statement fails as locked until the lock is gone.
    const QByteArray schemaCheck("SELECT count(*) FROM sqlite_master");
    sqlite3_stmt* check = nullptr;
    int rc = sqlite3_prepare_v2(db, schemaCheck.constData(), int(schemaCheck.size()), &check, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(check);
    sqlite3_finalize(check);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE && rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
        platform::fail(db, rc);
    return result;
}

std::unique_ptr<Database> Database::copyInMemory(Database& source)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw Failure(QStringLiteral("メモリが足りません。"));
    }
    std::unique_ptr<Database> result(new Database(db));
    result->m_path = source.m_path;
    sqlite3_backup* backup = sqlite3_backup_init(db, "main", source.m_db, "main");
    if (!backup)
        platform::fail(db, sqlite3_errcode(db));
    sqlite3_backup_step(backup, -1);
    const int rc = sqlite3_backup_finish(backup);
    if (rc != SQLITE_OK)
        platform::fail(db, rc);
    return result;
}

bool Database::writable() const
{
    return m_readOnlyReason.isEmpty() && sqlite3_db_readonly(m_db, "main") == 0;
}

void Database::refuseWrites(const QString& reason)
{
    sqlite3_exec(m_db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    m_readOnlyReason = reason;
}

void Database::fail(int rc) const
{
    if ((rc & 0xff) == SQLITE_READONLY && !m_readOnlyReason.isEmpty())
        throw Failure(m_readOnlyReason);
    platform::fail(m_db, rc);
}

Database::~Database()
{
    for (sqlite3_stmt* stmt : std::as_const(m_idle))
        sqlite3_finalize(stmt);
    sqlite3_close_v2(m_db);
}

sqlite3_stmt* Database::take(const QString& sql, const QVariantList& values)
{
    sqlite3_stmt* stmt = values.isEmpty() ? nullptr : m_idle.take(sql);
    if (!stmt)
        return prepareBound(m_db, sql, values);
    try {
        for (int i = 0; i < values.size(); ++i)
            bind(m_db, stmt, i + 1, values[i]);
    } catch (...) {
        sqlite3_finalize(stmt);
        throw;
    }
    return stmt;
}

void Database::giveBack(const QString& sql, sqlite3_stmt* stmt, bool keep)
{
    // A few dozen at most: the program's own statements, never texts built from values.
    constexpr int kKept = 32;
    if (!keep || m_idle.size() >= kKept || m_idle.contains(sql)) {
        sqlite3_finalize(stmt);
        return;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    m_idle.insert(sql, stmt);
}

void Database::execute(const QString& sql)
{
    run(sql);
}

int Database::run(const QString& sql, const QVariantList& values)
{
    sqlite3_stmt* stmt = take(sql, values);
    const auto back = qScopeGuard([&] { giveBack(sql, stmt, !values.isEmpty()); });
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        fail(rc);
    return sqlite3_changes(m_db);
}

std::vector<Row> Database::query(const QString& sql, const QVariantList& values)
{
    std::vector<Row> rows;
    forEachRow(sql, values, [&rows](const Row& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

void Database::forEachRow(const QString& sql, const QVariantList& values, const std::function<bool(const Row&)>& visit)
{
    sqlite3_stmt* stmt = take(sql, values);
    const auto back = qScopeGuard([&] { giveBack(sql, stmt, !values.isEmpty()); });
    const int columns = sqlite3_column_count(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (!visit(readRow(stmt, columns)))
            return;
    }
    if (rc != SQLITE_DONE)
        fail(rc);
}

QString Database::path() const
{
    return m_path;
}

qint64 Database::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

bool Database::hasTable(const QString& name)
{
    return !query(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"), {name}).empty();
}

Transaction::Transaction(Database& db) : m_db(db)
{
    // IMMEDIATE takes the write lock now, so a second program fails here, before any change,
    // rather than halfway through.
    m_db.execute(QStringLiteral("BEGIN IMMEDIATE"));
}

Transaction::~Transaction()
{
    if (m_open)
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    m_db.execute(QStringLiteral("COMMIT"));
    m_open = false;
}

Recordset Database::openRecordset(const QString& sql, const QString& updatableTable)
{
    Statement statement{prepare(m_db, sql)};
    Recordset rs;
    rs.m_database = this;
    rs.m_table = updatableTable;
    const int columns = sqlite3_column_count(statement.stmt);
    for (int i = 0; i < columns; ++i)
        rs.m_columns << QString::fromUtf8(sqlite3_column_name(statement.stmt, i));
    int rc;
    while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW)
        rs.m_rows.push_back(readRow(statement.stmt, columns));
    if (rc != SQLITE_DONE)
        fail(rc);
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
    // The program names columns as the table spells them: the exact match is found first, the
    // case-insensitive one (as the original engine allowed) only after it.
    if (const qsizetype exact = m_columns.indexOf(column); exact >= 0)
        return int(exact);
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(column, Qt::CaseInsensitive) == 0)
            return i;
    throw Failure(QStringLiteral("コレクションに項目 '%1' が見つかりません。").arg(column));
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
    auto identifier = [](const QString& name) {
        return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    };
    QStringList quotedColumns, marks;
    for (const QString& c : std::as_const(m_newColumns)) {
        quotedColumns << identifier(c);
        marks << QStringLiteral("?");
    }
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(identifier(m_table), quotedColumns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    const QVariantList values = m_newValues;
    m_newColumns.clear();
    m_newValues.clear();
    m_database->run(sql, values);
}

void Recordset::close()
{
    m_rows.clear();
    m_columns.clear();
    m_pos = 0;
    m_adding = false;
}

} // namespace platform
