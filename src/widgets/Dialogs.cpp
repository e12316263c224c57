#include "widgets/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace vorlin::widgets {
namespace {

class QtDialogs : public Dialogs {
public:
    bool ask(QWidget* parent, const QString& title, const QString& text) override {
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    }
    void message(QWidget* parent, const QString& title, const QString& text,
                 MessageIcon icon) override {
        const auto qtIcon = icon == MessageIcon::Error     ? QMessageBox::Critical
                            : icon == MessageIcon::Warning ? QMessageBox::Warning
                            : icon == MessageIcon::None    ? QMessageBox::NoIcon
                                                           : QMessageBox::Information;
        QMessageBox box(qtIcon, title, text, QMessageBox::Ok, parent);
        box.exec();
    }
    QStringList chooseFiles(QWidget* parent, const QString& title, const QString& folder,
                            const QString& filter) override {
        QFileDialog dialog(parent, title, folder, qtFileFilter(filter));
        dialog.setFileMode(QFileDialog::ExistingFiles);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    }
    QString chooseFolder(QWidget* parent, const QString& title, const QString& folder) override {
        return QFileDialog::getExistingDirectory(parent, title, folder);
    }
    void beep() override { QApplication::beep(); }
};

std::unique_ptr<Dialogs>& current() {
    static std::unique_ptr<Dialogs> dialogs = std::make_unique<QtDialogs>();
    return dialogs;
}

} // namespace

Dialogs& dialogs() {
    return *current();
}

std::unique_ptr<Dialogs> setDialogs(std::unique_ptr<Dialogs> replacement) {
    auto previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_unique<QtDialogs>();
    return previous;
}

QString qtFileFilter(const QString& filter) {
    // Pairs of "description|patterns"; the patterns are what Qt matches on.
    const QStringList parts = filter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const int paren = description.indexOf('(');
        if (paren >= 0)
            description = description.left(paren).trimmed();
        // Qt matches patterns case-sensitively on Linux, but cameras and phones write
        // upper-case extensions: offer the upper-case pattern as well.
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            patterns << p;
            if (p.toUpper() != p)
                patterns << p.toUpper();
        }
        out << QString("%1 (%2)").arg(description, patterns.join(' '));
    }
    if (out.isEmpty() && !filter.isEmpty())
        out << filter;
    return out.join(";;");
}

bool DialogRecorder::ask(QWidget*, const QString& title, const QString& text) {
    shown.push_back({Shown::Ask, title, text});
    if (answers.empty())
        return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void DialogRecorder::message(QWidget*, const QString& title, const QString& text,
                             MessageIcon icon) {
    shown.push_back({Shown::Message, title, text, icon});
}

QStringList DialogRecorder::chooseFiles(QWidget*, const QString& title, const QString&,
                                        const QString& filter) {
    shown.push_back({Shown::ChooseFiles, title, filter});
    if (files.empty())
        return {};
    QStringList answer = files.front();
    files.pop_front();
    return answer;
}

QString DialogRecorder::chooseFolder(QWidget*, const QString& title, const QString& folder) {
    shown.push_back({Shown::ChooseFolder, title, folder});
    if (folders.empty())
        return {};
    QString answer = folders.front();
    folders.pop_front();
    return answer;
}

QStringList DialogRecorder::messages() const {
    QStringList out;
    for (const auto& s : shown) {
        if (s.kind == Shown::Message)
            out << s.text;
    }
    return out;
}

ScopedDialogRecorder::ScopedDialogRecorder() {
    auto recorder = std::make_unique<DialogRecorder>();
    recorder_ = recorder.get();
    previous_ = setDialogs(std::move(recorder));
}

ScopedDialogRecorder::~ScopedDialogRecorder() {
    setDialogs(std::move(previous_));
}

} // namespace vorlin::widgets
