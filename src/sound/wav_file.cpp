#include "sound/wav_file.h"

#include "base/whole_file.h"

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

std::string WriteWavFile(const std::filesystem::path& path, const WaveFormatEx& format, const uint8_t* data,
                         uint32_t dataSize) {
    WholeFileWriter file(path);
    const std::vector<uint8_t> header = WavHeader(format, dataSize);
    file.Write(header.data(), header.size());
    if (dataSize > 0) file.Write(data, dataSize);
    if ((dataSize & 1u) != 0) file.Write("", 1);
    file.Commit();
    return file.Error();
}

}  // namespace vox
