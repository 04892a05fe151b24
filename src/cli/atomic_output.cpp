#include "atomic_output.h"

#include "cli_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace pelorin::cli {

namespace {
    std::string FolderOf(const std::string& path)
    {
        const fs::path folder = fs::path(path).parent_path();
        return folder.empty() ? std::string(".") : folder.string();
    }
} // namespace

void CheckOutputFolder(const std::string& path)
{
    const std::string folder = FolderOf(path);
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (!fs::exists(status))
        throw Failure("the output folder '" + folder + "' does not exist");
    if (!fs::is_directory(status))
        throw Failure("'" + folder + "' is not a folder, so '" + path + "' cannot be written");
}

void CheckNotInput(const std::string& input, const std::string& output)
{
    std::error_code ec;
    if (fs::equivalent(input, output, ec) && !ec)
        throw UsageError("'" + output + "' is the input file; it will not be overwritten");
}

AtomicOutput::AtomicOutput(std::string finalPath)
    : m_finalPath(std::move(finalPath))
{
    CheckOutputFolder(m_finalPath);
    const fs::path final(m_finalPath);
    // A hidden name beside the real one: ".clip.mkv.pelorin-XXXXXX".
    std::string pattern
        = (final.parent_path() / ("." + final.filename().string() + ".pelorin-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        throw Failure("cannot write '" + m_finalPath + "': " + std::strerror(errno));
    close(fd);
    m_tempPath = name.data();
}

AtomicOutput::~AtomicOutput()
{
    if (!m_committed)
        unlink(m_tempPath.c_str());
}

void AtomicOutput::Commit()
{
    // mkstemp made the file private; a committed output gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(m_tempPath.c_str(), 0666 & ~mask);
    if (rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0)
        throw Failure("cannot write '" + m_finalPath + "': " + std::strerror(errno));
    m_committed = true;
}

void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes)
{
    AtomicOutput output(path);
    FILE* file = std::fopen(output.TempPath().c_str(), "wb");
    if (file == nullptr)
        throw Failure("cannot write '" + path + "': " + std::strerror(errno));
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const int writeErrno = errno;
    // A full disk may only show when the buffer is flushed, so fclose is checked as well.
    if (std::fclose(file) != 0 || written != bytes.size())
        throw Failure("cannot write '" + path
            + "': " + std::strerror(written != bytes.size() ? writeErrno : errno));
    output.Commit();
}

} // namespace pelorin::cli
