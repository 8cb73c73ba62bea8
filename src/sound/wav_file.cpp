#include "sound/wav_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vox {

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

void PutId(std::vector<uint8_t>& out, const char (&id)[5]) { out.insert(out.end(), id, id + 4); }

}  // namespace

std::vector<uint8_t> WavHeader(const WaveFormatEx& format, uint32_t dataSize) {
    std::vector<uint8_t> out;
    out.reserve(kWavHeaderSize);
    const uint32_t pad = dataSize & 1u;
    PutId(out, "RIFF");
    Put32(out, static_cast<uint32_t>(kWavHeaderSize - 8) + dataSize + pad);
    PutId(out, "WAVE");
    PutId(out, "fmt ");
    Put32(out, 18);
    Put16(out, format.wFormatTag);
    Put16(out, format.nChannels);
    Put32(out, format.nSamplesPerSec);
    Put32(out, format.nAvgBytesPerSec);
    Put16(out, format.nBlockAlign);
    Put16(out, format.wBitsPerSample);
    Put16(out, format.cbSize);
    PutId(out, "data");
    Put32(out, dataSize);
    return out;
}

int WriteWavFile(const std::filesystem::path& path, const WaveFormatEx& format, const uint8_t* data,
                 uint32_t dataSize) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return errno != 0 ? errno : EIO;
    const std::vector<uint8_t> header = WavHeader(format, dataSize);
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    if (ok && dataSize > 0) ok = std::fwrite(data, 1, dataSize, f) == dataSize;
    if (ok && (dataSize & 1u) != 0) ok = std::fputc(0, f) != EOF;
    int err = ok ? 0 : (errno != 0 ? errno : EIO);
    if (std::fclose(f) != 0 && err == 0) err = errno != 0 ? errno : EIO;
    return err;
}

}  // namespace vox
