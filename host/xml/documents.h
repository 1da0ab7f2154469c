#pragma once
// The framework's document helpers: each wraps one element with typed accessors and hands the
// element out through XMLData. Element and attribute names are the stand-in's own.
#include <cstdint>
#include <string>
#include <vector>

#include "host/xml/x_element.h"

namespace Vorn::Zephra::Entities::XmlUtils {

using System::Xml::Linq::XElement;

struct XmlNames {
    static inline const std::string DeviceXName = "Device";
};

// Typed attribute access shared by the document helpers.
class XmlDocumentBase {
  public:
    XElement XMLData() const { return element_; }

  protected:
    explicit XmlDocumentBase(const std::string& rootName) : element_(rootName) {}
    explicit XmlDocumentBase(XElement element) : element_(std::move(element)) {}

    std::string GetText(const std::string& name) const;
    long long GetInteger(const std::string& name, long long fallback) const;  // throws FormatException
    // Also throws FormatException for a value outside the 32-bit range (never wraps).
    int GetInt32(const std::string& name, int fallback) const;
    bool GetBool(const std::string& name, bool fallback) const;              // throws FormatException
    void SetText(const std::string& name, const std::string& value) { element_.SetAttribute(name, value); }
    void SetInteger(const std::string& name, long long value);
    void SetBool(const std::string& name, bool value);

    XElement element_;
};

// The camera identity given at connect.
class IdentityXml : public XmlDocumentBase {
  public:
    IdentityXml() : XmlDocumentBase("Camera") {}
    explicit IdentityXml(XElement element);  // throws ArgumentNullException for a null element

    std::string Name() const { return GetText("Name"); }
    std::string Hostname() const { return GetText("Hostname"); }
    std::string Identifier() const { return GetText("Identifier"); }
    int InterfaceIndex() const;
    bool OverrideAC() const { return GetBool("OverrideAC", false); }
    std::string SelectedFormatId() const { return GetText("SelectedFormatId"); }
    std::string ModelName() const { return GetText("ModelName"); }

    void SetName(const std::string& v) { SetText("Name", v); }
    void SetHostname(const std::string& v) { SetText("Hostname", v); }
    void SetIdentifier(const std::string& v) { SetText("Identifier", v); }
    void SetInterfaceIndex(int v) { SetInteger("InterfaceIndex", v); }
    void SetOverrideAC(bool v) { SetBool("OverrideAC", v); }
    void SetSelectedFormatId(const std::string& v) { SetText("SelectedFormatId", v); }
    void SetModelName(const std::string& v) { SetText("ModelName", v); }
};

class CameraInformationXml : public XmlDocumentBase {
  public:
    CameraInformationXml() : XmlDocumentBase("CameraInformation") {}

    void SetName(const std::string& v) { SetText("Name", v); }
    void SetSerialNumber(const std::string& v) { SetText("SerialNumber", v); }
    void SetArticle(const std::string& v) { SetText("Article", v); }
    void SetSWVersion(const std::string& v) { SetText("SWVersion", v); }
    void SetHWArticle(const std::string& v) { SetText("HWArticle", v); }
    void SetFrameCount(std::uint32_t v) { SetInteger("FrameCount", v); }
    void SetLostImages(std::uint32_t v) { SetInteger("LostImages", v); }

    std::string Name() const { return GetText("Name"); }
    std::string SerialNumber() const { return GetText("SerialNumber"); }
    std::string Article() const { return GetText("Article"); }
    std::string SWVersion() const { return GetText("SWVersion"); }
    std::string HWArticle() const { return GetText("HWArticle"); }
    long long FrameCount() const { return GetInteger("FrameCount", 0); }
    long long LostImages() const { return GetInteger("LostImages", 0); }
};

class ImageFormatXml : public XmlDocumentBase {
  public:
    ImageFormatXml() : XmlDocumentBase("ImageFormats") {}
    void AddFormat(int width, int height);
    void SelectFormat(int index) { SetInteger("Selected", index); }
};

class ImageInfoXml : public XmlDocumentBase {
  public:
    explicit ImageInfoXml(std::uint32_t frameNumber) : XmlDocumentBase("ImageInfo") {
        SetInteger("FrameNumber", frameNumber);
    }
};

class FrameRateXml : public XmlDocumentBase {
  public:
    FrameRateXml() : XmlDocumentBase("FrameRates") {}
    void SetIsCameraAsync(bool v) { SetBool("IsCameraAsync", v); }
    void AddRange(double framesPerSecond);
    void SelectRange(int index) { SetInteger("Selected", index); }
};

class TemperatureRangeXml : public XmlDocumentBase {
  public:
    TemperatureRangeXml() : XmlDocumentBase("TemperatureRanges") {}
    void AddRange(double min, double max);
    void SelectRange(int index) { SetInteger("Selected", index); }
};

class HighPerformanceXml : public XmlDocumentBase {
  public:
    HighPerformanceXml() : XmlDocumentBase("HighPerformance") {}
    explicit HighPerformanceXml(XElement element);
    bool IsEnabled() const { return GetBool("IsEnabled", false); }
    void SetIsEnabled(bool v) { SetBool("IsEnabled", v); }
};

// Recorder settings. The recorder reads the rest of its settings from the same element.
class RecorderXml : public XmlDocumentBase {
  public:
    RecorderXml() : XmlDocumentBase("Recorder") {}

    void SetXMLData(XElement element);  // throws ArgumentNullException for a null element
    bool IsPreRecordingEnabled() const { return GetBool("IsPreRecordingEnabled", false); }
    void SetIsPreRecordingEnabled(bool v) { SetBool("IsPreRecordingEnabled", v); }
    void CreateSubFolderSettings(bool createSubFolder, bool useDate, int counter,
                                 const std::string& prefix);
    void SetImageSize(int bytes) { SetInteger("ImageSize", bytes); }
    int ImageSize() const { return GetInt32("ImageSize", 0); }
    void SetMaxNumberOfFramesInPreRecording(int n) { SetInteger("MaxNumberOfFramesInPreRecording", n); }
    int MaxNumberOfFramesInPreRecording() const {
        return GetInt32("MaxNumberOfFramesInPreRecording", 0);
    }
    std::string Path() const { return GetText("Path"); }
    void SetPath(const std::string& v) { SetText("Path", v); }
    // With a source that can wait (a replay, a camera run as fast as it goes), an image that
    // finds the queue to the disk full waits for room instead of being left out.
    bool WaitForDisk() const { return GetBool("WaitForDisk", false); }
    void SetWaitForDisk(bool v) { SetBool("WaitForDisk", v); }
};

}  // namespace Vorn::Zephra::Entities::XmlUtils
