#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <vector>

class QWidget;

namespace vorlin::widgets {

enum class MessageIcon { None, Information, Warning, Error };

// Every message box and file or folder chooser of the program goes through the current
// Dialogs, so tests can answer them and read their texts. The real implementation shows
// Qt dialogs; tests install a DialogRecorder.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Yes/No question; true only for Yes.
    virtual bool ask(QWidget* parent, const QString& title, const QString& text) = 0;
    // A message box with an OK button.
    virtual void message(QWidget* parent, const QString& title, const QString& text,
                         MessageIcon icon) = 0;
    // Files to open. The filter is written "Description (*.a,*.b)|*.a;*.b"; matching is
    // case-insensitive, so "*.mov" also offers "CLIP.MOV". Empty when cancelled.
    virtual QStringList chooseFiles(QWidget* parent, const QString& title, const QString& folder,
                                    const QString& filter) = 0;
    // One existing folder; empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& folder) = 0;
    // The warning beep of refused key presses.
    virtual void beep() = 0;

    void warn(QWidget* parent, const QString& title, const QString& text) {
        message(parent, title, text, MessageIcon::Warning);
    }
    void info(QWidget* parent, const QString& title, const QString& text) {
        message(parent, title, text, MessageIcon::Information);
    }
    void error(QWidget* parent, const QString& title, const QString& text) {
        message(parent, title, text, MessageIcon::Error);
    }
};

// The dialogs in use (the real ones unless a test replaced them).
Dialogs& dialogs();

// Installs replacement dialogs and returns the previous ones; nullptr restores the real ones.
std::unique_ptr<Dialogs> setDialogs(std::unique_ptr<Dialogs> replacement);

// Converts "Description (*.a,*.b)|*.a;*.b|..." into Qt's "Description (*.a *.b);;..." form.
QString qtFileFilter(const QString& filter);

// Test double: records every dialog and answers from queues (defaults when a queue is empty:
// ask → false, chooseFiles → {}, chooseFolder → "").
class DialogRecorder : public Dialogs {
public:
    struct Shown {
        enum Kind { Ask, Message, ChooseFiles, ChooseFolder } kind;
        QString title;
        QString text; // question or message; the filter or start folder for choosers
        MessageIcon icon = MessageIcon::Information;
    };
    bool ask(QWidget* parent, const QString& title, const QString& text) override;
    void message(QWidget* parent, const QString& title, const QString& text,
                 MessageIcon icon) override;
    QStringList chooseFiles(QWidget* parent, const QString& title, const QString& folder,
                            const QString& filter) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& folder) override;
    void beep() override { ++beeps; }

    // Texts of the message boxes shown so far, in order.
    QStringList messages() const;

    std::deque<bool> answers;
    std::deque<QStringList> files;
    std::deque<QString> folders;
    std::vector<Shown> shown;
    int beeps = 0;
};

// Installs a DialogRecorder for the lifetime of this object.
class ScopedDialogRecorder {
public:
    ScopedDialogRecorder();
    ~ScopedDialogRecorder();
    ScopedDialogRecorder(const ScopedDialogRecorder&) = delete;
    ScopedDialogRecorder& operator=(const ScopedDialogRecorder&) = delete;
    DialogRecorder& operator*() { return *recorder_; }
    DialogRecorder* operator->() { return recorder_; }

private:
    DialogRecorder* recorder_;
    std::unique_ptr<Dialogs> previous_;
};

} // namespace vorlin::widgets
