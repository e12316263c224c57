#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace vorlin::platform {

// Actions that leave the program: opening folders and web pages in other programs, and
// powering the machine off. Everything goes through the current ShellServices so tests can
// install a recorder; the real implementation never builds a shell command line.
class ShellServices {
public:
    virtual ~ShellServices() = default;
    // Opens a folder in the desktop's file manager. False when nothing could be started.
    virtual bool openFolder(const QString& folder) = 0;
    // Opens a web address in the user's browser. False when nothing could be started.
    virtual bool openUrl(const QString& url) = 0;
    // Powers the machine off without asking running programs.
    virtual bool shutDown() = 0;
};

// The services in use (the real ones unless a test replaced them).
ShellServices& shell();

// Installs replacement services and returns the previous ones; nullptr restores the real
// ones. Tests use this with a ShellRecorder.
std::unique_ptr<ShellServices> setShell(std::unique_ptr<ShellServices> services);

// Test double that only records what was asked.
class ShellRecorder : public ShellServices {
public:
    struct Call {
        enum Kind { OpenFolder, OpenUrl, ShutDown } kind;
        QString target;
    };
    bool openFolder(const QString& folder) override;
    bool openUrl(const QString& url) override;
    bool shutDown() override;
    std::vector<Call> calls;
    bool result = true;
};

// Installs a recorder for the lifetime of this object and restores the previous services.
class ScopedShellRecorder {
public:
    ScopedShellRecorder();
    ~ScopedShellRecorder();
    ScopedShellRecorder(const ScopedShellRecorder&) = delete;
    ScopedShellRecorder& operator=(const ScopedShellRecorder&) = delete;
    ShellRecorder& operator*() { return *recorder_; }
    ShellRecorder* operator->() { return recorder_; }

private:
    ShellRecorder* recorder_;
    std::unique_ptr<ShellServices> previous_;
};

} // namespace vorlin::platform
