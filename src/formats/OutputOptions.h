#pragma once

#include <QChar>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <array>

namespace vorlin::formats {

class IniFile;

// The nine list fields of the output options panel, in the order their values are kept.
enum class PanelField {
    VideoSize,
    VideoEncoder,
    VideoBitRate,
    FrameRate,
    SampleRate,
    AudioEncoder,
    AudioBitRate,
    Channel,
    Volume,
};
inline constexpr int kPanelFieldCount = 9;

// Profile list key ("VideoSize"), index key ("iVideoSize") and, for the fields stored as
// their text, the stored key ("paraVideoSize") with the default the panel shows.
QString listKey(PanelField field);
QString indexKey(PanelField field);
// Typed text is accepted (frame size, the two bit rates, sample rate); the others only
// show list entries.
bool isEditableField(PanelField field);

// The entries each field offers for one format, and which fields can be used.
struct OptionLists {
    std::array<QStringList, kPanelFieldCount> entries;
    bool videoEnabled = false;        // the video encoder list has entries
    bool audioEnabled = false;        // the audio encoder list has entries
    bool audioBitRateEnabled = false; // audio enabled and the bit-rate list has entries

    const QStringList& operator[](PanelField field) const {
        return entries[static_cast<std::size_t>(field)];
    }
};

// Reads the nine lists of a format from its profile section. A list that counts as absent
// has no entries.
OptionLists ReadOptionLists(const IniFile& profile, const QString& formatCode);

// What one field shows: the position of the shown entry in its list (-1 for typed text or
// nothing shown) and the field's text.
struct FieldShown {
    int index = -1;
    QString text;
    bool operator==(const FieldShown&) const = default;
};

// Zoom positions: 0 "Full screen", 1 "Letterbox", 2 "Pan and Scan"; nothing shown is -1.
inline constexpr int kZoomNothing = -1;
// In a restore result: the zoom field keeps what it shows.
inline constexpr int kZoomKeep = -2;

struct PanelValues {
    std::array<FieldShown, kPanelFieldCount> fields;
    int zoom = kZoomNothing;

    FieldShown& operator[](PanelField field) { return fields[static_cast<std::size_t>(field)]; }
    const FieldShown& operator[](PanelField field) const {
        return fields[static_cast<std::size_t>(field)];
    }
};

// The entry at a position of a list; nothing shown when the position is outside it.
FieldShown EntryAt(const QStringList& list, int index);

// Zoom position of a stored zoom mode: "full" 0, "lbox" 1, "pan" 2, "center" nothing
// shown; any other text keeps the field as it is.
int ZoomPositionOf(const QString& paraZoom);

// What the fields show when the dialog opens: typed values saved earlier (index key below
// 0) come back as text, the others as the entry at their index key.
PanelValues RestoreOnShow(const OptionLists& lists, const IniFile& settings,
                          const QString& formatCode);

// What the fields show after the dialog switched to another format: the entry at each index
// key; typed values saved earlier are not consulted.
PanelValues RestoreOnSwitch(const OptionLists& lists, const IniFile& settings,
                            const QString& formatCode);

// The profile's default entry of every field and "Full screen".
PanelValues ProfileDefaults(const OptionLists& lists, const IniFile& profile,
                            const QString& formatCode);

using KeyValues = QList<QPair<QString, QString>>;

// The keys the dialog's Ok stores for what the fields show: the nine index keys, the texts
// of the typed fields, and the table values of zoom, encoders, channel and volume (a shown
// entry in no table stores nothing). An audio encoder of "gsm" also forces sample rate
// 8000 and one channel.
KeyValues StoredValues(const PanelValues& shown);

// The H.264 tuning values of a format's profile that are present and valid.
KeyValues H264Values(const IniFile& profile, const QString& formatCode);

// Ok of the settings dialog: writes the complete section of the format (Description, the
// stored values, and the profile's H.264 values when the video encoder shown is H.264).
// False when a write failed.
bool WriteFormatSettings(IniFile& settings, const IniFile& profile, const QString& formatCode,
                         const QString& formatName, const PanelValues& shown);

// The value stored under a key by a KeyValues list; empty when the key is not in it.
QString valueOf(const KeyValues& values, const QString& key);
bool hasKey(const KeyValues& values, const QString& key);

// Key filters of the typed fields: what a pressed character does.
enum class KeyVerdict {
    Accept,       // the character reaches the field
    Beep,         // discarded with a warning beep
    NotNumerical, // discarded with "Please enter numerical." and a beep
};
inline constexpr QChar kBackspace{0x08};

// Frame size: digits and backspace; "x" while the text holds none; anything else beeps.
KeyVerdict FrameSizeKey(QChar key, const QString& fieldText);
// Bit rates and sample rate: digits and backspace; anything else, control characters such
// as those of copy and paste included, is refused with the message.
KeyVerdict NumericKey(QChar key);

// The check on leaving the frame-size field.
struct FrameSizeCheck {
    enum Result {
        Accepted,  // the text stays
        Invalid,   // "Frame Size is not a valid value!"; the list's second entry is shown
        Corrected, // both sides made even (0 becomes 2); the field shows `corrected`
    } result = Accepted;
    QString corrected;
};
FrameSizeCheck CheckFrameSize(const QString& text);

// The checks on leaving the other typed fields; true when the text is accepted.
bool IsValidVideoBitRate(const QString& text);
bool IsValidAudioBitRate(const QString& text);
bool IsValidSampleRate(const QString& text);

} // namespace vorlin::formats
