#pragma once

#include "store/series_store.h"

#include <optional>

class QWidget;

// The question every window asks before it changes or deletes an occurrence of a repeating
// appointment, as other calendars ask it: this one, this and the later ones, or all.
namespace series_question {

// The scope chosen; none when the user cancelled.
std::optional<store::Scope> ask(QWidget* parent, bool deleting);

} // namespace series_question
