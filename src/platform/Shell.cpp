#include "platform/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QUrl>

#include <mutex>

namespace vorlin::platform {

namespace {

// The real services. Everything is handed over as a URL or an argument list, never as a
// command line, so blanks, quotes, ';' or '$' in a path cannot change what runs.
class SystemShell : public ShellServices {
public:
    bool openFolder(const QString& folder) override {
        if (folder.isEmpty())
            return false;
        return QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::fromNativeSeparators(folder)));
    }

    bool openUrl(const QString& url) override {
        const QUrl address(url, QUrl::StrictMode);
        if (url.isEmpty() || !address.isValid())
            return false;
        // Only web pages and local documents; anything else could start arbitrary handlers.
        const QString scheme = address.scheme().toLower();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https") &&
            scheme != QLatin1String("file"))
            return false;
        return QDesktopServices::openUrl(address);
    }

    bool shutDown() override {
        return QProcess::startDetached(QStringLiteral("systemctl"), {QStringLiteral("poweroff")});
    }
};

std::mutex& shellMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unique_ptr<ShellServices>& currentShell() {
    static std::unique_ptr<ShellServices> current = std::make_unique<SystemShell>();
    return current;
}

} // namespace

ShellServices& shell() {
    std::lock_guard lock(shellMutex());
    return *currentShell();
}

std::unique_ptr<ShellServices> setShell(std::unique_ptr<ShellServices> services) {
    if (!services)
        services = std::make_unique<SystemShell>();
    std::lock_guard lock(shellMutex());
    std::swap(services, currentShell());
    return services;
}

bool ShellRecorder::openFolder(const QString& folder) {
    calls.push_back({Call::OpenFolder, folder});
    return result;
}

bool ShellRecorder::openUrl(const QString& url) {
    calls.push_back({Call::OpenUrl, url});
    return result;
}

bool ShellRecorder::shutDown() {
    calls.push_back({Call::ShutDown, QString()});
    return result;
}

ScopedShellRecorder::ScopedShellRecorder() {
    auto recorder = std::make_unique<ShellRecorder>();
    recorder_ = recorder.get();
    previous_ = setShell(std::move(recorder));
}

ScopedShellRecorder::~ScopedShellRecorder() {
    setShell(std::move(previous_));
}

} // namespace vorlin::platform
