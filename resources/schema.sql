-- The appointment table, version 4 (PRAGMA user_version; the first version had none and reads
-- as 0). Values are always written as text in fixed forms (date YYYY/MM/DD, hour and minute two
-- digits), so the column sizes are checked here: a text longer than its column is refused when
-- the row is committed. src/store/storage.cpp brings an older file to this version; a change
-- here is a new step there.
CREATE TABLE PLAN_DAT (
    P_DATE       TEXT    NOT NULL CONSTRAINT P_DATE_SIZE       CHECK (length(P_DATE) <= 10),
    P_HOUR       TEXT    NOT NULL CONSTRAINT P_HOUR_SIZE       CHECK (length(P_HOUR) <= 2),
    P_MIN        TEXT    NOT NULL CONSTRAINT P_MIN_SIZE        CHECK (length(P_MIN) <= 2),
    P_DETAIL     TEXT    NOT NULL CONSTRAINT P_DETAIL_SIZE     CHECK (length(P_DETAIL) <= 255),
    P_IMPORTANCE INTEGER NOT NULL CONSTRAINT P_IMPORTANCE_SIZE CHECK (P_IMPORTANCE BETWEEN -32768 AND 32767),
    P_PLACE      TEXT    NOT NULL CONSTRAINT P_PLACE_SIZE      CHECK (length(P_PLACE) <= 255),
    P_NOTICE     TEXT    NOT NULL CONSTRAINT P_NOTICE_SIZE     CHECK (length(P_NOTICE) <= 255),
    -- Never given again, even after the row with the highest id is deleted: sync links and
    -- reminders outlive their rows.
    ID           INTEGER PRIMARY KEY AUTOINCREMENT,
    -- Made once and kept through every change: a random UUID for an appointment typed here,
    -- the calendar's UID for one read from a file or a server.
    UID          TEXT    NOT NULL DEFAULT (lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || substr(hex(randomblob(2)), 2) || '-' || substr('89ab', 1 + abs(random() % 4), 1) || substr(hex(randomblob(2)), 2) || '-' || hex(randomblob(6)))),
    -- The end, empty for none; the date can be a later day. An all-day appointment starts at
    -- 00時00分 of P_DATE and lasts to the end of END_DATE.
    END_DATE     TEXT    NOT NULL DEFAULT '' CONSTRAINT END_DATE_SIZE CHECK (length(END_DATE) <= 10),
    END_HOUR     TEXT    NOT NULL DEFAULT '' CONSTRAINT END_HOUR_SIZE CHECK (length(END_HOUR) <= 2),
    END_MIN      TEXT    NOT NULL DEFAULT '' CONSTRAINT END_MIN_SIZE  CHECK (length(END_MIN) <= 2),
    ALL_DAY      INTEGER NOT NULL DEFAULT 0  CONSTRAINT ALL_DAY_FLAG  CHECK (ALL_DAY IN (0, 1)),
    -- The calendar an event from a file or a server came in, as it came: written back with only
    -- what was changed here replaced, so nothing another program wrote is lost.
    SOURCE       TEXT,
    -- Minutes between the reminder and the appointment, chosen for this appointment alone:
    -- NULL follows the lead time of the settings, -1 is none, 1440 the day before.
    P_REMIND     INTEGER          CONSTRAINT P_REMIND_RANGE    CHECK (P_REMIND BETWEEN -1 AND 10080),
    -- An occurrence of a repeating appointment: its series, the start the rule gave it (its
    -- RECURRENCE-ID, on the series' clock), and whether it was changed here alone.
    SERIES_ID     INTEGER,
    RECURRENCE_ID TEXT    NOT NULL DEFAULT '',
    EXCEPTION     INTEGER NOT NULL DEFAULT 0 CONSTRAINT EXCEPTION_FLAG CHECK (EXCEPTION IN (0, 1))
) STRICT;

-- Date first: today's count and list, both purges and the duplicate check all select
-- by date, and the duplicate check narrows further by hour, minute and subject.
CREATE INDEX PLAN_DAT_KEY ON PLAN_DAT (P_DATE, P_HOUR, P_MIN, P_DETAIL);
-- The few appointments that go on past their first day, for today's count and list.
CREATE INDEX PLAN_DAT_UNTIL ON PLAN_DAT (END_DATE) WHERE END_DATE > P_DATE;

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

CREATE INDEX PLAN_DAT_SERIES ON PLAN_DAT (SERIES_ID, RECURRENCE_ID) WHERE SERIES_ID IS NOT NULL;

-- A repeating appointment, kept as its rule; its occurrences are PLAN_DAT rows made up to a year
-- ahead (HORIZON, the last day made) and made further at each start and day turn.
CREATE TABLE PLAN_SERIES (
    ID           INTEGER PRIMARY KEY AUTOINCREMENT,
    UID          TEXT    NOT NULL,
    DTSTART      TEXT    NOT NULL, -- "YYYYMMDDTHHMMSS" on the series' clock, or "YYYYMMDD" for whole days
    TZID         TEXT    NOT NULL DEFAULT '', -- empty: this machine's local time
    RRULE        TEXT    NOT NULL DEFAULT '',
    RDATE        TEXT    NOT NULL DEFAULT '', -- comma lists of times in DTSTART's form
    EXDATE       TEXT    NOT NULL DEFAULT '',
    P_DETAIL     TEXT    NOT NULL,
    P_IMPORTANCE INTEGER NOT NULL,
    P_PLACE      TEXT    NOT NULL,
    P_NOTICE     TEXT    NOT NULL,
    LENGTH       INTEGER NOT NULL DEFAULT -1, -- seconds from start to end; -1: no end
    ALL_DAY      INTEGER NOT NULL DEFAULT 0,
    HORIZON      TEXT    NOT NULL DEFAULT '',
    SOURCE       TEXT
) STRICT;

PRAGMA user_version = 4;
