// The duplicate search: every group of identical files, and the summary.
#pragma once

#include <cstdint>

constexpr uint32_t ClusterSize = 4096;

// Writes the comparing log and its summary to DupLog.
void FindDuplicates();
