#include "capture/Recovery.h"

#include "capture/MediaFolder.h"
#include "capture/Mp4Finish.h"
#include "platform/DebugPrint.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <sys/file.h>

#include <system_error>
#include <vector>

std::filesystem::path UnfinishedRecordingsFolder()
{
    std::error_code error;
    std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error)
        temp = "/tmp";
    return temp / "vindrel";
}

int RecoverUnfinishedRecordings(const std::filesystem::path& mediaFolder)
{
    const std::filesystem::path folder = UnfinishedRecordingsFolder();
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file(error))
            files.push_back(entry.path());
    }

    int moved = 0;
    for (const std::filesystem::path& file : files) {
        // Left over from a rewrite that was cut short; the recording it came from is still there.
        if (file.extension() == ".remux") {
            std::filesystem::remove(file, error);
            continue;
        }
        if (file.extension() != ".mp4")
            continue;
        UniqueFd lock(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (!lock.valid() || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
            continue; // being recorded right now
        switch (FinishMp4File(file)) {
        case FinishResult::Finished:
            if (!MoveWithoutReplacing(file, mediaFolder / file.filename()).empty())
                ++moved;
            break;
        case FinishResult::Empty:
            std::filesystem::remove(file, error);
            break;
        case FinishResult::Unreadable:
            DebugPrint("unfinished recording %s cannot be read; left in place", file.c_str());
            break;
        }
    }
    return moved;
}
