// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

namespace rastool {

// One output file, written under a temporary name in its destination folder and renamed over
// the final name only by Commit(). Until then an existing file of that name is untouched; a
// file never committed is removed, also when the process is ended by a signal.
class OutputFile {
public:
    // Throws Failure(OutputUnwritable) when the folder is missing or not writable.
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Open for reading and writing (TIFF reads back what it wrote).
    std::FILE *Stream() { return stream_; }
    const std::string &Path() const { return path_; }
    // Flushes, closes and renames into place; throws Failure(OutputUnwritable).
    void Commit();

    // Removes the temporary files of the process on SIGINT, SIGTERM and SIGHUP.
    static void InstallSignalCleanup();
    // Removes the temporary files of the process now, for a run that ends without unwinding.
    static void RemoveTemporaryFiles();

private:
    std::string path_;
    std::string tempPath_;
    std::FILE *stream_ = nullptr;
    int slot_ = -1;
};

// The file of one page when several pages go to separate files: "<base>-<NNN>.<ext>", the
// number zero-padded to the digits of the last page number, at least three.
std::string PageFileName(const std::string &output, int pageNumber, int lastPageNumber);

} // namespace rastool
