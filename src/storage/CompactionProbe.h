#pragma once

#include <functional>

namespace corvidan::storage {

/// Points inside a compaction where a test may stop the process.
enum class CompactionStep {
    ScratchCreated, ///< empty scratch file open
    RunCopied,      ///< one run of live records copied to the scratch file
    ScratchSynced,  ///< scratch file complete and on disk
    Renamed,        ///< scratch file renamed over the record file
};
using CompactionProbe = std::function<void(CompactionStep)>;

} // namespace corvidan::storage
