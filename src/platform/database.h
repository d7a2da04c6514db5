#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace platform {

class Recordset;

// One row of a query, its columns in the order the statement names them.
using Row = std::vector<QVariant>;

// The open database file. Every failure throws Failure with a description the user can read:
// the common failures of the engine and of the file system in Japanese words of our own, the
// engine's own text for the rest.
class Database {
public:
    // Opens an existing file for reading and writing; never creates one. A file without write
    // permission is opened read-only, so that nothing the program does can change it.
    static std::unique_ptr<Database> open(const QString& path, bool readOnly = false);
    // A copy of source's whole database in memory, for a file that must be read in a form it
    // does not have on disk (an older version that cannot be written). path() stays source's.
    static std::unique_ptr<Database> copyInMemory(Database& source);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs one statement that returns no rows.
    void execute(const QString& sql);
    // Runs one query and holds all its rows, positioned on the first. When updatableTable is
    // given, rows can be added to that table through the result (addNew, setField, update).
    Recordset openRecordset(const QString& sql, const QString& updatableTable = {});

    // Runs one statement with values bound in order to its "?" marks and returns its rows.
    // Typed and imported texts reach the engine this way and never as part of a statement.
    std::vector<Row> query(const QString& sql, const QVariantList& values = {});
    // The same, row by row without holding them; visit returns false to stop early.
    void forEachRow(const QString& sql, const QVariantList& values, const std::function<bool(const Row&)>& visit);
    // Runs one statement with bound values; returns the number of rows it changed.
    int run(const QString& sql, const QVariantList& values = {});
    qint64 lastInsertRowId() const;
    bool hasTable(const QString& name);
    // Whether statements may change it: false for a file without write permission, and after
    // refuseWrites().
    bool writable() const;
    // From now on every statement that would write fails with reason instead of the engine's
    // words: the user learns why this file cannot be changed.
    void refuseWrites(const QString& reason);

    sqlite3* handle() const { return m_db; }
    // The file it was opened from, for a second connection to the same file.
    QString path() const;

    // How long a statement waits for another program's lock before it fails.
    static constexpr int kBusyTimeoutMs = 2000;
    // Tests wait less for the locks they hold on purpose; the program always waits the above.
    static void setBusyTimeoutForTests(int ms);

private:
    explicit Database(sqlite3* db) : m_db(db) {}
    [[noreturn]] void fail(int rc) const;
    // Statements with bound values are kept prepared by their text while idle: an import or a
    // sync repeats the same few, and preparing one costs more than running it.
    sqlite3_stmt* take(const QString& sql, const QVariantList& values);
    void giveBack(const QString& sql, sqlite3_stmt* stmt, bool keep);
    sqlite3* m_db = nullptr;
    QHash<QString, sqlite3_stmt*> m_idle;
    QString m_path;           // the file, also for a copy in memory
    QString m_readOnlyReason; // set by refuseWrites
};

// All statements between its construction and commit() take effect together or not at all:
// leaving the scope without commit() rolls them back.
class Transaction {
public:
    explicit Transaction(Database& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Database& m_db;
    bool m_open = true;
};

// The rows of one query, read at once. A missing column value (NULL) is kept as a null
// QVariant, and the typed readers refuse it.
class Recordset {
public:
    bool eof() const { return m_pos >= m_rows.size(); }
    void moveFirst() { m_pos = 0; }
    void moveNext();
    void moveLast() { m_pos = m_rows.empty() ? 0 : m_rows.size() - 1; }
    qint64 recordCount() const { return qint64(m_rows.size()); }

    QVariant value(const QString& column) const;
    QString text(const QString& column) const;
    qint16 int16(const QString& column) const;

    void addNew();
    void setField(const QString& column, const QVariant& value);
    // Stores the new row. Nothing is stored unless this succeeds.
    void update();
    void close();

private:
    friend class Database;
    int columnIndex(const QString& column) const;

    Database* m_database = nullptr;
    QString m_table;
    QStringList m_columns;
    std::vector<Row> m_rows;
    size_t m_pos = 0;
    bool m_adding = false;
    QStringList m_newColumns;
    QVariantList m_newValues;
};

// The 16-bit counts of the windows: a larger number is a failure, not a wrapped value.
qint16 toInt16(qint64 value);

// How a refused CHECK constraint is described: the table's owner knows its columns. Given the
// engine's text, the description, or an empty text for the engine's own.
using CheckDescriber = QString (*)(const QString& engineText);
void describeChecksWith(CheckDescriber describer);

// The description the user is shown for the engine's last failure on db.
QString describeFailure(sqlite3* db, int resultCode);

} // namespace platform
