#include "host/xml/x_element.h"

#include <gtest/gtest.h>

#include "host/system/exceptions.h"

using System::Xml::Linq::XElement;

TEST(XElement, NullElementIsInertAndEmpty) {
    XElement null;
    EXPECT_TRUE(null.IsNull());
    EXPECT_EQ(null.Name(), "");
    EXPECT_FALSE(null.Attribute("a").has_value());
    EXPECT_TRUE(null.Element("x").IsNull());
    EXPECT_TRUE(null.AddElement("x").IsNull());
    null.SetAttribute("a", "b");  // no effect, no crash
    EXPECT_EQ(null.ToString(), "");
}

TEST(XElement, CopiesShareTheNodeLikeReferences) {
    XElement root("Command");
    XElement alias = root;
    alias.SetAttribute("Id", "41");
    EXPECT_EQ(root.Attribute("Id"), "41");
    EXPECT_TRUE(alias.SameAs(root));
}

TEST(XElement, AddCopiesDeeplyAndParseRoundTrips) {
    XElement child("Child");
    child.SetAttribute("v", "1");
    child.AddElement("Leaf").SetValue("text & <markup>");
    XElement root("Root");
    root.Add(child);
    child.SetAttribute("v", "2");  // the copy in root is independent
    XElement parsed = XElement::Parse(root.ToString());
    ASSERT_EQ(parsed.Elements("Child").size(), 1u);
    EXPECT_EQ(parsed.Element("Child").Attribute("v"), "1");
    EXPECT_EQ(parsed.Element("Child").Element("Leaf").Value(), "text & <markup>");
}

TEST(XElement, ParseRejectsMalformedText) {
    EXPECT_THROW(XElement::Parse("<a><b></a>"), System::FormatException);
    EXPECT_THROW(XElement::Parse(""), System::FormatException);
    EXPECT_THROW(XElement::Parse("just text"), System::FormatException);
}
