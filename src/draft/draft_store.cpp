#include "draft/draft_store.h"
#include "base/translate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <system_error>

#include "base/program_folder.h"
#include "base/regular_file.h"
#include "base/whole_file.h"

namespace vox {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr int kFormatVersion = 1;
// Far beyond any letter; a larger file is not a draft of ours and is not read into memory.
constexpr std::uint64_t kMaxDraftBytes = std::uint64_t(64) << 20;

// Size and change time: enough to tell that the recording was made again.
std::string Signature(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ino);
}

std::optional<std::string> ReadSmallFile(const fs::path& path) {
    std::string bytes;
    if (ReadRegularFile(path.string(), kMaxDraftBytes, bytes) != ReadResult::Ok) return std::nullopt;
    return bytes;
}

// A recording may be hundreds of megabytes: copied and compared piece by piece, never held whole.
constexpr std::size_t kPiece = 1 << 20;

bool ReadPiece(int fd, std::string& piece) {
    piece.resize(kPiece);
    std::size_t done = 0;
    while (done < piece.size()) {
        const ssize_t got = ::read(fd, piece.data() + done, piece.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    piece.resize(done);
    return true;
}

std::string CopyWhole(const fs::path& from, const fs::path& to) {
    const std::optional<RegularFile> in = RegularFile::Open(from.string());
    if (!in) return Tr("无法读取") + from.string();
    WholeFileWriter out(to);
    std::string piece;
    while (out.Ok()) {
        if (!ReadPiece(in->Descriptor(), piece)) return Tr("无法读取") + from.string();
        if (piece.empty()) break;
        out.Write(piece);
    }
    if (!out.Commit()) return out.Error();
    return {};
}

bool SameContent(const fs::path& a, const fs::path& b) {
    const std::optional<RegularFile> fa = RegularFile::Open(a.string());
    const std::optional<RegularFile> fb = RegularFile::Open(b.string());
    if (!fa || !fb || fa->Size() != fb->Size()) return false;
    std::string pa, pb;
    for (;;) {
        if (!ReadPiece(fa->Descriptor(), pa) || !ReadPiece(fb->Descriptor(), pb) || pa != pb) return false;
        if (pa.empty()) return true;
    }
}

}  // namespace

fs::path DefaultDraftFolder() {
    const fs::path folder = XdgProgramFolder("XDG_STATE_HOME", ".local/state");
    return folder.empty() ? folder : folder / "draft";
}

std::string DraftToJson(const MailDraft& d, bool sent) {
    const json j = {
        {"version", kFormatVersion},
        {"sent", sent},
        {"from", d.m_strFrom},
        {"to", d.m_strTo},
        {"cc", d.m_strCc},
        {"bcc", d.m_strBcc},
        {"subject", d.m_strSubject},
        {"body", d.m_strBody},
        {"font", {{"face", d.m_charFormat.szFaceName},
                  {"height", d.m_charFormat.yHeight},
                  {"color", d.m_charFormat.crTextColor},
                  {"effects", d.m_charFormat.dwEffects}}},
        {"alignment", d.m_paraFormat.wAlignment},
        {"background", {{"mode", d.m_nBackgroundMode}, {"color", d.m_crBackground}, {"picture", d.m_strPicture}}},
        {"sound", {{"file", d.m_strSound}, {"loops", d.m_nSoundLoops}}},
        {"attachments", d.m_attachments},
    };
    // Texts the user typed may hold bytes that are not UTF-8 (a pasted file name); they are kept as
    // replacement characters rather than refusing to save the whole letter.
    return j.dump(1, '\t', false, json::error_handler_t::replace) + "\n";
}

std::optional<MailDraft> DraftFromJson(const std::string& text, bool& sent, std::string& error) {
    try {
        const json j = json::parse(text);
        if (!j.is_object()) throw std::runtime_error("not an object");
        if (j.at("version").get<int>() != kFormatVersion) throw std::runtime_error("unknown version");
        MailDraft d;
        sent = j.at("sent").get<bool>();
        d.m_strFrom = j.at("from").get<std::string>();
        d.m_strTo = j.at("to").get<std::string>();
        d.m_strCc = j.at("cc").get<std::string>();
        d.m_strBcc = j.at("bcc").get<std::string>();
        d.m_strSubject = j.at("subject").get<std::string>();
        d.m_strBody = j.at("body").get<std::string>();
        const json& font = j.at("font");
        d.m_charFormat.szFaceName = font.at("face").get<std::string>();
        d.m_charFormat.yHeight = font.at("height").get<int>();
        d.m_charFormat.crTextColor = font.at("color").get<COLORREF>();
        d.m_charFormat.dwEffects = font.at("effects").get<std::uint32_t>();
        d.m_paraFormat.wAlignment = j.at("alignment").get<int>();
        const json& background = j.at("background");
        d.m_nBackgroundMode = background.at("mode").get<int>();
        d.m_crBackground = background.at("color").get<COLORREF>();
        d.m_strPicture = background.at("picture").get<std::string>();
        const json& sound = j.at("sound");
        d.m_strSound = sound.at("file").get<std::string>();
        d.m_nSoundLoops = sound.at("loops").get<int>();
        d.m_attachments = j.at("attachments").get<std::vector<std::string>>();
        return d;
    } catch (const std::exception& e) {
        error = e.what();
        return std::nullopt;
    }
}

DraftStore::DraftStore(fs::path folder, fs::path recording)
    : m_folder(std::move(folder)), m_recording(std::move(recording)) {}

bool DraftStore::RefersToRecording(const MailDraft& draft) const {
    return draft.m_strSound == kRecordingMarker || (!m_recording.empty() && draft.m_strSound == m_recording.string());
}

DraftStore::Loaded DraftStore::Load() {
    Loaded loaded;
    std::error_code ec;
    if (m_folder.empty() || !fs::exists(DraftPath(), ec)) return loaded;
    const std::optional<std::string> text = ReadSmallFile(DraftPath());
    bool sent = false;
    std::optional<MailDraft> draft;
    if (text) {
        draft = DraftFromJson(*text, sent, loaded.error);
    } else {
        loaded.error = Tr("不是可读的文件");
    }
    if (!draft) {
        loaded.found = Found::Damaged;
        loaded.damagedAs = m_folder / ("draft.json.damaged-" + std::to_string(std::time(nullptr)));
        fs::rename(DraftPath(), loaded.damagedAs, ec);
        if (ec) loaded.damagedAs.clear();
        return loaded;
    }
    loaded.found = sent ? Found::Sent : Found::Unsent;
    loaded.draft = std::move(*draft);
    if (RefersToRecording(loaded.draft) && !m_recording.empty() && fs::exists(RecordingCopyPath(), ec)) {
        // The voice of this letter is the one kept with it.
        if (SameContent(m_recording, RecordingCopyPath()) || CopyWhole(RecordingCopyPath(), m_recording).empty())
            m_copiedSignature = Signature(m_recording);
    }
    return loaded;
}

std::string DraftStore::Save(const MailDraft& draft, bool sent) {
    if (m_folder.empty()) return Tr("没有存放草稿的文件夹（$XDG_STATE_HOME和$HOME都未设置）");
    std::error_code ec;
    fs::create_directories(m_folder, ec);
    if (ec) return ec.message();
    if (RefersToRecording(draft) && !m_recording.empty()) {
        const std::string signature = Signature(m_recording);
        if (!signature.empty() && signature != m_copiedSignature) {
            const std::string error = CopyWhole(m_recording, RecordingCopyPath());
            if (!error.empty()) return error;
            m_copiedSignature = signature;
        }
    }
    return WriteWholeFile(DraftPath(), DraftToJson(draft, sent));
}

void DraftStore::Clear() {
    std::error_code ec;
    fs::remove(DraftPath(), ec);
    fs::remove(RecordingCopyPath(), ec);
    m_copiedSignature.clear();
}

}  // namespace vox
