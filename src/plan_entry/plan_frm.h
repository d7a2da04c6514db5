#pragma once

#include "platform/key_strokes.h"
#include "state/module1.h"
#include "store/plan_store.h"
#include "store/series_store.h"

#include <QDate>
#include <QDialog>
#include <QTime>

#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// The appointment entry window: one appointment after another is typed, checked and stored,
// the window staying open and emptied after each. Closing with unsaved input asks first.
class PLAN_FRM : public QDialog {
    Q_OBJECT
public:
    PLAN_FRM(state::Module1& module, QWidget* parent = nullptr);

    // Runs the opening steps before the window is first shown. False when the window closed
    // itself during them and must not be shown.
    bool prepare();
    // Opens the window instead on a stored appointment, to change it: filled with the row,
    // saving replaces that row (found by its id) and closes the window. False as prepare().
    bool prepareChange(const store::StoredRow& row);
    // Opens for a new appointment on a day, and at a time, picked in a calendar; the minute is
    // taken down to the form's quarter hour. False as prepare().
    bool prepareAt(const QDate& date, std::optional<QTime> time);

    // True when the subject is usable; otherwise tells the user so and returns false.
    bool CheckDetail();
    // Stores the appointment on the form, unless its subject is missing or already stored.
    void OK_BTN_Click();

    // Whether something was entered since the opening or the last save.
    bool editFlag() const { return EDIT_FLAG; }

    // Every way of closing (the close button, the close box, the system's close command and
    // Escape) arrives here, so every one of them asks before unsaved input is lost.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    void setUp();
    void enterPressed(QLineEdit* field);
    store::PLAN_REC shownRow() const;
    // The lead chosen for this appointment's reminder; none follows the Tools menu.
    std::optional<int> shownLead() const;
    // True when the date and the end can be stored; otherwise tells the user why.
    bool checkTimes(const store::PLAN_REC& row);
    void allDayToggled(bool checked);
    void saveChange();
    void saveOccurrenceChange();
    // The repeat row: its captions follow the date, its end fields the kind of end.
    void showRepeatCaptions();
    void showRepeatEnd();
    // The rule the repeat row stands for; empty for "しない".
    QByteArray shownRule() const;

    state::Module1& m_module;
    bool EDIT_FLAG = false;
    // The id of the row being changed; none while new appointments are entered.
    std::optional<qint64> m_changedId;
    // The row being changed as the form was filled with it: what another program or window
    // changed since is not overwritten.
    store::PLAN_REC m_changedFrom;
    // The stored date of the row being changed: it may stay, even when it is past now.
    QString m_changedDate;
    // Days from the start to the end's day: 0 on this form, more for an event another calendar
    // made to last several days, whose length a change keeps.
    qint64 m_endDays = 0;
    platform::KeyStrokes m_enterStrokes;

    QLabel* Label1 = nullptr;
    QDateEdit* DATE_DTP = nullptr;
    QComboBox* HOUR_LST = nullptr;
    QLabel* Label9 = nullptr;
    QComboBox* MIN_LST = nullptr;
    QLabel* Label10 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QRadioButton* IMPO_OPT[3] = {};
    QButtonGroup* m_impoGroup = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* DETAIL_TEXT = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* PLACE_TEXT = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* NOTICE_TEXT = nullptr;
    QLabel* REMIND_LABEL = nullptr;
    QComboBox* REMIND_LST = nullptr;
    QPushButton* OK_BTN = nullptr;
    QPushButton* CLOSE_BTN = nullptr;
    // After the original controls: the optional end and the all-day mark.
    QLabel* m_endCaption = nullptr;
    QComboBox* m_endHourList = nullptr;
    QLabel* m_endHourUnit = nullptr;
    QComboBox* m_endMinuteList = nullptr;
    QLabel* m_endMinuteUnit = nullptr;
    QCheckBox* m_allDay = nullptr;
    // After the end: the repeat and its end.
    QLabel* m_repeatCaption = nullptr;
    QComboBox* m_repeatList = nullptr;
    QLabel* m_repeatEndCaption = nullptr;
    QComboBox* m_repeatEndList = nullptr;
    QSpinBox* m_repeatCount = nullptr;
    QLabel* m_repeatCountUnit = nullptr;
    QDateEdit* m_repeatUntil = nullptr;
    // The series the row being changed belongs to, and the rule the form showed for it.
    std::optional<store::Membership> m_membership;
    store::Series m_series;
    QByteArray m_shownSeriesRule;
};
