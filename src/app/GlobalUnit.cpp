#include "app/GlobalUnit.h"

#include "platform/Platform.h"

std::unique_ptr<TGlobalObject> GlobalObj;

void TGlobalObject::SetHelpURL(const QString& value) {
    if (value.length() > 0)
        helpUrl_ = value;
}

void TGlobalObject::SetSettingsFile(const QString& value) {
    if (value.length() > 3)
        settingsFile_ = value;
}

void TGlobalObject::SetFormatFile(const QString& value) {
    if (value.length() > 3)
        formatFile_ = value;
}

void TGlobalObject::SetProductTitle(const QString& value) {
    if (value.length() > 0)
        productTitle_ = value;
}

void TGlobalObject::SetVersionText(const QString& value) {
    if (value.length() > 0)
        versionText_ = value;
}

void TGlobalObject::SetWebSiteURL(const QString& value) {
    if (value.length() > 0)
        webSiteUrl_ = value;
}

QString TGlobalObject::FileVersionText() const {
    return vorlin::platform::programVersionText();
}

bool TGlobalObject::CanWriteTo(const QString& folder) const {
    return vorlin::platform::canWriteTo(folder);
}

QString TGlobalObject::CurrentUserName() const {
    return vorlin::platform::currentUserName();
}

QString TGlobalObject::SpecialFolder(int folderId) const {
    return vorlin::platform::specialFolder(folderId);
}

QString TGlobalObject::RightChars(const QString& text, int n) {
    if (n <= 0)
        return {};
    return text.length() <= n ? text : text.right(n);
}
