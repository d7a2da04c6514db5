#pragma once

#include <QObject>
#include <QString>

namespace platform {

// One secretary per database in a login session. The first process started on a sec.mdb owns a
// name on the session bus made from that file's canonical path, so copies in other folders stay
// independent, and the bus lets the name go when its owner ends in any way, a crash included.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.meridocal.Secretary")
public:
    using QObject::QObject;

    // True when this process is to run: it now owns the name, or there is no session bus to ask.
    // False when another process owns it; that one has been asked to come to the front.
    bool claim(const QString& databasePath);

public slots:
    // What the other process calls.
    Q_SCRIPTABLE void Activate();

signals:
    void activationRequested();
};

} // namespace platform
