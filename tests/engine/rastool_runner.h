// SPDX-License-Identifier: AGPL-3.0-or-later
// Runs the built rastool and external tools from the tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace engine_test {

struct RunResult {
    int status = -1;
    std::string err; // standard error
};

inline std::string Quote(const std::string &s)
{
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

inline std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// stderrFile: where the engine's standard error is caught (outside the output folder).
inline RunResult RunRastool(const std::vector<std::string> &args, const std::string &stderrFile)
{
    std::string command = Quote(std::string(PAGEMINT_BIN_DIR) + "/rastool");
    for (const auto &a : args) {
        command += " " + Quote(a);
    }
    command += " >/dev/null 2>" + Quote(stderrFile);
    const int raw = std::system(command.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.err = ReadAll(stderrFile);
    return r;
}

// Standard output of a shell command.
inline std::string Capture(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
            out.append(buf, n);
        }
        pclose(p);
    }
    return out;
}

inline std::set<std::string> FilesIn(const std::string &folder)
{
    std::set<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.insert(name);
            }
        }
        closedir(d);
    }
    return names;
}

inline int CountLines(const std::string &text)
{
    int lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    return lines;
}

} // namespace engine_test
