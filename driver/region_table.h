// The table of regions that --stats writes: one row per region in label
// order, as CSV with a header line, or as a JSON array of objects.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "runlabel/runlabel.h"

// JSON for a name ending in ".json" (any case), CSV otherwise.
bool wants_json(const std::string& name);

// Writes the table; false when a write failed.
bool write_region_table(std::FILE* out, const std::vector<runlabel::Region>& regions, bool json);
