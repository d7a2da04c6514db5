#pragma once

#include "state/module1.h"
#include "store/plan_store.h"

#include <QAbstractTableModel>
#include <QThreadPool>
#include <QVariantList>

#include <atomic>
#include <map>
#include <optional>
#include <vector>

// Every appointment, ordered by date, time, subject and identity, or those whose subject, place
// or notice contains a search text. Only the pages of rows that the view asks for are read, and a
// long list is counted aside, so a table of a million rows opens and scrolls like a small one.
class AllListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    AllListModel(state::Module1& module, QObject* parent = nullptr);
    ~AllListModel() override;

    // Starts the list afresh with the rows that contain search (all rows when it is empty). A
    // list longer than a page is counted aside unless countNow, and shows its first page until
    // then. On a failure it throws, and the list stays as it was.
    void load(const QString& search, bool countNow);
    const QString& search() const { return m_search; }
    // The number of rows found; none while they are being counted.
    std::optional<int> total() const { return m_total; }
    // The row at a position, read when needed; none past the rows the table still holds.
    std::optional<store::StoredRow> rowAt(int position) const;
    // Where the row of this id stands in the list now (where it would stand if the search
    // leaves it out); none when no row has the id any more.
    std::optional<int> positionOf(qint64 id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void totalChanged();
    // A page could not be read while the view was drawn (its rows stay blank until the next load),
    // or the rows could not be counted.
    void readFailed(const QString& description);

private:
    struct Filter {
        QString where; // none for every row
        QVariantList values;
        // Sparse matches are found sooner by one pass over the table than along the index.
        bool scan = false;
        // Matches counted and chosen through the full-text index, not by the count above.
        bool indexed = false;
        QString countSql; // the whole count straight from the index, when dense
        QVariantList countValues;
    };
    // The search's condition; total is set when the index tells it at once.
    static Filter filterFor(platform::Database& db, const QString& search, std::optional<int>& total);
    static std::vector<store::StoredRow> read(platform::Database& db, const Filter& filter,
                                              const store::StoredRow* anchor, bool backwards, int skip, int limit);
    static int count(platform::Database& db, const Filter& filter, const store::StoredRow* before = nullptr);
    const std::vector<store::StoredRow>& page(int number) const;
    void countAside();
    void counted(int generation, int rows, const QString& failure);
    void setTotal(int rows);

    state::Module1& m_module;
    QString m_search;
    Filter m_filter;
    std::optional<int> m_total;
    int m_count = 0; // the rows the view is given: the total once known, the first page till then
    // Pages of rows read so far, by page number; a few only, those nearest the view.
    mutable std::map<int, std::vector<store::StoredRow>> m_pages;
    // Each load's number: a count for an earlier one is dropped, and not even started when late.
    std::atomic<int> m_generation = 0;
    // Last, so that it is the first to go and waits for a count still running.
    QThreadPool m_counting;
};
