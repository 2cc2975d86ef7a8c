// IF <condition> <statement> [ELSE <statement>] and BEGIN ... END blocks:
// the branches are translated in line, each IF preceded by a Condition
// statement that tells the engine how many of the following statements to
// pass over.
#pragma once

#include <functional>
#include <vector>

#include "db/tsql/emitter.h"

namespace pv::db::tsql {

using TranslateFn = std::function<void(Emitter&, size_t, size_t, std::vector<Statement>&)>;

// Translates the statements `ranges` of a batch (as split at separators and
// statement beginnings), handing each plain statement to `translate`.
void TranslateBlocks(Emitter& em, const std::vector<Range>& ranges, const TranslateFn& translate,
                     std::vector<Statement>& out);

}  // namespace pv::db::tsql
