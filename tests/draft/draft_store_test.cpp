#include "draft/draft_store.h"

#include <gtest/gtest.h>

#include <functional>

#include "draft/sent_folder.h"
#include "test_support.h"

namespace vox {
namespace {
namespace fs = std::filesystem;

// What a test compares: the whole letter in the file's own form.
std::string Fields(const MailDraft& d) { return DraftToJson(d, false); }

// Every field and format of the letter, one row each: set, saved, read back by a new store (a new run of
// the program), and equal to what was saved.
TEST(DraftStore, EveryFieldIsSavedAndRestored) {
    test::TempDir dir;
    const struct {
        const char* name;
        std::function<void(MailDraft&)> set;
    } rows[] = {
        {"from", [](MailDraft& d) { d.m_strFrom = "我@example.cn"; }},
        {"to", [](MailDraft& d) { d.m_strTo = "a@b.c;d@e.f"; }},
        {"cc", [](MailDraft& d) { d.m_strCc = "g@h.i"; }},
        {"bcc", [](MailDraft& d) { d.m_strBcc = "j@k.l"; }},
        {"subject", [](MailDraft& d) { d.m_strSubject = "主题 😀"; }},
        {"body", [](MailDraft& d) { d.m_strBody = "第一行\r\n\"second\" <b>\\ line\r\n"; }},
        {"face", [](MailDraft& d) { d.m_charFormat.szFaceName = "Noto Sans CJK SC"; }},
        {"height", [](MailDraft& d) { d.m_charFormat.yHeight = 210; }},
        {"text colour", [](MailDraft& d) { d.m_charFormat.crTextColor = 0x00123456; }},
        {"effects", [](MailDraft& d) { d.m_charFormat.dwEffects = CFE_BOLD | CFE_STRIKEOUT; }},
        {"alignment", [](MailDraft& d) { d.m_paraFormat.wAlignment = PFA_CENTER; }},
        {"background mode", [](MailDraft& d) { d.m_nBackgroundMode = 1; }},
        {"background colour", [](MailDraft& d) { d.m_crBackground = 0x00FF8000; }},
        {"picture", [](MailDraft& d) { d.m_strPicture = "/pictures/瓦.gif"; }},
        {"sound", [](MailDraft& d) { d.m_strSound = "/sounds/a.wav"; }},
        {"recording", [](MailDraft& d) { d.m_strSound = kRecordingMarker; }},
        {"repeat count", [](MailDraft& d) { d.m_nSoundLoops = 3; }},
        {"attachments", [](MailDraft& d) { d.m_attachments = {"/a/报告.txt", "/b/x.bin"}; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MailDraft saved;
        row.set(saved);
        ASSERT_NE(Fields(saved), Fields(MailDraft{}));
        ASSERT_EQ(DraftStore(dir.path() / "draft", dir.path() / "Sound.wav").Save(saved, false), "");
        const DraftStore::Loaded loaded = DraftStore(dir.path() / "draft", dir.path() / "Sound.wav").Load();
        EXPECT_EQ(loaded.found, DraftStore::Found::Unsent);
        EXPECT_EQ(Fields(loaded.draft), Fields(saved));
    }
}

TEST(DraftStore, SentNewLetterAndDamagedDraft) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "draft";
    MailDraft letter;
    letter.m_strSubject = "hi";
    DraftStore store(folder, dir.path() / "Sound.wav");
    EXPECT_EQ(store.Load().found, DraftStore::Found::Nothing);

    ASSERT_EQ(store.Save(letter, true), "");
    EXPECT_EQ(DraftStore(folder, {}).Load().found, DraftStore::Found::Sent);

    store.Clear();  // "新邮件"
    EXPECT_EQ(DraftStore(folder, {}).Load().found, DraftStore::Found::Nothing);

    // Damaged in every way a file can be: not JSON, cut short, a field of the wrong type, another version.
    const std::string good = DraftToJson(letter, false);
    const std::string damaged[] = {"\x01garbage", good.substr(0, good.size() / 2), R"({"version":1})",
                                   std::string(good).replace(good.find("\"subject\": \"hi\""), 15, "\"subject\": 7"),
                                   std::string(good).replace(good.find("\"version\": 1"), 12, "\"version\": 9")};
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text.substr(0, 40));
        fs::create_directories(folder);
        dir.Write("draft/draft.json", text);
        const DraftStore::Loaded loaded = DraftStore(folder, {}).Load();
        EXPECT_EQ(loaded.found, DraftStore::Found::Damaged);
        EXPECT_FALSE(loaded.error.empty());
        EXPECT_EQ(test::ReadFile(loaded.damagedAs), text);  // kept aside, as it was
        EXPECT_FALSE(fs::exists(folder / "draft.json"));
        EXPECT_EQ(DraftStore(folder, {}).Load().found, DraftStore::Found::Nothing);  // reported once
        fs::remove(loaded.damagedAs);
    }
}

// The letter keeps its own voice: a recording made later, or one that was removed, is put back.
TEST(DraftStore, KeepsACopyOfTheRecording) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "draft";
    const std::string recording = dir.Write("Sound.wav", "RIFF-first");
    MailDraft letter;
    letter.m_strSound = kRecordingMarker;
    ASSERT_EQ(DraftStore(folder, recording).Save(letter, false), "");
    EXPECT_EQ(test::ReadFile(folder / "recording.wav"), "RIFF-first");

    dir.Write("Sound.wav", "RIFF-second, another letter's");
    EXPECT_EQ(DraftStore(folder, recording).Load().found, DraftStore::Found::Unsent);
    EXPECT_EQ(test::ReadFile(recording), "RIFF-first");
    fs::remove(recording);
    DraftStore(folder, recording).Load();
    EXPECT_EQ(test::ReadFile(recording), "RIFF-first");
}

TEST(SentFolder, KeepsTheMailByteForByteInAMaildir) {
    test::TempDir dir;
    const std::string mail("From: a@b.c\r\n\r\nbody\r\n.\r\n\x00\xff", 27);
    const SentCopy first = KeepSentCopy(dir.path() / "Sent", mail);
    const SentCopy second = KeepSentCopy(dir.path() / "Sent", mail);
    ASSERT_EQ(first.error, "");
    EXPECT_NE(first.path, second.path);
    EXPECT_EQ(first.path.parent_path(), dir.path() / "Sent" / "cur");
    EXPECT_EQ(first.path.string().substr(first.path.string().size() - 4), ":2,S");
    EXPECT_EQ(test::ReadFile(first.path), mail);
    EXPECT_TRUE(fs::is_empty(dir.path() / "Sent" / "tmp"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "Sent" / "new"));
    EXPECT_NE(SentCopyLine(first).find(first.path.string()), std::string::npos);
    dir.Write("file", "");
    EXPECT_NE(KeepSentCopy(dir.path() / "file", mail).error, "");
}

}  // namespace
}  // namespace vox
