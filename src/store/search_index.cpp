#include "store/search_index.h"

#include "platform/database.h"
#include "platform/failure.h"

#include <QByteArray>

#include <sqlite3.h>

namespace store {
namespace {

const QString kPending = QStringLiteral("PLAN_SEARCH_PENDING");
// The triggers that note changed rows, each by name and body.
const std::pair<const char*, const char*> kTriggers[] = {
    {"PLAN_SEARCH_AI", "AFTER INSERT ON PLAN_DAT BEGIN"
                       " INSERT OR IGNORE INTO PLAN_SEARCH_PENDING (id) VALUES (new.rowid); END"},
    {"PLAN_SEARCH_AD", "AFTER DELETE ON PLAN_DAT BEGIN"
                       " INSERT OR IGNORE INTO PLAN_SEARCH_PENDING (id) VALUES (old.rowid); END"},
    {"PLAN_SEARCH_AU", "AFTER UPDATE ON PLAN_DAT BEGIN"
                       " INSERT OR IGNORE INTO PLAN_SEARCH_PENDING (id) VALUES (old.rowid);"
                       " INSERT OR IGNORE INTO PLAN_SEARCH_PENDING (id) VALUES (new.rowid); END"},
};
// Past this many noted rows, building the index afresh is quicker than taking them in one by one.
constexpr qint64 kRebuildPending = 200000;

// Characters that NFKC and case folding leave as they are, apart from ASCII capitals: the usual
// Japanese text, so the usual row is compared without being converted.
constexpr bool unchangedByFold(char32_t c)
{
    return c < 0x80 || (c >= 0x3001 && c <= 0x3002) || c == 0x3005 || (c >= 0x300C && c <= 0x300F)
        || (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) || c == 0x30FC || (c >= 0x4E00 && c <= 0x9FFF);
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

// Whether UTF-8 text folds to itself with ASCII capitals made small.
bool foldsByBytes(const unsigned char* text, int size)
{
    for (int i = 0; i < size;) {
        const unsigned char b = text[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        if ((b & 0xF0) != 0xE0 || i + 2 >= size)
            return false;
        const char32_t c = char32_t(b & 0x0F) << 12 | char32_t(text[i + 1] & 0x3F) << 6 | char32_t(text[i + 2] & 0x3F);
        if (!unchangedByFold(c))
            return false;
        i += 3;
    }
    return true;
}

void foldFunction(sqlite3_context* context, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const QByteArray folded = searchFold(QString::fromUtf8(text, sqlite3_value_bytes(argv[0]))).toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

// A search runs this on every row it reads along the table: the usual row is compared byte by
// byte (no byte of a multi-byte UTF-8 character is an ASCII letter), the rest after folding.
void containsFolded(sqlite3_context* context, int argc, sqlite3_value** argv)
{
    const auto* needle = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int n = sqlite3_value_bytes(argv[0]);
    for (int i = 1; i < argc && needle; ++i) {
        const auto* text = sqlite3_value_text(argv[i]);
        const int m = sqlite3_value_bytes(argv[i]);
        if (!text)
            continue;
        bool found = false;
        if (foldsByBytes(text, m)) {
            for (int start = 0; !found && start + n <= m; ++start) {
                int k = 0;
                while (k < n && asciiLower(char(text[start + k])) == needle[k])
                    ++k;
                found = k == n;
            }
        } else {
            found = searchFold(QString::fromUtf8(reinterpret_cast<const char*>(text), m))
                        .contains(QString::fromUtf8(needle, n));
        }
        if (found) {
            sqlite3_result_int(context, 1);
            return;
        }
    }
    sqlite3_result_int(context, 0);
}

bool complete(platform::Database& db)
{
    QVariantList names = {kSearchTable, kPending};
    QString marks = QStringLiteral("?, ?");
    for (const auto& trigger : kTriggers) {
        names << QString::fromLatin1(trigger.first);
        marks += QStringLiteral(", ?");
    }
    // A trigger belongs to the table it was made on: a PLAN_DAT made anew has none.
    const auto found = db.query(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (%1)"
                                               " AND (type <> 'trigger' OR tbl_name = 'PLAN_DAT')")
                                    .arg(marks),
                                names);
    return found.front().front().toLongLong() == names.size();
}

void rebuild(platform::Database& db)
{
    platform::Transaction transaction(db);
    db.execute(QStringLiteral("DROP TABLE IF EXISTS PLAN_SEARCH"));
    // The texts are folded already and compared as they are.
    db.execute(QStringLiteral("CREATE VIRTUAL TABLE PLAN_SEARCH USING fts5(detail, place, notice,"
                              " tokenize = 'trigram case_sensitive 1')"));
    db.execute(QStringLiteral("DROP TABLE IF EXISTS PLAN_SEARCH_PENDING"));
    db.execute(QStringLiteral("CREATE TABLE PLAN_SEARCH_PENDING (id INTEGER PRIMARY KEY)"));
    for (const auto& [name, body] : kTriggers) {
        db.execute(QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(QLatin1String(name)));
        db.execute(QStringLiteral("CREATE TRIGGER %1 %2").arg(QLatin1String(name), QLatin1String(body)));
    }
    db.execute(QStringLiteral("INSERT INTO PLAN_SEARCH (rowid, detail, place, notice) SELECT rowid,"
                              " meridocal_fold(P_DETAIL), meridocal_fold(P_PLACE), meridocal_fold(P_NOTICE) FROM PLAN_DAT"));
    transaction.commit();
}

// Takes in the rows noted since the last time; false when it could not.
bool takeInPending(platform::Database& db)
{
    const qint64 pending =
        db.query(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM PLAN_SEARCH_PENDING LIMIT ?)"), {kRebuildPending})
            .front()
            .front()
            .toLongLong();
    if (pending == 0)
        return true;
    if (pending >= kRebuildPending) {
        rebuild(db);
        return true;
    }
    platform::Transaction transaction(db);
    db.execute(QStringLiteral("DELETE FROM PLAN_SEARCH WHERE rowid IN (SELECT id FROM PLAN_SEARCH_PENDING)"));
    db.execute(QStringLiteral("INSERT INTO PLAN_SEARCH (rowid, detail, place, notice) SELECT rowid,"
                              " meridocal_fold(P_DETAIL), meridocal_fold(P_PLACE), meridocal_fold(P_NOTICE) FROM PLAN_DAT"
                              " WHERE rowid IN (SELECT id FROM PLAN_SEARCH_PENDING)"));
    db.execute(QStringLiteral("DELETE FROM PLAN_SEARCH_PENDING"));
    transaction.commit();
    return true;
}

// Runs step; a failure means only that the search goes without the index.
template <class Step> bool tried(Step step)
{
    try {
        return step();
    } catch (const platform::Failure&) {
        return false;
    }
}

} // namespace

QString searchFold(const QString& text)
{
    bool plain = true;
    for (const QChar c : text)
        plain = plain && unchangedByFold(c.unicode());
    if (plain) {
        QString folded = text;
        for (QChar& c : folded)
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + ('a' - 'A'));
        return folded;
    }
    // Folding can leave a text that NFKC would change again (a few letters with marks).
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded().normalized(QString::NormalizationForm_KC);
}

QString searchPhrase(const QString& folded)
{
    return QLatin1Char('"') + QString(folded).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

void addSearchFunctions(platform::Database& db)
{
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    sqlite3_create_function_v2(db.handle(), "meridocal_fold", 1, flags, nullptr, foldFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db.handle(), "contains_folded", -1, flags, nullptr, containsFolded, nullptr, nullptr,
                               nullptr);
}

bool ensureSearchIndex(platform::Database& db)
{
    addSearchFunctions(db);
    return tried([&db] {
        if (!db.hasTable(QStringLiteral("PLAN_DAT")))
            return false;
        if (!complete(db)) {
            rebuild(db);
            return true;
        }
        if (!takeInPending(db))
            return false;
        // Another program may have written PLAN_DAT with the triggers gone, or emptied the index.
        const auto counts = db.query(QStringLiteral("SELECT (SELECT count(*) FROM PLAN_DAT),"
                                                    " (SELECT count(*) FROM PLAN_SEARCH_docsize)"));
        if (counts.front().at(0) != counts.front().at(1))
            rebuild(db);
        return true;
    });
}

bool catchUpSearchIndex(platform::Database& db)
{
    return tried([&db] { return complete(db) ? takeInPending(db) : ensureSearchIndex(db); });
}

} // namespace store
