#include "platform/key_strokes.h"

#include <QKeyEvent>

namespace platform {

bool KeyStrokes::isFreshPress(const QEvent* event, int key)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const auto* keyEvent = static_cast<const QKeyEvent*>(event);
    if (keyEvent->key() != key || keyEvent->isAutoRepeat())
        return false;
    if (event->type() == QEvent::KeyRelease) {
        m_down[key] = false;
        m_releasedAt[key] = keyEvent->timestamp();
        return false;
    }
    // Events made by the program itself carry no time; only the press and release pairing
    // tells for them.
    const bool sameMoment = keyEvent->timestamp() != 0 && keyEvent->timestamp() == m_releasedAt.value(key);
    const bool fresh = !m_down.value(key) && !sameMoment;
    m_down[key] = true;
    return fresh;
}

} // namespace platform
