#pragma once

#include <QString>

namespace platform {

// The folder where the user's own data files belong: $XDG_DATA_HOME when it is an absolute
// path, else .local/share in the home ($HOME when absolute, else the account's); empty when
// no home can be found.
QString userDataFolder();

// Makes target, in a folder only its owner can enter, a copy of source, readable and writable by
// its owner alone, on the first start only. The copy is written under a temporary name, flushed
// to disk and then given its name, which it never takes from an existing entry; the marker
// "target.created" is written after that. Without the marker nothing made so far counts, and
// the copy is made again; with it, target is the user's and is left as it is, even missing or
// damaged, for its opening to report. source is only ever read. Throws Failure.
void copyOnFirstStart(const QString& source, const QString& target);

} // namespace platform
