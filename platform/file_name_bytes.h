// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <string>

// File names are bytes. Qt decodes a name that is not valid UTF-8 with replacement characters
// and cannot give the bytes back from that text, so paths travel as bytes and text is made from
// them only to be shown.

// The text shown for a path: bytes that are not valid text become replacement characters.
QString DisplayName(const std::string &pathBytes);

// Whether the shown text gives the same bytes back, so Qt code can be handed the text.
bool IsTextExact(const std::string &pathBytes);

// Whether something exists at the path; a dangling link counts.
bool PathExists(const std::string &pathBytes);

// The exact bytes of a path that may have been made from text decoded with replacement
// characters. A component that does not exist as given and holds a replacement character is
// looked for among its folder's entries: the one entry that is shown the same way. None when
// no entry or several entries are shown that way; a path without replacement characters comes
// back unchanged, whether it exists or not.
std::optional<std::string> RecoverPathBytes(const std::string &pathBytes);

// The file named `pathBytes` with an extension added: `name` plus "." plus an extension that
// equals `extension` whatever its case. `pathBytes` itself has no extension. An entry with the
// extension exactly as given wins over other spellings, then the lowest in byte order.
std::optional<std::string> FindWithExtension(const std::string &pathBytes,
                                             const std::string &extension);

// A text path under which Qt code can open the file `pathBytes`, for as long as this object
// lives: the path itself when its text is exact, else the file held open and reached through
// the process's own descriptor table.
class TextPathAlias {
public:
    explicit TextPathAlias(const std::string &pathBytes);
    ~TextPathAlias();
    TextPathAlias(const TextPathAlias &) = delete;
    TextPathAlias &operator=(const TextPathAlias &) = delete;

    const QString &Path() const { return path_; }

private:
    int descriptor_ = -1;
    QString path_;
};
