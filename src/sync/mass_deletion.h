#pragma once

// When a sync may not delete without the user's word: a server that lost or recreated a
// calendar, or a sec.mdb put back from an old copy, looks to a status-table sync exactly like
// the user deleting everything, and one sync would carry that over to the other side.
namespace calsync {

// Deleting `deleting` of the `total` appointments (or events) of one side is held back when it
// is more than a handful and more than half of them, or when the other side came back empty
// although this one had synced with it.
bool massDeletion(int deleting, int total, bool otherSideEmptied);

constexpr int kDeletionHandful = 5;

} // namespace calsync
