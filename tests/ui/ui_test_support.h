#pragma once
// Shared by the window tests: the message box and the file chooser answered without a window.

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dialogs/file_chooser.h"
#include "dialogs/message_box.h"

namespace vox::test {

struct ShownMessage {
    QString text;
    QString caption;
    MessageIcon icon;
};

// Records every message box instead of showing it, for as long as it lives.
class MessageRecorder {
public:
    MessageRecorder() {
        m_previous = SetMessageFunction([this](QWidget*, const QString& text, const QString& caption, MessageIcon icon) {
            messages.push_back({text, caption, icon});
        });
    }
    ~MessageRecorder() { SetMessageFunction(m_previous); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<ShownMessage> messages;

private:
    MessageFunction m_previous;
};

// Answers every question (AskYesNo) with the next prepared answer, No when none is left, and records it.
class QuestionScript {
public:
    QuestionScript() {
        m_previous = SetQuestionFunction([this](QWidget*, const QString& text, const QString&) {
            asked.push_back(text);
            if (answers.empty()) return false;
            const bool next = answers.front();
            answers.erase(answers.begin());
            return next;
        });
    }
    ~QuestionScript() { SetQuestionFunction(m_previous); }
    QuestionScript(const QuestionScript&) = delete;
    QuestionScript& operator=(const QuestionScript&) = delete;

    std::vector<bool> answers;
    std::vector<QString> asked;

private:
    QuestionFunction m_previous;
};

// Answers every file chooser with the next prepared list (an empty list is Cancel).
class FileChooserScript {
public:
    FileChooserScript() {
        m_previous = SetFileChooserFunction([this](QWidget*, const QString&, const QString&, bool) {
            ++calls;
            if (answers.empty()) return QStringList();
            QStringList next = answers.front();
            answers.erase(answers.begin());
            return next;
        });
    }
    ~FileChooserScript() { SetFileChooserFunction(m_previous); }
    FileChooserScript(const FileChooserScript&) = delete;
    FileChooserScript& operator=(const FileChooserScript&) = delete;

    std::vector<QStringList> answers;
    int calls = 0;

private:
    FileChooserFunction m_previous;
};

// The items of a list, in the order it shows them.
inline QStringList Items(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
}

// The whole content of a file, as bytes.
inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vox::test
