#pragma once

#include "state/module1.h"
#include "store/plan_store.h"

#include <QDialog>

#include <vector>

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

// Today's appointments, one line per subject, with the selected one's time, place, notice and
// importance beside the list; the Delete key in the list removes the selected appointment.
class LISTEN_FRM : public QDialog {
    Q_OBJECT
public:
    LISTEN_FRM(state::Module1& module, QWidget* parent = nullptr);

    // Runs the opening steps before the window is first shown. False when the window closed
    // itself during them and must not be shown.
    bool prepare();

    // Fills the list and TODAY_PLAN with today's rows and selects the first line; with no row
    // left it says so and closes the window.
    void LoadTodayList();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The selected line, or -1 when none is.
    int selectedLine() const;
    void selectionChanged();
    void showDetail(int line);
    void deleteSelected();
    void closeWindow();

    state::Module1& m_module;
    bool m_closed = false;

    // Line k of DETAIL_LST is element k of this vector: the same appointment, always.
    std::vector<store::PLAN_REC> TODAY_PLAN;
    // And the id of each, the row its deletion removes (and no other with the same texts).
    std::vector<qint64> m_ids;
    std::vector<bool> m_inSeries; // an occurrence of a repeating appointment

    QLabel* Label13 = nullptr;
    QListWidget* DETAIL_LST = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* IMPO_LABEL = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* TIME_LABEL = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* PLACE_LABEL = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* NOTICE_LABEL = nullptr;
    QPushButton* Command1 = nullptr;
};
