#pragma once

#include "formats/OutputOptions.h"

#include <QObject>
#include <QString>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QWidget;

namespace vorlin::formats {

// The output options panel: the group boxes "Video Options" and "Audio Options" with the
// ten fields of one format. The panel keeps no state beyond its controls; the settings
// dialog asks it what the fields show when it saves.
class TOptionsPanel : public QObject {
    Q_OBJECT
public:
    // Creates the two group boxes as children of `host`; the caller places them.
    TOptionsPanel(QWidget* host, std::function<QString()> settingsFile,
                  std::function<QString()> formatFile);

    QGroupBox* grpbxVideo = nullptr;
    QComboBox* cmbVideoSize = nullptr;
    QComboBox* cmbVideoEncoder = nullptr;
    QComboBox* cmbVideoBitRate = nullptr;
    QComboBox* cmbFrameRate = nullptr;
    QComboBox* cmbZoom = nullptr;
    QGroupBox* grpbxAudio = nullptr;
    QComboBox* cmbSamplerate = nullptr;
    QComboBox* cmbAudioEncoder = nullptr;
    QComboBox* cmbAudioBitRate = nullptr;
    QComboBox* cmbChannel = nullptr;
    QComboBox* cmbVolume = nullptr;

    // The combo box of a list field.
    QComboBox* field(PanelField field) const;

    // Fills the nine lists from the profile of a format and sets the enabled states.
    void LoadOptionLists(const QString& formatCode);
    // Shows the values saved for the format (typed values included).
    void RestoreOnShow(const QString& formatCode);
    // Shows the saved list positions after a switch to another format.
    void RestoreOnSwitch(const QString& formatCode);
    // Shows the profile's default entries and "Full screen"; writes nothing.
    void ApplyProfileDefaults(const QString& formatCode);
    // What the fields show now, as the dialog's Ok stores it.
    PanelValues Shown() const;
    // Shows the given values (kZoomKeep leaves the zoom field alone).
    void Show(const PanelValues& values);

    // Key filters: true when the character reaches the field. Refused characters beep, and
    // the numeric fields also say "Please enter numerical.".
    bool cmbVideoSizeKeyPress(QChar key);
    bool cmbVideoBitRateKeyPress(QChar key);
    bool cmbSamplerateKeyPress(QChar key);
    bool cmbAudioBitRateKeyPress(QChar key);

    // Checks on leaving a typed field.
    void cmbVideoSizeExit();
    void cmbVideoBitRateExit();
    void cmbSamplerateExit();
    void cmbAudioBitRateExit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* addField(QGroupBox* group, int row, const char* name, const QString& label,
                        bool editable);
    bool numericKeyPress(QChar key);
    void selectSecondEntry(QComboBox* box);
    void invalidValue(QComboBox* box, const QString& text);

    QWidget* host_;
    std::function<QString()> settingsFile_;
    std::function<QString()> formatFile_;
};

} // namespace vorlin::formats
