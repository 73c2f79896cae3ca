#include "capture/MediaFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {

constexpr int kMaxCandidates = 10000;

bool CopyContents(int from, int to)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0)
            return ::fsync(to) == 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += w;
        }
    }
}

std::filesystem::path CopyWithoutReplacing(const std::filesystem::path& from,
                                           const std::filesystem::path& wanted)
{
    UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source.valid())
        return {};
    std::filesystem::path chosen;
    UniqueFd target = CreateFreeFile(wanted, chosen);
    if (!target.valid())
        return {};
    if (!CopyContents(source.get(), target.get())) {
        ::unlink(chosen.c_str());
        return {};
    }
    ::unlink(from.c_str());
    return chosen;
}

} // namespace

std::string SetUpMediaFolder()
{
    std::error_code error;
    std::filesystem::path folder = std::filesystem::current_path(error) / "media";
    std::filesystem::create_directories(folder, error);
    return folder.string() + "/";
}

std::string MediaFileName(const std::string& mediaPath, MediaKind kind)
{
    return MediaFileName(mediaPath, kind, std::time(nullptr));
}

std::string MediaFileName(const std::string& mediaPath, MediaKind kind, std::time_t when)
{
    std::tm local{};
    int year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1;
    if (::localtime_r(&when, &local) != nullptr) {
        year = local.tm_year + 1900;
        month = local.tm_mon + 1;
        day = local.tm_mday;
        hour = local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec;
    }
    const char* format = kind == MediaKind::Photo ? "%s%0004d_%02d_%02d_%02d%02d%02d.jpg"
                                                  : "%s%0004d_%02d_%02d_%02d%02d%02d.mp4";
    const int length =
        std::snprintf(nullptr, 0, format, mediaPath.c_str(), year, month, day, hour, minute, second);
    std::string name(static_cast<size_t>(length), '\0');
    std::snprintf(name.data(), name.size() + 1, format, mediaPath.c_str(), year, month, day, hour, minute,
                  second);
    return name;
}

std::filesystem::path CandidateName(const std::filesystem::path& wanted, int n)
{
    if (n <= 1)
        return wanted;
    std::filesystem::path name = wanted.stem();
    name += "_" + std::to_string(n);
    name += wanted.extension();
    return wanted.parent_path() / name;
}

UniqueFd CreateFreeFile(const std::filesystem::path& wanted, std::filesystem::path& chosen)
{
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const std::filesystem::path candidate = CandidateName(wanted, n);
        UniqueFd fd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.valid()) {
            chosen = candidate;
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    return UniqueFd{};
}

std::filesystem::path FreePath(const std::filesystem::path& wanted)
{
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const std::filesystem::path candidate = CandidateName(wanted, n);
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, error)))
            return candidate;
    }
    return {};
}

std::filesystem::path MoveWithoutReplacing(const std::filesystem::path& from,
                                           const std::filesystem::path& wanted)
{
    // link() refuses an existing target, which rename() would silently replace.
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const std::filesystem::path candidate = CandidateName(wanted, n);
        if (::link(from.c_str(), candidate.c_str()) == 0) {
            ::unlink(from.c_str());
            return candidate;
        }
        if (errno == EEXIST)
            continue;
        // Another file system, or one without hard links.
        if (errno == EXDEV || errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK)
            return CopyWithoutReplacing(from, wanted);
        return {};
    }
    return {};
}
