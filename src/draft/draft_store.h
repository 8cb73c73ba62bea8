#pragma once
// The letter being written, kept on disk so that nothing the user wrote is lost: a closed window, a killed
// program or a crash. One draft, in a folder of its own: "draft.json" holds every field, the body's
// format, the background, the sound choice and the attachment list; "recording.wav" a copy of the
// recording the letter refers to, so that a later recording does not take the voice out of this letter.

#include <filesystem>
#include <optional>
#include <string>

#include "compose/mail_draft.h"

namespace vox {

// $XDG_STATE_HOME/voxletter/draft, or ~/.local/state/voxletter/draft. Empty when neither is set.
std::filesystem::path DefaultDraftFolder();

// The letter in the draft file's own format (JSON, UTF-8), and back. `sent`: the letter has not changed
// since a send that reached every recipient. Nothing (with a reason) for text that is not such a draft.
std::string DraftToJson(const MailDraft& draft, bool sent);
std::optional<MailDraft> DraftFromJson(const std::string& text, bool& sent, std::string& error);

class DraftStore {
public:
    // `recording`: the file the recording marker stands for ("Sound.wav" in the program folder).
    DraftStore(std::filesystem::path folder, std::filesystem::path recording);

    enum class Found { Nothing, Unsent, Sent, Damaged };
    struct Loaded {
        Found found = Found::Nothing;
        MailDraft draft;                   // Unsent and Sent
        std::filesystem::path damagedAs;   // Damaged: where the unreadable file now is
        std::string error;                 // Damaged: why it could not be read
    };
    // Reads the draft. An unreadable one is renamed aside (draft.json.damaged-TIME), so it is reported
    // once and never read again. When the letter refers to the recording and the recording is missing or
    // no longer the one kept with the letter, the kept copy is put back.
    Loaded Load();

    // The letter whole (temporary file, fsync, rename), with a fresh copy of the recording when the letter
    // refers to it and it has changed since the last copy. Empty on success, else the reason.
    std::string Save(const MailDraft& draft, bool sent);

    // A new letter: the draft and its recording copy are removed.
    void Clear();

    const std::filesystem::path& Folder() const { return m_folder; }
    std::filesystem::path DraftPath() const { return m_folder / "draft.json"; }
    std::filesystem::path RecordingCopyPath() const { return m_folder / "recording.wav"; }

private:
    bool RefersToRecording(const MailDraft& draft) const;

    std::filesystem::path m_folder;
    std::filesystem::path m_recording;
    std::string m_copiedSignature;  // size and change time of the recording when it was last copied
};

}  // namespace vox
