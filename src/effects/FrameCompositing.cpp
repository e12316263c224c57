#include "effects/FrameCompositing.h"

#include "effects/PixelRoutines.h"
#include "media/FFmpegVCL.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImageReader>
#include <QPainter>
#include <QSet>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

namespace vorlin::effects {
namespace {

// Boxes and pictures are placed in source pixels; their size in points assumes 96 dpi.
constexpr int kDotsPerInch = 96;
// Point size used when an item's size is not positive (the toolkit's default).
constexpr int kDefaultPoints = 8;
// Sizes beyond this are drawn at this size: the box cuts such letters anyway.
constexpr int kMaxPixelSize = 4000;

// The part of a box that lies inside the frame, computed without overflow for any box.
QRect visiblePart(int64_t left, int64_t top, int64_t width, int64_t height, const QSize& frame) {
    if (width <= 0 || height <= 0)
        return {};
    const int64_t x0 = std::max<int64_t>(left, 0);
    const int64_t y0 = std::max<int64_t>(top, 0);
    const int64_t x1 = std::min<int64_t>(left + width, frame.width());
    const int64_t y1 = std::min<int64_t>(top + height, frame.height());
    if (x0 >= x1 || y0 >= y1)
        return {};
    return QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
}

bool isDue(const TWmRec& item, int64_t sec) {
    return int64_t(item.StartSec) <= sec && sec <= int64_t(item.EndSec);
}

bool isTextItem(const TWmRec& item) {
    return item.Kind == TWmRec::KindText && !item.Text.isEmpty();
}

bool isPictureItem(const TWmRec& item) {
    return item.Kind == TWmRec::KindImage && !item.ImagePath.isEmpty();
}

// One line: line breaks would be drawn as nothing by a one-line text call, show them as gaps.
QString oneLine(QString text) {
    for (QChar& c : text) {
        if (c == '\n' || c == '\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = ' ';
    }
    return text;
}

// Blends a layer of anti-aliased glyphs (premultiplied ARGB, transparent elsewhere) drawn over
// the frame's own pixels: each pixel first gets the glyph over the frame, then that result is
// blended into the frame with the item's opacity. Pixels without glyph coverage blend with
// themselves and keep their exact value, so they are skipped.
void blendGlyphs(QImage& frame, const QImage& layer, const QPoint& at, unsigned alpha) {
    const bool bgr = frame.format() == QImage::Format_BGR888;
    const int fr = bgr ? 2 : 0;
    const int fb = bgr ? 0 : 2;
    uint8_t* bits = frame.bits();
    const qsizetype stride = frame.bytesPerLine();
    const auto over = [](unsigned glyph, unsigned back, unsigned cover) {
        return glyph + (back * (255u - cover) + 127u) / 255u;
    };
    const auto blend = [alpha](unsigned back, unsigned top) {
        return uint8_t(((256u - alpha) * back + alpha * top) >> 8);
    };
    for (int y = 0; y < layer.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        uint8_t* d = bits + qsizetype(at.y() + y) * stride + qsizetype(at.x()) * 3;
        for (int x = 0; x < layer.width(); ++x, d += 3) {
            const QRgb px = s[x];
            const unsigned cover = unsigned(qAlpha(px));
            if (cover == 0)
                continue;
            d[fr] = blend(d[fr], over(unsigned(qRed(px)), d[fr], cover));
            d[1] = blend(d[1], over(unsigned(qGreen(px)), d[1], cover));
            d[fb] = blend(d[fb], over(unsigned(qBlue(px)), d[fb], cover));
        }
    }
}

struct PictureEntry {
    bool exists = false;
    qint64 size = -1;
    QDateTime modified;
    QImage image; // null: unreadable
    QString error;
};

struct TextEntry {
    bool valid = false;
    TWmRec item;
    QSize frameSize;
    QImage::Format frameFormat = QImage::Format_Invalid;
    QRect visible;
    QImage glyphs; // transparent box: the letters alone
    QImage filled; // filled box: back colour and letters, in the frame's format
};

} // namespace

QFont WatermarkFont(const TWmFont& font, bool* replaced) {
    QFont f;
    bool fallback = false;
    if (!font.Name.isEmpty() && QFontDatabase::hasFamily(font.Name)) {
        f.setFamily(font.Name);
    } else {
        // The concrete family behind the system's default (often an alias like "Sans Serif").
        f.setFamily(QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family());
        fallback = !font.Name.isEmpty();
    }
    const int64_t points = font.Size > 0 ? font.Size : kDefaultPoints;
    // Point size to pixels as the placing editor does it: rounded, halves away from zero.
    const int64_t pixels = (points * kDotsPerInch + 36) / 72;
    f.setPixelSize(int(std::clamp<int64_t>(pixels, 1, kMaxPixelSize)));
    f.setBold(font.Bold);
    f.setItalic(font.Italic);
    f.setUnderline(font.Underline);
    f.setStrikeOut(font.StrikeOut);
    f.setStyleStrategy(QFont::PreferAntialias);
    if (replaced)
        *replaced = fallback;
    return f;
}

struct FrameCompositor::Impl {
    RecordLookup lookup;
    LogSink log;

    std::mutex mutex;
    int task = -1;
    const TlvFilesRecord* record = nullptr;
    std::map<QString, PictureEntry> pictures;
    std::vector<TextEntry> texts;
    QSet<QString> logged;
    // The colour passes of the last frame's values, kept while they stay the same.
    std::optional<std::tuple<bool, int32_t, int32_t, int32_t, int32_t>> colorKey;
    ColorTransform color;

    void forgetTask() {
        pictures.clear();
        texts.clear();
        logged.clear();
    }

    void logOnce(const QString& message) {
        if (logged.contains(message))
            return;
        logged.insert(message);
        if (log)
            log(message);
    }

    // The decoded picture of an item in the frame's format, or nullptr when it cannot be read.
    const QImage* picture(const QString& path, QImage::Format format) {
        const QFileInfo info(path);
        const bool exists = info.isFile();
        auto found = pictures.find(path);
        const bool current =
            found != pictures.end() && found->second.exists == exists &&
            (!exists || (found->second.size == info.size() &&
                         found->second.modified == info.lastModified())) &&
            (found->second.image.isNull() || found->second.image.format() == format);
        PictureEntry& entry = pictures[path];
        if (!current) {
            entry = PictureEntry{};
            entry.exists = exists;
            if (!exists) {
                entry.error = QStringLiteral("file not found");
            } else {
                entry.size = info.size();
                entry.modified = info.lastModified();
                // Bitmap files only, whatever their name says.
                QImageReader reader(path, "bmp");
                reader.setAutoDetectImageFormat(false);
                const QImage image = reader.read();
                if (image.isNull())
                    entry.error = reader.errorString();
                else
                    entry.image = image.convertToFormat(format);
                if (!image.isNull() && entry.image.isNull())
                    entry.error = QStringLiteral("cannot convert it to 24 bits");
            }
        }
        if (entry.image.isNull()) {
            logOnce(QString("Watermark picture \"%1\" cannot be read (%2); frames that show it "
                            "are left unchanged")
                        .arg(path, entry.error));
            return nullptr;
        }
        return &entry.image;
    }

    const TextEntry& text(size_t index, const TWmRec& item, const QImage& frame) {
        if (texts.size() <= index)
            texts.resize(index + 1);
        TextEntry& entry = texts[index];
        if (entry.valid && entry.frameSize == frame.size() && entry.frameFormat == frame.format() &&
            entry.item == item)
            return entry;
        entry = TextEntry{};
        entry.valid = true;
        entry.item = item;
        entry.frameSize = frame.size();
        entry.frameFormat = frame.format();
        entry.visible =
            visiblePart(item.TextLeft, item.TextTop, item.TextWidth, item.TextHeight, frame.size());
        if (entry.visible.isEmpty())
            return entry;

        bool replaced = false;
        const QFont font = WatermarkFont(item.Font, &replaced);
        if (replaced)
            logOnce(QString("Font \"%1\" is not installed; the text \"%2\" uses \"%3\"")
                        .arg(item.Font.Name, item.Text, font.family()));

        // Only the visible part of the box is drawn; the text's origin (the box's top-left
        // corner) may lie outside it.
        entry.glyphs = QImage(entry.visible.size(), QImage::Format_ARGB32_Premultiplied);
        entry.glyphs.fill(Qt::transparent);
        const qreal originX = qreal(int64_t(item.TextLeft) - entry.visible.x());
        const qreal originY = qreal(int64_t(item.TextTop) - entry.visible.y());
        const QString line = oneLine(item.Text);
        const QFontMetricsF metrics(font);
        // Generous bounds: slanted and underlined letters reach past the advance.
        const QRectF reach(originX - metrics.height(), originY,
                           metrics.horizontalAdvance(line) + 2 * metrics.height(),
                           metrics.height() + metrics.descent());
        if (reach.intersects(QRectF(entry.glyphs.rect()))) {
            QPainter painter(&entry.glyphs);
            painter.setRenderHint(QPainter::TextAntialiasing, true);
            painter.setFont(font);
            painter.setPen(QColor(item.Font.Color.rgb()));
            painter.drawText(QPointF(originX, originY + metrics.ascent()), line);
        }
        if (item.HasBackColor) {
            QImage back(entry.visible.size(), QImage::Format_RGB32);
            back.fill(QColor(item.BackColor.rgb()));
            {
                QPainter painter(&back);
                painter.drawImage(0, 0, entry.glyphs);
            }
            entry.filled = back.convertToFormat(frame.format());
            entry.glyphs = QImage();
        }
        return entry;
    }
};

FrameCompositor::FrameCompositor(RecordLookup lookup, LogSink log) : d(std::make_unique<Impl>()) {
    d->lookup = std::move(lookup);
    d->log = std::move(log);
}

FrameCompositor::~FrameCompositor() = default;

void FrameCompositor::CCAVCCustomHook(PHookInfo& info) {
    Composite(info.Bitmap, info.TaskIndex, info.PTS);
}

void FrameCompositor::Reset() {
    std::lock_guard lock(d->mutex);
    d->task = -1;
    d->record = nullptr;
    d->forgetTask();
}

bool FrameCompositor::Composite(QImage& frame, int taskIndex, int64_t ptsUs) {
    std::lock_guard lock(d->mutex);
    const TlvFilesRecord* record = d->lookup ? d->lookup(taskIndex) : nullptr;
    if (!record || frame.isNull())
        return false;
    if (taskIndex != d->task || record != d->record) {
        d->task = taskIndex;
        d->record = record;
        d->forgetTask();
    }
    if (frame.format() != QImage::Format_BGR888 && frame.format() != QImage::Format_RGB888)
        frame = frame.convertToFormat(QImage::Format_BGR888);

    const int64_t sec = ptsUs / 1000000;
    const std::vector<TWmRec>& items = record->WmItems;

    // Pictures first: one that cannot be read leaves the whole frame as it came.
    std::vector<const QImage*> pictures(items.size(), nullptr);
    for (size_t i = 0; i < items.size(); ++i) {
        if (isDue(items[i], sec) && isPictureItem(items[i])) {
            pictures[i] = d->picture(items[i].ImagePath, frame.format());
            if (!pictures[i])
                return false;
        }
    }

    const bool colors = !record->hasNeutralColors();
    const bool exposure = record->Exposure != TlvFilesRecord::kNeutralExposure;
    if (colors || exposure) {
        const auto key = std::make_tuple(colors, record->Brightness, record->Contrast,
                                         record->Saturation, record->Exposure);
        if (d->colorKey != key) {
            const float x = float(record->Exposure);
            if (colors && exposure)
                d->color = ColorTransform::ColorsThenExposure(record->Brightness, record->Contrast,
                                                              record->Saturation, x);
            else if (colors)
                d->color = ColorTransform::Colors(record->Brightness, record->Contrast,
                                                  record->Saturation);
            else
                d->color = ColorTransform::Exposure(x);
            d->colorKey = key;
        }
        d->color.apply(frame);
    }

    for (size_t i = 0; i < items.size(); ++i) {
        const TWmRec& item = items[i];
        if (!isDue(item, sec))
            continue;
        if (isTextItem(item)) {
            const unsigned alpha = unsigned(std::clamp<int32_t>(item.TextAlpha, 0, 255));
            if (alpha == 0)
                continue;
            const TextEntry& text = d->text(i, item, frame);
            if (text.visible.isEmpty())
                continue;
            if (item.HasBackColor)
                BlendBitmap(frame, text.filled, text.visible.x(), text.visible.y(), int(alpha));
            else
                blendGlyphs(frame, text.glyphs, text.visible.topLeft(), alpha);
        } else if (pictures[i]) {
            BlendBitmap(frame, *pictures[i], item.ImageLeft, item.ImageTop, item.ImageAlpha);
        }
    }
    return true;
}

} // namespace vorlin::effects
