// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/file_name_bytes.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// U+FFFD as UTF-8: what a decoded name holds where its bytes were not valid text.
const std::string kReplacement = "\xEF\xBF\xBD";

std::string Shown(const std::string &bytes)
{
    return QFile::encodeName(DisplayName(bytes)).toStdString();
}

std::vector<std::string> FolderEntries(const std::string &folder)
{
    std::vector<std::string> entries;
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return entries;
    }
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            entries.push_back(name);
        }
    }
    closedir(dir);
    return entries;
}

std::string Join(const std::string &folder, const std::string &name)
{
    if (folder.empty() || folder.back() == '/') {
        return folder + name;
    }
    return folder + '/' + name;
}

bool EqualsIgnoringAsciiCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

} // namespace

QString DisplayName(const std::string &pathBytes)
{
    return QFile::decodeName(QByteArray::fromStdString(pathBytes));
}

bool IsTextExact(const std::string &pathBytes)
{
    return Shown(pathBytes) == pathBytes;
}

bool PathExists(const std::string &pathBytes)
{
    struct stat info {};
    return lstat(pathBytes.c_str(), &info) == 0;
}

std::optional<std::string> RecoverPathBytes(const std::string &pathBytes)
{
    if (pathBytes.find(kReplacement) == std::string::npos || PathExists(pathBytes)) {
        return pathBytes;
    }
    std::string result = pathBytes.front() == '/' ? "/" : "";
    size_t begin = 0;
    while (begin < pathBytes.size()) {
        size_t end = pathBytes.find('/', begin);
        if (end == std::string::npos) {
            end = pathBytes.size();
        }
        const std::string component = pathBytes.substr(begin, end - begin);
        begin = end + 1;
        if (component.empty()) {
            continue;
        }
        const std::string given = Join(result, component);
        if (component.find(kReplacement) == std::string::npos || PathExists(given)) {
            result = given;
            continue;
        }
        std::optional<std::string> match;
        for (const std::string &entry : FolderEntries(result)) {
            if (Shown(entry) != component) {
                continue;
            }
            if (match) {
                return std::nullopt; // two names look alike: which one was meant is unknown
            }
            match = entry;
        }
        if (!match) {
            return std::nullopt;
        }
        result = Join(result, *match);
    }
    return result;
}

std::optional<std::string> FindWithExtension(const std::string &pathBytes,
                                             const std::string &extension)
{
    const size_t slash = pathBytes.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : pathBytes.substr(0, slash + 1);
    const std::string name = pathBytes.substr(folder.size());
    if (name.empty()) {
        return std::nullopt;
    }
    const std::string exact = name + '.' + extension;
    std::optional<std::string> best;
    for (const std::string &entry : FolderEntries(folder)) {
        if (entry.size() != exact.size() || entry.compare(0, name.size() + 1, name + '.') != 0 ||
            !EqualsIgnoringAsciiCase(entry.substr(name.size() + 1), extension)) {
            continue;
        }
        if (entry == exact) {
            return folder + entry;
        }
        if (!best || entry < *best) {
            best = entry;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    return folder + *best;
}

TextPathAlias::TextPathAlias(const std::string &pathBytes)
{
    if (IsTextExact(pathBytes)) {
        path_ = DisplayName(pathBytes);
        return;
    }
    // O_PATH neither reads nor blocks, even on a named pipe; the viewer decides what it opens.
    descriptor_ = open(pathBytes.c_str(), O_PATH | O_CLOEXEC);
    path_ = descriptor_ >= 0 ? QStringLiteral("/proc/self/fd/%1").arg(descriptor_)
                             : DisplayName(pathBytes);
}

TextPathAlias::~TextPathAlias()
{
    if (descriptor_ >= 0) {
        close(descriptor_);
    }
}
