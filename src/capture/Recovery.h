#pragma once

#include <filesystem>

// Vindrel's own folder under the temporary folder, where recordings are written until they end.
std::filesystem::path UnfinishedRecordingsFolder();

// Finishes the recordings that an earlier run left in UnfinishedRecordingsFolder() (after a crash, a
// kill or a failed move) and moves them into mediaFolder under a free name. Files without pictures are
// removed; a recording that another process is still writing is left alone. Returns how many were moved.
int RecoverUnfinishedRecordings(const std::filesystem::path& mediaFolder);
