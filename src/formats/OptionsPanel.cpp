#include "formats/OptionsPanel.h"

#include "widgets/OwnerDraw.h"

#include "formats/IniFile.h"
#include "widgets/Dialogs.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>

namespace vorlin::formats {

namespace {

// Each field sits under its label, so long labels and long entries both fit.
constexpr int kRowTop = 24;
constexpr int kRowStep = 48;
constexpr int kLeft = 10;
constexpr int kLabelHeight = 17;
constexpr int kFieldWidth = 202;
constexpr int kFieldHeight = 24;

// The pick lists draw their entries themselves: the focused entry in the highlight
// colours, the others on white, the text on one line cut with an ellipsis.
class PickListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Room for the highlight frame around the text.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), option.fontMetrics.height() + 6));
        return size;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        QRect r = option.rect;
        vorlin::widgets::DrawListEntryBackground(
            *painter, r, option.state & (QStyle::State_Selected | QStyle::State_HasFocus),
            Qt::white);
        r.adjust(3, 0, -3, 0);
        painter->setPen(Qt::black);
        painter->setFont(option.font);
        const QString text = index.data(Qt::DisplayRole).toString();
        painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          option.fontMetrics.elidedText(text, Qt::ElideRight, r.width()));
        painter->restore();
    }
};

QString applicationTitle() {
    return QGuiApplication::applicationDisplayName();
}

// The character a key press types, as a Windows edit control would see it: copy, cut and
// paste arrive as their control characters. Null for keys that type nothing (arrows, Tab,
// Enter, Delete), which the filters let through.
QChar typedCharacter(const QKeyEvent* key) {
    if (key->matches(QKeySequence::Paste))
        return QChar(0x16);
    if (key->matches(QKeySequence::Copy))
        return QChar(0x03);
    if (key->matches(QKeySequence::Cut))
        return QChar(0x18);
    switch (key->key()) {
    case Qt::Key_Backspace:
        return kBackspace;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return {};
    default:
        break;
    }
    const QString text = key->text();
    return text.isEmpty() ? QChar() : text.at(0);
}

} // namespace

TOptionsPanel::TOptionsPanel(QWidget* host, std::function<QString()> settingsFile,
                             std::function<QString()> formatFile)
    : QObject(host), host_(host), settingsFile_(std::move(settingsFile)),
      formatFile_(std::move(formatFile)) {
    grpbxVideo = new QGroupBox(QStringLiteral("Video Options"), host);
    grpbxVideo->setObjectName(QStringLiteral("grpbxVideo"));
    cmbVideoSize = addField(grpbxVideo, 0, "cmbVideoSize", QStringLiteral("Frame Size:"), true);
    cmbVideoEncoder = addField(grpbxVideo, 1, "cmbVideoEncoder", QStringLiteral("Encoder:"), false);
    cmbVideoBitRate =
        addField(grpbxVideo, 2, "cmbVideoBitRate", QStringLiteral("BitRate (Kbps):"), true);
    cmbFrameRate =
        addField(grpbxVideo, 3, "cmbFrameRate", QStringLiteral("FrameRate (Fps):"), false);
    cmbZoom = addField(grpbxVideo, 4, "cmbZoom", QStringLiteral("Zoom:"), false);
    cmbZoom->addItems({QStringLiteral("Full screen"), QStringLiteral("Letterbox"),
                       QStringLiteral("Pan and Scan")});
    cmbZoom->setMaxVisibleItems(3);

    grpbxAudio = new QGroupBox(QStringLiteral("Audio Options"), host);
    grpbxAudio->setObjectName(QStringLiteral("grpbxAudio"));
    cmbSamplerate =
        addField(grpbxAudio, 0, "cmbSamplerate", QStringLiteral("SampleRate (Hz):"), true);
    cmbAudioEncoder = addField(grpbxAudio, 1, "cmbAudioEncoder", QStringLiteral("Encoder:"), false);
    cmbAudioBitRate =
        addField(grpbxAudio, 2, "cmbAudioBitRate", QStringLiteral("BitRate (Kbps):"), true);
    cmbChannel = addField(grpbxAudio, 3, "cmbChannel", QStringLiteral("Channel:"), false);
    cmbVolume = addField(grpbxAudio, 4, "cmbVolume", QStringLiteral("Volume:"), false);
}

QComboBox* TOptionsPanel::addField(QGroupBox* group, int row, const char* name,
                                   const QString& label, bool editable) {
    const int top = kRowTop + row * kRowStep;
    auto* caption = new QLabel(label, group);
    caption->setGeometry(kLeft, top, kFieldWidth, kLabelHeight);
    auto* box = new QComboBox(group);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(kLeft, top + kLabelHeight, kFieldWidth, kFieldHeight);
    caption->setBuddy(box);
    box->setEditable(editable);
    if (editable) {
        box->setInsertPolicy(QComboBox::NoInsert);
        // Typed text must pass the key filter character by character: no completion, no
        // pasting by menu, middle button or drag and drop.
        box->setCompleter(nullptr);
        QLineEdit* edit = box->lineEdit();
        edit->setContextMenuPolicy(Qt::NoContextMenu);
        edit->setAcceptDrops(false);
        // Keys and focus reach the box first, which hands keys on to its line edit without
        // passing event filters; so both are watched.
        edit->installEventFilter(this);
        box->installEventFilter(this);
    } else {
        box->setItemDelegate(new PickListDelegate(box));
    }
    return box;
}

QComboBox* TOptionsPanel::field(PanelField f) const {
    switch (f) {
    case PanelField::VideoSize:
        return cmbVideoSize;
    case PanelField::VideoEncoder:
        return cmbVideoEncoder;
    case PanelField::VideoBitRate:
        return cmbVideoBitRate;
    case PanelField::FrameRate:
        return cmbFrameRate;
    case PanelField::SampleRate:
        return cmbSamplerate;
    case PanelField::AudioEncoder:
        return cmbAudioEncoder;
    case PanelField::AudioBitRate:
        return cmbAudioBitRate;
    case PanelField::Channel:
        return cmbChannel;
    case PanelField::Volume:
        return cmbVolume;
    }
    return nullptr;
}

void TOptionsPanel::LoadOptionLists(const QString& formatCode) {
    const OptionLists lists = ReadOptionLists(IniFile(formatFile_()), formatCode);
    for (int i = 0; i < kPanelFieldCount; ++i) {
        const auto f = static_cast<PanelField>(i);
        QComboBox* box = field(f);
        box->clear();
        box->addItems(lists[f]);
        box->setMaxVisibleItems(std::max(1, static_cast<int>(lists[f].size())));
    }
    for (QComboBox* box : {cmbVideoSize, cmbVideoBitRate, cmbFrameRate, cmbVideoEncoder, cmbZoom})
        box->setEnabled(lists.videoEnabled);
    for (QComboBox* box : {cmbSamplerate, cmbChannel, cmbVolume, cmbAudioEncoder})
        box->setEnabled(lists.audioEnabled);
    cmbAudioBitRate->setEnabled(lists.audioBitRateEnabled);
}

void TOptionsPanel::Show(const PanelValues& values) {
    for (int i = 0; i < kPanelFieldCount; ++i) {
        const auto f = static_cast<PanelField>(i);
        QComboBox* box = field(f);
        const FieldShown& shown = values[f];
        if (shown.index >= 0 && shown.index < box->count()) {
            box->setCurrentIndex(shown.index);
        } else {
            box->setCurrentIndex(-1);
            if (box->isEditable())
                box->setEditText(shown.text);
        }
    }
    if (values.zoom != kZoomKeep)
        cmbZoom->setCurrentIndex(values.zoom >= 0 && values.zoom < cmbZoom->count() ? values.zoom
                                                                                    : -1);
}

void TOptionsPanel::RestoreOnShow(const QString& formatCode) {
    const OptionLists lists = ReadOptionLists(IniFile(formatFile_()), formatCode);
    Show(formats::RestoreOnShow(lists, IniFile(settingsFile_()), formatCode));
}

void TOptionsPanel::RestoreOnSwitch(const QString& formatCode) {
    const OptionLists lists = ReadOptionLists(IniFile(formatFile_()), formatCode);
    Show(formats::RestoreOnSwitch(lists, IniFile(settingsFile_()), formatCode));
}

void TOptionsPanel::ApplyProfileDefaults(const QString& formatCode) {
    // The lists on show are those of the current format; they are not read again.
    OptionLists lists;
    for (int i = 0; i < kPanelFieldCount; ++i) {
        QComboBox* box = field(static_cast<PanelField>(i));
        for (int row = 0; row < box->count(); ++row)
            lists.entries[static_cast<std::size_t>(i)].append(box->itemText(row));
    }
    Show(ProfileDefaults(lists, IniFile(formatFile_()), formatCode));
}

PanelValues TOptionsPanel::Shown() const {
    PanelValues values;
    for (int i = 0; i < kPanelFieldCount; ++i) {
        const auto f = static_cast<PanelField>(i);
        const QComboBox* box = field(f);
        if (box->isEditable()) {
            // Typed text counts as the entry it spells; anything else is -1.
            const QString text = box->currentText();
            values[f] = {box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive), text};
        } else {
            const int index = box->currentIndex();
            values[f] = {index, index >= 0 ? box->itemText(index) : QString()};
        }
    }
    values.zoom = cmbZoom->currentIndex();
    return values;
}

bool TOptionsPanel::cmbVideoSizeKeyPress(QChar key) {
    if (FrameSizeKey(key, cmbVideoSize->currentText()) == KeyVerdict::Accept)
        return true;
    widgets::dialogs().beep();
    return false;
}

bool TOptionsPanel::numericKeyPress(QChar key) {
    if (NumericKey(key) == KeyVerdict::Accept)
        return true;
    widgets::dialogs().message(host_, applicationTitle(), QStringLiteral("Please enter numerical."),
                               widgets::MessageIcon::None);
    widgets::dialogs().beep();
    return false;
}

bool TOptionsPanel::cmbVideoBitRateKeyPress(QChar key) {
    return numericKeyPress(key);
}

bool TOptionsPanel::cmbSamplerateKeyPress(QChar key) {
    return numericKeyPress(key);
}

bool TOptionsPanel::cmbAudioBitRateKeyPress(QChar key) {
    return numericKeyPress(key);
}

void TOptionsPanel::selectSecondEntry(QComboBox* box) {
    if (box->count() > 1)
        box->setCurrentIndex(1);
}

void TOptionsPanel::invalidValue(QComboBox* box, const QString& text) {
    widgets::dialogs().message(host_, applicationTitle(), text, widgets::MessageIcon::None);
    selectSecondEntry(box);
}

void TOptionsPanel::cmbVideoSizeExit() {
    const FrameSizeCheck check = CheckFrameSize(cmbVideoSize->currentText());
    switch (check.result) {
    case FrameSizeCheck::Accepted:
        return;
    case FrameSizeCheck::Invalid:
        invalidValue(cmbVideoSize, QStringLiteral("Frame Size is not a valid value!"));
        return;
    case FrameSizeCheck::Corrected:
        widgets::dialogs().message(host_, QStringLiteral("Input Error!"),
                                   QStringLiteral("Frame Size must be a multiple of 2.\n"
                                                  "The correct value:") +
                                       check.corrected,
                                   widgets::MessageIcon::Warning);
        cmbVideoSize->setEditText(check.corrected);
        return;
    }
}

void TOptionsPanel::cmbVideoBitRateExit() {
    if (!IsValidVideoBitRate(cmbVideoBitRate->currentText()))
        invalidValue(cmbVideoBitRate, QStringLiteral("Video BitRate is not a valid value!"));
}

void TOptionsPanel::cmbSamplerateExit() {
    if (!IsValidSampleRate(cmbSamplerate->currentText()))
        invalidValue(cmbSamplerate, QStringLiteral("Audio SampleRate is not a valid value!"));
}

void TOptionsPanel::cmbAudioBitRateExit() {
    if (!IsValidAudioBitRate(cmbAudioBitRate->currentText()))
        invalidValue(cmbAudioBitRate, QStringLiteral("Audio BitRate is not a valid value!"));
}

bool TOptionsPanel::eventFilter(QObject* watched, QEvent* event) {
    QComboBox* box = nullptr;
    for (QComboBox* candidate : {cmbVideoSize, cmbVideoBitRate, cmbSamplerate, cmbAudioBitRate}) {
        if (candidate && (watched == candidate || watched == candidate->lineEdit()))
            box = candidate;
    }
    if (!box)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        const QChar key = typedCharacter(static_cast<QKeyEvent*>(event));
        if (key.isNull())
            return false;
        bool accepted = false;
        if (box == cmbVideoSize)
            accepted = cmbVideoSizeKeyPress(key);
        else if (box == cmbVideoBitRate)
            accepted = cmbVideoBitRateKeyPress(key);
        else if (box == cmbSamplerate)
            accepted = cmbSamplerateKeyPress(key);
        else
            accepted = cmbAudioBitRateKeyPress(key);
        return !accepted;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        // The middle button pastes the selection on X11.
        return static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton;
    case QEvent::FocusOut: {
        // Opening the field's own list or leaving the application is not leaving the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason ||
            !box->isEnabled())
            return false;
        if (box == cmbVideoSize)
            cmbVideoSizeExit();
        else if (box == cmbVideoBitRate)
            cmbVideoBitRateExit();
        else if (box == cmbSamplerate)
            cmbSamplerateExit();
        else
            cmbAudioBitRateExit();
        return false;
    }
    default:
        return false;
    }
}

} // namespace vorlin::formats
