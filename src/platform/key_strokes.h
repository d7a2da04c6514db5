#pragma once

#include <QHash>

class QEvent;

namespace platform {

// Tells a fresh stroke of a key from the repeats of a held one. Qt marks a repeat only when it
// finds the repeat's press queued right behind its release; under load it does not, and the
// repeat arrives as an ordinary release and press of the same moment. A press is fresh only
// when the key was up and was let go at an earlier moment than this press.
class KeyStrokes {
public:
    // Give it every key press and release of the window, wherever the focus is; true for the
    // press of a fresh stroke of key.
    bool isFreshPress(const QEvent* event, int key);

private:
    QHash<int, bool> m_down;
    QHash<int, quint64> m_releasedAt;
};

} // namespace platform
