// Feeds recorder settings documents to the device's Recorder_Setup (which never fails towards
// the host), to the settings accessors, and to a recorder of its own that then records a few
// small images. Every file goes to this target's scratch folder, whatever Path the document
// names; each recording it writes must read back frame by frame.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzzing/fuzz_support.h"
#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"

namespace {

using System::Xml::Linq::XElement;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;
using namespace Vorn::Zephra::Net::Devices::Recorder;

using fuzz::Tolerate;

const std::string& Folder() {
    static fuzz::ScratchFile folder("recorder_settings_fuzzer.d");
    std::filesystem::create_directories(folder.path);
    return folder.path;
}

void ReadAccessors(const XElement& element) {
    RecorderXml settings;
    settings.SetXMLData(element);
    Tolerate([&] { (void)settings.IsPreRecordingEnabled(); });
    Tolerate([&] { (void)settings.ImageSize(); });
    Tolerate([&] { (void)settings.MaxNumberOfFramesInPreRecording(); });
    (void)settings.Path();
    settings.CreateSubFolderSettings(true, false, 3, "run");
    settings.SetImageSize(1234);
    if (settings.ImageSize() != 1234) __builtin_trap();
    (void)settings.XMLData().ToString();
}

// Every complete recording in the folder reads back with good checksums; then it is removed.
void CheckRecordings(std::int32_t imageSize) {
    for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
        RecordingReader reader(entry.path().string());
        RecordedFrame frame;
        while (reader.Next(frame)) {
            if (!frame.checksumOk || frame.image.size() != static_cast<std::size_t>(imageSize))
                __builtin_trap();
        }
        if (reader.Ending() != RecordingReader::End::Clean) __builtin_trap();
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(Folder(), ec))
        std::filesystem::remove_all(entry.path(), ec);
}

void Record(fuzz::ByteReader& in, const XElement& element) {
    ZRFRecorder recorder;
    const std::int32_t imageSize = in.Take<std::uint8_t>() % 64 + 1;
    recorder.SetUsePreRecordingBuffer((in.Take<std::uint8_t>() & 1) != 0);
    recorder.SetSizeImageBufferPreRecording(in.Take<std::uint8_t>() % 8);
    recorder.SetImageSize(imageSize);
    Tolerate([&] { recorder.Setup(element); });
    std::vector<std::uint8_t> image(static_cast<std::size_t>(imageSize) + 8, 0x5A);
    // A few steps: add images, start, pause, stop, resize.
    for (int step = 0; step < 16 && !in.Empty(); ++step) {
        const auto op = in.Take<std::uint8_t>();
        if (op % 6 < 2) {
            recorder.AddImage(image, op % 9, step);
        } else if (op % 6 == 2) {
            Tolerate([&] { recorder.Start(op / 6 % 4); });
        } else if (op % 6 == 3) {
            recorder.Pause(op & 0x80);
        } else if (op % 6 == 4) {
            recorder.Stop(0);
        } else {
            recorder.SetSizeImageBufferPreRecording(op / 6 % 5);
        }
    }
    (void)recorder.Settings().ToString();
    recorder.Dispose();
    CheckRecordings(imageSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& rig = fuzz::DeviceRig::Instance();
    fuzz::ByteReader in(data, size);
    const std::string text = in.Text(255) + in.Text(255);
    auto parsed = fuzz::Parse(text);
    if (!parsed) return 0;
    XElement& element = *parsed;
    // Files go to the scratch folder only.
    element.SetAttribute("Path", Folder() + "/");

    ReadAccessors(element);
    rig.Connected().Recorder_Setup(element);
    if (rig.Connected().Recorder_IsRecording()) __builtin_trap();  // setup alone never records
    Record(in, element);
    return 0;
}
