#pragma once

#include <QString>

#include <memory>

namespace platform {
class Database;
}

// sec.mdb as versions: the file records the version of its tables (PRAGMA user_version), and
// opening a file of an earlier version brings it to this one.
namespace store {

// The version this program reads and writes. The first sec.mdb had no number and reads as 0.
constexpr int kSchemaVersion = 4;

struct Opened {
    std::unique_ptr<platform::Database> db;
    // What the user must be told once about the file (read only, made by a newer version);
    // empty when it opened as usual.
    QString notice;
};

// Opens sec.mdb at path for the program. A file of an earlier version is first copied as it is
// to path + ".bak" (never replacing a copy already there) and then brought to this version in
// one transaction. One that cannot be written is read into memory and brought there instead, and
// refuses every change with its reason. One of a newer version is opened for reading only.
// Throws platform::Failure as platform::Database::open does.
Opened openAppointments(const QString& path);

int schemaVersion(platform::Database& db);
// Brings db from its version to kSchemaVersion, step by step, inside one transaction.
void migrate(platform::Database& db);

} // namespace store
