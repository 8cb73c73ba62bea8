#include "voice/voice_encoder.h"
#include "base/translate.h"

#include <lame/lame.h>
#include <opusenc.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace vox {
namespace {

int AppendPage(void* user, const unsigned char* data, opus_int32 len) {
    static_cast<std::string*>(user)->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
    return 0;
}

int ClosePages(void*) { return 0; }

bool Usable(const PcmSound& sound, std::string& error) {
    if (sound.rate <= 0 || sound.channels < 1 || sound.channels > 2) {
        error = Format(Tr("不支持的声音：%s声道，%s Hz"), std::to_string(sound.channels).c_str(),
                       std::to_string(sound.rate).c_str());
        return false;
    }
    return true;
}

bool IsMp3Rate(int rate) {
    for (int r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
        if (rate == r) return true;
    }
    return false;
}

}  // namespace

bool EncodeOpus(const PcmSound& sound, std::string& bytes, std::string& error) {
    bytes.clear();
    if (!Usable(sound, error)) return false;
    OggOpusComments* comments = ope_comments_create();
    if (comments == nullptr) {
        error = Tr("内存不足");
        return false;
    }
    ope_comments_add(comments, "ENCODER", "VoxLetter");
    const OpusEncCallbacks callbacks{AppendPage, ClosePages};
    int status = OPE_OK;
    OggOpusEnc* enc = ope_encoder_create_callbacks(&callbacks, &bytes, comments, sound.rate, sound.channels,
                                                   0, &status);
    ope_comments_destroy(comments);
    if (enc == nullptr) {
        error = ope_strerror(status);
        return false;
    }
    status = ope_encoder_ctl(enc, OPUS_SET_BITRATE(VoiceBitRate(VoiceFormat::Opus, sound.rate, sound.channels)));
    if (status == OPE_OK) status = ope_encoder_ctl(enc, OPUS_SET_VBR(1));
    if (status == OPE_OK) status = ope_encoder_ctl(enc, OPUS_SET_COMPLEXITY(kOpusComplexity));
    if (status == OPE_OK) status = ope_encoder_ctl(enc, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    if (status == OPE_OK) {
        status = ope_encoder_write_float(enc, sound.samples.data(), static_cast<int>(sound.Frames()));
    }
    if (status == OPE_OK) status = ope_encoder_drain(enc);
    ope_encoder_destroy(enc);
    if (status != OPE_OK) {
        error = ope_strerror(status);
        bytes.clear();
        return false;
    }
    return true;
}

bool EncodeMp3(const PcmSound& sound, std::string& bytes, std::string& error) {
    bytes.clear();
    if (!Usable(sound, error)) return false;
    const std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> lame(lame_init(), lame_close);
    if (!lame) {
        error = Tr("内存不足");
        return false;
    }
    lame_global_flags* gf = lame.get();
    lame_set_in_samplerate(gf, sound.rate);
    lame_set_num_channels(gf, sound.channels);
    // LAME would otherwise pick a lower rate for these bit rates; the voice keeps its own where MP3
    // has it.
    if (IsMp3Rate(sound.rate)) lame_set_out_samplerate(gf, sound.rate);
    lame_set_mode(gf, sound.channels > 1 ? JOINT_STEREO : MONO);
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, VoiceBitRate(VoiceFormat::Mp3, sound.rate, sound.channels) / 1000);
    lame_set_quality(gf, kMp3Quality);
    // The Info frame in front tells players the exact length and the encoder's delay and padding.
    lame_set_bWriteVbrTag(gf, 1);
    if (lame_init_params(gf) < 0) {
        error = Format(Tr("MP3编码器不接受%s Hz"), std::to_string(sound.rate).c_str());
        return false;
    }

    const std::size_t frames = sound.Frames();
    constexpr std::size_t kChunk = 8192;
    // LAME's own bound for one call: 1.25 times the samples plus 7200 bytes.
    std::vector<unsigned char> out(kChunk * 5 / 4 + 7200);
    bytes.reserve(frames / static_cast<std::size_t>(sound.rate) * 16000 + 16384);
    for (std::size_t done = 0; done < frames; done += kChunk) {
        const std::size_t n = std::min(kChunk, frames - done);
        const float* pcm = sound.samples.data() + done * static_cast<std::size_t>(sound.channels);
        int got;
        if (sound.channels == 1) {
            got = lame_encode_buffer_ieee_float(gf, pcm, pcm, static_cast<int>(n), out.data(),
                                                static_cast<int>(out.size()));
        } else {
            got = lame_encode_buffer_interleaved_ieee_float(gf, pcm, static_cast<int>(n), out.data(),
                                                            static_cast<int>(out.size()));
        }
        if (got < 0) {
            error = Format(Tr("MP3编码失败（%d）"), got);
            bytes.clear();
            return false;
        }
        bytes.append(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(got));
    }
    const int tail = lame_encode_flush(gf, out.data(), static_cast<int>(out.size()));
    if (tail < 0) {
        error = Format(Tr("MP3编码失败（%d）"), tail);
        bytes.clear();
        return false;
    }
    bytes.append(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(tail));
    // The Info frame was reserved as the first frame; now that the totals are known it is filled in.
    const std::size_t tagSize = lame_get_lametag_frame(gf, out.data(), out.size());
    if (tagSize > 0 && tagSize <= out.size() && tagSize <= bytes.size()) {
        bytes.replace(0, tagSize, reinterpret_cast<const char*>(out.data()), tagSize);
    }
    return true;
}

bool EncodeVoice(VoiceFormat format, const PcmSound& sound, std::string& bytes, std::string& error) {
    switch (format) {
        case VoiceFormat::Opus: return EncodeOpus(sound, bytes, error);
        case VoiceFormat::Mp3: return EncodeMp3(sound, bytes, error);
        case VoiceFormat::Wav: break;
    }
    return EncodeWav16(sound, bytes, error);
}

}  // namespace vox
