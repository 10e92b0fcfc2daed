// Checking a backup folder against its manifest. Internal to store_copy.
#pragma once

#include <string>
#include <vector>

#include "app/store/backup_manifest.h"

namespace store {

// Checks the open backup folder `backup` (shown in messages as `backup_shown`) against its
// manifest, which is read into `manifest`: false with `error` when the manifest cannot be read
// or is malformed; otherwise true, with one line in `problems` per finding (paths relative to
// the backup).
bool check_backup(int backup, const std::string& backup_shown, Manifest& manifest,
                  std::vector<std::string>& problems, std::string& error);

}  // namespace store
