#include "jobs/JobFile.h"

#include "formats/IniFile.h"
#include "formats/NumericText.h"

#include <QFileInfo>

namespace vorlin::jobs {
namespace {

using formats::IniFile;

// Reads optional integer fields; the first malformed one is reported.
class FieldReader {
public:
    FieldReader(const IniFile& ini, QString section) : ini_(ini), section_(std::move(section)) {}

    template <typename T> void integer(const char* key, T& field) {
        if (!ini_.valueExists(section_, key))
            return;
        const QString text = ini_.readString(section_, key, QString());
        bool ok = false;
        const qlonglong v = text.toLongLong(&ok);
        if (!ok) {
            fail(key, text);
            return;
        }
        field = static_cast<T>(v);
    }
    void text(const char* key, QString& field) {
        if (ini_.valueExists(section_, key))
            field = ini_.readString(section_, key, field);
    }
    void color(const char* key, QColor& field) {
        if (!ini_.valueExists(section_, key))
            return;
        const QString text = ini_.readString(section_, key, QString());
        const QColor c = QColor::fromString(text);
        if (!text.startsWith('#') || !c.isValid()) {
            fail(key, text);
            return;
        }
        field = c;
    }
    void fail(const char* key, const QString& text) {
        if (error.isEmpty())
            error = QString("[%1] %2: invalid value \"%3\"").arg(section_, key, text);
    }

    QString error;

private:
    const IniFile& ini_;
    QString section_;
};

void readItem(FieldReader& r, TWmRec& item) {
    r.text("Text", item.Text);
    r.text("FontName", item.Font.Name);
    r.integer("FontSize", item.Font.Size);
    QString style;
    r.text("FontStyle", style);
    for (QChar c : style.toLower()) {
        if (c == 'b')
            item.Font.Bold = true;
        else if (c == 'i')
            item.Font.Italic = true;
        else if (c == 'u')
            item.Font.Underline = true;
        else if (c == 's')
            item.Font.StrikeOut = true;
        else
            r.fail("FontStyle", style);
    }
    r.color("FontColor", item.Font.Color);
    r.integer("TextLeft", item.TextLeft);
    r.integer("TextTop", item.TextTop);
    r.integer("TextWidth", item.TextWidth);
    r.integer("TextHeight", item.TextHeight);
    r.integer("TextAlpha", item.TextAlpha);
    r.color("BackColor", item.BackColor);
    int hasBack = item.HasBackColor ? 1 : 0;
    r.integer("HasBackColor", hasBack);
    item.HasBackColor = hasBack != 0;
    r.text("ImagePath", item.ImagePath);
    r.integer("ImageLeft", item.ImageLeft);
    r.integer("ImageTop", item.ImageTop);
    r.integer("ImageWidth", item.ImageWidth);
    r.integer("ImageHeight", item.ImageHeight);
    r.integer("ImageAlpha", item.ImageAlpha);
    r.integer("Kind", item.Kind);
    r.integer("StartSec", item.StartSec);
    r.integer("EndSec", item.EndSec);
}

} // namespace

std::optional<TlvFilesRecord> ReadJobFile(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        if (error)
            *error = "cannot read job file " + path;
        return std::nullopt;
    }
    const IniFile ini(path);
    TlvFilesRecord job;
    FieldReader r(ini, "job");
    r.integer("TrimStart", job.TrimStart);
    r.integer("TrimLength", job.TrimLength);
    r.integer("CropTop", job.CropTop);
    r.integer("CropBottom", job.CropBottom);
    r.integer("CropLeft", job.CropLeft);
    r.integer("CropRight", job.CropRight);
    r.text("ZoomMode", job.ZoomMode);
    r.integer("Brightness", job.Brightness);
    r.integer("Contrast", job.Contrast);
    r.integer("Saturation", job.Saturation);
    r.integer("Exposure", job.Exposure);
    QString failure = r.error;
    for (int i = 0; failure.isEmpty() && ini.sectionExists(QString("wm%1").arg(i)); ++i) {
        FieldReader item(ini, QString("wm%1").arg(i));
        TWmRec rec;
        readItem(item, rec);
        failure = item.error;
        job.WmItems.push_back(rec);
    }
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return std::nullopt;
    }
    return job;
}

} // namespace vorlin::jobs
