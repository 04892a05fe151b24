#include "atomic_output.h"

#include "file_error.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pelorin::picture_file {

namespace {

    std::string FolderOf(const std::string& path)
    {
        const fs::path folder = fs::path(path).parent_path();
        return folder.empty() ? std::string(".") : folder.string();
    }

    std::string ErrnoText() { return std::strerror(errno); }

    constexpr std::string_view kTempMark = ".pelorin-";
    // What a temporary name adds to the output's name: "." before it, and after it the mark and
    // "<process id>-<n>", each number at most 10 digits.
    constexpr size_t kTempNameExtra = 1 + kTempMark.size() + 10 + 1 + 10;

    // Numbers this process's temporary names; with the process id they are unique.
    std::atomic<unsigned> g_nextTemp { 0 };

    // ".<name>.pelorin-" for an output (or a pattern of outputs) at `path`. The name is cut
    // short, between two UTF-8 characters, when the temporary name would not fit the file
    // system's longest name: the user's own name may use all of it.
    std::string TempStart(const std::string& path)
    {
        std::string name = fs::path(path).filename().string();
        long nameMax = pathconf(FolderOf(path).c_str(), _PC_NAME_MAX);
        if (nameMax <= 0)
            nameMax = 255;
        const size_t room
            = size_t(nameMax) > kTempNameExtra + 1 ? size_t(nameMax) - kTempNameExtra : 1;
        if (name.size() > room) {
            size_t cut = room;
            while (cut > 1 && (uint8_t(name[cut]) & 0xC0) == 0x80)
                --cut;
            name.resize(cut);
        }
        return "." + name + std::string(kTempMark);
    }

    // A temporary name for the output `path` that this process has not used yet.
    std::string NextTempName(const std::string& path)
    {
        const fs::path name = TempStart(path) + std::to_string(getpid()) + "-"
            + std::to_string(g_nextTemp.fetch_add(1));
        return (fs::path(path).parent_path() / name).string();
    }

    // Creates an empty private file named after `path`; returns its name. A name of this
    // process's id can only exist as the leftover of an earlier process that had the same id,
    // and is passed over.
    std::string CreateTempFile(const std::string& path, const std::string& outputName)
    {
        for (;;) {
            const std::string temp = NextTempName(path);
            const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                close(fd);
                return temp;
            }
            if (errno != EEXIST)
                throw FileError("cannot write '" + outputName + "': " + ErrnoText());
        }
    }

    // Removes the temporary files named after `path` by processes that no longer run.
    void RemoveLeftovers(const std::string& path)
    {
        const std::string start = TempStart(path);
        std::error_code ec;
        for (fs::directory_iterator it(FolderOf(path), ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (!name.starts_with(start))
                continue;
            // The rest must be "<process id>-<n>", nothing more.
            const char* const last = name.data() + name.size();
            pid_t pid = 0;
            unsigned number = 0;
            const auto [dash, pidError] = std::from_chars(name.data() + start.size(), last, pid);
            if (pidError != std::errc() || pid <= 0 || dash == last || *dash != '-')
                continue;
            const auto [tail, numberError] = std::from_chars(dash + 1, last, number);
            if (numberError != std::errc() || tail != last)
                continue;
            if (pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH)
                continue;
            struct stat status;
            if (lstat(it->path().c_str(), &status) == 0 && S_ISREG(status.st_mode))
                unlink(it->path().c_str());
        }
    }

    // Throws FileError when the folder that would hold `path` does not exist or is no folder.
    void CheckOutputFolder(const std::string& path)
    {
        const std::string folder = FolderOf(path);
        std::error_code ec;
        const fs::file_status status = fs::status(folder, ec);
        if (!fs::exists(status))
            throw FileError("the output folder '" + folder + "' does not exist");
        if (!fs::is_directory(status))
            throw FileError(
                "'" + folder + "' is not a folder, so '" + path + "' cannot be written");
    }

} // namespace

void CheckOutputWritable(const std::string& path)
{
    CheckOutputFolder(path);
    std::error_code ec;
    if (fs::is_directory(fs::status(path, ec)))
        throw FileError("cannot write '" + path + "': it is a folder");
    if (access(FolderOf(path).c_str(), W_OK | X_OK) != 0)
        throw FileError("cannot write '" + path + "': " + ErrnoText());
}

AtomicOutput::AtomicOutput(std::string finalPath, const std::string& tempStem)
    : m_finalPath(std::move(finalPath))
{
    CheckOutputFolder(m_finalPath);
    m_tempPath = CreateTempFile(tempStem, m_finalPath);
}

AtomicOutput::AtomicOutput(std::string finalPath)
    : AtomicOutput(finalPath, finalPath)
{
    RemoveLeftovers(m_finalPath);
}

AtomicOutput::~AtomicOutput()
{
    if (!m_committed)
        unlink(m_tempPath.c_str());
}

void AtomicOutput::Write(std::span<const uint8_t> bytes)
{
    FILE* file = std::fopen(m_tempPath.c_str(), "wb");
    if (file == nullptr)
        throw FileError("cannot write '" + m_finalPath + "': " + ErrnoText());
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const int writeErrno = errno;
    // A full disk may only show when the buffer is flushed, so fclose is checked as well.
    if (std::fclose(file) != 0 || written != bytes.size())
        throw FileError("cannot write '" + m_finalPath
            + "': " + std::strerror(written != bytes.size() ? writeErrno : errno));
}

void AtomicOutput::Commit()
{
    // The temporary file was made private; a committed output gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(m_tempPath.c_str(), 0666 & ~mask);
    if (rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0)
        throw FileError("cannot write '" + m_finalPath + "': " + ErrnoText());
    m_committed = true;
}

void WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes)
{
    AtomicOutput output(path);
    output.Write(bytes);
    output.Commit();
}

AtomicOutputSet::AtomicOutputSet(std::string pattern)
    : m_pattern(std::move(pattern))
{
    RemoveLeftovers(m_pattern);
}

AtomicOutput& AtomicOutputSet::Add(const std::string& finalPath)
{
    m_members.push_back(std::unique_ptr<AtomicOutput>(new AtomicOutput(finalPath, m_pattern)));
    return *m_members.back();
}

void AtomicOutputSet::Commit()
{
    struct Placed {
        const std::string& finalPath;
        bool existed;
        std::string backup; // empty: none could be made
    };
    std::vector<Placed> placed;
    placed.reserve(m_members.size());
    const auto removeBackups = [&] {
        for (const Placed& p : placed)
            if (!p.backup.empty())
                unlink(p.backup.c_str());
    };
    try {
        for (const auto& member : m_members) {
            const std::string& finalPath = member->FinalPath();
            Placed p { finalPath, false, {} };
            struct stat status;
            if (lstat(finalPath.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
                // The earlier file stays reachable under a second name (a hard link, so the
                // real name is never missing) until the whole set is in place. A file system
                // without hard links leaves it without one.
                p.existed = true;
                for (;;) {
                    const std::string backup = NextTempName(m_pattern);
                    if (link(finalPath.c_str(), backup.c_str()) == 0)
                        p.backup = backup;
                    else if (errno == EEXIST)
                        continue;
                    break;
                }
            }
            try {
                member->Commit();
            } catch (...) {
                if (!p.backup.empty())
                    unlink(p.backup.c_str());
                throw;
            }
            placed.push_back(std::move(p));
        }
    } catch (...) {
        for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
            if (!it->backup.empty())
                rename(it->backup.c_str(), it->finalPath.c_str());
            else if (!it->existed)
                unlink(it->finalPath.c_str());
        }
        throw;
    }
    removeBackups();
}

} // namespace pelorin::picture_file
