#include "voice/pcm_sound.h"
#include "base/translate.h"

#include <sndfile.h>

#include <algorithm>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "base/regular_file.h"

namespace vox {
namespace {

// libsndfile writing into a string: the WAV header is written last, with a seek back to the start.
struct MemoryFile {
    std::string* bytes;
    sf_count_t pos = 0;
};

sf_count_t MemLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes->size()); }

sf_count_t MemSeek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const sf_count_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? MemLength(user) : 0;
    f->pos = std::max<sf_count_t>(0, base + offset);
    return f->pos;
}

sf_count_t MemRead(void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const sf_count_t size = MemLength(user);
    const sf_count_t n = std::clamp<sf_count_t>(size - f->pos, 0, count);
    std::memcpy(ptr, f->bytes->data() + f->pos, static_cast<std::size_t>(n));
    f->pos += n;
    return n;
}

sf_count_t MemWrite(const void* ptr, sf_count_t count, void* user) {
    auto* f = static_cast<MemoryFile*>(user);
    const std::size_t end = static_cast<std::size_t>(f->pos + count);
    if (end > f->bytes->size()) f->bytes->resize(end);
    std::memcpy(f->bytes->data() + f->pos, ptr, static_cast<std::size_t>(count));
    f->pos += count;
    return count;
}

sf_count_t MemTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

}  // namespace

SoundFileKind SoundFileKindOf(const std::string& path) {
    std::optional<RegularFile> file = RegularFile::Open(path);
    if (!file) return SoundFileKind::Other;
    // Read before the library looks: it closes the descriptor when it cannot make sense of the file.
    char head[12] = {};
    const bool riffWave = ::pread(file->Descriptor(), head, sizeof head, 0) == 12 &&
                          std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
    SF_INFO info{};
    SNDFILE* sf = sf_open_fd(::dup(file->Descriptor()), SFM_READ, &info, SF_TRUE);
    // A WAV the library cannot read is still a WAV: encoding it then fails with a reason.
    if (sf == nullptr) return riffWave ? SoundFileKind::Wav : SoundFileKind::Other;
    sf_close(sf);
    switch (info.format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
            return SoundFileKind::Wav;
        case SF_FORMAT_OGG:
        case SF_FORMAT_MPEG:
            return SoundFileKind::Compressed;
        default:
            return SoundFileKind::Other;
    }
}

bool ReadSoundInfo(const std::string& path, SoundInfo& info) {
    std::optional<RegularFile> file = RegularFile::Open(path);
    if (!file) return false;
    SF_INFO sf{};
    SNDFILE* handle = sf_open_fd(::dup(file->Descriptor()), SFM_READ, &sf, SF_TRUE);
    if (handle == nullptr) return false;
    sf_close(handle);
    info.rate = sf.samplerate;
    info.channels = sf.channels;
    info.frames = sf.frames;
    return true;
}

bool ReadSound(const std::string& path, PcmSound& sound, std::string& error) {
    errno = 0;
    std::optional<RegularFile> file = RegularFile::Open(path);
    if (!file) {
        error = errno != 0 ? std::strerror(errno) : Tr("不是普通文件");
        return false;
    }
    SF_INFO info{};
    // The library owns (and closes) its own copy of the descriptor, whatever happens.
    SNDFILE* sf = sf_open_fd(::dup(file->Descriptor()), SFM_READ, &info, SF_TRUE);
    if (sf == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }
    sound.rate = info.samplerate;
    sound.channels = info.channels;
    sound.samples.clear();
    // The frame count of compressed files is an estimate; read until the library stops.
    if (info.frames > 0 && info.frames < (sf_count_t{1} << 32)) {
        sound.samples.reserve(static_cast<std::size_t>(info.frames * info.channels));
    }
    constexpr sf_count_t kChunk = 16384;
    std::vector<float> chunk(static_cast<std::size_t>(kChunk * info.channels));
    for (;;) {
        const sf_count_t got = sf_readf_float(sf, chunk.data(), kChunk);
        if (got <= 0) break;
        sound.samples.insert(sound.samples.end(), chunk.begin(), chunk.begin() + got * info.channels);
    }
    const int status = sf_error(sf);
    if (status != SF_ERR_NO_ERROR) error = sf_strerror(sf);
    sf_close(sf);
    return status == SF_ERR_NO_ERROR;
}

bool EncodeWav16(const PcmSound& sound, std::string& bytes, std::string& error) {
    bytes.clear();
    MemoryFile mem{&bytes};
    SF_VIRTUAL_IO io{MemLength, MemSeek, MemRead, MemWrite, MemTell};
    SF_INFO info{};
    info.samplerate = sound.rate;
    info.channels = sound.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sf = sf_open_virtual(&io, SFM_WRITE, &info, &mem);
    if (sf == nullptr) {
        error = sf_strerror(nullptr);
        return false;
    }
    // Samples at full scale stay there instead of wrapping round.
    sf_command(sf, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(sound.Frames());
    const bool ok = sf_writef_float(sf, sound.samples.data(), frames) == frames;
    if (!ok) error = sf_strerror(sf);
    sf_close(sf);
    return ok;
}

}  // namespace vox
