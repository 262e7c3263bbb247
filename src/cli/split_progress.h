#pragma once

#include "cli/progress_line.h"
#include "scatter/splitter.h"

// The split's progress on a progress line: the source's bytes and the part being written
// ("part 2/3"). Empty, so the split pays nothing for it, when the line is not shown.
SplitProgress SplitProgressOn(ProgressLine& line, int parts);
