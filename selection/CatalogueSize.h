// Reading back the size field of a catalogue line (the form FormatCatalogueLine
// writes), for the storage evaluation that adds up what another agent lists.
// Stands in for the version record's line parser until that record exists
// here; only the size is needed.
#pragma once

// The size of the file a catalogue line describes: after the closing "')"
// of the MD5('<path>') part, from the fifth ", '" on, the line is cut at
// ',', ' ' and '\''; the first piece is the modification time and the fifth
// the size. 0 for a line without those parts.
long long CatalogueLineSize(const char* line);
