#include "widgets/ThemeManager.h"

#include <QPalette>
#include <QWidget>

#include <array>

namespace vorlin::widgets {
namespace {

const std::array<SkinColors, kSkinCount> kSkins{{
    {"Default", QColor(64, 104, 184), QColor(40, 70, 136), QColor(226, 230, 246),
     QColor(236, 239, 248)},
    {"Gray", QColor(112, 112, 112), QColor(72, 72, 72), QColor(236, 236, 236),
     QColor(240, 240, 240)},
    {"Orange", QColor(226, 128, 26), QColor(164, 84, 10), QColor(248, 242, 224),
     QColor(251, 246, 236)},
    {"Purple", QColor(138, 70, 142), QColor(92, 40, 96), QColor(246, 230, 241),
     QColor(249, 240, 247)},
    {"Red", QColor(190, 48, 48), QColor(128, 24, 24), QColor(247, 225, 225), QColor(250, 238, 238)},
    {"Green", QColor(58, 146, 62), QColor(30, 96, 34), QColor(226, 247, 225),
     QColor(239, 250, 238)},
    {"Light blue", QColor(52, 152, 204), QColor(22, 102, 150), QColor(225, 240, 247),
     QColor(238, 246, 251)},
}};

ThemeManager* g_mainTheme = nullptr;

QString styleSheetFor(const SkinColors& c) {
    // Gradients give the flat Qt widgets the raised look of a skinned desktop program.
    return QString(R"(
QMenuBar { background: qlineargradient(x1:0,y1:0,x2:0,y2:1, stop:0 %1, stop:1 %2); color: white; }
QMenuBar::item { background: transparent; padding: 3px 9px; }
QMenuBar::item:selected { background: %3; }
QMenu { background: %4; border: 1px solid %3; }
QMenu::item:selected { background: %1; color: white; }
QMenu::item:disabled { color: #8a8a8a; }
QPushButton { background: qlineargradient(x1:0,y1:0,x2:0,y2:1, stop:0 #ffffff, stop:1 %5);
              border: 1px solid %3; border-radius: 3px; padding: 3px 8px; color: black; }
QPushButton:hover { border-color: %1; background: %5; }
QPushButton:pressed { background: %1; color: white; }
QPushButton:disabled { color: #9a9a9a; border-color: #b8b8b8; }
QPushButton#SpeedButton1 { font-weight: bold; font-size: 11pt;
              background: qlineargradient(x1:0,y1:0,x2:0,y2:1, stop:0 %1, stop:1 %3); color: white; }
QPushButton#SpeedButton1:disabled { background: #b8b8b8; color: #eeeeee; }
QToolButton { border: 1px solid transparent; border-radius: 3px; padding: 2px; }
QToolButton:hover { border-color: %1; background: %5; }
QToolButton:disabled { color: #9a9a9a; }
QGroupBox { border: 1px solid %3; border-radius: 4px; margin-top: 9px; background: %4; }
QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; color: %3; font-weight: bold; }
QHeaderView::section { background: qlineargradient(x1:0,y1:0,x2:0,y2:1, stop:0 #ffffff, stop:1 %5);
              border: none; border-right: 1px solid %5; border-bottom: 1px solid %3; padding: 2px 4px; }
QTreeWidget, QListWidget, QLineEdit, QPlainTextEdit, QTextEdit, QComboBox, QSpinBox
            { border: 1px solid %3; background: white; selection-background-color: rgb(185,204,236);
              selection-color: black; }
QProgressBar { border: 1px solid %3; border-radius: 3px; background: white; text-align: center; }
QProgressBar::chunk { background: %1; }
QStatusBar { background: %5; }
)")
        .arg(c.accent.name(), c.dark.lighter(115).name(), c.dark.name(), c.window.name(),
             c.light.name());
}

} // namespace

const SkinColors* skinColors(int index) {
    if (index < 0 || index >= kSkinCount)
        return nullptr;
    return &kSkins[static_cast<size_t>(index)];
}

QColor oddRowColor(int themeIndex) {
    const SkinColors* c = skinColors(themeIndex);
    return c ? c->light : QColor(235, 235, 235);
}

ThemeManager::ThemeManager(QObject* parent) : QObject(parent) {}

ThemeManager::~ThemeManager() {
    if (g_mainTheme == this)
        g_mainTheme = nullptr;
}

bool ThemeManager::setTheme(int index) {
    if (!skinColors(index))
        return false;
    if (theme_ != index) {
        theme_ = index;
        emit themeChanged(index);
    }
    return true;
}

void ThemeManager::applyTo(QWidget* window) const {
    if (!window)
        return;
    const SkinColors& c = *skinColors(theme_);
    QPalette pal = window->palette();
    pal.setColor(QPalette::Window, c.window);
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::AlternateBase, c.light);
    pal.setColor(QPalette::Button, c.light);
    pal.setColor(QPalette::Highlight, QColor(185, 204, 236));
    pal.setColor(QPalette::HighlightedText, Qt::black);
    pal.setColor(QPalette::Link, Qt::blue);
    window->setPalette(pal);
    window->setAutoFillBackground(true);
    window->setStyleSheet(styleSheetFor(c));
    window->setProperty("vorlinTheme", theme_);
}

ThemeManager* ThemeManager::mainTheme() {
    return g_mainTheme;
}

void ThemeManager::setMainTheme(ThemeManager* manager) {
    g_mainTheme = manager;
}

void ThemeManager::applyMainTheme(QWidget* dialog) {
    if (g_mainTheme)
        g_mainTheme->applyTo(dialog);
}

} // namespace vorlin::widgets
