#pragma once
// Helpers shared by the composition tests.

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "compose/address_list.h"
#include "compose/assembly.h"

namespace vox::test {

// A fixed zone (+0800) so that dates written from a fixed clock are the same on every machine.
inline void UseFixedZone() {
    setenv("TZ", "CST-8", 1);
    tzset();
}

// 2026-12-07 13:14:05 +0800.
inline constexpr std::time_t kFixedTime = 1796620445;

// The entries of a ";"-separated field as the field check parses them; entries it would refuse are left out.
inline std::vector<MailAddress> Addresses(std::string_view field) {
    std::vector<MailAddress> list;
    for (const ListEntry& e : SplitAddressList(field)) {
        MailAddress a;
        if (ParseMailAddress(e.text, a) == AddressForm::Ok) list.push_back(std::move(a));
    }
    return list;
}

inline MailAddress Address(std::string_view entry) {
    MailAddress a;
    ParseMailAddress(entry, a);
    return a;
}

// Parses the draft's address fields as the field check does, without its file checks.
inline void ParseAddresses(MailDraft& d) {
    ParseSender(d);
    ParseRecipients(d);
}

// A folder of its own under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "voxcompose.XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path p = path_ / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Standard Base64 without line breaks, written the slow and obvious way.
inline std::string PlainBase64(const std::string& in) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v =
            (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
        out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], a[v & 63]};
    }
    if (in.size() - i == 1) {
        const unsigned v = (unsigned char)in[i] << 16;
        out += {a[v >> 18], a[(v >> 12) & 63], '=', '='};
    } else if (in.size() - i == 2) {
        const unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
        out += {a[v >> 18], a[(v >> 12) & 63], a[(v >> 6) & 63], '='};
    }
    return out;
}

// Records what assembly reports, in order: "step" or the error text.
class RecordingSink : public AssemblySink {
public:
    void Step() override {
        events.push_back("step");
        ++steps;
    }
    void ShowError(const std::string& text) override {
        events.push_back(text);
        errors.push_back(text);
    }
    std::vector<std::string> events;
    std::vector<std::string> errors;
    int steps = 0;
};

}  // namespace vox::test
