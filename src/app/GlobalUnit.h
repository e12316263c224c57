#pragma once

#include <QString>

#include <memory>

// The one application-wide object: paths of the two INI files, titles, web addresses and a
// few operating-system helpers. Created by the main window's FormCreate and destroyed when
// the user confirms exit; nothing may use it after that.
class TGlobalObject {
public:
    // Each setter ignores a value that fails its guard and keeps the previous one.
    const QString& HelpURL() const { return helpUrl_; }
    void SetHelpURL(const QString& value); // length > 0
    const QString& SettingsFile() const { return settingsFile_; }
    void SetSettingsFile(const QString& value); // length > 3
    const QString& FormatFile() const { return formatFile_; }
    void SetFormatFile(const QString& value); // length > 3
    const QString& ProductTitle() const { return productTitle_; }
    void SetProductTitle(const QString& value); // length > 0
    const QString& VersionText() const { return versionText_; }
    void SetVersionText(const QString& value); // length > 0
    const QString& WebSiteURL() const { return webSiteUrl_; }
    void SetWebSiteURL(const QString& value); // length > 0

    // " major.minorreleasebuild " of the program's file version (1.1.0.0 gives " 1.100 ").
    QString FileVersionText() const;
    // True when a "DA" temporary file can be created in the folder and deleted again.
    bool CanWriteTo(const QString& folder) const;
    QString CurrentUserName() const;
    // Shell special folder with a trailing separator; empty when the system gives none.
    QString SpecialFolder(int folderId) const;
    // The last n characters of the text (all of it when shorter; none for n <= 0).
    static QString RightChars(const QString& text, int n);

private:
    QString helpUrl_;
    QString settingsFile_;
    QString formatFile_;
    QString productTitle_;
    QString versionText_;
    QString webSiteUrl_;
};

// The single instance; null before the main window is created and after exit is confirmed.
extern std::unique_ptr<TGlobalObject> GlobalObj;
