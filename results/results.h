#pragma once

#include <string>

struct Baseline;

// The results file and its upload.

// Writes the YAML document and its keyed checksum to path; refreshes
// timeStamp whenever the file could be opened. True when written.
bool writeBaselineFile(Baseline& baseline, const std::string& path);

// Names the file in directory, writes, uploads and registers it; stores dbId
// and filenameSalt from the reply. True only when all steps succeeded.
bool saveAndUploadBaseline(Baseline& baseline, const std::string& directory);

// The results-page address formed from dbId and filenameSalt.
std::string makeDisplayUrl(const Baseline& baseline);
