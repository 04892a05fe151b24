#include "atomic_output.h"

#include "file_error.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>
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

    constexpr std::string_view kTempMark = ".pelorin-";
    // What a temporary name adds to the output's name: "." before it, and after it the mark and
    // "<process id>-<n>", each number at most 10 digits.
    constexpr size_t kTempNameExtra = 1 + kTempMark.size() + 10 + 1 + 10;

    // Numbers this process's temporary names; with the process id they are unique.
    std::atomic<unsigned> g_nextTemp { 0 };

    // Every temporary file of the process not yet committed or removed, for AbandonAllOutputs.
    // The lock is also held while outputs are put in place (a set as a whole).
    struct LiveOutputs {
        std::recursive_mutex lock;
        std::set<const AtomicOutput*> outputs;
        bool abandoned = false;
    };
    LiveOutputs& Live()
    {
        static LiveOutputs* const live = new LiveOutputs; // never destroyed: used at exit
        return *live;
    }

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

    // A temporary name (in the output's folder) for the output `path` that this process has
    // not used yet.
    std::string NextTempName(const std::string& path)
    {
        return TempStart(path) + std::to_string(getpid()) + "-"
            + std::to_string(g_nextTemp.fetch_add(1));
    }

    // Creates an empty private file in `folder` named after `path`; returns its name in the
    // folder. A name of this process's id can only exist as the leftover of an earlier process
    // that had the same id, and is passed over.
    std::string CreateTempFile(int folder, const std::string& path, const std::string& outputName)
    {
        for (;;) {
            const std::string temp = NextTempName(path);
            const int fd
                = openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                close(fd);
                return temp;
            }
            if (errno != EEXIST)
                throw FileError("cannot write '" + outputName + "': " + ErrnoText());
        }
    }

    // Removes the temporary files in `folder` named after `path` by processes that no longer
    // run.
    void RemoveLeftovers(int folder, const std::string& path)
    {
        const std::string start = TempStart(path);
        const int listFd = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (listFd < 0)
            return;
        DIR* const list = fdopendir(listFd);
        if (list == nullptr) {
            close(listFd);
            return;
        }
        std::vector<std::string> names;
        while (const dirent* entry = readdir(list)) {
            const std::string name = entry->d_name;
            if (name.starts_with(start))
                names.push_back(name);
        }
        closedir(list);
        for (const std::string& name : names) {
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
            if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(status.st_mode))
                unlinkat(folder, name.c_str(), 0);
        }
    }

    // The folder that holds `path`, opened once: every later step of the output (writing,
    // renaming, cleaning up) goes through this handle, so a folder moved or renamed during the
    // run still receives the finished output, and never keeps a temporary file.
    std::shared_ptr<const FolderHandle> OpenFolder(const std::string& path)
    {
        CheckOutputFolder(path);
        const int fd = open(FolderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            throw FileError("cannot write '" + path + "': " + ErrnoText());
        return std::make_shared<const FolderHandle>(fd);
    }

    std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

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

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0)
        close(m_fd);
}

AtomicOutput::AtomicOutput(
    std::string finalPath, const std::string& tempStem, std::shared_ptr<const FolderHandle> folder)
    : m_finalPath(std::move(finalPath))
    , m_finalName(NameOf(m_finalPath))
    , m_folder(std::move(folder))
{
    std::lock_guard guard(Live().lock);
    if (Live().abandoned)
        throw FileError("cannot write '" + m_finalPath + "': the process is ending");
    m_tempName = CreateTempFile(m_folder->Fd(), tempStem, m_finalPath);
    m_tempPath = (fs::path(m_finalPath).parent_path() / m_tempName).string();
    Live().outputs.insert(this);
}

AtomicOutput::AtomicOutput(std::string finalPath)
    : AtomicOutput(finalPath, finalPath, OpenFolder(finalPath))
{
    RemoveLeftovers(m_folder->Fd(), m_finalPath);
}

AtomicOutput::~AtomicOutput()
{
    std::lock_guard guard(Live().lock);
    if (Live().outputs.erase(this) != 0 && !m_committed)
        unlinkat(m_folder->Fd(), m_tempName.c_str(), 0);
}

void AbandonAllOutputs()
{
    std::lock_guard guard(Live().lock);
    Live().abandoned = true;
    for (const AtomicOutput* output : Live().outputs)
        unlinkat(output->m_folder->Fd(), output->m_tempName.c_str(), 0);
    Live().outputs.clear();
}

int AtomicOutput::OpenForWriting() const
{
    const int fd = openat(m_folder->Fd(), m_tempName.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        throw FileError("cannot write '" + m_finalPath + "': " + ErrnoText());
    return fd;
}

void AtomicOutput::Write(std::span<const uint8_t> bytes)
{
    FILE* file = fdopen(OpenForWriting(), "wb");
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
    std::lock_guard guard(Live().lock);
    if (Live().abandoned)
        throw FileError("cannot write '" + m_finalPath + "': the process is ending");
    fchmodat(m_folder->Fd(), m_tempName.c_str(), 0666 & ~mask, 0);
    if (renameat(m_folder->Fd(), m_tempName.c_str(), m_folder->Fd(), m_finalName.c_str()) != 0)
        throw FileError("cannot write '" + m_finalPath + "': " + ErrnoText());
    m_committed = true;
    Live().outputs.erase(this);
}

void WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes)
{
    AtomicOutput output(path);
    output.Write(bytes);
    output.Commit();
}

AtomicOutputSet::AtomicOutputSet(std::string pattern)
    : m_pattern(std::move(pattern))
    , m_folder(OpenFolder(m_pattern))
{
    RemoveLeftovers(m_folder->Fd(), m_pattern);
}

AtomicOutputSet::~AtomicOutputSet() = default;

AtomicOutput& AtomicOutputSet::Add(const std::string& finalPath)
{
    m_members.push_back(
        std::unique_ptr<AtomicOutput>(new AtomicOutput(finalPath, m_pattern, m_folder)));
    return *m_members.back();
}

void AtomicOutputSet::Commit()
{
    // Held throughout: a process abandoning its outputs waits until the set is all in place or
    // all put back.
    std::lock_guard guard(Live().lock);
    const int folder = m_folder->Fd();
    struct Placed {
        const std::string& finalName;
        bool existed;
        std::string backup; // empty: none could be made
    };
    std::vector<Placed> placed;
    placed.reserve(m_members.size());
    const auto removeBackups = [&] {
        for (const Placed& p : placed)
            if (!p.backup.empty())
                unlinkat(folder, p.backup.c_str(), 0);
    };
    try {
        for (const auto& member : m_members) {
            const std::string& finalName = member->m_finalName;
            Placed p { finalName, false, {} };
            struct stat status;
            if (fstatat(folder, finalName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
                && !S_ISDIR(status.st_mode)) {
                // The earlier file stays reachable under a second name (a hard link, so the
                // real name is never missing) until the whole set is in place. A file system
                // without hard links leaves it without one.
                p.existed = true;
                for (;;) {
                    const std::string backup = NextTempName(m_pattern);
                    if (linkat(folder, finalName.c_str(), folder, backup.c_str(), 0) == 0)
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
                    unlinkat(folder, p.backup.c_str(), 0);
                throw;
            }
            placed.push_back(std::move(p));
        }
    } catch (...) {
        for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
            if (!it->backup.empty())
                renameat(folder, it->backup.c_str(), folder, it->finalName.c_str());
            else if (!it->existed)
                unlinkat(folder, it->finalName.c_str(), 0);
        }
        throw;
    }
    removeBackups();
}

} // namespace pelorin::picture_file
