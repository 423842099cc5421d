// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

namespace rastool {

// One output file, written without a name in its destination folder and given its name only by
// Commit(). Until then an existing file of that name is untouched, and a process ended in any
// way (even by SIGKILL) leaves nothing behind: the kernel frees a file that never got a name.
// Where the file system cannot create a file without a name, the file is written under a short
// temporary name instead; those are removed on SIGINT, SIGTERM and SIGHUP, and the ones left by
// a killed process are removed by the next run into the same folder.
class OutputFile {
public:
    enum class Naming {
        Unnamed, // no name until Commit(), falling back to Temporary where refused
        Temporary,
    };
    // Throws Failure(OutputUnwritable) when the folder is missing or not writable.
    explicit OutputFile(std::string path, Naming naming = Naming::Unnamed);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Open for reading and writing (TIFF reads back what it wrote).
    std::FILE *Stream() { return stream_; }
    const std::string &Path() const { return path_; }
    // The file's temporary name while it has one, empty while it has none.
    const std::string &TemporaryPath() const { return tempPath_; }
    // Flushes, closes and puts the file in place, replacing an existing one in one step;
    // throws Failure(OutputUnwritable).
    void Commit();

    // Removes the temporary files of the process on SIGINT, SIGTERM and SIGHUP.
    static void InstallSignalCleanup();
    // Removes the temporary files of the process now, for a run that ends without unwinding.
    static void RemoveTemporaryFiles();
    // Removes from the folder the temporary files of this machine's processes that have ended
    // without removing them, and nothing else; returns how many were removed.
    static int RemoveStaleTemporaries(const std::string &folder);

private:
    void CreateNamed(const std::string &folder);
    void NameTemporary(const std::string &folder);
    void DropTemporary();

    std::string path_;
    std::string tempPath_;
    std::FILE *stream_ = nullptr;
    int slot_ = -1;
};

// The folder part of a path: "." for a bare name.
std::string FolderOf(const std::string &path);

// The file of one page when several pages go to separate files: "<base>-<NNN>.<ext>", the
// number zero-padded to the digits of the document's page count, at least three, so that the
// files of one document sort together whatever ranges were converted.
std::string PageFileName(const std::string &output, int pageNumber, int documentPageCount);

} // namespace rastool
