#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/recorder/recording_file.h"

// An image whose every byte depends on its number, so a mix-up shows.
inline std::vector<std::uint8_t> TestImage(std::size_t size, std::uint64_t n) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 31 + n * 7);
    return image;
}

// Every frame of a recording, and how it ended.
inline std::vector<Vorn::Zephra::Net::Devices::Recorder::RecordedFrame> ReadAll(
    const std::string& path,
    Vorn::Zephra::Net::Devices::Recorder::RecordingReader::End* ending = nullptr) {
    Vorn::Zephra::Net::Devices::Recorder::RecordingReader reader(path);
    std::vector<Vorn::Zephra::Net::Devices::Recorder::RecordedFrame> frames;
    for (Vorn::Zephra::Net::Devices::Recorder::RecordedFrame f; reader.Next(f);) frames.push_back(f);
    if (ending) *ending = reader.Ending();
    return frames;
}
