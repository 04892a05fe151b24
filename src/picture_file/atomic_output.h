#pragma once
// Output files that appear complete or not at all. The content is written under a temporary
// name in the destination folder (so the final rename stays on one file system and is atomic),
// renamed to the real name on Commit, and removed if the owner goes away without committing.
//
// A temporary name is ".<name>.pelorin-<process id>-<n>", <name> being the output's file name,
// shortened when the whole would be longer than the file system allows. A run that is killed
// outright cannot remove its temporary files; the next run writing the same output removes those
// whose process is gone.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace pelorin::picture_file {

// An open folder (a directory file descriptor), closed when the last owner lets go.
class FolderHandle {
public:
    explicit FolderHandle(int fd)
        : m_fd(fd)
    {
    }
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// The output's folder is opened once, when the output is started; the temporary file is
// created, written, renamed and removed relative to that open folder, never by its path again.
// A folder moved or renamed during the run therefore gets the finished output under its final
// name (or nothing, when the run fails), and never a temporary file left behind.
class AtomicOutput {
public:
    // Creates the temporary file (empty, mode 0600 until committed) and removes leftovers of
    // runs that are gone. Throws FileError naming `finalPath` when the folder does not exist
    // or cannot be written.
    explicit AtomicOutput(std::string finalPath);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // The temporary file's path as it was when the output was started (for messages and tests;
    // the file itself is reached through the open folder).
    const std::string& TempPath() const { return m_tempPath; }
    const std::string& FinalPath() const { return m_finalPath; }
    // Opens the temporary file for writing from its start (truncating it) and returns the file
    // descriptor, which the caller then owns. Throws FileError.
    int OpenForWriting() const;
    // Writes `bytes` as the whole content of the temporary file. Throws FileError.
    void Write(std::span<const uint8_t> bytes);
    // Gives the file the permissions a new file gets (0666 less the umask) and renames it to the
    // final name, replacing a file of that name. Throws FileError on failure (the temporary file
    // is then removed).
    void Commit();

private:
    friend class AtomicOutputSet;
    friend void AbandonAllOutputs();
    // The temporary file is named after `tempStem` (the final path unless given), in `folder`,
    // the open folder of `finalPath`.
    AtomicOutput(std::string finalPath, const std::string& tempStem,
        std::shared_ptr<const FolderHandle> folder);

    std::string m_finalPath;
    std::string m_finalName; // in the folder
    std::shared_ptr<const FolderHandle> m_folder;
    std::string m_tempName; // in the folder
    std::string m_tempPath;
    bool m_committed = false;
};

// Outputs put in place together, as one: the numbered pictures of a sequence. Nothing replaces
// a file of the same name until every member has been written; if putting one in place fails,
// those already placed are put back (an earlier file restored, a new one removed), so a run that
// does not complete leaves every file that existed before it as it was.
class AtomicOutputSet {
public:
    // Members' temporary files are named after `pattern` (the name the user gave, "f_%04d.png").
    // Every member lies in the folder of `pattern`, opened once here.
    explicit AtomicOutputSet(std::string pattern);
    ~AtomicOutputSet();
    // Starts the member that becomes `finalPath`.
    AtomicOutput& Add(const std::string& finalPath);
    size_t Size() const { return m_members.size(); }
    // Throws FileError naming the member that could not be put in place.
    void Commit();

private:
    std::string m_pattern;
    std::shared_ptr<const FolderHandle> m_folder;
    std::vector<std::unique_ptr<AtomicOutput>> m_members;
};

// Removes the temporary file of every AtomicOutput of the process that is not committed yet,
// and makes every later Commit fail: for a process that must end at once (a stop signal whose
// run does not give way in time) and is not to leave anything behind. A set being put in place
// is finished first, so its files are all new or all as they were. Safe from any thread.
void AbandonAllOutputs();

// Writes `bytes` as the whole content of `path` through an AtomicOutput: a file of that name is
// replaced only once every byte is written. Throws FileError naming `path`.
void WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes);

// Throws FileError when `path` cannot be written: its folder is missing or cannot be written,
// or `path` is a folder itself.
void CheckOutputWritable(const std::string& path);

} // namespace pelorin::picture_file
