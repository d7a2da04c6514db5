-- The appointment table. Values are always written as text in fixed forms
-- (date YYYY/MM/DD, hour and minute two digits), so the column sizes are checked
-- here: a text longer than its column is refused when the row is committed.
CREATE TABLE PLAN_DAT (
    P_DATE       TEXT    NOT NULL CONSTRAINT P_DATE_SIZE       CHECK (length(P_DATE) <= 10),
    P_HOUR       TEXT    NOT NULL CONSTRAINT P_HOUR_SIZE       CHECK (length(P_HOUR) <= 2),
    P_MIN        TEXT    NOT NULL CONSTRAINT P_MIN_SIZE        CHECK (length(P_MIN) <= 2),
    P_DETAIL     TEXT    NOT NULL CONSTRAINT P_DETAIL_SIZE     CHECK (length(P_DETAIL) <= 255),
    P_IMPORTANCE INTEGER NOT NULL CONSTRAINT P_IMPORTANCE_SIZE CHECK (P_IMPORTANCE BETWEEN -32768 AND 32767),
    P_PLACE      TEXT    NOT NULL CONSTRAINT P_PLACE_SIZE      CHECK (length(P_PLACE) <= 255),
    P_NOTICE     TEXT    NOT NULL CONSTRAINT P_NOTICE_SIZE     CHECK (length(P_NOTICE) <= 255),
    -- Minutes between the reminder and the appointment, chosen for this appointment alone:
    -- NULL follows the lead time of the settings, -1 is none, 1440 the day before.
    P_REMIND     INTEGER          CONSTRAINT P_REMIND_RANGE    CHECK (P_REMIND BETWEEN -1 AND 10080)
) STRICT;

-- Date first: today's count and list, both purges and the duplicate check all select
-- by date, and the duplicate check narrows further by hour, minute and subject.
CREATE INDEX PLAN_DAT_KEY ON PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL);

-- What the user did with a reminder, by the appointment's id and the moment it starts (so a
-- moved appointment is reminded of anew): a row once it was shown, the time a snooze brings it
-- back, and whether it was acknowledged and must never come again.
CREATE TABLE REMINDER_STATE (
    ID            INTEGER NOT NULL,
    OCCURRENCE    TEXT    NOT NULL,
    SNOOZED_UNTIL TEXT,
    ACKED         INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (ID, OCCURRENCE)
) STRICT;
