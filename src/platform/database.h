#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <vector>

struct sqlite3;

namespace platform {

class Recordset;

// The open database file. Every failure throws Failure with the engine's own description.
class Database {
public:
    // Opens an existing file for reading and writing; never creates one. A file without write
    // permission is opened read-only, so that nothing the program does can change it.
    static std::unique_ptr<Database> open(const QString& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs one statement that returns no rows.
    void execute(const QString& sql);
    // Runs one query and holds all its rows, positioned on the first. When updatableTable is
    // given, rows can be added to that table through the result (addNew, setField, update).
    Recordset openRecordset(const QString& sql, const QString& updatableTable = {});

    sqlite3* handle() const { return m_db; }

    // How long a statement waits for another program's lock before it fails.
    static constexpr int kBusyTimeoutMs = 2000;

private:
    explicit Database(sqlite3* db) : m_db(db) {}
    sqlite3* m_db = nullptr;
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

    sqlite3* m_db = nullptr;
    QString m_table;
    QStringList m_columns;
    std::vector<std::vector<QVariant>> m_rows;
    size_t m_pos = 0;
    bool m_adding = false;
    QStringList m_newColumns;
    QVariantList m_newValues;
};

// The 16-bit counts of the windows: a larger number is a failure, not a wrapped value.
qint16 toInt16(qint64 value);

} // namespace platform
