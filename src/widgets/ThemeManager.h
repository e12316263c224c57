#pragma once

#include <QColor>
#include <QObject>
#include <QString>

class QWidget;

namespace vorlin::widgets {

// The colours of one built-in skin.
struct SkinColors {
    QString name;  // menu caption: "Default", "Gray", ...
    QColor accent; // title bands, default buttons, highlights
    QColor dark;   // frames and pressed states
    QColor light;  // tinted backgrounds; also the job list's odd rows
    QColor window; // window and dialog background
};

inline constexpr int kSkinCount = 7;

// Skin 0..6 in the order of the Skin menu; nullptr for any other index.
const SkinColors* skinColors(int index);

// Odd-row colour of the job list for a theme index (a neutral grey for no known theme).
QColor oddRowColor(int themeIndex);

// Holds the current skin and paints windows with it (palette plus a style sheet). The main
// window owns one; every dialog takes the main window's theme when it is shown.
class ThemeManager : public QObject {
    Q_OBJECT
public:
    explicit ThemeManager(QObject* parent = nullptr);
    ~ThemeManager() override;

    // Current skin index, 0..6. A new manager holds 0 (Default), the design-time theme.
    int theme() const { return theme_; }
    // Selects skin 0..6; other values leave the theme unchanged and return false.
    bool setTheme(int index);

    // Paints a top-level window and its children with the current skin.
    void applyTo(QWidget* window) const;

    // The main window's manager, which dialogs follow; nullptr before the main window exists.
    static ThemeManager* mainTheme();
    static void setMainTheme(ThemeManager* manager);

    // Applies the main window's current theme to a dialog (nothing when there is none).
    static void applyMainTheme(QWidget* dialog);

signals:
    void themeChanged(int index);

private:
    int theme_ = 0;
};

} // namespace vorlin::widgets
