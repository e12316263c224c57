#pragma once

#include <QString>
#include <QStringList>

namespace vorlin::formats {

// One INI file with the Windows profile semantics the settings and profile files rely on:
// section and key names compare case-insensitively, values are trimmed, a missing file,
// section or key gives the caller's default, integers are decimal (other text gives the
// default), Booleans are written "1"/"0" and any non-zero integer reads true.
//
// Nothing is cached: every read parses the file as it is on disk now, every write rewrites
// it at once (through a temporary file and a rename, so the file on disk is always either
// the old or the new complete text) and keeps all other lines, comments and order.
// Writers in one process are serialised per file, so no key is lost between two threads.
class IniFile {
public:
    explicit IniFile(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }

    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;
    bool sectionExists(const QString& section) const;
    bool valueExists(const QString& section, const QString& key) const;

    // Each returns false when the file could not be written (the old file is left intact).
    bool writeString(const QString& section, const QString& key, const QString& value);
    bool writeInteger(const QString& section, const QString& key, int value);
    bool writeBool(const QString& section, const QString& key, bool value);

private:
    QString path_;
};

// "formatInfo" + the decimal format code.
QString formatSection(int formatCode);

// Splits a profile list at every ",": blanks belong to the entries, ",," gives an empty
// entry, a trailing "," gives a last empty entry, an empty text gives no entries.
QStringList splitProfileList(const QString& text);

// Whether a profile list value marks its field unavailable. For the size, video bit-rate
// and frame-rate lists only "null" does; for the others "null" and an empty value do.
bool profileListAbsent(const QString& key, const QString& value);

} // namespace vorlin::formats
