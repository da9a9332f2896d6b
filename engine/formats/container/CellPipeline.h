#pragma once

#include "Cell.h"
#include "ZipPackage.h"

#include <functional>

namespace gq {

// Runs `produce` on a worker thread and hands the cells it pushes to `visitor` on the calling
// thread, in the same order, in batches bounded in cells and in bytes: parsing overlaps with what
// the caller does with each cell. A cell's own text is copied; a shared string's is not. A visitor
// that returns false ends the producer at its next cell. An error thrown by the producer reaches
// the caller after the cells before it, unless the visitor stopped first. Without `overlap`,
// `produce` runs on the calling thread and pushes straight to `visitor`: for a small part a thread
// costs more than it saves. Either thread, while it would wait for the other, reads `ahead` ahead
// of the producer (ByteStream::fillAhead); the calling thread also now and then between cells, as
// long as it keeps up with the producer.
void PipeCells(const std::function<void(CellVisitor& sink)>& produce, CellVisitor& visitor,
               bool overlap = true, ByteStream* ahead = nullptr);

// How a large part read through PipeCells is best inflated ahead of its parse: with more than two
// cores on a thread of its own; on two by the pipe's threads while they would wait, as three busy
// threads on two cores keep the busiest waiting.
ReadAhead PipedReadAhead();

// Whether a large part read on the visitor's own thread pays for a thread that inflates it ahead:
// on two cores only when the visitor is light.
bool ReadAheadPays(const CellVisitor& visitor);

} // namespace gq
