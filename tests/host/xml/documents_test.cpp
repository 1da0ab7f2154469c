#include "host/xml/documents.h"

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

using namespace Vorn::Zephra::Entities::XmlUtils;

TEST(IdentityXml, ReadsWhatABuiltIdentityCarries) {
    IdentityXml built;
    built.SetName("cam");
    built.SetHostname("usb#vid_1234");
    built.SetIdentifier("TULA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0");
    built.SetInterfaceIndex(-3);
    built.SetOverrideAC(true);
    built.SetSelectedFormatId("x;IR;ZRF");
    built.SetModelName("WEBCAM");
    IdentityXml read(XElement::Parse(built.XMLData().ToString()));
    EXPECT_EQ(read.Name(), "cam");
    EXPECT_EQ(read.Hostname(), "usb#vid_1234");
    EXPECT_EQ(read.Identifier(), "TULA,Line_K,ZRF_USB,1.0.0,RTREE,1.0.0");
    EXPECT_EQ(read.InterfaceIndex(), -3);
    EXPECT_TRUE(read.OverrideAC());
    EXPECT_EQ(read.SelectedFormatId(), "x;IR;ZRF");
    EXPECT_EQ(read.ModelName(), "WEBCAM");
}

TEST(IdentityXml, AbsentFieldsReadEmptyAndBadNumbersAreRejected) {
    IdentityXml empty(XElement("Camera"));
    EXPECT_EQ(empty.Hostname(), "");
    EXPECT_EQ(empty.InterfaceIndex(), 0);
    EXPECT_FALSE(empty.OverrideAC());

    XElement bad("Camera");
    bad.SetAttribute("InterfaceIndex", "two");
    EXPECT_THROW(IdentityXml(bad).InterfaceIndex(), System::FormatException);
    bad.SetAttribute("InterfaceIndex", "99999999999");
    EXPECT_THROW(IdentityXml(bad).InterfaceIndex(), System::FormatException);
    EXPECT_THROW(IdentityXml{XElement()}, System::ArgumentNullException);
}

TEST(Documents, ListsKeepOrderAndSelection) {
    FrameRateXml rates;
    rates.SetIsCameraAsync(false);
    rates.AddRange(7.5);
    rates.AddRange(30);
    rates.SelectRange(1);
    XElement e = rates.XMLData();
    auto ranges = e.Elements("Range");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].Attribute("FramesPerSecond"), "7.5");
    EXPECT_EQ(ranges[1].Attribute("FramesPerSecond"), "30");
    EXPECT_EQ(e.Attribute("Selected"), "1");

    TemperatureRangeXml temps;
    temps.AddRange(-20, 120.5);
    temps.SelectRange(0);
    EXPECT_EQ(temps.XMLData().Element("Range").Attribute("Max"), "120.5");

    ImageFormatXml formats;
    formats.SelectFormat(0);
    EXPECT_FALSE(formats.XMLData().HasElements());
    formats.AddFormat(640, 480);
    EXPECT_EQ(formats.XMLData().Element("Format").Attribute("Width"), "640");
}

TEST(RecorderXml, WrapsAnElementAndReadsItsSettings) {
    RecorderXml settings;
    settings.CreateSubFolderSettings(true, true, 0, "");
    settings.SetImageSize(617052);
    settings.SetMaxNumberOfFramesInPreRecording(200);
    settings.SetIsPreRecordingEnabled(true);

    RecorderXml copy;
    copy.SetXMLData(XElement::Parse(settings.XMLData().ToString()));
    EXPECT_TRUE(copy.IsPreRecordingEnabled());
    EXPECT_EQ(copy.ImageSize(), 617052);
    EXPECT_EQ(copy.MaxNumberOfFramesInPreRecording(), 200);
    EXPECT_EQ(copy.XMLData().Element("SubFolder").Attribute("Create"), "true");
    EXPECT_THROW(copy.SetXMLData(XElement()), System::ArgumentNullException);
}
