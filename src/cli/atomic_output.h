#pragma once
// Output files that appear complete or not at all. The content is written under a temporary
// name in the destination folder (so the final rename stays on one file system and is atomic),
// renamed to the real name on Commit, and removed if the owner goes away without committing.
#include <cstdint>
#include <span>
#include <string>

namespace pelorin::cli {

class AtomicOutput {
public:
    // Creates the temporary file (empty, mode 0600 until committed). Throws CliError (1) when the
    // folder does not exist or cannot be written.
    explicit AtomicOutput(std::string finalPath);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    const std::string& TempPath() const { return m_tempPath; }
    const std::string& FinalPath() const { return m_finalPath; }
    // Gives the file the permissions a new file gets (0666 less the umask) and renames it to the
    // final name, replacing a file of that name. Throws CliError (1) on failure (the temporary file
    // is then removed).
    void Commit();

private:
    std::string m_finalPath;
    std::string m_tempPath;
    bool m_committed = false;
};

// Writes `bytes` to `path` through an AtomicOutput.
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

// Throws CliError (1) when the folder that would hold `path` does not exist or is no folder.
void CheckOutputFolder(const std::string& path);

// Throws CliError (2) when writing `output` would replace `input` (the same file under another
// name or through a link included).
void CheckNotInput(const std::string& input, const std::string& output);

} // namespace pelorin::cli
