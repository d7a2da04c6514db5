#pragma once

#include <QString>

#include <stdexcept>

namespace platform {

// A failure of the engine, the picture loader, the settings store or a service, carrying the
// description that the user is shown unchanged. Handlers catch it where they show it; it never
// crosses the event loop.
class Failure : public std::runtime_error {
public:
    explicit Failure(const QString& description)
        : std::runtime_error(description.toStdString()), m_description(description) {}
    const QString& description() const { return m_description; }

private:
    QString m_description;
};

// The description of the exception being handled, whatever its type: for use inside catch (...),
// where a failure of ours, an allocation failure or any other standard exception is turned into
// words for the user instead of ending the program.
QString describeCurrentException();

} // namespace platform
