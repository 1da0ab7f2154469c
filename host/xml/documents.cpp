#include "host/xml/documents.h"

#include "host/system/exceptions.h"
#include "host/xml/xml_text.h"

namespace Vorn::Zephra::Entities::XmlUtils {
namespace {

XElement Required(XElement element, const char* param) {
    if (element.IsNull()) throw System::ArgumentNullException(param);
    return element;
}

}  // namespace

std::string XmlDocumentBase::GetText(const std::string& name) const {
    return element_.Attribute(name).value_or("");
}

long long XmlDocumentBase::GetInteger(const std::string& name, long long fallback) const {
    auto text = element_.Attribute(name);
    if (!text || text->empty()) return fallback;
    auto value = ParseXmlInteger(*text);
    if (!value) throw System::FormatException("'" + name + "' is not an integer: " + *text);
    return *value;
}

int XmlDocumentBase::GetInt32(const std::string& name, int fallback) const {
    const long long value = GetInteger(name, fallback);
    if (value < INT32_MIN || value > INT32_MAX)
        throw System::FormatException("'" + name + "' is out of range");
    return static_cast<int>(value);
}

bool XmlDocumentBase::GetBool(const std::string& name, bool fallback) const {
    auto text = element_.Attribute(name);
    if (!text || text->empty()) return fallback;
    auto value = ParseXmlBool(*text);
    if (!value) throw System::FormatException("'" + name + "' is not a boolean: " + *text);
    return *value;
}

void XmlDocumentBase::SetInteger(const std::string& name, long long value) {
    element_.SetAttribute(name, ToXmlText(value));
}

void XmlDocumentBase::SetBool(const std::string& name, bool value) {
    element_.SetAttribute(name, ToXmlText(value));
}

IdentityXml::IdentityXml(XElement element) : XmlDocumentBase(Required(element, "element")) {}

int IdentityXml::InterfaceIndex() const {
    const long long value = GetInteger("InterfaceIndex", 0);
    if (value < INT32_MIN || value > INT32_MAX)
        throw System::FormatException("'InterfaceIndex' is out of range");
    return static_cast<int>(value);
}

void ImageFormatXml::AddFormat(int width, int height) {
    XElement format = element_.AddElement("Format");
    format.SetAttribute("Width", ToXmlText(static_cast<long long>(width)));
    format.SetAttribute("Height", ToXmlText(static_cast<long long>(height)));
}

void FrameRateXml::AddRange(double framesPerSecond) {
    element_.AddElement("Range").SetAttribute("FramesPerSecond", ToXmlText(framesPerSecond));
}

void TemperatureRangeXml::AddRange(double min, double max) {
    XElement range = element_.AddElement("Range");
    range.SetAttribute("Min", ToXmlText(min));
    range.SetAttribute("Max", ToXmlText(max));
}

HighPerformanceXml::HighPerformanceXml(XElement element)
    : XmlDocumentBase(Required(element, "element")) {}

void RecorderXml::SetXMLData(XElement element) { element_ = Required(element, "value"); }

void RecorderXml::CreateSubFolderSettings(bool createSubFolder, bool useDate, int counter,
                                          const std::string& prefix) {
    XElement sub = element_.Element("SubFolder");
    if (sub.IsNull()) sub = element_.AddElement("SubFolder");
    sub.SetAttribute("Create", ToXmlText(createSubFolder));
    sub.SetAttribute("UseDate", ToXmlText(useDate));
    sub.SetAttribute("Counter", ToXmlText(static_cast<long long>(counter)));
    sub.SetAttribute("Prefix", prefix);
}

}  // namespace Vorn::Zephra::Entities::XmlUtils
