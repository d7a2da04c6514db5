#pragma once

#include <QString>

namespace platform {
class Database;
}

namespace store {

// The form in which a search and the texts it looks in are compared: NFKC (full- and half-width
// letters, digits and katakana become one) and Unicode case folding. Both sides go through it.
QString searchFold(const QString& text);

// The search's own SQL functions on a connection: meridocal_fold(text), and
// contains_folded(needle, text, ...), whether one of the texts holds the folded needle.
void addSearchFunctions(platform::Database& db);

// The full-text index of PLAN_DAT's subject, place and notice (PLAN_SEARCH, FTS5 with the trigram
// tokenizer, over the folded texts). Triggers on PLAN_DAT note each row that any program adds,
// changes or deletes in PLAN_SEARCH_PENDING, in plain SQL, so a program without our functions
// still writes the table; the index takes those rows in before it is used.
inline const QString kSearchTable = QStringLiteral("PLAN_SEARCH");

// Makes the index when it or its triggers are missing (a new file, or a PLAN_DAT made anew),
// rebuilds it when it no longer holds as many rows as PLAN_DAT, and takes in the noted rows.
// Idempotent. False when the index cannot be used now (a read-only file without a current
// index, a lock, a file without PLAN_DAT): a search then reads the table itself.
bool ensureSearchIndex(platform::Database& db);
// The same without the count, before each search: cheap when nothing changed.
bool catchUpSearchIndex(platform::Database& db);

// A folded search as one FTS5 string: every character stands for itself.
QString searchPhrase(const QString& folded);

} // namespace store
