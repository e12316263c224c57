#include "formats/OutputOptions.h"

#include "formats/IniFile.h"
#include "formats/NumericText.h"
#include "formats/ParamTables.h"

namespace vorlin::formats {

namespace {

struct FieldKeys {
    const char* list;
    const char* index;
    bool editable;
};

// In PanelField order.
constexpr FieldKeys kFieldKeys[kPanelFieldCount] = {
    {"VideoSize", "iVideoSize", true},
    {"VideoEncoder", "iVideoEncoder", false},
    {"VideoBitRate", "iVideoBitRate", true},
    {"FrameRate", "iFrameRate", false},
    {"SampleRate", "iSampleRate", true},
    {"AudioEncoder", "iAudioEncoder", false},
    {"AudioBitRate", "iAudioBitRate", true},
    {"Channel", "iChannel", false},
    {"Volume", "iVolume", false},
};

// The fields whose typed value is stored as text, with the text the panel shows when the
// settings hold none.
struct TextField {
    PanelField field;
    const char* key;
    const char* shownDefault;
};
constexpr TextField kTextFields[] = {
    {PanelField::VideoSize, "paraVideoSize", "320x240"},
    {PanelField::VideoBitRate, "paraVideoBitRate", "800"},
    {PanelField::FrameRate, "paraFrameRate", "25"},
    {PanelField::SampleRate, "paraSampleRate", "44100"},
    {PanelField::AudioBitRate, "paraAudioBitRate", "96"},
};

const FieldKeys& keysOf(PanelField field) {
    return kFieldKeys[static_cast<int>(field)];
}

constexpr PanelField kAllFields[kPanelFieldCount] = {
    PanelField::VideoSize,    PanelField::VideoEncoder, PanelField::VideoBitRate,
    PanelField::FrameRate,    PanelField::SampleRate,   PanelField::AudioEncoder,
    PanelField::AudioBitRate, PanelField::Channel,      PanelField::Volume,
};

const QString kSettingsZoomKey = QStringLiteral("paraZoom");

int storedZoom(const IniFile& settings, const QString& section) {
    return ZoomPositionOf(settings.readString(section, kSettingsZoomKey, QStringLiteral("full")));
}

void put(KeyValues& values, const QString& key, const QString& value) {
    for (auto& pair : values) {
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0) {
            pair.second = value;
            return;
        }
    }
    values.append({key, value});
}

bool isDigit(QChar key) {
    return key >= QLatin1Char('0') && key <= QLatin1Char('9');
}

} // namespace

QString listKey(PanelField field) {
    return QString::fromLatin1(keysOf(field).list);
}

QString indexKey(PanelField field) {
    return QString::fromLatin1(keysOf(field).index);
}

bool isEditableField(PanelField field) {
    return keysOf(field).editable;
}

OptionLists ReadOptionLists(const IniFile& profile, const QString& formatCode) {
    OptionLists lists;
    const QString section = QStringLiteral("formatInfo") + formatCode;
    for (PanelField field : kAllFields) {
        const QString key = listKey(field);
        const QString value = profile.readString(section, key, QStringLiteral("null"));
        if (!profileListAbsent(key, value))
            lists.entries[static_cast<std::size_t>(field)] = splitProfileList(value);
    }
    lists.videoEnabled = !lists[PanelField::VideoEncoder].isEmpty();
    lists.audioEnabled = !lists[PanelField::AudioEncoder].isEmpty();
    lists.audioBitRateEnabled = lists.audioEnabled && !lists[PanelField::AudioBitRate].isEmpty();
    return lists;
}

FieldShown EntryAt(const QStringList& list, int index) {
    if (index < 0 || index >= list.size())
        return {};
    return {index, list.at(index)};
}

int ZoomPositionOf(const QString& paraZoom) {
    if (paraZoom == QLatin1String("full"))
        return 0;
    if (paraZoom == QLatin1String("lbox"))
        return 1;
    if (paraZoom == QLatin1String("pan"))
        return 2;
    // "center" has no entry of its own; the field then shows nothing.
    if (paraZoom == QLatin1String("center"))
        return kZoomNothing;
    return kZoomKeep;
}

PanelValues RestoreOnShow(const OptionLists& lists, const IniFile& settings,
                          const QString& formatCode) {
    PanelValues values = RestoreOnSwitch(lists, settings, formatCode);
    const QString section = QStringLiteral("formatInfo") + formatCode;
    for (const TextField& text : kTextFields) {
        if (settings.readInteger(section, indexKey(text.field), 0) >= 0)
            continue;
        const QString stored = settings.readString(section, QString::fromLatin1(text.key),
                                                   QString::fromLatin1(text.shownDefault));
        const QStringList& list = lists[text.field];
        if (isEditableField(text.field))
            values[text.field] = {static_cast<int>(list.indexOf(stored)), stored};
        else
            values[text.field] = EntryAt(list, static_cast<int>(list.indexOf(stored)));
    }
    return values;
}

PanelValues RestoreOnSwitch(const OptionLists& lists, const IniFile& settings,
                            const QString& formatCode) {
    PanelValues values;
    const QString section = QStringLiteral("formatInfo") + formatCode;
    for (PanelField field : kAllFields)
        values[field] = EntryAt(lists[field], settings.readInteger(section, indexKey(field), 0));
    values.zoom = storedZoom(settings, section);
    return values;
}

PanelValues ProfileDefaults(const OptionLists& lists, const IniFile& profile,
                            const QString& formatCode) {
    PanelValues values;
    const QString section = QStringLiteral("formatInfo") + formatCode;
    for (PanelField field : kAllFields)
        values[field] = EntryAt(lists[field], profile.readInteger(section, indexKey(field), 0));
    values.zoom = 0;
    return values;
}

KeyValues StoredValues(const PanelValues& shown) {
    KeyValues values;
    // Index keys in the order the dialog has always written them.
    for (PanelField field :
         {PanelField::VideoSize, PanelField::VideoBitRate, PanelField::VideoEncoder,
          PanelField::FrameRate, PanelField::SampleRate, PanelField::AudioBitRate,
          PanelField::Channel, PanelField::Volume, PanelField::AudioEncoder})
        put(values, indexKey(field), QString::number(shown[field].index));
    put(values, QStringLiteral("paraVideoSize"), shown[PanelField::VideoSize].text);
    put(values, QStringLiteral("paraVideoBitRate"), shown[PanelField::VideoBitRate].text);
    put(values, QStringLiteral("paraFrameRate"), shown[PanelField::FrameRate].text);
    if (const auto zoom = zoomParam(shown.zoom))
        put(values, kSettingsZoomKey, *zoom);
    if (const auto encoder = videoEncoderParam(shown[PanelField::VideoEncoder].text))
        put(values, QStringLiteral("paraVideoEncoder"), *encoder);
    put(values, QStringLiteral("paraSampleRate"), shown[PanelField::SampleRate].text);
    put(values, QStringLiteral("paraAudioBitRate"), shown[PanelField::AudioBitRate].text);
    if (const auto channel = channelParam(shown[PanelField::Channel].text))
        put(values, QStringLiteral("paraChannel"), *channel);
    if (const auto volume = volumeParam(shown[PanelField::Volume].text))
        put(values, QStringLiteral("paraVolume"), *volume);
    const QString audioEntry = shown[PanelField::AudioEncoder].text;
    if (const auto encoder = audioEncoderParam(audioEntry)) {
        put(values, QStringLiteral("paraAudioEncoder"), *encoder);
        if (isGsmEntry(audioEntry)) {
            put(values, QStringLiteral("paraSampleRate"), kGsmSampleRate);
            put(values, QStringLiteral("paraChannel"), kGsmChannel);
        }
    }
    return values;
}

KeyValues H264Values(const IniFile& profile, const QString& formatCode) {
    KeyValues values;
    const QString section = QStringLiteral("formatInfo") + formatCode;
    const QString bitExact = profile.readString(section, QStringLiteral("paraBitExact"), {});
    if (bitExact.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        values.append({QStringLiteral("paraBitExact"), bitExact});
    for (const char* key :
         {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale", "paraGop"}) {
        const QString text = profile.readString(section, QString::fromLatin1(key), {});
        if (const auto value = integerValue(text); value && *value > 0)
            values.append({QString::fromLatin1(key), text});
    }
    const QString coder = profile.readString(section, QStringLiteral("paraCoder"), {});
    if (const auto value = integerValue(coder); value && *value >= 0)
        values.append({QStringLiteral("paraCoder"), coder});
    return values;
}

bool WriteFormatSettings(IniFile& settings, const IniFile& profile, const QString& formatCode,
                         const QString& formatName, const PanelValues& shown) {
    const QString section = QStringLiteral("formatInfo") + formatCode;
    KeyValues values{{QStringLiteral("Description"), formatName}};
    values += StoredValues(shown);
    if (isH264Entry(shown[PanelField::VideoEncoder].text))
        values += H264Values(profile, formatCode);
    bool written = true;
    for (const auto& [key, value] : values)
        written = settings.writeString(section, key, value) && written;
    return written;
}

QString valueOf(const KeyValues& values, const QString& key) {
    for (const auto& pair : values) {
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            return pair.second;
    }
    return {};
}

bool hasKey(const KeyValues& values, const QString& key) {
    for (const auto& pair : values) {
        if (pair.first.compare(key, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

KeyVerdict FrameSizeKey(QChar key, const QString& fieldText) {
    if (isDigit(key) || key == kBackspace)
        return KeyVerdict::Accept;
    if (key == QLatin1Char('x') && !fieldText.contains(QLatin1Char('x')))
        return KeyVerdict::Accept;
    return KeyVerdict::Beep;
}

KeyVerdict NumericKey(QChar key) {
    if (isDigit(key) || key == kBackspace)
        return KeyVerdict::Accept;
    return KeyVerdict::NotNumerical;
}

FrameSizeCheck CheckFrameSize(const QString& text) {
    if (text.toLower().contains(QLatin1String("as source")))
        return {};
    const qsizetype x = text.lastIndexOf(QLatin1Char('x'));
    if (x < 0)
        return {FrameSizeCheck::Invalid, {}};
    const auto left = integerValue(text.left(x));
    const auto right = integerValue(text.mid(x + 1));
    if (!left || !right)
        return {FrameSizeCheck::Invalid, {}};
    const auto isEvenNonZero = [](int64_t v) {
        return v != 0 && v % 2 == 0;
    };
    if (isEvenNonZero(*left) && isEvenNonZero(*right))
        return {};
    // Toward zero, and a side of 0 becomes 2.
    const auto even = [](int64_t v) {
        const int64_t e = v - v % 2;
        return e == 0 ? int64_t{2} : e;
    };
    return {FrameSizeCheck::Corrected,
            QString::number(even(*left)) + QLatin1Char('x') + QString::number(even(*right))};
}

bool IsValidVideoBitRate(const QString& text) {
    return IsIntegerText(text) || text == QLatin1String("as source");
}

bool IsValidAudioBitRate(const QString& text) {
    return IsIntegerText(text) || IsNumberText(text) || text == QLatin1String("as source");
}

bool IsValidSampleRate(const QString& text) {
    return IsIntegerText(text) || text == QLatin1String("as source");
}

} // namespace vorlin::formats
