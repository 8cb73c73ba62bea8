#include "compose/assembly.h"
#include "base/translate.h"

#include "base/regular_file.h"
#include "compose/base64.h"
#include "compose/html_body.h"
#include "compose/mime_writer.h"
#include "voice/mail_voice.h"

namespace vox {
namespace {

constexpr const char kPictureFailed[] = N_("添加背景失败");
constexpr const char kSoundFailed[] = N_("添加声音失败");

// Only files that will be attached count: those that open as regular files.
std::size_t FileSizeOrZero(const std::string& path) {
    const std::optional<RegularFile> file = RegularFile::Open(path);
    return file ? static_cast<std::size_t>(file->Size()) : 0;
}

// Room for every part at once: the text is then written in place and never moved while it grows, which
// keeps the peak near one copy of the finished mail.
std::size_t MessageSizeHint(const MailDraft& draft, const std::string& soundPath, std::size_t pageSize) {
    std::size_t total = 1024 + 4 * (draft.m_strFrom.size() + draft.m_strTo.size() + draft.m_strCc.size() +
                                    draft.m_strSubject.size());
    total += 1024 + Base64EncodedSize(pageSize);
    const auto addFile = [&](const std::string& path) {
        total += FilePartSizeHint(FileSizeOrZero(path), path.size());
    };
    if (draft.m_nBackgroundMode == 1) addFile(draft.m_strPicture);
    if (!soundPath.empty()) addFile(soundPath);
    for (const std::string& path : draft.m_attachments) addFile(path);
    return total + 64;
}

// The sound under the Content-ID the page plays: the chosen format's copy when one can be made, else the
// file itself. A copy that fails says why and the file goes in instead: the mail never loses its voice.
void WriteSoundPart(CMimeWriter& writer, const MailDraft& draft, AssemblySink& sink) {
    const MailVoice voice = PrepareMailVoice(draft.m_strSound, draft.m_voice);
    if (voice.encoded) {
        writer.WriteDataPart(voice.fileName, voice.contentType, voice.bytes, kSoundContentId);
        return;
    }
    if (!voice.error.empty()) sink.ShowNotice(VoiceEncodeFailedText(voice.error));
    if (!writer.WriteFilePart(draft.m_strSound, kSoundContentId)) sink.ShowError(Tr(kSoundFailed));
}

}  // namespace

std::uint64_t EstimatedMailSize(const MailDraft& draft, const std::filesystem::path& recording) {
    const std::string sound = draft.m_strSound == kRecordingMarker ? recording.string() : draft.m_strSound;
    // The page and the plain text each hold the body once, the page with a few hundred bytes around it.
    static_assert(sizeof(std::size_t) >= sizeof(std::uint64_t), "file sizes are added up in a size_t");
    return MessageSizeHint(draft, sound, 2 * draft.m_strBody.size() + 1024);
}

std::string AttachFailedText(const std::string& path) {
    return Format(Tr("文件%s附加失败"), path.c_str());
}

void AssembleMessage(MailDraft& draft, const std::filesystem::path& programFolder, AssemblySink& sink) {
    AssembleMessage(draft, programFolder, sink, [] { return std::time(nullptr); });
}

void AssembleMessage(MailDraft& draft, const std::filesystem::path& programFolder, AssemblySink& sink,
                     const MailClock& clock, const MessageIdSource& uniqueId) {
    // The last send's text is not needed any more; freeing it first keeps two mails from sharing memory.
    std::string().swap(draft.m_strMime);

    const std::string page = BuildHtmlBody(draft);
    const std::string plainText = BuildPlainText(draft);
    sink.Step();

    // Without a program folder there is no recording, and a relative "Sound.wav" would be whatever the
    // current folder holds.
    const std::string recording = programFolder.empty() ? std::string() : (programFolder / "Sound.wav").string();
    const bool isRecording = draft.m_strSound == kRecordingMarker;

    CMimeWriter writer;
    const std::time_t now = clock();
    const std::string messageId =
        MessageIdFor(draft.m_fromAddress.domain, uniqueId ? uniqueId() : NewMessageIdUnique(now));
    writer.WriteMessageHeader(draft.m_fromAddress, draft.m_toAddresses, draft.m_ccAddresses, draft.m_strSubject,
                              now, messageId);
    writer.Reserve(
        MessageSizeHint(draft, isRecording ? recording : draft.m_strSound, page.size() + plainText.size()));
    sink.Step();

    writer.WriteHtmlPart(plainText, page);
    sink.Step();

    // The picture is shown by the page; the sound is also listed, so that readers without a player in
    // the page still offer it to be played.
    if (draft.m_nBackgroundMode == 1 &&
        !writer.WriteFilePart(draft.m_strPicture, kPictureContentId, PartDisposition::Inline)) {
        sink.ShowError(Tr(kPictureFailed));
    }
    sink.Step();

    // Lasting: from now on the draft names the recording by its path, like any other sound file.
    if (isRecording) draft.m_strSound = recording;
    if (!draft.m_strSound.empty()) WriteSoundPart(writer, draft, sink);
    sink.Step();

    // The count is taken once: the step total was fixed when the send began.
    const std::size_t count = draft.m_attachments.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& path = draft.m_attachments[i];
        if (!writer.WriteFilePart(path, {})) sink.ShowError(AttachFailedText(path));
        sink.Step();
    }

    draft.m_strMime = writer.FinishMessage();
    sink.Step();
}

}  // namespace vox
