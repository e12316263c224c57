#include "formats/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vorlin::formats {

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// One physical line with the ending it had on disk ("\r\n", "\n", or nothing for a last line
// without one), so rewriting the file reproduces every untouched line byte for byte.
struct Line {
    QByteArray text;
    QByteArray ending;
};

struct IniText {
    bool bom = false;
    std::vector<Line> lines;

    // The ending used for lines we add: the file's own style, LF for a new file.
    QByteArray newLineEnding() const {
        for (const Line& line : lines) {
            if (!line.ending.isEmpty())
                return line.ending;
        }
        return QByteArray("\n");
    }
};

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name; // section or key name, trimmed
};

// Section headers are "[name]"; key lines hold "=", the key being the trimmed text before the
// first one. Lines starting with ';' or '#' are comments; anything else is kept but ignored.
ParsedLine classify(const QByteArray& raw) {
    const QByteArray text = raw.trimmed();
    if (text.isEmpty() || text.startsWith(';') || text.startsWith('#'))
        return {};
    if (text.startsWith('[')) {
        qsizetype close = text.indexOf(']');
        if (close < 0)
            close = text.size();
        return {LineKind::Section, QString::fromUtf8(text.mid(1, close - 1)).trimmed()};
    }
    const qsizetype equals = text.indexOf('=');
    if (equals < 0)
        return {};
    return {LineKind::Key, QString::fromUtf8(text.left(equals)).trimmed()};
}

QString valueOf(const QByteArray& raw) {
    const qsizetype equals = raw.indexOf('=');
    return QString::fromUtf8(raw.mid(equals + 1)).trimmed();
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

IniText splitLines(const QByteArray& bytes) {
    IniText ini;
    qsizetype pos = 0;
    if (bytes.startsWith(kBom)) {
        ini.bom = true;
        pos = kBom.size();
    }
    while (pos < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', pos);
        Line line;
        if (newline < 0) {
            line.text = bytes.mid(pos);
            pos = bytes.size();
        } else {
            qsizetype end = newline;
            if (end > pos && bytes[end - 1] == '\r')
                --end;
            line.text = bytes.mid(pos, end - pos);
            line.ending = bytes.mid(end, newline + 1 - end);
            pos = newline + 1;
        }
        ini.lines.push_back(std::move(line));
    }
    return ini;
}

QByteArray joinLines(const IniText& ini) {
    qsizetype size = ini.bom ? kBom.size() : 0;
    for (const Line& line : ini.lines)
        size += line.text.size() + line.ending.size();
    QByteArray out;
    out.reserve(size);
    if (ini.bom)
        out += kBom;
    for (const Line& line : ini.lines) {
        out += line.text;
        out += line.ending;
    }
    return out;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult readFile(const QString& path, QByteArray* bytes) {
    // Open first and ask about existence only on failure: a stat racing with a writer's
    // rename can report the file missing although opening it succeeds.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QFileInfo::exists(path) ? ReadResult::Failed : ReadResult::Missing;
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return ReadResult::Failed;
    return ReadResult::Ok;
}

// Where a section and a key stand in the file. Only the first section of a name counts, and
// within it the first key of a name, for reading and for writing alike.
struct Location {
    std::optional<std::size_t> sectionHeader;
    std::optional<std::size_t> key;
    std::optional<std::size_t> lastKeyOfSection;
};

Location locate(const IniText& ini, const QString& section, const QString& key) {
    Location where;
    bool inSection = false;
    for (std::size_t i = 0; i < ini.lines.size(); ++i) {
        const ParsedLine parsed = classify(ini.lines[i].text);
        if (parsed.kind == LineKind::Section) {
            if (inSection)
                break; // the first section of that name has ended
            if (sameName(parsed.name, section)) {
                inSection = true;
                where.sectionHeader = i;
            }
        } else if (inSection && parsed.kind == LineKind::Key) {
            where.lastKeyOfSection = i;
            if (!where.key && !key.isNull() && sameName(parsed.name, key))
                where.key = i;
        }
    }
    return where;
}

std::optional<QString> lookUp(const QString& path, const QString& section, const QString& key) {
    QByteArray bytes;
    if (readFile(path, &bytes) != ReadResult::Ok)
        return std::nullopt;
    const IniText ini = splitLines(bytes);
    const Location where = locate(ini, section, key);
    if (!where.key)
        return std::nullopt;
    return valueOf(ini.lines[*where.key].text);
}

// Whole-text decimal integer: optional sign, digits, blanks around; nothing else.
std::optional<int> parseInteger(const QString& text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

// Writers of one file are serialised so that two read-modify-write cycles never interleave.
std::shared_ptr<std::mutex> fileMutex(const QString& path) {
    static std::mutex guard;
    static std::map<QString, std::shared_ptr<std::mutex>> mutexes;
    const QFileInfo info(path);
    QString key = info.canonicalFilePath();
    if (key.isEmpty()) {
        const QString folder = info.absoluteDir().canonicalPath();
        key = folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                               : folder + QLatin1Char('/') + info.fileName();
    }
    std::lock_guard lock(guard);
    auto& mutex = mutexes[key];
    if (!mutex)
        mutex = std::make_shared<std::mutex>();
    return mutex;
}

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// Names that could not be read back as written are refused rather than written: a line
// break would split the line, "=" would end a key early, "]" would end a section early.
bool validNames(const QString& section, const QString& key) {
    if (hasLineBreak(section) || section.contains(QLatin1Char(']')))
        return false;
    const QString trimmedKey = key.trimmed();
    if (trimmedKey.isEmpty() || hasLineBreak(key) || key.contains(QLatin1Char('=')) ||
        trimmedKey.startsWith(QLatin1Char(';')) || trimmedKey.startsWith(QLatin1Char('#')) ||
        trimmedKey.startsWith(QLatin1Char('[')))
        return false;
    return true;
}

} // namespace

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    return lookUp(path_, section, key).value_or(defaultValue);
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const {
    const std::optional<QString> text = lookUp(path_, section, key);
    if (!text)
        return defaultValue;
    return parseInteger(*text).value_or(defaultValue);
}

bool IniFile::readBool(const QString& section, const QString& key, bool defaultValue) const {
    const std::optional<QString> text = lookUp(path_, section, key);
    if (!text)
        return defaultValue;
    const std::optional<int> value = parseInteger(*text);
    return value ? *value != 0 : defaultValue;
}

bool IniFile::sectionExists(const QString& section) const {
    QByteArray bytes;
    if (readFile(path_, &bytes) != ReadResult::Ok)
        return false;
    return locate(splitLines(bytes), section, QString()).sectionHeader.has_value();
}

bool IniFile::valueExists(const QString& section, const QString& key) const {
    return lookUp(path_, section, key).has_value();
}

bool IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    if (path_.isEmpty() || !validNames(section, key) || hasLineBreak(value))
        return false;

    const std::shared_ptr<std::mutex> mutex = fileMutex(path_);
    std::lock_guard lock(*mutex);

    QByteArray bytes;
    // A file that exists but cannot be read must not be replaced by one holding a single key.
    if (readFile(path_, &bytes) == ReadResult::Failed)
        return false;
    IniText ini = splitLines(bytes);
    const bool endsWithLineEnding = ini.lines.empty() || !ini.lines.back().ending.isEmpty();
    const QByteArray ending = ini.newLineEnding();
    const QByteArray valueBytes = value.toUtf8();
    const Location where = locate(ini, section, key);

    if (where.key) {
        Line& line = ini.lines[*where.key];
        // Keep the key as it is spelt in the file; only the value changes.
        const QByteArray keyText = line.text.left(line.text.indexOf('=')).trimmed();
        line.text = keyText + '=' + valueBytes;
    } else {
        Line keyLine{key.trimmed().toUtf8() + '=' + valueBytes, ending};
        std::vector<Line> added;
        std::size_t insertAt = 0;
        if (where.sectionHeader) {
            insertAt =
                (where.lastKeyOfSection ? *where.lastKeyOfSection : *where.sectionHeader) + 1;
        } else {
            insertAt = ini.lines.size();
            added.push_back({'[' + section.trimmed().toUtf8() + ']', ending});
        }
        added.push_back(std::move(keyLine));
        // The line we follow may be a last line without an ending; give it one.
        if (insertAt > 0 && ini.lines[insertAt - 1].ending.isEmpty())
            ini.lines[insertAt - 1].ending = ending;
        // Lines added at the very end keep the file's habit about a final line ending.
        if (insertAt == ini.lines.size() && !endsWithLineEnding)
            added.back().ending.clear();
        ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                         std::make_move_iterator(added.begin()),
                         std::make_move_iterator(added.end()));
    }

    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray out = joinLines(ini);
    if (file.write(out) != out.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool IniFile::writeInteger(const QString& section, const QString& key, int value) {
    return writeString(section, key, QString::number(value));
}

bool IniFile::writeBool(const QString& section, const QString& key, bool value) {
    return writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString formatSection(int formatCode) {
    return QStringLiteral("formatInfo") + QString::number(formatCode);
}

QStringList splitProfileList(const QString& text) {
    QStringList entries;
    if (text.isEmpty())
        return entries;
    QString current;
    for (const QChar c : text) {
        if (c == QLatin1Char(',')) {
            entries.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    entries.append(current);
    return entries;
}

bool profileListAbsent(const QString& key, const QString& value) {
    if (value == QLatin1String("null"))
        return true;
    // An empty size, bit-rate or frame-rate list still offers the field (with no entries).
    for (const char* onlyNull : {"VideoSize", "VideoBitRate", "FrameRate"}) {
        if (sameName(key, QLatin1String(onlyNull)))
            return false;
    }
    return value.isEmpty();
}

} // namespace vorlin::formats
