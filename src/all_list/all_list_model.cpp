#include "all_list/all_list_model.h"

#include "platform/failure.h"
#include "state/text.h"
#include "store/search_index.h"

#include <QDate>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>

namespace {
const QString kHeaders[] = {QStringLiteral("日付"), QStringLiteral("時刻"), QStringLiteral("重要度"),
                            QStringLiteral("用件"), QStringLiteral("場所"), QStringLiteral("備考")};
const QString kWeekdays = QStringLiteral("月火水木金土日");

constexpr int kPage = 256;
// Pages kept at a time: a few screens either side of the view.
constexpr size_t kKeptPages = 16;
// Past this many matches a search reads its pages along the index, as the whole list does.
constexpr int kDenseMatches = 4 * kPage;
// Up to this many matches found in the full-text index are read by their ids and sorted; more
// lie close enough along the table's index to be found there sooner.
constexpr int kSparseIndexed = 8192;
// The full-text index (trigrams) answers from three characters on.
constexpr int kPhraseCharacters = 3;

// The list's order, PLAN_DAT_KEY's (the rowid ends every entry of an index): "+" before each
// name keeps the engine off the index, a suffix turns the order round.
QString keys(const QString& prefix, const QString& suffix = {})
{
    QStringList names;
    for (const char* name : {"P_DATE", "P_HOUR", "P_MIN", "P_DETAIL", "rowid"})
        names << prefix + QLatin1String(name) + suffix;
    return names.join(QStringLiteral(", "));
}

// The statement's text from "FROM" on: the filter's condition and, given an anchor, the rows after
// (or before) it in the list's order. Without any condition the engine counts a table by its pages.
QString from(const QString& where, QVariantList& values, const QString& prefix, const store::StoredRow* anchor,
             bool before)
{
    QStringList conditions;
    if (!where.isEmpty())
        conditions << where;
    if (anchor) {
        const QString comparison = before ? QStringLiteral("<") : QStringLiteral(">");
        conditions << QStringLiteral("(%1) %2 (?, ?, ?, ?, ?)").arg(keys(prefix), comparison);
        values << anchor->rec.P_DATE << anchor->rec.P_HOUR << anchor->rec.P_MIN << anchor->rec.P_DETAIL << anchor->id;
    }
    if (conditions.isEmpty())
        return QStringLiteral(" FROM PLAN_DAT");
    return QStringLiteral(" FROM PLAN_DAT WHERE ") + conditions.join(QStringLiteral(" AND "));
}

QString dateText(const QString& key)
{
    // The weekday is counted from the date itself, never named by the locale.
    const QDate date = QDate::fromString(key, QStringLiteral("yyyy/MM/dd"));
    return date.isValid() ? key + QLatin1Char('(') + kWeekdays[date.dayOfWeek() - 1] + QLatin1Char(')') : key;
}

} // namespace

AllListModel::AllListModel(state::Module1& module, QObject* parent) : QAbstractTableModel(parent), m_module(module)
{
    m_counting.setMaxThreadCount(1);
}

AllListModel::~AllListModel()
{
    ++m_generation;
    m_counting.waitForDone();
}

AllListModel::Filter AllListModel::filterFor(platform::Database& db, const QString& search, std::optional<int>& total)
{
    Filter filter;
    if (search.isEmpty())
        return filter;
    // Both sides folded, and the text a value matched as it stands: no character of it is a pattern.
    store::addSearchFunctions(db);
    const QString folded = store::searchFold(search);
    filter.where = QStringLiteral("contains_folded(?, P_DETAIL, P_PLACE, P_NOTICE)");
    filter.values = {folded};
    // Without a current index (a read-only file that has none) every search passes over the
    // table, and so do the shortest, which the index cannot answer.
    filter.scan = true;
    if (store::characters(folded) < kPhraseCharacters || !store::catchUpSearchIndex(db))
        return filter;
    const QString source = QStringLiteral("SELECT rowid FROM PLAN_SEARCH WHERE PLAN_SEARCH MATCH ?");
    const QVariantList values = {store::searchPhrase(folded)};
    filter.indexed = true;
    const int found = int(db.query(QStringLiteral("SELECT count(*) FROM (%1 LIMIT ?)").arg(source),
                                   QVariantList(values) << kSparseIndexed + 1)
                              .front()
                              .front()
                              .toLongLong());
    if (found <= kSparseIndexed) {
        filter.where = QStringLiteral("rowid IN (%1)").arg(source);
        filter.values = values;
        total = found;
    } else {
        filter.scan = false;
        filter.countSql = QStringLiteral("SELECT count(*) FROM (%1)").arg(source);
        filter.countValues = values;
    }
    return filter;
}

void AllListModel::load(const QString& search, bool countNow)
{
    platform::Database& db = m_module.db();
    std::optional<int> total;
    const Filter filter = filterFor(db, search, total);
    // A search finds its first page in one pass over the table, the whole list along the index;
    // one row more tells whether there is more than a page.
    std::vector<store::StoredRow> first = read(db, filter, nullptr, false, 0, kPage + 1);
    if (!total && first.size() <= size_t(kPage))
        total = int(first.size());
    else if (!total && countNow)
        total = count(db, filter);
    first.resize(std::min(first.size(), size_t(kPage)));
    beginResetModel();
    ++m_generation;
    m_search = search;
    m_filter = filter;
    m_total.reset();
    m_count = int(first.size());
    m_pages.clear();
    m_pages.emplace(0, std::move(first));
    endResetModel();
    if (total)
        setTotal(*total);
    else
        countAside();
}

void AllListModel::countAside()
{
    // Counting a million rows is a pass over the whole index: another connection does it while
    // the user already sees the first rows and can scroll them.
    m_counting.start([this, path = m_module.db().path(), filter = m_filter, generation = int(m_generation)] {
        if (generation != m_generation)
            return;
        int rows = 0;
        QString failure;
        try {
            const auto db = platform::Database::open(path);
            store::addSearchFunctions(*db);
            rows = count(*db, filter);
        } catch (...) {
            failure = platform::describeCurrentException();
        }
        QMetaObject::invokeMethod(
            this, [this, generation, rows, failure] { counted(generation, rows, failure); }, Qt::QueuedConnection);
    });
}

void AllListModel::counted(int generation, int rows, const QString& failure)
{
    if (generation != m_generation)
        return;
    if (failure.isEmpty())
        setTotal(rows);
    else
        emit readFailed(failure);
}

void AllListModel::setTotal(int rows)
{
    m_total = rows;
    // Sparse matches lie so far apart along the index that a pass over the table finds a page sooner.
    if (!m_filter.indexed)
        m_filter.scan = !m_search.isEmpty() && rows <= kDenseMatches;
    if (rows > m_count) {
        beginInsertRows({}, m_count, rows - 1);
        m_count = rows;
        endInsertRows();
    } else if (rows < m_count) {
        beginRemoveRows({}, rows, m_count - 1);
        m_count = rows;
        endRemoveRows();
    }
    emit totalChanged();
}

std::vector<store::StoredRow> AllListModel::read(platform::Database& db, const Filter& filter,
                                                 const store::StoredRow* anchor, bool backwards, int skip, int limit)
{
    const QString prefix = filter.scan ? QStringLiteral("+") : QString();
    QVariantList values = filter.values;
    QString sql = QStringLiteral("SELECT ") + store::kRowColumns + from(filter.where, values, prefix, anchor, backwards);
    sql += QStringLiteral(" ORDER BY ") + keys(prefix, backwards ? QStringLiteral(" DESC") : QString())
        + QStringLiteral(" LIMIT ? OFFSET ?");
    values << limit << skip;
    std::vector<store::StoredRow> rows;
    db.forEachRow(sql, values, [&rows](const platform::Row& row) {
        rows.push_back(store::storedRow(row));
        return true;
    });
    if (backwards)
        std::reverse(rows.begin(), rows.end());
    return rows;
}

int AllListModel::count(platform::Database& db, const Filter& filter, const store::StoredRow* before)
{
    if (!before && !filter.countSql.isEmpty())
        return int(db.query(filter.countSql, filter.countValues).front().front().toLongLong());
    QVariantList values = filter.values;
    const QString prefix = filter.scan ? QStringLiteral("+") : QString();
    const QString sql = QStringLiteral("SELECT count(*)") + from(filter.where, values, prefix, before, true);
    return int(db.query(sql, values).front().front().toLongLong());
}

const std::vector<store::StoredRow>& AllListModel::page(int number) const
{
    if (const auto known = m_pages.find(number); known != m_pages.end())
        return known->second;
    // The nearest row already known leads there: the start, the end, or a page read before.
    // Scrolling on thus reads along the index from where the view was, and a jump counts off
    // only the rows between.
    const int first = number * kPage;
    const int wanted = std::min(kPage, m_count - first);
    const store::StoredRow* anchor = nullptr;
    bool backwards = false;
    int skip = first;
    auto nearer = [&](const store::StoredRow* row, bool before, int distance) {
        if (distance >= skip)
            return;
        anchor = row;
        backwards = before;
        skip = distance;
    };
    nearer(nullptr, true, m_count - first - wanted);
    for (const auto& [known, rows] : m_pages) {
        if (rows.empty())
            continue;
        if (known < number)
            nearer(&rows.back(), false, first - known * kPage - int(rows.size()));
        else
            nearer(&rows.front(), true, known * kPage - first - wanted);
    }
    std::vector<store::StoredRow> rows = read(m_module.db(), m_filter, anchor, backwards, std::max(skip, 0), wanted);
    if (m_pages.size() >= kKeptPages)
        m_pages.erase(std::max_element(m_pages.begin(), m_pages.end(), [number](const auto& a, const auto& b) {
            return std::abs(a.first - number) < std::abs(b.first - number);
        }));
    return m_pages[number] = std::move(rows);
}

std::optional<store::StoredRow> AllListModel::rowAt(int position) const
{
    if (position < 0 || position >= m_count)
        return std::nullopt;
    const std::vector<store::StoredRow>& rows = page(position / kPage);
    const size_t index = size_t(position % kPage);
    if (index >= rows.size())
        return std::nullopt;
    return rows[index];
}

std::optional<int> AllListModel::positionOf(qint64 id) const
{
    const std::vector<platform::Row> found = m_module.db().query(
        QStringLiteral("SELECT ") + store::kRowColumns + QStringLiteral(" FROM PLAN_DAT WHERE rowid = ?"), {id});
    if (found.empty())
        return std::nullopt;
    const store::StoredRow row = store::storedRow(found.front());
    return count(m_module.db(), m_filter, &row);
}

int AllListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int AllListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(std::size(kHeaders));
}

QVariant AllListModel::data(const QModelIndex& index, int role) const
{
    // The marks of importance are read out as what they mean; the other cells as they show.
    const bool spoken = role == Qt::AccessibleTextRole && index.column() == 2;
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ForegroundRole && !spoken))
        return {};
    std::optional<store::StoredRow> row;
    try {
        row = rowAt(index.row());
    } catch (...) {
        // Drawing cannot stop for a box: the page stays empty, so that it is not read again at
        // every repaint, and the failure is told once the drawing is done.
        m_pages[index.row() / kPage];
        auto* self = const_cast<AllListModel*>(this);
        QMetaObject::invokeMethod(
            self, [self, description = platform::describeCurrentException()] { emit self->readFailed(description); },
            Qt::QueuedConnection);
    }
    if (!row)
        return {};
    const store::PLAN_REC& r = row->rec;
    if (role == Qt::ForegroundRole) // ended before today, left by a purge that failed
        return r.lastDay() < m_module.TODAY_STR ? QVariant(QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text))
                                             : QVariant();
    if (spoken)
        return state::importanceName(r.P_IMPORTANCE);
    switch (index.column()) {
    case 0: return dateText(r.P_DATE);
    case 1: return store::timeSpanCaption(r) + (row->seriesId ? store::kSeriesMark : QString());
    case 2: return state::importanceMarks(r.P_IMPORTANCE);
    case 3: return r.P_DETAIL;
    case 4: return r.P_PLACE;
    default: return r.P_NOTICE;
    }
}

QVariant AllListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= int(std::size(kHeaders)))
        return {};
    return kHeaders[section];
}
