#pragma once

#include "Cell.h"

#include <functional>

namespace gq {

// Runs `produce` on a worker thread and hands the cells it pushes to `visitor` on the calling
// thread, in the same order, in small batches: parsing overlaps with what the caller does with
// each cell. A visitor that returns false ends the producer at its next cell. An error thrown by
// the producer reaches the caller after the cells before it, unless the visitor stopped first.
void PipeCells(const std::function<void(CellVisitor& sink)>& produce, CellVisitor& visitor);

} // namespace gq
