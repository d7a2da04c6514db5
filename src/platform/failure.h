#pragma once

#include <QString>

#include <stdexcept>

namespace platform {

// A failure of the engine, the picture loader or the settings store, carrying the description
// that the user is shown unchanged. Handlers catch it where they show it; it never crosses
// the event loop.
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& description)
        : std::runtime_error(description.toStdString()), m_description(description) {}
    const QString& description() const { return m_description; }

private:
    QString m_description;
};

} // namespace platform
